"""The rotation-merging suite: kestrel's whole-program T-count method
(tools.ROTATION_MERGING) on the T-count benchmark programs beside PyZX's
teleport_reduce and quizx's full_simp, and alone on large generated programs,
with the targets the method is held to stated beside the figures.

- The programs of examples/tcount/: T before, the T count each tool
  leaves, the median time of each from text to text (each tool in its own
  child process; a peer whose run passes the time limit is cut off, and is
  not run on the programs with more gates), and kestrel's speed-up over each.
- The multipliers over GF(2^n) among those programs, from gf2^32_mult up:
  T after against 4n^2 + n, time, and its growth from each to the next
  (four times the gates on twice the qubits), from the same cells.
- Two families of bench/circuits.py's `whole_program` on 64 qubits, at
  131,072 and 1,048,576 gates (8,192 and 65,536 in a quick run): Clifford+T
  with 35% cx, and only cx, t and tdg. Time, the ratio of the larger size's
  time to the smaller's, and the peak memory one call adds per gate.
- Width: the Clifford+T family at 200,000 gates (20,000 in a quick run) on 64
  to 4,096 qubits, with cx between any two qubits and between qubits at most
  8 apart: time per gate against the number of qubits.

It adds one section to results.json, "rotation_merging": {"tools": {name:
{"label", "pipeline", "installed"}}, "programs": [{"program": "adder_8",
"qubits": 24, "gates": 900, "t_before": 399, "kestrel-rm": cell, "pyzx-tr":
cell, "quizx": cell}, ...], "families": [{"family", "qubits", "gates", "cell",
"memory"}, ...], "widths": [{"qubits", "reach", "gates", "cell"}, ...]}, with
cells as bench/harness.py's time_cell returns them.
"""

from __future__ import annotations

import re
import tempfile
from pathlib import Path
from typing import Any

import circuits
import tools
from formats import fmt_number, fmt_ratio, fmt_time
from harness import log, measure_memory, time_cell
from settings import Settings

KESTREL = "kestrel-rm"
PEERS = ["pyzx-tr", "quizx"]

# The targets: the least speed-up over each peer on every program; hwb10's
# time; at 1,048,576 gates, the time of each family, the ratio of its time to
# that at 131,072 gates (8 for linear growth) and its peak memory per gate.
SPEEDUP = {"pyzx-tr": 100, "quizx": 10}
HWB10_SECONDS = 0.1
FAMILY_SECONDS = 1.0
FAMILY_RATIO = 9
FAMILY_BYTES_PER_GATE = 100
# The multipliers over GF(2^n) from GF2_FROM up: gf2^128_mult's time, and the
# growth of the time from each to the next, four times the gates.
GF2_FROM = 32
GF2_SECONDS = {128: 1.0}
GF2_GROWTH = 6

# The peers' T counts the targets were set against (PyZX's only where it
# finished within 300 s). The bar on a program is the least of these and of
# the counts this run measured; the report names any measured count that
# differs from these.
REFERENCE_T = {
    "adder_8": (173, 173), "barenco_tof_10": (100, 100), "barenco_tof_3": (16, 16),
    "barenco_tof_4": (28, 28), "csla_mux_3": (62, 62), "fprenorm": (94, 94),
    "gf2^10_mult": (410, 410), "gf2^16_mult": (1040, 1040), "gf2^32_mult": (None, 4128),
    "gf2^4_mult": (68, 68), "gf2^5_mult": (115, 115), "gf2^6_mult": (150, 150),
    "gf2^7_mult": (217, 217), "gf2^8_mult": (264, 264), "grover_5": (166, 166),
    "ham15-low": (97, 97), "ham15-med": (212, 212), "hwb10": (None, 15891),
    "hwb6": (75, 75), "mod5_4": (8, 8), "mod_adder_1024": (1011, 1011),
    "mod_red_21": (73, 73), "qcla_adder_10": (162, 162), "qcla_mod_7": (237, 237),
    "qft_4": (67, 67), "rc_adder_6": (47, 47), "tof_10": (71, 71), "tof_3": (15, 15),
    "tof_4": (23, 23), "vbe_adder_3": (24, 24),
}
FAMILY_LABELS = {"clifford_t_cx": "Clifford+T, 35% cx", "cx_t": "cx, t and tdg"}


def tool_names(wanted: list[str]) -> list[str]:
    return [KESTREL, *PEERS]


def qubits_of(text: str) -> int:
    return sum(int(n) for n in re.findall(r"^\s*qreg\s+\w+\s*\[\s*(\d+)\s*\]", text, re.M))


def show(tool: str, name: str, cell: dict[str, Any]) -> None:
    shown = f"{cell['median'] * 1e3:.3f} ms" if "median" in cell else cell["status"]
    log(f"  {tool:10} {name:24} {shown}")


def run_programs(s: Settings) -> list[dict[str, Any]]:
    programs = circuits.shared_programs("tcount")
    if not programs:
        log("  no programs in examples/tcount/")
    rows = []
    for path in programs:
        text = path.read_text()
        row: dict[str, Any] = {"program": path.stem, "qubits": qubits_of(text),
                               "statements": text.count(";")}
        cell = time_cell(KESTREL, path, "whole_program", s)
        if "t_before" in cell:
            row["t_before"], row["gates"] = cell.pop("t_before"), cell.pop("gates_before")
        row[KESTREL] = cell
        show(KESTREL, path.stem, cell)
        rows.append(row)
    # Each peer runs from the smallest program up; past a cut-off, only on
    # programs no larger than the one it was cut off on.
    for peer in PEERS:
        cut_at = None
        for row, path in sorted(zip(rows, programs), key=lambda p: p[0]["statements"]):
            if not tools.available(peer):
                row[peer] = {"status": "not installed", "runs": []}
            elif cut_at is not None and row["statements"] > cut_at:
                row[peer] = {"status": "cut off", "skipped": True, "runs": []}
            else:
                row[peer] = time_cell(peer, path, "whole_program", s)
                if row[peer]["status"] == "cut off":
                    cut_at = row["statements"]
            show(peer, row["program"], row[peer])
    return rows


def run_families(s: Settings, scratch: Path) -> list[dict[str, Any]]:
    sizes = circuits.QUICK_ROTATION_SIZES if s.quick else circuits.ROTATION_SIZES
    rows = []
    for family in circuits.PROGRAM_FAMILIES:
        for gates in sizes:
            path = scratch / f"{family}-{gates}.qasm"
            path.write_text(circuits.whole_program(family, gates, circuits.ROTATION_QUBITS))
            cell = time_cell(KESTREL, path, "whole_program", s)
            memory = measure_memory(path, s, "rotation-merging")
            memory["bytes_per_gate"] = memory["extra_bytes"] / gates
            rows.append({"family": family, "qubits": circuits.ROTATION_QUBITS, "gates": gates,
                         "cell": cell, "memory": memory})
            show(KESTREL, f"{family} {gates:,}", cell)
            log(f"  {'':10} {'':24} {memory['bytes_per_gate']:.1f} bytes/gate")
    return rows


def run_widths(s: Settings, scratch: Path) -> list[dict[str, Any]]:
    gates = circuits.QUICK_WIDTH_GATES if s.quick else circuits.WIDTH_GATES
    rows = []
    for reach in (None, circuits.LOCAL_REACH):
        for qubits in circuits.WIDTHS:
            path = scratch / f"width-{qubits}-{reach}.qasm"
            path.write_text(circuits.whole_program("clifford_t_cx", gates, qubits, reach))
            cell = time_cell(KESTREL, path, "whole_program", s)
            rows.append({"qubits": qubits, "reach": reach, "gates": gates, "cell": cell})
            show(KESTREL, f"{qubits} qubits, reach {reach}", cell)
    return rows


def run(s: Settings, wanted: list[str]) -> dict[str, Any]:
    log("timing whole-program T-count reduction")
    section: dict[str, Any] = {
        "tools": {n: {"label": label, "pipeline": pipeline, "installed": tools.available(n)}
                  for n, (label, pipeline) in tools.ROTATION_MERGING_TOOLS.items()}}
    with tempfile.TemporaryDirectory(prefix="kestrel-bench-rm-") as scratch:
        section["programs"] = run_programs(s)
        section["families"] = run_families(s, Path(scratch))
        section["widths"] = run_widths(s, Path(scratch))
    return {"rotation_merging": section}


def bar(row: dict[str, Any]) -> int | None:
    """The T count kestrel is to reach on a program: the least of the peers'
    measured counts and their reference counts."""
    counts = [c for c in REFERENCE_T.get(row["program"], ()) if c is not None]
    counts += [row[p]["t_after"] for p in PEERS if "t_after" in row.get(p, {})]
    return min(counts) if counts else None


def speedup(peer: dict[str, Any], ours: dict[str, Any], limit: float) -> tuple[str, float | None]:
    """The speed-up cell and its value; a lower bound when the peer was cut off."""
    if "median" not in ours:
        return "", None
    if "median" in peer:
        ratio = peer["median"] / ours["median"]
        return fmt_ratio(ratio), ratio
    if peer.get("status") == "cut off" and not peer.get("skipped"):
        return "> " + fmt_ratio(limit / ours["median"]), None
    return "", None


def program_table(section: dict[str, Any], limit: float, heading: str) -> list[str]:
    rows, label = section["programs"], {n: v["label"] for n, v in section["tools"].items()}
    out = [f"{heading} Whole programs: T count against PyZX and quizx", "",
           f"The T-count benchmark programs through {label[KESTREL]}'s rotation merging "
           f"(`{section['tools'][KESTREL]['pipeline']}`), PyZX's `teleport_reduce` and "
           "quizx's `full_simp`: the T gates each leaves, the median wall time from "
           "QASM text to the result (quizx: to its simplified graph), and kestrel's "
           "speed-up over each.", "",
           "| Program | Qubits | Gates | T before | T after, kestrel | PyZX | quizx | "
           "kestrel | PyZX | Speed-up | quizx | Speed-up |",
           "|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|"]
    worse, differ, least = [], [], {p: None for p in PEERS}
    for row in rows:
        ours = row[KESTREL]
        cells = [row["program"], f"{row['qubits']:,}",
                 f"{row['gates']:,}" if "gates" in row else "",
                 f"{row['t_before']:,}" if "t_before" in row else "",
                 f"{ours['t_after']:,}" if "t_after" in ours else ours["status"]]
        for i, peer in enumerate(PEERS):
            c = row[peer]
            cells.append(f"{c['t_after']:,}" if "t_after" in c else c["status"])
            reference = REFERENCE_T.get(row["program"], (None, None))[i]
            if "t_after" in c and reference is not None and c["t_after"] != reference:
                differ.append(f"{row['program']} ({label[peer]} {c['t_after']:,}, "
                              f"reference {reference:,})")
        cells.append(fmt_time(ours["median"]) if "median" in ours else ours["status"])
        for peer in PEERS:
            c = row[peer]
            text, ratio = speedup(c, ours, limit)
            cells += [fmt_time(c["median"]) if "median" in c else c["status"], text]
            if ratio is not None and (least[peer] is None or ratio < least[peer][0]):
                least[peer] = (ratio, row["program"])
        target = bar(row)
        if "t_after" in ours and target is not None and ours["t_after"] > target:
            worse.append(f"{row['program']} ({ours['t_after']:,} against {target:,})")
        out.append("| " + " | ".join(cells) + " |")
    out.append("")

    counted = sum(1 for row in rows if "t_after" in row[KESTREL] and bar(row) is not None)
    notes = [f"T count at most the peers' on {counted - len(worse)} of {counted} programs "
             "(target: all)" + ("; above on " + ", ".join(worse) if worse else "")]
    for peer in PEERS:
        if least[peer]:
            ratio, program = least[peer]
            notes.append(f"the least speed-up over {label[peer]} {fmt_ratio(ratio)} on "
                         f"{program} (target {SPEEDUP[peer]}×)")
    hwb10 = next((row[KESTREL] for row in rows if row["program"] == "hwb10"), {})
    if "median" in hwb10:
        notes.append(f"hwb10 in {fmt_time(hwb10['median'])} (target under "
                     f"{fmt_time(HWB10_SECONDS)})")
    notes.append("the peers' T counts differ from the reference counts on " + ", ".join(differ)
                 if differ else "the peers' T counts are the reference counts wherever "
                 "they finished")
    text = "; ".join(notes)
    return out + [text[0].upper() + text[1:] + ".", ""]


def gf2_size(program: str) -> int | None:
    """n of a multiplier over GF(2^n) ("gf2^64_mult"), else None."""
    match = re.fullmatch(r"gf2\^(\d+)_mult", program)
    return int(match.group(1)) if match else None


def gf2_table(section: dict[str, Any], heading: str) -> list[str]:
    rows = sorted((r for r in section["programs"] if (gf2_size(r["program"]) or 0) >= GF2_FROM),
                  key=lambda r: gf2_size(r["program"]))
    if not rows:
        return []
    out = [f"{heading} Whole programs: the multipliers over GF(2^n)", "",
           "The multipliers of the T-count programs from gf2^32_mult up, from the table above: "
           "the T gates left against 4n² + n, the median time, and its growth from each "
           "multiplier to the next, which has four times the gates on twice the qubits.", "",
           "| Program | Qubits | T before | T after | 4n² + n | Time | Growth |",
           "|---|---:|---:|---:|---:|---:|---:|"]
    notes, growths, before = [], [], None
    for row in rows:
        c, n = row[KESTREL], gf2_size(row["program"])
        growth = c["median"] / before if "median" in c and before else None
        before = c.get("median")
        if growth is not None:
            growths.append(growth)
        out.append("| " + " | ".join([
            row["program"], f"{row['qubits']:,}",
            f"{row['t_before']:,}" if "t_before" in row else "",
            f"{c['t_after']:,}" if "t_after" in c else c["status"], f"{4 * n * n + n:,}",
            fmt_time(c["median"]) if "median" in c else c["status"],
            f"{growth:.2f}" if growth is not None else ""]) + " |")
        if "t_after" in c and c["t_after"] != 4 * n * n + n:
            notes.append(f"{row['program']} leaves {c['t_after']:,} T gates, not "
                         f"{4 * n * n + n:,}")
        if n in GF2_SECONDS and "median" in c:
            notes.append(f"{row['program']} in {fmt_time(c['median'])} (target under "
                         f"{fmt_time(GF2_SECONDS[n])})")
    if growths:
        notes.append("growth per step " + ", ".join(f"{g:.2f}" for g in growths) +
                     f" (target at most {GF2_GROWTH})")
    # Program names keep their case, even at the start of the sentence.
    return out + ["", "; ".join(notes) + ".", ""] if notes else out + [""]


def family_table(section: dict[str, Any], heading: str) -> list[str]:
    rows = section["families"]
    out = [f"{heading} Whole programs: large generated programs", "",
           "Seeded random programs on 64 qubits (`bench/circuits.py`): median wall time "
           "of one call from text to text, the ratio of that time to the time at one "
           "eighth of the gates, and the peak resident memory one call adds, per gate.", "",
           "| Program | Gates | T before | T after | Time | µs/gate | Time ratio | "
           "Peak bytes/gate |",
           "|---|---:|---:|---:|---:|---:|---:|---:|"]
    times = {(r["family"], r["gates"]): r["cell"].get("median") for r in rows}
    notes = []
    for row in rows:
        c, gates, family = row["cell"], row["gates"], row["family"]
        smaller = times.get((family, gates // 8))
        ratio = c["median"] / smaller if "median" in c and smaller else None
        bpg = row["memory"]["bytes_per_gate"]
        out.append("| " + " | ".join([
            FAMILY_LABELS.get(family, family), f"{gates:,}",
            f"{c['t_before']:,}" if "t_before" in c else "",
            f"{c['t_after']:,}" if "t_after" in c else "",
            fmt_time(c["median"]) if "median" in c else c["status"],
            fmt_number(c["median"] / gates * 1e6) if "median" in c else "",
            f"{ratio:.2f}" if ratio is not None else "", f"{bpg:,.1f}"]) + " |")
        if row is not max((r for r in rows if r["family"] == family), key=lambda r: r["gates"]):
            continue
        parts = [f"{fmt_time(c['median'])} at {gates:,} gates (target under "
                 f"{FAMILY_SECONDS:g} s at 1,048,576)" if "median" in c else c["status"]]
        if ratio is not None:
            parts.append(f"time ratio {ratio:.2f} (target at most {FAMILY_RATIO})")
        parts.append(f"{bpg:,.1f} bytes/gate (target at most {FAMILY_BYTES_PER_GATE})")
        notes.append(f"{FAMILY_LABELS.get(family, family)}: " + ", ".join(parts))
    return out + ["", "; ".join(notes) + ".", ""]


def width_table(section: dict[str, Any], heading: str) -> list[str]:
    rows = section["widths"]
    if not rows:
        return []
    gates = rows[0]["gates"]
    out = [f"{heading} Whole programs: width", "",
           f"The Clifford+T family with 35% cx at {gates:,} gates on more and more qubits, "
           f"with cx between any two qubits and only between qubits at most "
           f"{circuits.LOCAL_REACH} apart: median time per gate, and its growth since "
           "the fewest qubits beside the growth of the qubits (the target: no faster).", "",
           "| Qubits | cx between | Time | µs/gate | Per gate, growth | Qubits, growth |",
           "|---:|---|---:|---:|---:|---:|"]
    faster = []
    for reach in dict.fromkeys(r["reach"] for r in rows):
        group = [r for r in rows if r["reach"] == reach]
        first = group[0]
        for row in group:
            c = row["cell"]
            growth = (c["median"] / first["cell"]["median"]
                      if "median" in c and "median" in first["cell"] else None)
            widening = row["qubits"] / first["qubits"]
            if growth is not None and growth > widening:
                faster.append(f"{row['qubits']:,} qubits")
            out.append("| " + " | ".join([
                f"{row['qubits']:,}",
                "any two" if reach is None else f"at most {reach} apart",
                fmt_time(c["median"]) if "median" in c else c["status"],
                fmt_number(c["median"] / row["gates"] * 1e6) if "median" in c else "",
                f"{growth:.2f}" if growth is not None else "", f"{widening:g}"]) + " |")
    verdict = ("Time per gate grew no faster than the qubits at every width."
               if not faster else "Time per gate grew faster than the qubits at "
               + ", ".join(faster) + ".")
    return out + ["", verdict, ""]


def tables(results: dict[str, Any], heading: str, notes: str) -> list[str]:
    section = results.get("rotation_merging")
    if not section:
        return []
    out = program_table(section, results["settings"]["run_limit"], heading)
    out += gf2_table(section, heading)
    return out + family_table(section, heading) + width_table(section, heading)


NOTES = """\
- Whole programs: the T-count programs of `examples/tcount/` (its
  README says where they come from and how they were converted). Each tool
  runs in a fresh process per program, after an untimed warm-up on a program
  of 64 gates on 8 qubits, timed as the other suites are. quizx's time stops
  at its simplified graph: turning that back into a circuit is not counted.
  A peer's run over {run_limit:g} s is cut off, and that peer then skips the
  programs with more statements; "> N×" is the speed-up that the time limit
  proves. The pipelines:
{pipelines}
- T count: kestrel's `t_after`; PyZX's `Circuit.tcount()` of its circuit;
  quizx's, the spiders of its graph whose phase is an odd multiple of pi/4.
  The targets compare kestrel with the least of the peers' counts measured
  here and those the targets were set against.
- Generated programs: `whole_program` of `bench/circuits.py`, 7 gates in 20
  a cx between two random qubits and the rest drawn uniformly from the
  family's one-qubit gates, a fixed 64-bit mixing function for the draws.
  Memory as in the other suites: a child that reads the text and calls the
  method minus one that only reads it, peak resident sets (VmHWM).
"""


def notes(results: dict[str, Any]) -> str:
    section = results.get("rotation_merging")
    if not section:
        return ""
    pipelines = "\n".join(f"  - {v['label']}: `{v['pipeline']}`"
                          for v in section["tools"].values())
    return NOTES.format(pipelines=pipelines, **results["settings"])
