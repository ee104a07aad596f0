"""What the phase-polynomial method costs on wide programs where it has
nothing to gain over rotation merging, beside rotation merging's own time in
the same run.

The programs are Qiskit's CDKMRippleCarryAdder(80), an IntegerComparator on
100 bits and a 150-control MCX in v-chain mode, each transpiled to
Clifford+T at optimisation level 0. For each it prints qubits, gates, the
best of `--repeat` times of each method with its T count, and the ratio of
the two times (the aim: at most 10).

    python bench/nothing_to_gain.py [--repeat R]
"""

from __future__ import annotations

import argparse
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


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeat", type=int, default=3)
    args = parser.parse_args()
    warnings.filterwarnings("ignore", category=DeprecationWarning)
    print("| program | qubits | gates | rotation merging | phase-polynomial | ratio |")
    print("|---|---|---|---|---|---|")
    for name, make in PROGRAMS.items():
        circuit = transpile(make(), basis_gates=BASIS, optimization_level=0)
        text = qasm2.dumps(circuit)
        merging, t_merging = best_time(text, "rotation-merging", args.repeat)
        method, t_method = best_time(text, "phase-polynomial", args.repeat)
        print(f"| {name} | {circuit.num_qubits} | {len(circuit.data):,} | {1000 * merging:.1f} ms, "
              f"T {t_merging:,} | {1000 * method:.0f} ms, T {t_method:,} | {method / merging:,.0f} |",
              flush=True)


if __name__ == "__main__":
    main()
