"""How well the phase-polynomial method keeps to a time limit, and how far
below the default limit its counted effort stops it.

For the largest T-count programs (gf2^64_mult and gf2^128_mult by the
method, hwb10 with unbounded gadgets) it runs `kestrel.optimize_qasm` with
each time limit L given, and prints the call's time (reading and writing
included) over L, which should stay under 1.2, with the T count the call
left. With the default limit it prints the time and whether the output is
the one tests/python/tcount_digests.json records (hwb10 with unbounded
gadgets is not recorded there; with --repeat, the runs are compared among
themselves too): at the default limits the
effort's cap, not the clock, ends the work, so the output must not change
when the machine is busy (`--busy N` runs N processes spinning meanwhile).

    python bench/time_limits.py [--limits 0.2,0.5,1] [--busy N] [--repeat R]
"""

from __future__ import annotations

import argparse
import hashlib
import json
import subprocess
import sys
import time
from pathlib import Path

REPO = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(REPO / "tests" / "python"))

import kestrel  # noqa: E402
from programs import program_name, program_paths, program_text  # noqa: E402

# (program, mode of tests/python/test_tcount_digests.py, options)
CASES = [
    ("gf2^64_mult", "phase-polynomial", {"method": "phase-polynomial"}),
    ("gf2^128_mult", "phase-polynomial", {"method": "phase-polynomial"}),
    ("hwb10", "gadgets", {"method": "phase-polynomial", "ancillas": 1_000_000}),
]


def timed(text: str, **options) -> tuple[float, str, dict]:
    start = time.perf_counter()
    out, stats = kestrel.optimize_qasm(text, **options)
    return time.perf_counter() - start, out, stats


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--limits", default="0.2,0.5,1")
    parser.add_argument("--busy", type=int, default=0, help="processes spinning during the runs")
    parser.add_argument("--repeat", type=int, default=1, help="runs per cell; the slowest is shown")
    args = parser.parse_args()
    limits = [float(x) for x in args.limits.split(",")]
    digests = json.loads((REPO / "tests" / "python" / "tcount_digests.json").read_text())
    paths = {program_name(p): p for p in program_paths("tcount")}
    spinners = [subprocess.Popen([sys.executable, "-c", "while True: pass"]) for _ in range(args.busy)]
    try:
        print(f"{args.busy} busy processes; the slowest of {args.repeat} runs per cell\n")
        print("| program | mode | " + " | ".join(f"L = {L:g} s: time/L, T" for L in limits)
              + " | default limit: time, T, as recorded |")
        print("|---|---|" + "---|" * (len(limits) + 1))
        for name, mode, options in CASES:
            text = program_text(paths[name])
            cells = []
            for limit in limits:
                runs = [timed(text, time_limit=limit, **options) for _ in range(args.repeat)]
                seconds, _, stats = max(runs, key=lambda r: r[0])
                cells.append(f"{seconds / limit:.2f}, {stats['t_after']:,}")
            runs = [timed(text, **options) for _ in range(args.repeat)]
            seconds = max(r[0] for r in runs)
            recorded = digests.get(f"{name}/{mode}", {}).get("sha256")
            seen = {hashlib.sha256(r[1].encode()).hexdigest() for r in runs}
            verdict = ("not recorded" if recorded is None else "yes" if seen == {recorded} else "NO")
            if len(seen) > 1:
                verdict += ", runs differ"
            cells.append(f"{seconds:.2f} s, {runs[0][2]['t_after']:,}, {verdict}")
            print(f"| {name} | {mode} | " + " | ".join(cells) + " |", flush=True)
    finally:
        for spinner in spinners:
            spinner.kill()
            spinner.wait()


if __name__ == "__main__":
    main()
