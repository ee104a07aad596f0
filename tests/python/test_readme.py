"""The examples in README.md show what kestrel really prints."""

import doctest
import re

from conftest import REPO, console_script, run

README = REPO / "README.md"


def test_python_examples():
    failures, attempted = doctest.testfile(
        str(README), module_relative=False,
        optionflags=doctest.NORMALIZE_WHITESPACE | doctest.ELLIPSIS)
    assert attempted > 0
    assert failures == 0


def comparable(text: str) -> list[list[str]]:
    """Lines as words, with the milliseconds of a run report left out."""
    return [re.sub(r"\b\d+\.\d{3}\b", "", line).split() for line in text.splitlines()]


def test_shell_examples():
    # Each block is "$ kestrel <args> [> /dev/null]", then standard error (the
    # statistics line and any report) and standard output, indented by four spaces.
    blocks = re.findall(r"^    \$ kestrel (.*)\n((?:    .*\n)+)", README.read_text(), re.M)
    assert blocks
    for command, shown in blocks:
        args = command.removesuffix(" > /dev/null").split()
        result = run([str(console_script())] + args, REPO)
        assert result.returncode == 0, result.stderr
        printed = result.stderr.decode()
        if not command.endswith("> /dev/null"):
            printed += result.stdout.decode()
        assert comparable(printed) == comparable("\n".join(l[4:] for l in shown.splitlines()))
