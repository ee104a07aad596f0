"""End to end to Clifford+T: kestrel's phase-polynomial method with epsilon
1e-10 on every program of examples/angles/, beside Qiskit's Clifford+T pass
manager (rz synthesis error 1e-10) run in the same process, and the counts
of examples/angles/peers.json for both peer routes.

    python bench/angles_cliffordt.py [--write] [--epsilon E] [NAME...]

Per program: its non-Clifford rotations and T gates as read; kestrel's T
gates, its two-qubit gates before and after, its synthesis error and its
time (best of three calls of `optimize_qasm`, text in and text out);
Qiskit's route's T gates and time measured here (one run, text to circuit,
as peers.py times it), and the T gates peers.json records for Qiskit's
route and for PyZX's full reduction followed by gridsynth on each rotation
left ("-" where PyZX did not finish; on qft_32 its reader dropped angles,
so it is left out of the lower count). "ratio" is Qiskit's time over
kestrel's. `--write` puts the table into bench/results.md under
"## End to end to Clifford+T".
"""

from __future__ import annotations

import argparse
import json
import sys
import time
from pathlib import Path

import kestrel
from results_md import replace_section

ROOT = Path(__file__).resolve().parents[1]
ANGLES = ROOT / "examples" / "angles"
HEADING = "## End to end to Clifford+T"
CLIFFORD_T = ["h", "s", "sdg", "t", "tdg", "x", "z", "cx"]
# Programs whose angles PyZX's reader rounds to 0 (its count is another program's).
PYZX_DROPS = {"qft_32"}
REPEATS = 3


def kestrel_run(text: str, epsilon: float) -> tuple[dict, float]:
    """kestrel's statistics and its best time of REPEATS calls."""
    best = float("inf")
    for _ in range(REPEATS):
        start = time.perf_counter()
        _, stats = kestrel.optimize_qasm(text, method="phase-polynomial", epsilon=epsilon)
        best = min(best, time.perf_counter() - start)
    return stats, best


def qiskit_run(text: str, epsilon: float) -> tuple[int, float]:
    """Qiskit's Clifford+T route: its T gates and its time, text to circuit."""
    from qiskit import qasm2
    from qiskit.transpiler import generate_preset_clifford_t_pass_manager
    start = time.perf_counter()
    pm = generate_preset_clifford_t_pass_manager(
        basis_gates=CLIFFORD_T, optimization_level=3, seed_transpiler=0,
        rz_synthesis_config={"rz_synthesis_error": epsilon, "rz_cache_error": 0.0})
    out = pm.run(qasm2.loads(text))
    seconds = time.perf_counter() - start
    ops = out.count_ops()
    return ops.get("t", 0) + ops.get("tdg", 0), seconds


def rows(names: list[str], epsilon: float, with_qiskit: bool) -> list[str]:
    peers = json.loads((ANGLES / "peers.json").read_text())
    programs = names or sorted(p.stem for p in ANGLES.glob("*.qasm"))
    out = ["| program | rotations / T in | kestrel T | Qiskit route T (here) | Qiskit route T "
           "(peers.json) | PyZX + gridsynth T | kestrel / lower peer | 2q in / out | "
           "synthesis error | kestrel s | Qiskit s | ratio |",
           "|---|---|---|---|---|---|---|---|---|---|---|---|"]
    for name in programs:
        text = (ANGLES / f"{name}.qasm").read_text()
        record = peers[name]
        stats, seconds = kestrel_run(text, epsilon)
        q_t, q_seconds = qiskit_run(text, epsilon) if with_qiskit else (None, None)
        recorded = record.get("cliffordt_qiskit_1e-10", {}).get("t")
        pyzx = record.get("cliffordt_pyzx_gridsynth_1e-10", {}).get("t")
        counts = [c for c in (recorded, None if name in PYZX_DROPS else pyzx) if c is not None]
        lower = min(counts) if counts else None
        dash = "-"
        cells = [
            name,
            f"{record['nonclifford_rotations']} / {record['pi4_rotations'] + record['t']}",
            f"{stats['t_after']:,}",
            dash if q_t is None else f"{q_t:,}",
            dash if recorded is None else f"{recorded:,}",
            (dash if pyzx is None else f"{pyzx:,}") + (" (drops angles)" if name in PYZX_DROPS else ""),
            dash if lower is None else f"{stats['t_after'] / lower:.3f}",
            f"{stats['two_qubit_before']} / {stats['two_qubit_after']}",
            f"{stats['synthesis_error']:.2e}",
            f"{seconds:.3f}",
            dash if q_seconds is None else f"{q_seconds:.3f}",
            dash if q_seconds is None else f"{q_seconds / seconds:.1f}",
        ]
        out.append("| " + " | ".join(cells) + " |")
        print(out[-1], file=sys.stderr, flush=True)
    return out


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("names", nargs="*")
    parser.add_argument("--epsilon", type=float, default=1e-10)
    parser.add_argument("--no-qiskit", action="store_true")
    parser.add_argument("--write", action="store_true")
    args = parser.parse_args()
    section = [HEADING, "",
               f"`python bench/angles_cliffordt.py --write`: kestrel's phase-polynomial method "
               f"with epsilon={args.epsilon:g} on the programs of examples/angles/, and Qiskit's "
               "Clifford+T pass manager (level 3, rz synthesis error the same) in the same run; "
               "peers.json's counts for Qiskit's route and PyZX's full reduction then gridsynth. "
               "Rotations / T in: non-Clifford rotations and pi/4 rotations plus T gates of the "
               "input. kestrel's time: best of three calls, text to text; Qiskit's: one run, text "
               "to circuit; ratio = Qiskit's time / kestrel's.", ""]
    section += rows(args.names, args.epsilon, not args.no_qiskit)
    print("\n".join(section))
    if args.write:
        replace_section(HEADING, section)


if __name__ == "__main__":
    main()
