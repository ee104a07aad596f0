"""The suite of seeded random circuits: kestrel, with both methods, and its
peers timed on the circuits of bench/circuits.py from 8 to 1,048,576 gates
(4,096 in a quick run), and kestrel's peak memory per gate.

Every tool runs on the Clifford+T family; kestrel's two methods also run on
the family with cx. A peer that is cut off or fails at one size is not run
at the larger ones. The suite adds four sections to results.json: "tools"
(label, pipeline and whether installed, per tool), "cells" (one per tool,
family and size: runs, median, T counts), "memory" and "memory_nf" (the
default and the normal-form method's peak bytes per gate). Its tables:
kestrel's times and memory, the peers' times and T counts beside kestrel's,
and the normal form's (bench/normal_form.py).
"""

from __future__ import annotations

import tempfile
from pathlib import Path
from typing import Any

import circuits
import normal_form
import tools
from formats import fmt_number, fmt_ratio, fmt_time, t_after_text
from harness import log, measure_memory, time_cell
from settings import Settings

# The method of each memory section: (tool, child mode, section).
MEMORY = [("kestrel", "optimise", "memory"), ("kestrel-nf", "normal-form", "memory_nf")]


def methods(wanted: list[str]) -> list[str]:
    return ["kestrel", *(["kestrel-nf"] if "kestrel-nf" in wanted else [])]


def peers(wanted: list[str]) -> list[str]:
    return [p for p in tools.PEERS if p in wanted]


def tool_names(wanted: list[str]) -> list[str]:
    return methods(wanted) + peers(wanted)


def run(s: Settings, wanted: list[str]) -> dict[str, Any]:
    names = tool_names(wanted)
    present = {name: tools.available(name) for name in names}
    sections: dict[str, Any] = {
        "tools": {n: {"label": tools.TOOLS[n][0], "pipeline": tools.TOOLS[n][1],
                      "installed": present[n]} for n in names},
        "cells": [], "memory": {}, "memory_nf": {},
    }
    with tempfile.TemporaryDirectory(prefix="kestrel-bench-") as scratch:
        paths = {}
        for family in circuits.FAMILIES:
            for gates in s.sizes:
                text = circuits.circuit(family, gates)
                path = Path(scratch) / f"{family}-{gates}.qasm"
                path.write_text(text)
                paths[family, gates] = (path, circuits.t_count(text))

        def cell(tool: str, family: str, gates: int, body: dict[str, Any]) -> None:
            body.update(tool=tool, family=family, gates=gates,
                        t_before=paths[family, gates][1])
            sections["cells"].append(body)
            shown = f"{body['median'] * 1e3:.3f} ms" if "median" in body else body["status"]
            log(f"  {tool:10} {family:10} {gates:>9} gates: {shown}")

        for method in methods(wanted):
            log(f"timing {method}")
            for family in circuits.FAMILIES:
                for gates in s.sizes:
                    cell(method, family, gates,
                         time_cell(method, paths[family, gates][0], family, s))
        for peer in peers(wanted):
            log(f"timing {peer}")
            stopped = False
            for gates in s.sizes:
                body: dict[str, Any]
                if not present[peer]:
                    body = {"status": "not installed", "runs": []}
                elif stopped:
                    body = {"status": "cut off", "skipped": True, "runs": []}
                else:
                    body = time_cell(peer, paths["clifford_t", gates][0], "clifford_t", s)
                    stopped = body["status"] in ("cut off", "failed")
                cell(peer, "clifford_t", gates, body)
        for method, mode, key in MEMORY:
            if method not in methods(wanted):
                continue
            log(f"measuring {method}'s peak memory")
            for family in circuits.FAMILIES:
                for gates in s.sizes:
                    m = measure_memory(paths[family, gates][0], s, mode)
                    m["bytes_per_gate"] = m["extra_bytes"] / gates
                    sections[key][f"{family}/{gates}"] = m
                    log(f"  {family:10} {gates:>9} gates: {m['bytes_per_gate']:.1f} bytes/gate")
    return sections


def cells_of(results: dict[str, Any]) -> dict[tuple[str, str, int], dict[str, Any]]:
    return {(c["tool"], c["family"], c["gates"]): c for c in results["cells"]}


# The mark of a result that is its input, returned because the circuit starts
# past saturation's node limit: such a row times reading and writing only,
# and is never a speed-up.
UNCHANGED = "input returned: node limit"


def returned_unchanged(cell: dict[str, Any]) -> bool:
    """Whether kestrel's result was the circuit it read because the circuit
    starts past the default node limit (its chain has a node per gate and
    more): the limit, not the rules, decided. The statistics say it changed
    nothing."""
    stats = cell.get("digest", {}).get("stats")
    same = (stats["gates_before"] == stats["gates_after"] if stats
            else cell.get("t_after") == cell["t_before"])
    return "median" in cell and same and cell["gates"] > default_node_limit()


def default_node_limit() -> int:
    """The default node limit, from kestrel's signature (its table of options)."""
    import inspect

    import kestrel
    return inspect.signature(kestrel.optimize_qasm).parameters["node_limit"].default


def tables(results: dict[str, Any], heading: str, notes: str) -> list[str]:
    if "cells" not in results:
        return []
    cells = cells_of(results)
    sizes = sorted({c["gates"] for c in results["cells"]})
    names = [n for n in results["tools"] if n == "kestrel" or results["tools"][n]["installed"]]
    names = [n for n in names if n != "kestrel-nf"]  # in a table of its own below
    peers = [n for n in names if n != "kestrel"]
    label = {n: results["tools"][n]["label"] for n in results["tools"]}

    out = [f"{heading} kestrel", "",
           "Median wall time of `optimize_qasm` over the runs, and the peak resident "
           "memory one call adds, per gate.", "",
           "| Gates | Circuits | Median time | µs/gate | Peak bytes/gate | T before | T after "
           "| Runs |",
           "|---:|---|---:|---:|---:|---:|---:|---:|"]
    for family in circuits.FAMILIES:
        for gates in sizes:
            c = cells.get(("kestrel", family, gates))
            if not c:
                continue
            mem = results["memory"].get(f"{family}/{gates}", {})
            kind = "Clifford+T" if family == "clifford_t" else "Clifford+T with cx"
            if "median" in c:
                t_after = f"{c['t_after']:,}" + (f" ({UNCHANGED})" if returned_unchanged(c) else "")
                out.append(f"| {gates:,} | {kind} | {fmt_time(c['median'])} | "
                           f"{fmt_number(c['median'] / gates * 1e6)} | "
                           f"{mem.get('bytes_per_gate', float('nan')):,.0f} | "
                           f"{c['t_before']:,} | {t_after} | {len(c['runs'])} |")
            else:
                out.append(f"| {gates:,} | {kind} | {c['status']} | | | {c['t_before']:,} | | |")
    out.append("")

    if peers:
        out += [f"{heading} Against the peers", "",
                "Median wall time of each pipeline from QASM text to QASM text on the "
                "Clifford+T circuits, and in brackets its ratio to kestrel's (above 1: "
                "kestrel is faster). Where kestrel returned its input because the circuit "
                f"starts past the node limit (\"{UNCHANGED}\") there is no ratio: it did "
                "no work.", "",
                "| Gates | " + " | ".join(label[n] for n in names) + " |",
                "|---:|" + "---:|" * len(names)]
        for gates in sizes:
            k = cells.get(("kestrel", "clifford_t", gates), {})
            unchanged = bool(k) and returned_unchanged(k)
            row = [f"{gates:,}"]
            for n in names:
                c = cells.get((n, "clifford_t", gates), {})
                if "median" not in c:
                    row.append(c.get("status", ""))
                elif n == "kestrel" and unchanged:
                    row.append(f"{fmt_time(c['median'])} ({UNCHANGED})")
                elif n == "kestrel" or "median" not in k or unchanged:
                    row.append(fmt_time(c["median"]))
                else:
                    row.append(f"{fmt_time(c['median'])} ({fmt_ratio(c['median'] / k['median'])})")
            out.append("| " + " | ".join(row) + " |")
        out.append("")
        out += [f"{heading} T count after", "",
                "T and T-dagger gates in each result (\"rot.\": general rotations that "
                "are no Clifford+T gate; see " + notes + ").", "",
                "| Gates | T before | " + " | ".join(label[n] for n in names) + " |",
                "|---:|---:|" + "---:|" * len(names)]
        for gates in sizes:
            k = cells.get(("kestrel", "clifford_t", gates), {})
            row = [f"{gates:,}", f"{k.get('t_before', 0):,}"]
            row += [t_after_text(cells.get((n, "clifford_t", gates), {"status": ""}))
                    + (f" ({UNCHANGED})" if n == "kestrel" and k and returned_unchanged(k) else "")
                    for n in names]
            out.append("| " + " | ".join(row) + " |")
        out.append("")
        missing = [label[n] for n in results["tools"] if not results["tools"][n]["installed"]]
        if missing:
            out += ["Not installed, so not run: " + ", ".join(missing) + ".", ""]

    return out + normal_form.table(results, cells, heading)


NOTES = """\
- Circuits: `bench/circuits.py` draws each gate uniformly from h, s, sdg, t, tdg, x
  and z (Clifford+T), or from those and cx (kestrel only, since it reads a
  multi-qubit program as one wire), with a fixed 64-bit mixing function, so
  every run and machine sees the same texts.
- Time: each tool and size runs in a fresh process; after an untimed warm-up
  on an 8-gate circuit the whole text-to-text pipeline runs at least {min_runs}
  times, more while their total is under {budget:g} s (at most {max_runs}), and
  no run starts that would take the total past {stop_at:g} s; the table shows
  the median. A run over {run_limit:g} s is stopped: that size and every larger
  one of the tool are "cut off".
- Memory: a child that imports kestrel, reads the text and optimises it once,
  minus a child that does all but the optimisation; their peak resident sets
  (VmHWM; a child's ru_maxrss would start from the parent's peak), median of
  {memory_trials}, divided by the gates.
- kestrel stops saturating once its e-graph holds more than its node limit
  (10,000 nodes by default), so from 32,768 gates on it returns the input
  unchanged: those rows, marked "input returned: node limit", time reading
  and writing only, and no speed-up is given for them.
- Peers: {pipelines}
- T count: T and T-dagger gates of the result. PyZX counts phase gates with an
  odd multiple of pi/4. pytket's FullPeepholeOptimise merges a one-qubit circuit
  into one general rotation (TK1, written as u3) whose angles are usually no
  multiple of pi/4: such a gate is counted as one "rot." rather than as T gates,
  since writing it in Clifford+T is an approximation pytket does not make.
  Qiskit level 3 resynthesises the merged single-qubit runs into the discrete
  basis, which can raise the T count.
- The normal form: the same circuits through `optimize_qasm(text,
  method="normal-form")`, its memory measured as the default's. Qiskit's
  OptimizeCliffordT runs alone in a PassManager: the circuits use only the
  gate names it reads (h, s, sdg, t, tdg, x, z), so no translation comes first.
  Its results also hold sx, sxdg and y gates, which are Cliffords.
"""


def notes(results: dict[str, Any]) -> str:
    if "tools" not in results:
        return ""
    pipelines = "; ".join(f"{v['label']}: {v['pipeline']}" for n, v in results["tools"].items()
                          if n != "kestrel")
    return NOTES.format(pipelines=pipelines or "none", **results["settings"])
