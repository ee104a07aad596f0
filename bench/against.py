"""kestrel against an earlier commit of itself, side by side on this machine.

    python bench/against.py 62773b8              # everything, about ten minutes
    python bench/against.py 62773b8 --quick      # fewer rounds and runs, a few minutes
    python bench/against.py 62773b8 --find-worst # also enumerates the 32,768 five-gate
                                                 # circuits with REV to pick the slowest

"This" is the kestrel the running interpreter imports (install the tree first,
as scripts/test.sh does into build/venv). REV is checked out as a git worktree
under build/against/REV and installed into a virtual environment of its own
there, once. Every measurement runs in a fresh child process of one build or
the other; the rounds alternate which build goes first, and a ratio is taken
within each round, then the median over rounds, so a machine whose speed
drifts during the run still compares like with like. It prints:

- per size and family of bench/circuits.py, the median time of one
  `optimize_qasm` call in each build and REV's time / this build's time;
- the same for the slowest five-gate circuits (found at 62773b8 by
  --find-worst), and how much one call raises the process's peak resident
  memory (VmHWM) in each build;
- at 1,048,576 gates: the time per gate, the peak memory one call adds per
  gate, and time(1,048,576) / time(131,072);
- whether both builds returned the same text and statistics for every
  circuit measured.
"""

from __future__ import annotations

import argparse
import hashlib
import itertools
import json
import statistics
import subprocess
import sys
import time
from pathlib import Path
from typing import Any

BENCH = Path(__file__).resolve().parent
REPO = BENCH.parent
sys.path.insert(0, str(BENCH))

import circuits  # noqa: E402
import digests  # noqa: E402
from formats import fmt_time  # noqa: E402

SIZES = [8, 64, 512, 4_096, 131_072, 1_048_576]

# The slowest circuits of five gates over h, s, sdg, t, tdg, x, z and cx at
# 62773b8, by `--find-worst` (each takes 0.4 s or more there).
WORST = ["cx tdg t cx cx", "cx t tdg cx cx", "cx cx t tdg cx", "cx cx tdg t cx",
         "cx cx t tdg s", "cx cx tdg t s", "tdg cx cx t tdg", "t tdg cx cx s"]


def text_of(key: str) -> str:
    """The circuit of a key: "family/gates" or "worst/<five gate names>"."""
    kind, name = key.split("/", 1)
    if kind == "worst":
        return digests.text_of(name.split())
    return circuits.circuit(kind, int(name))


def peak_resident_bytes() -> int:
    with open("/proc/self/status") as status:
        for row in status:
            if row.startswith("VmHWM:"):
                return int(row.split()[1]) * 1024
    raise RuntimeError("no VmHWM in /proc/self/status")


# ---------------------------------------------------------------------------
# Children: each prints one JSON document on standard output.

def child_times(keys: list[str], runs: int, budget: float) -> None:
    """Median seconds of one call per circuit, and a digest of its result."""
    import kestrel

    kestrel.optimize_qasm(circuits.circuit("clifford_t", 8, index=1))  # warm-up
    out: dict[str, Any] = {}
    for key in keys:
        text = text_of(key)
        seconds: list[float] = []
        spent = 0.0
        while len(seconds) < runs or (spent < budget and len(seconds) < 5 * runs):
            start = time.perf_counter()
            result = kestrel.optimize_qasm(text)
            seconds.append(time.perf_counter() - start)
            spent += seconds[-1]
        digest = hashlib.sha256(digests.result_line(*result).encode()).hexdigest()
        out[key] = {"median": statistics.median(seconds), "digest": digest}
    print(json.dumps(out))


def child_memory(key: str) -> None:
    """How much one call raises the peak resident memory, the text and the
    module being resident already."""
    import kestrel

    text = text_of(key)
    before = peak_resident_bytes()
    kestrel.optimize_qasm(text)
    print(json.dumps({"extra": peak_resident_bytes() - before}))


def child_find_worst(count: int) -> None:
    import kestrel

    seconds = []
    for names in itertools.product(digests.GATES, repeat=5):
        text = digests.text_of(names)
        start = time.perf_counter()
        kestrel.optimize_qasm(text)
        seconds.append((time.perf_counter() - start, " ".join(names)))
    seconds.sort(reverse=True)
    print(json.dumps(seconds[:count]))


# ---------------------------------------------------------------------------
# The parent.

def log(message: str) -> None:
    print(message, file=sys.stderr, flush=True)


def git(*args: str, cwd: Path = REPO) -> str:
    return subprocess.run(["git", *args], cwd=cwd, check=True, capture_output=True,
                          text=True).stdout.strip()


def build_rev(rev: str) -> Path:
    """The Python of REV's own environment, set up on first use."""
    commit = git("rev-parse", "--verify", rev + "^{commit}")
    tree = REPO / "build" / "against" / commit[:12]
    python = tree / "build" / "venv" / "bin" / "python"
    stamp = tree / "build" / "installed"
    if stamp.exists() and stamp.read_text() == commit:
        return python
    if not tree.exists():
        log(f"checking out {rev} into {tree}")
        git("worktree", "add", "--detach", str(tree), commit)
    log(f"installing {rev} into {python.parent.parent}")
    subprocess.run([sys.executable, "-m", "venv", str(python.parent.parent)], check=True)
    subprocess.run([str(python), "-m", "pip", "install", "-q", "--upgrade", "pip"], check=True)
    subprocess.run([str(python), "-m", "pip", "install", "-q", str(tree)], check=True)
    stamp.write_text(commit)
    return python


def run_child(python: str, *args: str) -> Any:
    out = subprocess.run([python, str(Path(__file__).resolve()), *args], check=True,
                         capture_output=True, text=True)
    return json.loads(out.stdout)


def fmt_mib(n: float) -> str:
    return f"{n / 2**20:.1f} MiB"


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("rev", nargs="?", help="the commit to compare with")
    parser.add_argument("--quick", action="store_true", help="fewer rounds and runs")
    parser.add_argument("--rounds", type=int, help="rounds of both builds (default 5, quick 3)")
    parser.add_argument("--find-worst", action="store_true",
                        help="enumerate the five-gate circuits with REV and time the slowest")
    parser.add_argument("--child", nargs=argparse.REMAINDER, help=argparse.SUPPRESS)
    args = parser.parse_args()

    if args.child:
        mode, rest = args.child[0], args.child[1:]
        if mode == "times":
            child_times(rest[2:], int(rest[0]), float(rest[1]))
        elif mode == "memory":
            child_memory(rest[0])
        elif mode == "worst":
            child_find_worst(int(rest[0]))
        return
    if not args.rev:
        parser.error("name the commit to compare with")

    rounds = args.rounds or (3 if args.quick else 5)
    runs, budget = (3, 0.5) if args.quick else (5, 2.0)
    this, rev = sys.executable, str(build_rev(args.rev))
    label = {this: "this", rev: args.rev}
    worst = list(WORST)
    if args.find_worst:
        log("enumerating the 32,768 five-gate circuits with " + args.rev)
        found = run_child(rev, "--child", "worst", "8")
        for seconds, names in found:
            log(f"  {fmt_time(seconds):>9}  {names}")
        worst = [names for _, names in found]

    keys = [f"{family}/{gates}" for family in circuits.FAMILIES for gates in SIZES]
    keys += [f"worst/{names}" for names in worst]
    times: dict[str, dict[str, list[float]]] = {this: {}, rev: {}}
    results: dict[str, dict[str, str]] = {this: {}, rev: {}}
    ratios: dict[str, list[float]] = {k: [] for k in keys}
    started = time.time()
    for r in range(rounds):
        order = (this, rev) if r % 2 == 0 else (rev, this)
        found: dict[str, Any] = {}
        for python in order:
            log(f"round {r + 1} of {rounds}: {label[python]}")
            found[python] = run_child(python, "--child", "times", str(runs), str(budget), *keys)
        for key in keys:
            for python in (this, rev):
                times[python].setdefault(key, []).append(found[python][key]["median"])
                results[python][key] = found[python][key]["digest"]
            ratios[key].append(found[rev][key]["median"] / found[this][key]["median"])

    log("measuring peak memory per call")
    memory_keys = [f"worst/{names}" for names in worst] + [
        f"{family}/{gates}" for family in circuits.FAMILIES for gates in (131_072, 1_048_576)]
    memory = {python: {k: run_child(python, "--child", "memory", k)["extra"] for k in memory_keys}
              for python in (this, rev)}

    median = {p: {k: statistics.median(v) for k, v in times[p].items()} for p in (this, rev)}
    out = [f"kestrel at {git('rev-parse', '--short', 'HEAD')}"
           + (" (uncommitted changes)" if git("status", "--porcelain", "--", "engine", "src",
                                                  "binding") else "")
           + f" against {args.rev}; {rounds} rounds alternating, {runs}+ runs per circuit "
           f"and round; {time.time() - started:.0f} s.", ""]
    out += ["## Seeded random circuits", "",
            "Median time of one call; the ratio is the median over rounds of "
            f"{args.rev}'s time / this build's time (above 1: this build is faster).", "",
            f"| Family | Gates | {args.rev} | this | ratio |", "|---|---:|---:|---:|---:|"]
    for family in circuits.FAMILIES:
        for gates in SIZES:
            k = f"{family}/{gates}"
            out.append(f"| {family} | {gates:,} | {fmt_time(median[rev][k])} | "
                       f"{fmt_time(median[this][k])} | {statistics.median(ratios[k]):.2f} |")
    out += ["", "## Slowest five-gate circuits", "",
            "Time of one call, and how much one call raises the peak resident memory.", "",
            f"| Circuit | {args.rev} | this | ratio | {args.rev} peak | this peak |",
            "|---|---:|---:|---:|---:|---:|"]
    for names in worst:
        k = f"worst/{names}"
        out.append(f"| {names} | {fmt_time(median[rev][k])} | {fmt_time(median[this][k])} | "
                   f"{statistics.median(ratios[k]):.2f} | {fmt_mib(memory[rev][k])} | "
                   f"{fmt_mib(memory[this][k])} |")
    out += ["", "## Long circuits", "",
            f"| Family | build | µs/gate at 1,048,576 | peak bytes/gate at 1,048,576 | "
            "time 1,048,576 / 131,072 |", "|---|---|---:|---:|---:|"]
    for family in circuits.FAMILIES:
        big, small = f"{family}/1048576", f"{family}/131072"
        for python in (rev, this):
            out.append(f"| {family} | {label[python]} | "
                       f"{median[python][big] / 1_048_576 * 1e6:.3f} | "
                       f"{memory[python][big] / 1_048_576:.1f} | "
                       f"{median[python][big] / median[python][small]:.2f} |")
    differ = [k for k in keys if results[this][k] != results[rev][k]]
    out += ["", "## Results", "",
            (f"Both builds returned the same text and statistics for all {len(keys)} circuits."
             if not differ else "**Results differ:** " + ", ".join(differ))]
    print("\n".join(out))
    sys.exit(1 if differ else 0)


if __name__ == "__main__":
    main()
