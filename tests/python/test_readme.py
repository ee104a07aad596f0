"""The examples in README.md show what kestrel really prints."""

import doctest
import re

from conftest import REPO, console_script, run

README = REPO / "README.md"


def test_python_examples():
    failures, attempted = doctest.testfile(str(README), module_relative=False,
                                           optionflags=doctest.NORMALIZE_WHITESPACE)
    assert attempted > 0
    assert failures == 0


def test_shell_examples():
    # Each block is "$ kestrel <args>", then standard error (the statistics
    # line) and standard output, indented by four spaces.
    blocks = re.findall(r"^    \$ kestrel (.*)\n((?:    .*\n)+)", README.read_text(), re.M)
    assert blocks
    for args, shown in blocks:
        result = run([str(console_script())] + args.split(), REPO)
        assert result.returncode == 0, result.stderr
        lines = [line[4:] for line in shown.splitlines()]
        stats_lines = 1 if "--stats" in args.split() else 0
        assert result.stderr.decode().splitlines() == lines[:stats_lines]
        assert result.stdout.decode().splitlines() == lines[stats_lines:]
