"""The as-written suite: rotation merging (tools.ROTATION_MERGING) on programs
written the way their authors wrote them, with Toffolis, angle gates and
gates of their own, beside the same programs expanded to Clifford+T.

- Toffolis: each T-count program of examples/tcount/ written with `ccx`
  where its source had a Toffoli (bench/toffolis.py collapses the expanded
  files' fixed pattern back, and checks each against its file), and the
  expanded file itself: the T count each leaves (a `ccx` left as written
  counts its seven T gates) and the median time of each, with the ratio of
  the two. The targets: the same T count, in at most 1.5 times the time.
- QASMBench: the programs of examples/qasmbench/ as written, and the
  same programs once Qiskit's basis translation has written them in
  Clifford+T gates (and the rotations it cannot write so): the T count each
  leaves, both counted once Qiskit has translated the result the same way
  (a rotation by an odd multiple of pi/4 is a T gate), and the time of each.
  The target: the same T count.

It adds one section to results.json, "as_written": {"toffolis": [{"program",
"toffolis", "t_before", "expanded": cell, "written": cell, "t_expanded",
"t_written"}, ...], "qasmbench": [{"program", "t_before", "expanded": cell,
"written": cell, "t_expanded", "t_written"}, ...]}, with cells as
bench/harness.py's time_cell returns them.
"""

from __future__ import annotations

import re
import sys
import tempfile
from pathlib import Path
from typing import Any

import circuits
import tools
import toffolis
from formats import fmt_time
from harness import log, time_cell
from settings import Settings

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "python"))
import programs  # noqa: E402  (the tests' T counter)

KESTREL = "kestrel-rm"
TIME_RATIO = 1.5
TIME_LIMIT = 5.0  # seconds: the method's default limit, past which T gates stay as read
# The gates Qiskit's basis translation writes a program in: the Clifford+T
# gates, and the rotations it cannot write in them (the tests' list).
BASIS = programs.CLIFFORD_T_BASIS


def tool_names(wanted: list[str]) -> list[str]:
    return [KESTREL]


def merged(text: str) -> str:
    """kestrel's rotation merging of `text`, untimed, as the timed runs do it."""
    import kestrel
    return kestrel.optimize_qasm(text, **tools.ROTATION_MERGING)[0]


def toffoli_t(text: str) -> int:
    """The T gates of a T-count program written with h, s, t, x, cx and ccx."""
    return (len(re.findall(r"(?m)^\s*t(dg)?\s", text))
            + 7 * len(re.findall(r"(?m)^\s*ccx\s", text)))


def translated(text: str) -> Any:
    from qiskit import qasm2, transpile
    circuit = qasm2.loads(text, custom_instructions=qasm2.LEGACY_CUSTOM_INSTRUCTIONS)
    return transpile(circuit, basis_gates=BASIS, optimization_level=0)


def t_content(text: str) -> int:
    """The T gates of `text` once Qiskit has translated it to BASIS, counted
    by the tests' rule (tests/python/programs.py's t_gates: a rotation whose
    angles are all multiples of pi/4 counts its odd ones). The table gives
    the count in the gates Qiskit's translation writes, as a Qiskit user
    sees a result, hence the translation first; t_gates alone counts each
    gate through its own definition, which gives the same on every program
    of examples/qasmbench/ and kestrel's results on them."""
    return programs.t_gates(translated(text))


def timed(path: Path, s: Settings, name: str) -> dict[str, Any]:
    cell = time_cell(KESTREL, path, "whole_program", s)
    shown = f"{cell['median'] * 1e3:.3f} ms" if "median" in cell else cell["status"]
    log(f"  {KESTREL:10} {name:30} {shown}")
    return cell


def run_toffolis(s: Settings, scratch: Path) -> list[dict[str, Any]]:
    rows = []
    for path in circuits.shared_programs("tcount"):
        expanded = path.read_text()
        written, count = toffolis.collapse(expanded)
        written_path = scratch / path.name
        written_path.write_text(written)
        rows.append({
            "program": path.stem, "toffolis": count, "t_before": toffoli_t(expanded),
            "expanded": timed(path, s, path.stem + " expanded"),
            "written": timed(written_path, s, path.stem + " with ccx"),
            "t_expanded": toffoli_t(merged(expanded)), "t_written": toffoli_t(merged(written))})
    return rows


def run_qasmbench(s: Settings, scratch: Path) -> list[dict[str, Any]]:
    from qiskit import qasm2
    rows = []
    for path in circuits.shared_programs("qasmbench"):
        written = path.read_text()
        expanded = qasm2.dumps(translated(written))
        expanded_path = scratch / path.name
        expanded_path.write_text(expanded)
        rows.append({
            "program": path.stem, "t_before": t_content(written),
            "written": timed(path, s, path.stem + " as written"),
            "expanded": timed(expanded_path, s, path.stem + " expanded"),
            "t_written": t_content(merged(written)), "t_expanded": t_content(merged(expanded))})
    return rows


def run(s: Settings, wanted: list[str]) -> dict[str, Any]:
    log("timing rotation merging on programs as written")
    with tempfile.TemporaryDirectory(prefix="kestrel-bench-aw-") as scratch:
        toffoli_dir, qasmbench_dir = Path(scratch) / "tcount", Path(scratch) / "qasmbench"
        toffoli_dir.mkdir()
        qasmbench_dir.mkdir()
        return {"as_written": {"toffolis": run_toffolis(s, toffoli_dir),
                               "qasmbench": run_qasmbench(s, qasmbench_dir)}}


def time_of(cell: dict[str, Any]) -> str:
    return fmt_time(cell["median"]) if "median" in cell else cell["status"]


def toffoli_table(rows: list[dict[str, Any]], heading: str) -> list[str]:
    out = [f"{heading} Whole programs written with Toffolis", "",
           "Each T-count program written with one `ccx` line where its source had a Toffoli "
           "(`bench/toffolis.py`), beside its expanded file, through rotation merging: the T "
           "count each leaves (a `ccx` left as written counts seven) and the median wall "
           "time from text to text.", "",
           "| Program | Toffolis | T before | T after, expanded | T after, with ccx | "
           "Time, expanded | Time, with ccx | Ratio |",
           "|---|---:|---:|---:|---:|---:|---:|---:|"]
    differ, slow, worst, cut = [], [], None, []
    for row in rows:
        e, w = row["expanded"], row["written"]
        if any(c.get("median", 0) >= 0.95 * TIME_LIMIT for c in (e, w)):
            cut.append(row["program"])
        ratio = w["median"] / e["median"] if "median" in e and "median" in w else None
        if ratio is not None and (worst is None or ratio > worst[0]):
            worst = (ratio, row["program"])
        if row["t_written"] != row["t_expanded"]:
            differ.append(row["program"])
        if ratio is not None and ratio > TIME_RATIO:
            slow.append(row["program"])
        out.append("| " + " | ".join([
            row["program"], f"{row['toffolis']:,}", f"{row['t_before']:,}",
            f"{row['t_expanded']:,}", f"{row['t_written']:,}", time_of(e), time_of(w),
            f"{ratio:.2f}" if ratio is not None else ""]) + " |")
    notes = [f"the same T count as written as expanded on {len(rows) - len(differ)} of "
             f"{len(rows)} programs (target: all)" + ("; not on " + ", ".join(differ)
                                                       if differ else "")]
    if worst is not None:
        notes.append(f"as written at most {worst[0]:.2f} times the expanded file's time, on "
                     f"{worst[1]} (target at most {TIME_RATIO:g})"
                     + ("; above on " + ", ".join(slow) if slow else ""))
    if cut:
        notes.append(", ".join(cut) + f" reached the default time limit of {TIME_LIMIT:g} s, past "
                     "which T gates stay as read: there the counts depend on how far each run got")
    text = "; ".join(notes)
    return out + ["", text[0].upper() + text[1:] + ".", ""]


def qasmbench_table(rows: list[dict[str, Any]], heading: str) -> list[str]:
    out = [f"{heading} QASMBench as written", "",
           "The QASMBench programs as written (ccx, cu1, custom gates, u3, ...) and "
           "expanded by Qiskit's basis translation to Clifford+T gates and the rotations it "
           "cannot write so, through rotation merging: the T count each leaves, counted "
           "once Qiskit has translated the result in the same way (a rotation by an odd "
           "multiple of pi/4 is one T gate), and the median wall time.", "",
           "| Program | T before | T after, expanded | T after, as written | "
           "Time, expanded | Time, as written |",
           "|---|---:|---:|---:|---:|---:|"]
    differ = []
    for row in rows:
        if row["t_written"] != row["t_expanded"]:
            differ.append(row["program"])
        out.append("| " + " | ".join([
            row["program"], f"{row['t_before']:,}", f"{row['t_expanded']:,}",
            f"{row['t_written']:,}", time_of(row["expanded"]), time_of(row["written"])]) + " |")
    verdict = (f"The same T count as written as expanded on {len(rows) - len(differ)} of "
               f"{len(rows)} programs (target: all)"
               + ("; not on " + ", ".join(differ) if differ else "") + ".")
    return out + ["", verdict, ""]


def tables(results: dict[str, Any], heading: str, notes: str) -> list[str]:
    section = results.get("as_written")
    if not section:
        return []
    return toffoli_table(section["toffolis"], heading) + qasmbench_table(section["qasmbench"],
                                                                          heading)


def notes(results: dict[str, Any]) -> str:
    if "as_written" not in results:
        return ""
    return """\
- Programs as written: rotation merging with its default limits, each text
  timed in a fresh process as the other suites are. The T-count programs
  with `ccx` are made by `bench/toffolis.py`, which finds the thirteen-gate
  pattern PyZX wrote for each Toffoli's doubly controlled Z, writes
  `h c; ccx a,b,c; h c;` for it and cancels the H gates that meet; `python
  bench/toffolis.py --check` checks each against its expanded file (Qiskit's
  Operator up to 10 qubits, MQT QCEC above, global phase included). The
  QASMBench programs are expanded by `qiskit.transpile(basis_gates=[h, s,
  sdg, t, tdg, x, y, z, cx, cz, swap, rz, rx, ry, u1, u2, u3, p, id, measure,
  reset], optimization_level=0)`.
"""
