"""What the phase-polynomial method costs on wide programs where it has
nothing to gain over rotation merging, beside rotation merging's own time in
the same run.

The programs are Qiskit's CDKMRippleCarryAdder(80), an IntegerComparator on
100 bits and a 150-control MCX in v-chain mode, each transpiled to
Clifford+T at optimisation level 0. For each it prints qubits, gates, the
best of `--repeat` times of each method with its T count, and the ratio of
the two times (the aim: at most 10).

    python bench/nothing_to_gain.py [--repeat R] [--before PYTHON]

With `--before`, the same programs are timed in the same run by another
build too (PYTHON: the interpreter of a virtual environment where that
build is installed, e.g. one of an earlier commit), in a process of its
own, alternating with this build program by program; the table then gives
both builds' phase-polynomial times and ratios side by side.
"""

from __future__ import annotations

import argparse
import json
import subprocess
import sys
import time
import warnings

from qiskit import QuantumCircuit, qasm2, transpile
from qiskit.circuit.library import CDKMRippleCarryAdder, IntegerComparator, MCXVChain

import kestrel

BASIS = ["h", "s", "sdg", "t", "tdg", "x", "y", "z", "cx", "cz", "swap"]


def mcx_v_chain(controls: int) -> QuantumCircuit:
    gate = MCXVChain(controls)
    circuit = QuantumCircuit(gate.num_qubits)
    circuit.append(gate, range(gate.num_qubits))
    return circuit


PROGRAMS = {
    "CDKMRippleCarryAdder(80)": lambda: CDKMRippleCarryAdder(80),
    "IntegerComparator(100 bits)": lambda: IntegerComparator(100, 2 ** 99 + 12345),
    "MCX, 150 controls, v-chain": lambda: mcx_v_chain(150),
}


def best_time(text: str, method: str, repeat: int) -> tuple[float, int]:
    best, t = float("inf"), 0
    for _ in range(repeat):
        start = time.perf_counter()
        _, stats = kestrel.optimize_qasm(text, method=method)
        best = min(best, time.perf_counter() - start)
        t = stats["t_after"]
    return best, t


def times(text: str, repeat: int) -> dict:
    merging, t_merging = best_time(text, "rotation-merging", repeat)
    method, t_method = best_time(text, "phase-polynomial", repeat)
    return {"merging": merging, "t_merging": t_merging, "method": method, "t_method": t_method}


def times_elsewhere(python: str, name: str, repeat: int) -> dict:
    out = subprocess.check_output([python, __file__, "--repeat", str(repeat), "--one", name], text=True)
    return json.loads(out)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--before", metavar="PYTHON", help="time another build too, with this interpreter")
    parser.add_argument("--one", help=argparse.SUPPRESS)  # one program's times as JSON, for --before
    args = parser.parse_args()
    warnings.filterwarnings("ignore", category=DeprecationWarning)
    if args.one:
        circuit = transpile(PROGRAMS[args.one](), basis_gates=BASIS, optimization_level=0)
        json.dump(times(qasm2.dumps(circuit), args.repeat), sys.stdout)
        return
    if args.before:
        print("| program | qubits | gates | rotation merging | phase-polynomial before | ratio before "
              "| phase-polynomial now | ratio now |")
        print("|---|---|---|---|---|---|---|---|")
    else:
        print("| program | qubits | gates | rotation merging | phase-polynomial | ratio |")
        print("|---|---|---|---|---|---|")
    for name, make in PROGRAMS.items():
        circuit = transpile(make(), basis_gates=BASIS, optimization_level=0)
        text = qasm2.dumps(circuit)
        now = times(text, args.repeat)
        merging = now["merging"]
        row = (f"| {name} | {circuit.num_qubits} | {len(circuit.data):,} | {1000 * merging:.1f} ms, "
               f"T {now['t_merging']:,} |")
        if args.before:
            old = times_elsewhere(args.before, name, args.repeat)
            merging = min(merging, old["merging"])
            row = (f"| {name} | {circuit.num_qubits} | {len(circuit.data):,} | {1000 * merging:.1f} ms, "
                   f"T {now['t_merging']:,} | {1000 * old['method']:.1f} ms, T {old['t_method']:,} | "
                   f"{old['method'] / merging:,.1f} |")
        print(f"{row} {1000 * now['method']:.1f} ms, T {now['t_method']:,} | {now['method'] / merging:,.1f} |",
              flush=True)


if __name__ == "__main__":
    main()
