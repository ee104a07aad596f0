"""Puts a run's tables into README.md (`--update-readme`): everything between
the two marker comments below is replaced by the tables and a link to the
plot, and the rest of the README is left as it is.
"""

from __future__ import annotations

import sys

from settings import REPO

BEGIN = "<!-- benchmark tables: written by bench/run.py --update-readme -->"
END = "<!-- end of benchmark tables -->"


def update(tables: str) -> None:
    """Replaces the README's benchmark block with `tables` (their headings at
    level three, their notes pointing to bench/results.md)."""
    readme = REPO / "README.md"
    text = readme.read_text()
    if BEGIN not in text or END not in text:
        sys.exit("README.md has no benchmark markers")
    head, rest = text.split(BEGIN, 1)
    _, tail = rest.split(END, 1)
    block = tables + "\n![Median time against circuit size](bench/results.png)\n"
    readme.write_text(head + BEGIN + "\n\n" + block + "\n" + END + tail)
