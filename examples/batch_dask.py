"""Optimises many OpenQASM files at once on a Dask cluster.

    python examples/batch_dask.py circuits/                 # every .qasm below a folder
    python examples/batch_dask.py 'suite/**/adder*.qasm'    # or a glob
    python examples/batch_dask.py circuits/ --out optimised/ --scheduler tcp://host:8786

Without --scheduler it starts a LocalCluster on this machine. This process
reads each file and writes each result (beside its input as NAME.kestrel.qasm,
or under --out with the same relative path); the workers only run
kestrel.optimize_qasm on the texts, so they need kestrel installed but no
access to the files. A file that cannot be read, optimised or written is
reported with its error and the others go on; the exit status is 1 if any
failed. `pip install .[dask]` brings Dask and the progress bar.
"""

import argparse
import glob
import sys
import time
from dataclasses import dataclass
from pathlib import Path

from dask.distributed import Client, LocalCluster, as_completed
from tqdm import tqdm

import kestrel

SUFFIX = ".kestrel.qasm"  # results written beside their inputs end so and are not inputs


@dataclass
class Outcome:
    path: Path                 # the input file
    stats: dict | None = None  # optimize_qasm's statistics, None if the file failed
    seconds: float = 0.0       # time spent in optimize_qasm on the worker
    error: str = ""            # what went wrong, if anything


def optimize(text: str, options: dict) -> tuple[str, dict, float]:
    """Runs on a worker: the result, its statistics and the time taken."""
    start = time.perf_counter()
    result, stats = kestrel.optimize_qasm(text, **options)
    return result, stats, time.perf_counter() - start


def find_inputs(where: str) -> tuple[Path, list[Path]]:
    """The folder results are relative to, and the .qasm files of `where`."""
    if Path(where).is_dir():
        root = Path(where)
        files = root.rglob("*.qasm")
    else:
        # Results keep their paths relative to the glob's fixed leading folders.
        fixed = []
        for part in Path(where).parts[:-1]:
            if any(c in part for c in "*?["):
                break
            fixed.append(part)
        root = Path(*fixed) if fixed else Path(".")
        files = (Path(p) for p in glob.glob(where, recursive=True))
    return root, sorted(p for p in files if not p.name.endswith(SUFFIX))


def result_path(path: Path, root: Path, out: Path | None) -> Path:
    if out is None:
        return path.with_name(path.name.removesuffix(".qasm") + SUFFIX)
    return out / path.relative_to(root)


def summary(outcomes: list[Outcome], wall: float) -> str:
    done = [o for o in outcomes if o.stats is not None]

    def total(key: str) -> int:
        return sum(o.stats[key] for o in done)

    rows = [("files", f"{len(done)} of {len(outcomes)}"),
            ("gates before / after", f"{total('gates_before'):,} / {total('gates_after'):,}"),
            ("T before / after", f"{total('t_before'):,} / {total('t_after'):,}"),
            ("time", f"{wall:.2f} s ({sum(o.seconds for o in done):.3g} s in kestrel)")]
    width = max(len(name) for name, _ in rows)
    return "\n".join(f"{name:<{width}}  {value}" for name, value in rows)


def run(args: argparse.Namespace, client: Client) -> list[Outcome]:
    root, paths = find_inputs(args.inputs)
    options = {"method": args.method, "per_qubit": args.per_qubit}
    outcomes, pending = [], {}
    for path in paths:
        try:
            text = path.read_text(encoding="utf-8")
        except (OSError, UnicodeDecodeError) as error:
            outcomes.append(Outcome(path, error=str(error)))
            continue
        pending[client.submit(optimize, text, options, pure=False)] = path
    with tqdm(total=len(pending), unit="file", file=sys.stderr) as bar:
        for future in as_completed(pending):
            outcome = Outcome(pending[future])
            try:
                result, outcome.stats, outcome.seconds = future.result()
                target = result_path(outcome.path, root, args.out)
                target.parent.mkdir(parents=True, exist_ok=True)
                target.write_text(result, encoding="utf-8")
            except Exception as error:  # reported per file; the others go on
                outcome.stats, outcome.error = None, f"{type(error).__name__}: {error}"
            outcomes.append(outcome)
            bar.update()
    return sorted(outcomes, key=lambda o: o.path)


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("inputs", help="a folder (every .qasm below it) or a glob")
    parser.add_argument("--out", type=Path, help="write results under this folder")
    parser.add_argument("--scheduler", help="address of a running Dask scheduler")
    parser.add_argument("--workers", type=int, default=2,
                        help="worker processes of the LocalCluster (default 2)")
    parser.add_argument("--method", default="saturation", choices=["saturation", "normal-form"])
    parser.add_argument("--per-qubit", action="store_true",
                        help="keep multi-qubit programs whole (kestrel's per_qubit option)")
    args = parser.parse_args(argv)

    start = time.perf_counter()
    if args.scheduler:
        with Client(args.scheduler) as client:
            outcomes = run(args, client)
    else:
        with LocalCluster(n_workers=args.workers, threads_per_worker=1,
                          dashboard_address=None) as cluster, Client(cluster) as client:
            outcomes = run(args, client)
    failed = [o for o in outcomes if o.stats is None]
    for outcome in failed:
        print(f"failed: {outcome.path}: {outcome.error}", file=sys.stderr)
    print(summary(outcomes, time.perf_counter() - start))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
