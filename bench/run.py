"""Times kestrel, with each method, and its peers on seeded random Clifford+T
circuits, whole programs (among them the T-count benchmark programs, beside
PyZX and quizx) and a batch on two threads; or checks that kestrel's results
are unchanged.

    python bench/run.py                  # everything; writes bench/results.{md,json,png}
    python bench/run.py --quick          # smaller sizes, fewer runs; writes build/bench-quick/
    python bench/run.py --update-readme  # also puts the summary table into docs/benchmarks.md
    python bench/run.py --report bench/results.json --update-readme  # reports again, no runs
    python bench/run.py --only per_qubit # runs one suite and prints its tables
    python bench/run.py --record         # writes kestrel's result digests to bench/golden.json
                                         # and bench/small_golden.json (bench/golden.py)
    python bench/run.py --check          # compares kestrel's results with both files

Every measurement runs in a fresh child process of the running interpreter
(bench/children.py, started by bench/harness.py): one per tool and size for
the times (the median of several runs of the whole text-to-text pipeline,
after one untimed warm-up on an 8-gate circuit), two per size, trial and
method for kestrel's peak memory (one that reads the text and optimises it,
one that only reads it), and one for the thread scaling. kestrel's
normal-form method (`method="normal-form"`) is timed on the same circuits as
its default and set beside Qiskit's OptimizeCliffordT pass, which is also
T-optimal on one-qubit chains. A peer whose single run takes longer than the
time limit is stopped and shown as cut off, and so is every larger size of
it. The peers run when they are installed (`pip install .[bench]`); the
others are reported as not installed.

This file only reads the arguments and hands over. The suites are SUITES
below, in the order of their tables; bench/orchestration.py says what a
suite module holds, so a new suite is one module and one entry there (and
its tools' pipelines in bench/tools.py). bench/report.py writes results.md,
.json and the plot (bench/plot.py); bench/readme.py puts a summary of them
into docs/benchmarks.md.
"""

from __future__ import annotations

import argparse
import json
import sys
from pathlib import Path
from typing import Any

sys.path.insert(0, str(Path(__file__).resolve().parent))

import as_written  # noqa: E402
import golden  # noqa: E402
import orchestration  # noqa: E402
import per_qubit  # noqa: E402
import qiskit_pass  # noqa: E402
import random_circuits  # noqa: E402
import rotation_merging  # noqa: E402
import readme  # noqa: E402
import report  # noqa: E402
import threads  # noqa: E402
import tools  # noqa: E402
from harness import log  # noqa: E402
from settings import Settings  # noqa: E402

SUITES = [random_circuits, per_qubit, rotation_merging, as_written, qiskit_pass, threads]


def publish(results: dict[str, Any], out: Path, update_readme: bool) -> None:
    report.write(results, SUITES, out)
    if update_readme:
        readme.update(readme.summary(results))


def main() -> None:
    suite_names = [suite.__name__ for suite in SUITES]
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--quick", action="store_true",
                        help="sizes up to 4,096 and fewer runs; writes to build/bench-quick")
    parser.add_argument("--out", type=Path, help="where the results go")
    parser.add_argument("--tools", default=",".join(tools.TOOLS),
                        help="comma-separated subset of " + ", ".join(tools.TOOLS))
    parser.add_argument("--update-readme", action="store_true",
                        help="also replace the benchmark summary in docs/benchmarks.md")
    parser.add_argument("--record", action="store_true",
                        help="write kestrel's result digests to bench/golden.json and "
                             "bench/small_golden.json")
    parser.add_argument("--check", action="store_true",
                        help="compare kestrel's results with both digest files")
    parser.add_argument("--max-gates", type=int, help="with --record/--check: sizes up to this")
    parser.add_argument("--report", type=Path, metavar="JSON",
                        help="measure nothing: write the reports again from a results.json")
    parser.add_argument("--only", choices=suite_names, metavar="SUITE",
                        help="run one suite (" + ", ".join(suite_names) + ") and print its "
                             "tables; writes nothing")
    args = parser.parse_args()

    if args.record:
        golden.record(args.max_gates)
        return
    if args.check:
        sys.exit(0 if golden.check(args.max_gates) else 1)

    s = Settings(args.quick)
    if args.out:
        s.out = args.out
    wanted = [t for t in args.tools.split(",") if t]
    unknown = set(wanted) - set(tools.TOOLS)
    if unknown:
        parser.error("unknown tools: " + ", ".join(sorted(unknown)))
    if args.only:
        suite = SUITES[suite_names.index(args.only)]
        results = {"settings": s.recorded(), **suite.run(s, wanted)}
        print("\n".join(suite.tables(results, "##", "bench/results.md")))
        return
    if args.report:
        results = json.loads(args.report.read_text())
        publish(results, args.out or args.report.resolve().parent, args.update_readme)
        return
    results = orchestration.run(s, wanted, SUITES)
    publish(results, s.out, args.update_readme)
    log(f"wrote {s.out / 'results.md'} in {results['seconds']:.0f} s")
    g = results.get("golden")
    if g and g["problems"]:
        log("kestrel's results differ from bench/golden.json:\n  " + "\n  ".join(g["problems"]))
        sys.exit(1)


if __name__ == "__main__":
    main()
