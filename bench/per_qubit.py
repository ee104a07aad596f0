"""The per-qubit suite: whole programs through kestrel's per-qubit mode with
the normal form, beside Qiskit's OptimizeCliffordT on the same text.

The programs are the QASMBench programs of examples/qasmbench/ and seeded random
programs over 100 qubits (bench/circuits.py), 10,000 to 1,000,000 statements
(10,000 only in a quick run). Both tools run whatever `--tools` names. The
suite adds the section "per_qubit" to results.json, one row per program:
{"program": "adder_n4", "statements": 31, "t_before": 8, "kestrel-pq": cell,
"qiskit-ct": cell}, and writes one table.
"""

from __future__ import annotations

import tempfile
from pathlib import Path
from typing import Any

import circuits
import tools
from formats import fmt_number, fmt_time
from harness import log, time_cell
from settings import Settings


def tool_names(wanted: list[str]) -> list[str]:
    return list(tools.PER_QUBIT_TOOLS)


def run(s: Settings, wanted: list[str]) -> dict[str, Any]:
    log("timing the per-qubit mode")
    programs = [(p.stem, p.read_text()) for p in circuits.shared_programs("qasmbench")]
    sizes = circuits.QUICK_PER_QUBIT_SIZES if s.quick else circuits.PER_QUBIT_SIZES
    programs += [(f"random {n:,}", circuits.per_qubit_program(n)) for n in sizes]
    rows = []
    with tempfile.TemporaryDirectory(prefix="kestrel-bench-pq-") as scratch:
        for name, text in programs:
            path = Path(scratch) / (name.replace(" ", "_").replace(",", "") + ".qasm")
            path.write_text(text)
            row: dict[str, Any] = {"program": name, "statements": text.count(";")}
            for tool in tools.PER_QUBIT_TOOLS:
                if not tools.available(tool):
                    row[tool] = {"status": "not installed", "runs": []}
                    continue
                row[tool] = time_cell(tool, path, "per_qubit", s)
                if "t_before" in row[tool]:
                    row["t_before"] = row[tool].pop("t_before")
                shown = (f"{row[tool]['median'] * 1e3:.3f} ms" if "median" in row[tool]
                         else row[tool]["status"])
                log(f"  {tool:10} {name:16} {row['statements']:>9} statements: {shown}")
            rows.append(row)
    return {"per_qubit": rows}


def tables(results: dict[str, Any], heading: str, notes: str) -> list[str]:
    rows = results.get("per_qubit")
    if not rows:
        return []
    labels = [tools.PER_QUBIT_TOOLS[t][0] for t in tools.PER_QUBIT_TOOLS]
    out = [f"{heading} The per-qubit mode", "",
           "Whole programs, each qubit's runs brought to their normal form (`per_qubit=True, "
           "method=\"normal-form\"`), beside Qiskit's `OptimizeCliffordT` pass on the same "
           "text, both T-optimal on each run: median wall time from text to "
           "text, microseconds per statement, and the T count after (T before: kestrel's "
           "`t_before`, T and T-dagger applications outside gate definitions).", "",
           "| Program | Statements | T before | " +
           " | ".join(f"{label} | µs/statement | T after" for label in labels) + " |",
           "|---|---:|---:|" + "---:|---:|---:|" * len(labels)]
    for row in rows:
        t_before = f"{row['t_before']:,}" if "t_before" in row else ""
        cells = [row["program"], f"{row['statements']:,}", t_before]
        for tool in tools.PER_QUBIT_TOOLS:
            c = row[tool]
            if "median" in c:
                cells += [fmt_time(c["median"]),
                          fmt_number(c["median"] / row["statements"] * 1e6), f"{c['t_after']:,}"]
            else:
                cells += [c["status"], "", ""]
        out.append("| " + " | ".join(cells) + " |")
    out.append("")
    return out


def notes(results: dict[str, Any]) -> str:
    return ""
