"""The examples in README.md and in docs/ show what kestrel really prints."""

import doctest
import re

import pytest

from conftest import REPO, console_script, run

PAGES = [REPO / "README.md"] + sorted((REPO / "docs").glob("*.md"))
NAMES = [str(page.relative_to(REPO)) for page in PAGES]


@pytest.mark.parametrize("page", PAGES, ids=NAMES)
def test_python_examples(page):
    failures, _ = doctest.testfile(
        str(page), module_relative=False,
        optionflags=doctest.NORMALIZE_WHITESPACE | doctest.ELLIPSIS)
    assert failures == 0


def test_every_page_is_linked_and_the_readme_is_short():
    readme = PAGES[0].read_text()
    assert len(readme.splitlines()) <= 300
    for name in NAMES[1:]:
        assert f"]({name})" in readme, name
    # Each page's own links point at files that exist.
    for page in PAGES:
        for target in re.findall(r"\]\(([^)#:]+)(?:#[^)]*)?\)", page.read_text()):
            assert (page.parent / target).exists(), (page.name, target)


def comparable(text: str) -> list[list[str]]:
    """Lines as words, with the milliseconds of a run report left out."""
    return [re.sub(r"\b\d+\.\d{3}\b", "", line).split() for line in text.splitlines()]


@pytest.mark.parametrize("page", PAGES, ids=NAMES)
def test_shell_examples(page):
    # Each block is "$ kestrel <args> [> /dev/null]", then standard error (the
    # statistics line and any report) and standard output, indented by four spaces.
    blocks = re.findall(r"^    \$ kestrel (.*)\n((?:    .*\n)+)", page.read_text(), re.M)
    for command, shown in blocks:
        args = command.removesuffix(" > /dev/null").split()
        result = run([str(console_script())] + args, REPO)
        assert result.returncode == 0, result.stderr
        printed = result.stderr.decode()
        if not command.endswith("> /dev/null"):
            printed += result.stdout.decode()
        assert comparable(printed) == comparable("\n".join(l[4:] for l in shown.splitlines()))
