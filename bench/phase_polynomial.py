"""The phase-polynomial method on the T-count programs of examples/tcount/,
beside the counts and times other tools reach (examples/tcount/frontier.json).

    python bench/phase_polynomial.py [--repeat N] [--ancillas K] [--time-limit S] [NAME...]

For each program, with and without Hadamard gadgets (`ancillas=K`, 1,000,000
by default, so no budget binds): kestrel's T count, its two-qubit gates
before and after, the extra qubits, and the median wall time of N calls of
`optimize_qasm` in this process (the text read, optimised and written);
then the best ancilla-free count and the best count with gadgets recorded
in frontier.json, and the fewest seconds a recorded method took there (on a
machine like ours) to reach at most kestrel's count ("none": none did). Prints one markdown table. The programs gf2^128_mult
and larger take tens of seconds and are left out unless named.
"""

from __future__ import annotations

import argparse
import json
import statistics
import sys
import time
from pathlib import Path

import kestrel

sys.path.insert(0, str(Path(__file__).resolve().parent))
import circuits  # noqa: E402

FRONTIER = Path(__file__).resolve().parents[1] / "examples" / "tcount" / "frontier.json"
LEFT_OUT = {"gf2^128_mult"}


def timed(text: str, repeat: int, **options) -> tuple[dict, float]:
    """The statistics of one call and the median seconds of `repeat` calls."""
    seconds = []
    stats = {}
    for _ in range(repeat):
        start = time.perf_counter()
        _, stats = kestrel.optimize_qasm(text, method="phase-polynomial", **options)
        seconds.append(time.perf_counter() - start)
    return stats, statistics.median(seconds)


def fastest_at_most(entry: dict, keys: list[str], count: int) -> str:
    """The fewest seconds a method of `keys` took to reach at most `count`
    T gates, with its count ("none" when no recorded method got there)."""
    reached = [(entry[k]["seconds"], entry[k]["t"]) for k in keys
               if isinstance(entry.get(k), dict) and entry[k].get("t") is not None
               and entry[k]["t"] <= count and "seconds" in entry[k]]
    if not reached:
        return "none"
    seconds, t = min(reached)
    return f"{t:,} in {seconds_text(seconds)}"


def seconds_text(s: float | None) -> str:
    if s is None:
        return ""
    return f"{s * 1000:.1f} ms" if s < 1 else f"{s:.2f} s"


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("names", nargs="*")
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--ancillas", type=int, default=1_000_000)
    parser.add_argument("--time-limit", type=float, default=5.0)
    args = parser.parse_args()
    frontier = json.loads(FRONTIER.read_text())
    free_keys = ["todd_ancilla_free_pyzx", "tohpe_ancilla_free", "fasttodd_ancilla_free"]
    gadget_keys = ["tohpe_gadgets", "fasttodd_gadgets"]
    print("| program | T | merged | kestrel | best recorded | fastest recorded at most "
          "kestrel's | kestrel, gadgets | extra qubits | best recorded, gadgets | fastest "
          "recorded at most kestrel's | 2q before | 2q after | 2q after, gadgets |")
    print("|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|")
    for path in circuits.shared_programs("tcount"):
        name = path.name.removesuffix(".qasm")
        if (args.names and name not in args.names) or (not args.names and name in LEFT_OUT):
            continue
        text = path.read_text()
        merged = kestrel.optimize_qasm(text, method="rotation-merging")[1]["t_after"]
        free, free_s = timed(text, args.repeat, time_limit=args.time_limit)
        gadgets, gadgets_s = timed(text, args.repeat, time_limit=args.time_limit,
                                   ancillas=args.ancillas)
        entry = frontier.get(name, {})
        free_best = entry.get("best_ancilla_free", "")
        gadget_best = entry.get("best_gadgets_tohpe_fasttodd", "")
        print(f"| {name} | {free['t_before']:,} | {merged:,} | {free['t_after']:,} "
              f"({seconds_text(free_s)}) | {free_best} | "
              f"{fastest_at_most(entry, free_keys, free['t_after'])} | {gadgets['t_after']:,} "
              f"({seconds_text(gadgets_s)}) | {gadgets['extra_qubits']} | {gadget_best} | "
              f"{fastest_at_most(entry, gadget_keys, gadgets['t_after'])} "
              f"| {free['two_qubit_before']:,} | {free['two_qubit_after']:,} "
              f"| {gadgets['two_qubit_after']:,} |", flush=True)


if __name__ == "__main__":
    main()
