"""Puts a run's summary into docs/benchmarks.md (`--update-readme`, the page the
README links for speed): everything between the two marker comments below
is replaced by one short table, a row per comparison, and the rest of the
page is left as it is. The full tables are in bench/results.md
(bench/report.py).

A row gives kestrel's T counts against the peer's and the range of the
peer's time over kestrel's on the programs where both finished. A circuit
that kestrel returned as it read it because it starts past the node limit
("input returned") is left out of the ranges: it is counted apart and never
as a speed-up.
"""

from __future__ import annotations

import sys
from typing import Any

import random_circuits
from formats import fmt_ratio
from settings import REPO

BEGIN = "<!-- benchmark summary: written by bench/run.py --update-readme -->"
END = "<!-- end of benchmark summary -->"


SUMMARY_PAGE = REPO / "docs" / "benchmarks.md"


def update(summary_text: str) -> None:
    """Replaces the summary page's benchmark block with `summary_text`."""
    readme = SUMMARY_PAGE
    text = readme.read_text()
    if BEGIN not in text or END not in text:
        sys.exit(f"{readme} has no benchmark markers")
    head, rest = text.split(BEGIN, 1)
    _, tail = rest.split(END, 1)
    readme.write_text(head + BEGIN + "\n\n" + summary_text + "\n" + END + tail)


def ratio_range(ratios: list[float]) -> str:
    if not ratios:
        return "none compared"
    low, high = min(ratios), max(ratios)
    return fmt_ratio(low) if low == high else f"{fmt_ratio(low)} to {fmt_ratio(high)}"


def compared(pairs: list[tuple[dict[str, Any], dict[str, Any]]]) -> tuple[str, str]:
    """(T counts, speed-up) of kestrel's cells against the peer's, over the
    pairs where both finished."""
    done = [(k, p) for k, p in pairs if "median" in k and "median" in p and "t_after" in p]
    at_most = sum(k["t_after"] <= p["t_after"] for k, p in done)
    t_text = f"at most the peer's on {at_most} of {len(done)}"
    return t_text, ratio_range([p["median"] / k["median"] for k, p in done])


def random_rows(results: dict[str, Any]) -> list[list[str]]:
    if "cells" not in results:
        return []
    cells = random_circuits.cells_of(results)
    sizes = sorted({c["gates"] for c in results["cells"]})
    rows = []
    kestrel = [cells[("kestrel", "clifford_t", g)] for g in sizes
               if ("kestrel", "clifford_t", g) in cells]
    worked = [c for c in kestrel if not random_circuits.returned_unchanged(c)]
    unchanged = [c for c in kestrel if random_circuits.returned_unchanged(c)]
    for peer in ("qiskit-l3", "qiskit-1q"):
        if peer not in results["tools"] or not results["tools"][peer]["installed"]:
            continue
        t_text, speed = compared([(c, cells.get((peer, "clifford_t", c["gates"]), {}))
                                  for c in worked])
        rows.append([f"one wire, the default (saturation), random Clifford+T of "
                     f"{worked[0]['gates']:,} to {worked[-1]['gates']:,} gates",
                     results["tools"][peer]["label"], t_text, speed])
    if unchanged:
        rows.append([f"the same, {unchanged[0]['gates']:,} to {unchanged[-1]['gates']:,} gates",
                     "", f"input returned on {len(unchanged)} of {len(unchanged)}: node limit",
                     "not counted"])
    normal = [cells[("kestrel-nf", "clifford_t", g)] for g in sizes
              if ("kestrel-nf", "clifford_t", g) in cells]
    if normal and results["tools"].get("qiskit-ct", {}).get("installed"):
        t_text, speed = compared([(c, cells.get(("qiskit-ct", "clifford_t", c["gates"]), {}))
                                  for c in normal])
        rows.append([f'one wire, `method="normal-form"`, {normal[0]["gates"]:,} to '
                     f'{normal[-1]["gates"]:,} gates', results["tools"]["qiskit-ct"]["label"],
                     t_text, speed])
    return rows


def program_rows(results: dict[str, Any]) -> list[list[str]]:
    rows = []
    if results.get("per_qubit"):
        section = results["per_qubit"]
        t_text, speed = compared([(r["kestrel-pq"], r["qiskit-ct"]) for r in section
                                  if "kestrel-pq" in r and "qiskit-ct" in r])
        rows.append([f"whole programs, `per_qubit=True`, normal form: {len(section)} programs "
                     "(QASMBench, random)", "Qiskit OptimizeCliffordT", t_text, speed])
    merging = results.get("rotation_merging", {})
    programs = merging.get("programs", [])
    for peer in ("pyzx-tr", "quizx"):
        if not programs or peer not in merging.get("tools", {}):
            continue
        t_text, speed = compared([(r["kestrel-rm"], r[peer]) for r in programs
                                  if "kestrel-rm" in r and peer in r])
        rows.append([f'whole programs, `method="rotation-merging"`: {len(programs)} T-count '
                     "programs", merging["tools"][peer]["label"], t_text, speed])
    if results.get("qiskit_pass"):
        section = results["qiskit_pass"]
        t_text, speed = compared([(r["pass"], r["level3"]) for r in section])
        rows.append([f"inside Qiskit, the pass `KestrelOptimize()`: {len(section)} programs",
                     "Qiskit's level-3 optimization stage", t_text, speed])
    return rows


def summary(results: dict[str, Any]) -> str:
    """The README's table: a row per comparison, from a run's results."""
    rows = random_rows(results) + program_rows(results)
    lines = ["| kestrel, on | against | T count after | time, the peer's over kestrel's |",
             "|---|---|---|---:|"]
    lines += ["| " + " | ".join(row) + " |" for row in rows]
    m = results["machine"]
    return ("\n".join(lines) + "\n\n"
            f"Medians of wall time from text to text, measured on {m['cpu']} "
            f"({m['cores']} cores) at commit {results['commit']}, {results['date']}; every "
            "table, and how each was measured, is in [bench/results.md](bench/results.md).\n")
