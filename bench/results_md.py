"""Writing one section of bench/results.md: the section that starts with a
given `## ` heading is replaced up to the next `## ` heading, or appended at
the end of the file when it is not there yet."""

from __future__ import annotations

from pathlib import Path

RESULTS = Path(__file__).resolve().parent / "results.md"


def replace_section(heading: str, section: list[str]) -> None:
    text = RESULTS.read_text()
    body = "\n".join(section) + "\n"
    if heading in text:
        start = text.index(heading)
        end = text.find("\n## ", start + len(heading))
        text = text[:start] + body + (text[end:] if end >= 0 else "")
    else:
        text = text.rstrip("\n") + "\n\n" + body
    RESULTS.write_text(text)
