"""The benchmark's child programs: each measurement runs in a fresh process
of the running interpreter, started by bench/harness.py.

    python bench/children.py time TOOL PATH WARM_UP MIN_RUNS MAX_RUNS BUDGET STOP_AT
    python bench/children.py memory PATH MODE
    python bench/children.py threads COUNT REPS

Each prints JSON lines on standard output and nothing else there. `time`
times one tool of bench/tools.py on the text in PATH: a line {"ready": true}
after an untimed warm-up, then one line per run ({"seconds": 0.0012, "cpu":
0.0011}, the first also with the result's T counts and, for kestrel, its
digest). `memory` prints the process's peak resident set after reading the
text and, for MODE "optimise", "normal-form" or "rotation-merging",
optimising it with the default, the normal-form or the whole-program T-count
method ("baseline" only reads). `threads` times a
batch on one and on two threads and on two processes, and prints one line.
"""

from __future__ import annotations

import json
import sys
import time
from pathlib import Path
from typing import Any

import circuits
import golden
import tools


def emit(record: dict[str, Any]) -> None:
    print(json.dumps(record), flush=True)


def warm_up_text(kind: str) -> str:
    """What a timing child runs once untimed: the 8-gate circuit of a family
    of bench/circuits.py, for "per_qubit" a 64-statement program, or for
    "whole_program" 64 gates of Clifford+T and cx on 8 qubits."""
    if kind == "per_qubit":
        return circuits.per_qubit_program(64)
    if kind == "whole_program":
        return circuits.whole_program("clifford_t_cx", 64, 8)
    return circuits.circuit(kind, 8, index=1)


def time_tool(tool: str, path: str, warm_up: str, min_runs: int, max_runs: int, budget: float,
              stop_at: float) -> None:
    """Times one tool on one text: a line after the warm-up, then one per run."""
    run = tools.pipeline(tool)
    run(warm_up_text(warm_up))
    text = Path(path).read_text()
    emit({"ready": True})
    spent, last = 0.0, 0.0
    for n in range(max_runs):
        if n >= min_runs and spent >= budget:
            break
        if n > 0 and spent + last > stop_at:
            break
        start, start_cpu = time.perf_counter(), time.process_time()
        output, result = run(text)
        last = time.perf_counter() - start
        spent += last
        record: dict[str, Any] = {"seconds": last, "cpu": time.process_time() - start_cpu}
        if n == 0:
            record.update(tools.counts(tool, result))
            if tool == "kestrel":
                record["digest"] = golden.digest(text, output, result)
        emit(record)
        del output, result


def peak_resident_bytes() -> int:
    """The process's peak resident set size (VmHWM).

    A child's ru_maxrss on Linux starts at the peak of the parent it was
    spawned from, since the parent's memory is charged to it until it execs;
    VmHWM belongs to the child's own address space only.
    """
    with open("/proc/self/status") as status:
        for row in status:
            if row.startswith("VmHWM:"):
                return int(row.split()[1]) * 1024
    import resource
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024


def memory(path: str, mode: str) -> None:
    """Reads the text and, for mode "optimise", "normal-form" or
    "rotation-merging", optimises it with that method."""
    import kestrel

    text = Path(path).read_text()
    result = None
    if mode == "optimise":
        result = kestrel.optimize_qasm(text)
    elif mode == "normal-form":
        result = kestrel.optimize_qasm(text, method="normal-form")
    elif mode == "rotation-merging":
        result = kestrel.optimize_qasm(text, **tools.ROTATION_MERGING)
    emit({"peak": peak_resident_bytes(), "kept": result is not None})


def threads(count: int, reps: int) -> None:
    """Times a batch on one and on two threads, and on two processes for
    comparison; checks that all give the results of calls one after another."""
    from concurrent.futures import Executor, ProcessPoolExecutor, ThreadPoolExecutor

    import kestrel

    texts = circuits.batch_texts()[:count]
    expected = [kestrel.optimize_qasm(t) for t in texts]
    kinds = ["threads_1", "threads_2", "processes_2"]
    times: dict[str, list[float]] = {k: [] for k in kinds}
    cpu: dict[str, list[float]] = {k: [] for k in kinds}
    same = True
    with ProcessPoolExecutor(max_workers=2) as processes:
        list(processes.map(kestrel.optimize_qasm, texts[:2]))  # starts both workers
        for _ in range(reps):
            for kind in kinds:
                pool: Executor = processes
                if kind.startswith("threads"):
                    pool = ThreadPoolExecutor(max_workers=int(kind[-1]))
                start, start_cpu = time.perf_counter(), time.process_time()
                results = list(pool.map(kestrel.optimize_qasm, texts, chunksize=4))
                times[kind].append(time.perf_counter() - start)
                cpu[kind].append(time.process_time() - start_cpu)
                if pool is not processes:
                    pool.shutdown()
                same = same and results == expected
    record: dict[str, Any] = {"count": count, "gates": circuits.BATCH_GATES, "seconds": times,
                              "cpu_seconds": cpu, "same": same}
    if count == circuits.BATCH_SIZE:
        record["digest"] = golden.batch_digest(texts, expected)
    emit(record)


def main() -> None:
    kind, args = sys.argv[1], sys.argv[2:]
    if kind == "time":
        tool, path, warm_up, lo, hi, budget, stop_at = args
        time_tool(tool, path, warm_up, int(lo), int(hi), float(budget), float(stop_at))
    elif kind == "memory":
        memory(*args)
    elif kind == "threads":
        threads(int(args[0]), int(args[1]))
    else:
        sys.exit(f"no child program {kind}")


if __name__ == "__main__":
    main()
