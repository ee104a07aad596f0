"""What raising the node limit buys: time, memory and T count of one circuit
at several node limits, each run in a fresh process.

    python bench/node_limits.py [--gates 12000] [--limits 10000 100000 1000000]

Prints a markdown table. The circuit is the benchmark's seeded Clifford+T
circuit of the given size (bench/circuits.py); the time limit is raised so
that only the node limit stops the run.
"""

import argparse
import json
import statistics
import subprocess
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from circuits import circuit  # noqa: E402

CHILD = """
import json, sys, time, kestrel
text, limit = sys.stdin.read(), int(sys.argv[1])
def peak():
    for row in open("/proc/self/status"):
        if row.startswith("VmHWM:"):
            return int(row.split()[1]) * 1024
before = peak()
start = time.perf_counter()
report = kestrel.explain(text, node_limit=limit, time_limit=600.0)
seconds = time.perf_counter() - start
print(json.dumps({"seconds": seconds, "peak": peak() - before, "stats": report.stats,
                  "stop": report.stop_reason, "iterations": len(report.iterations)}))
"""


def measure(text: str, limit: int, runs: int) -> dict:
    results = [json.loads(subprocess.run([sys.executable, "-c", CHILD, str(limit)], input=text,
                                         capture_output=True, text=True, check=True).stdout)
               for _ in range(runs)]
    best = results[0]
    best["seconds"] = statistics.median(r["seconds"] for r in results)
    best["peak"] = statistics.median(r["peak"] for r in results)
    return best


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("--gates", type=int, default=12_000)
    parser.add_argument("--limits", type=int, nargs="+", default=[10_000, 100_000, 1_000_000])
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args()
    text = circuit("clifford_t", args.gates)
    print(f"Seeded Clifford+T circuit of {args.gates:,} gates; median of {args.runs} runs.\n")
    print("| Node limit | Time | Peak memory | T before | T after | Gates after | Stopped by |")
    print("|---:|---:|---:|---:|---:|---:|---|")
    for limit in args.limits:
        r = measure(text, limit, args.runs)
        s = r["stats"]
        stop = r["stop"] + ("" if r["iterations"] else " (input alone)")
        print(f"| {limit:,} | {r['seconds']:.3g} s | {r['peak'] / 2**20:.0f} MB | "
              f"{s['t_before']:,} | {s['t_after']:,} | {s['gates_after']:,} | {stop} |")


if __name__ == "__main__":
    main()
