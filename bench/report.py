"""The written results of a run: results.json as measured, results.md and the
plot, all in one folder (bench/ for a full run, build/bench-quick/ for a quick
one, or --out).

results.md is, in order: how long the run took; a line on where it ran
(machine, commit, tool versions, date, load); each suite's tables; the plot;
whether kestrel's results match bench/golden.json; how it is measured, from
each suite's notes. bench/readme.py puts a summary of the same results into
docs/benchmarks.md.
"""

from __future__ import annotations

import json
from pathlib import Path
from types import ModuleType
from typing import Any

import plot
from formats import fmt_duration
from harness import log


def about(results: dict[str, Any]) -> str:
    """The line on where and when the run was measured."""
    m = results["machine"]
    parts = [f"Measured on {m['cpu']}, {m['cores']} cores, {m['memory_gib']} GiB memory, "
             f"{m['system']}, Python {m['python']}",
             f"kestrel at commit {results['commit']}"]
    parts += [f"{d} {v}" for d, v in results["versions"].items()
              if d not in ("kestrel", "kestrel-tcount")]
    parts.append(f"{results['date']}; load average {results['load'][0]:.1f} at the start, "
                 f"{results['load'][1]:.1f} at the end")
    return ("; ".join(parts) + "."
            + (" A quick run: fewer sizes and runs." if results["quick"] else ""))


def tables(results: dict[str, Any], suites: list[ModuleType], heading: str,
           notes: str) -> str:
    """The Markdown tables of a run; `heading` is the markdown of their level,
    `notes` where the reader finds how things were counted."""
    out = [about(results), ""]
    for suite in suites:
        out += suite.tables(results, heading, notes)
    return "\n".join(out)


def golden_text(results: dict[str, Any]) -> str:
    g = results.get("golden")
    if g is None:
        return "No bench/golden.json to compare kestrel's results with.\n"
    if not g["problems"]:
        return (f"kestrel's output texts and statistics for all {g['compared']} measured "
                "circuits match bench/golden.json.\n")
    return ("**kestrel's results differ from bench/golden.json:**\n\n"
            + "\n".join(f"- {p}" for p in g["problems"]) + "\n")


def notes(results: dict[str, Any], suites: list[ModuleType]) -> str:
    return "## How it is measured\n\n" + "".join(suite.notes(results) for suite in suites)


def write(results: dict[str, Any], suites: list[ModuleType], out: Path) -> None:
    out.mkdir(parents=True, exist_ok=True)
    (out / "results.json").write_text(json.dumps(results, indent=1) + "\n")
    command = "bash scripts/bench.sh" + (" --quick" if results["quick"] else "")
    body = ["# Benchmark results", "",
            f"Written by `{command}` in {fmt_duration(results['seconds'])}.", "",
            tables(results, suites, "##", "the notes below"),
            "![time against size](results.png)", "",
            "## Results unchanged", "", golden_text(results), notes(results, suites)]
    (out / "results.md").write_text("\n".join(body))
    try:
        plot.write(results, out / "results.png")
    except ImportError:
        log("matplotlib is not installed: no plot")
