"""kestrel's results proved equivalent to their programs by the sum-over-paths
checker of the tests (tests/python/path_sum_equivalence.py), beside MQT
QCEC's verdict on the same pair in the same run.

For each T-count program of examples/tcount/ (hwb10 only when named, the
largest ones only with --large) and seeded random 40-qubit Toffoli networks
(Qiskit's x, cx and ccx gates, written by Qiskit in Clifford+T), it runs
kestrel with `phase=True`, checks the result with the phase kestrel reports,
checks a copy with one T gate dropped (it must be rejected), and asks QCEC
(`qcec.verify`, up to a global phase) with a time limit, stopping it at
twice that. It prints a Markdown table: program, qubits, gates in and out,
the checker's time and verdict, the mutant's verdict, QCEC's time and
verdict.

    python bench/path_sums.py [--large] [--qcec-seconds S] [--method M] [names...]
"""

from __future__ import annotations

import argparse
import multiprocessing
import queue
import sys
import time
from pathlib import Path

REPO = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(REPO / "tests" / "python"))

from qiskit import qasm2  # noqa: E402

import kestrel  # noqa: E402
from path_sum_equivalence import check, read  # noqa: E402
from programs import program_name, program_paths, program_text  # noqa: E402
from test_path_sums import LARGE, UNCHECKED, toffoli_network, without_one_t  # noqa: E402

NETWORK_SEEDS = range(3)


def _qcec(a: str, b: str, seconds: float, out) -> None:
    from mqt import qcec
    result = qcec.verify(read(a), read(b), timeout=seconds)
    out.put(str(result.equivalence).rsplit(".", 1)[-1])


def qcec_verdict(a: str, b: str, seconds: float) -> tuple[str, float]:
    """QCEC's verdict, in a child stopped at twice the limit (QCEC can
    overrun its own for many minutes on the largest programs)."""
    start = time.perf_counter()
    out = multiprocessing.Queue()
    child = multiprocessing.Process(target=_qcec, args=(a, b, seconds, out))
    child.start()
    try:
        verdict = out.get(timeout=2 * seconds)
    except queue.Empty:
        verdict = "stopped at twice the limit"
    child.kill()
    child.join()
    return verdict, time.perf_counter() - start


def row(name: str, text: str, method: str, qcec_seconds: float) -> str:
    out, stats = kestrel.optimize_qasm(text, method=method, phase=True)
    result = check(text, out, phase=stats["phase"])
    mutant = check(text, without_one_t(out)).verdict
    q_verdict, q_time = qcec_verdict(text, out, qcec_seconds)
    gates_in, gates_out = result.gates
    return (f"| {name} | {method} | {result.qubits} | {gates_in:,} → {gates_out:,} | "
            f"{result.seconds:.2f} s | {result.verdict} | {mutant} | {q_time:.1f} s | {q_verdict} |")


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("names", nargs="*", help="programs (default: all; 'networks' for those)")
    parser.add_argument("--large", action="store_true", help="the largest programs too")
    parser.add_argument("--qcec-seconds", type=float, default=60.0)
    parser.add_argument("--method", default="phase-polynomial")
    args = parser.parse_args()
    print("| program | method | qubits | gates in → out | checker | verdict | one T dropped "
          "| QCEC | QCEC's verdict |")
    print("|---|---|---|---|---|---|---|---|---|")
    for path in program_paths("tcount"):
        name = program_name(path)
        if args.names and name not in args.names:
            continue
        if name in UNCHECKED and name not in args.names:
            continue
        if name in LARGE and not args.large and name not in args.names:
            continue
        print(row(name, program_text(path), args.method, args.qcec_seconds), flush=True)
    if not args.names or "networks" in args.names:
        for seed in NETWORK_SEEDS:
            text = qasm2.dumps(toffoli_network(40, 200, seed))
            for method in ("rotation-merging", "phase-polynomial"):
                print(row(f"Toffoli network 40 qubits, seed {seed}", text, method,
                          args.qcec_seconds), flush=True)


if __name__ == "__main__":
    main()
