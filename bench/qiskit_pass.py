"""The Qiskit suite: kestrel's transpiler pass (kestrel.qiskit.KestrelOptimize,
rotation merging) on Qiskit circuits, beside Qiskit's own optimization stage
at level 3 on the same circuit and beside optimize_qasm on the same text.

Each program runs in one child process (this file run as a program), which
prints one JSON document. Per program it times, as medians over repeated
runs:

- the pass on a DAG of the circuit (the DAG made afresh before each run, not
  timed): the walk over the DAG, kestrel, and the edits made in place;
- Qiskit's optimization stage at level 3 for a Clifford+T basis
  (`generate_preset_pass_manager(3, basis_gates=...).optimization`), from
  the circuit;
- kestrel's own stage at level 3 (`optimization_method="kestrel"`), from the
  circuit, which repeats rotation merging, the normal form and cancellation;
- optimize_qasm(text, method="rotation-merging") on the program's text;
- qasm2.dumps and qasm2.loads of the circuit, the text route the pass avoids.

and the T count each leaves. The programs: a seeded random Clifford+T
circuit of 100,000 gates on 8 qubits (35% cx; bench/circuits.py's
`whole_program`; 10,000 gates in a quick run), and the T-count programs of
examples/tcount/ with the most gates (hwb10, mod_adder_1024,
gf2^16_mult).

It adds one section to results.json, "qiskit_pass": [{"program", "qubits",
"gates", "t_before", "pass": {"median", "t_after"}, "level3": {...},
"stage3": {...}, "optimize_qasm": {...}, "round_trip": {"median"}}, ...].
"""

from __future__ import annotations

import json
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path
from typing import Any, Callable

import circuits
from formats import fmt_ratio, fmt_time
from harness import log
from settings import Settings

CLIFFORD_T = ["h", "s", "sdg", "t", "tdg", "x", "z", "cx"]
RANDOM_GATES, QUICK_RANDOM_GATES, RANDOM_QUBITS = 100_000, 10_000, 8
PROGRAMS = ["hwb10", "mod_adder_1024", "gf2^16_mult"]
COLUMNS = [("pass", "the pass"), ("level3", "Qiskit level 3 stage"),
           ("stage3", "kestrel stage, level 3"), ("optimize_qasm", "optimize_qasm"),
           ("round_trip", "qasm2 round trip")]


def tool_names(wanted: list[str]) -> list[str]:
    return ["kestrel", "qiskit-l3"]


def run(s: Settings, wanted: list[str]) -> dict[str, Any]:
    log("timing the Qiskit pass")
    rows = []
    with tempfile.TemporaryDirectory(prefix="kestrel-bench-qiskit-") as scratch:
        gates = QUICK_RANDOM_GATES if s.quick else RANDOM_GATES
        path = Path(scratch) / f"clifford_t_{gates}.qasm"
        path.write_text(circuits.whole_program("clifford_t_cx", gates, RANDOM_QUBITS))
        paths = [(f"random Clifford+T, {gates:,} gates", path)]
        shared = {p.stem: p for p in circuits.shared_programs("tcount")}
        paths += [(name, shared[name]) for name in PROGRAMS if name in shared]
        for name, program in paths:
            command = [sys.executable, __file__, str(program), str(s.min_runs)]
            row = json.loads(subprocess.run(command, capture_output=True, text=True,
                                            check=True).stdout)
            row["program"] = name
            rows.append(row)
            log(f"  {name:34} pass {fmt_time(row['pass']['median'])}, "
                f"level 3 {fmt_time(row['level3']['median'])}")
    return {"qiskit_pass": rows}


def tables(results: dict[str, Any], heading: str, notes: str) -> list[str]:
    rows = results.get("qiskit_pass")
    if not rows:
        return []
    out = [f"{heading} kestrel inside Qiskit", "",
           "Median times; T after each in parentheses. The pass's speed-up is over Qiskit's "
           f"level-3 optimization stage on the same circuit (see {notes}).", "",
           "| Program | Qubits | Gates | T before | " +
           " | ".join(label for _, label in COLUMNS) + " | pass vs level 3 |",
           "|---|---:|---:|---:|" + "---:|" * len(COLUMNS) + "---:|"]
    for row in rows:
        cells = []
        for key, _ in COLUMNS:
            cell = row[key]
            t = f" ({cell['t_after']:,})" if "t_after" in cell else ""
            cells.append(fmt_time(cell["median"]) + t)
        ratio = fmt_ratio(row["level3"]["median"] / row["pass"]["median"])
        out.append(f"| {row['program']} | {row['qubits']} | {row['gates']:,} | "
                   f"{row['t_before']:,} | " + " | ".join(cells) + f" | {ratio} |")
    return out + [""]


NOTES = """\
- kestrel inside Qiskit: the pass is timed on a DAG of the circuit made
  before each run (circuit_to_dag is not counted); Qiskit's level-3
  optimization stage and kestrel's level-3 stage are timed from the circuit,
  as a pass manager's run does it; optimize_qasm from the program's text; the
  round trip is qasm2.dumps then qasm2.loads. Each is run at least three
  times, after one untimed run, in one child process per program.
"""


def notes(results: dict[str, Any]) -> str:
    return NOTES if results.get("qiskit_pass") else ""


# ---------------------------------------------------------------------------
# The child: one program, every measurement, one JSON document.

def median_time(work: Callable[[], Any], runs: int, prepare: Callable[[], Any] | None = None
                ) -> tuple[float, Any]:
    """The median seconds of `work(prepare())` over `runs` runs after an untimed one."""
    times, result = [], None
    for n in range(runs + 1):
        argument = prepare() if prepare else None
        start = time.perf_counter()
        result = work(argument)
        if n:
            times.append(time.perf_counter() - start)
    return statistics.median(times), result


def t_of(circuit: Any) -> int:
    ops = circuit.count_ops()
    return ops.get("t", 0) + ops.get("tdg", 0)


def child(path: Path, runs: int) -> dict[str, Any]:
    import kestrel
    from kestrel.qiskit import KestrelOptimize
    from qiskit import qasm2
    from qiskit.converters import circuit_to_dag, dag_to_circuit
    from qiskit.transpiler import generate_preset_pass_manager

    text = path.read_text()
    circuit = qasm2.loads(text, custom_instructions=qasm2.LEGACY_CUSTOM_INSTRUCTIONS)
    row: dict[str, Any] = {"qubits": circuit.num_qubits, "gates": circuit.size(),
                           "t_before": t_of(circuit)}
    merge = KestrelOptimize()
    seconds, dag = median_time(merge.run, runs, lambda: circuit_to_dag(circuit))
    row["pass"] = {"median": seconds, "t_after": t_of(dag_to_circuit(dag))}
    level3 = generate_preset_pass_manager(3, basis_gates=CLIFFORD_T).optimization
    seconds, out = median_time(lambda _: level3.run(circuit), runs)
    row["level3"] = {"median": seconds, "t_after": t_of(out)}
    stage3 = generate_preset_pass_manager(3, basis_gates=CLIFFORD_T,
                                          optimization_method="kestrel").optimization
    seconds, out = median_time(lambda _: stage3.run(circuit), runs)
    row["stage3"] = {"median": seconds, "t_after": t_of(out)}
    seconds, out = median_time(lambda _: kestrel.optimize_qasm(text, method="rotation-merging"),
                               runs)
    row["optimize_qasm"] = {"median": seconds, "t_after": out[1]["t_after"]}
    seconds, _ = median_time(lambda _: qasm2.loads(qasm2.dumps(circuit)), runs)
    row["round_trip"] = {"median": seconds}
    return row


if __name__ == "__main__":
    print(json.dumps(child(Path(sys.argv[1]), int(sys.argv[2]))))
