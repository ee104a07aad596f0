"""The thread suite: a batch of small circuits through `optimize_qasm` on one
and on two threads, and on two processes for comparison, in one child.

The batch is bench/circuits.py's 256 Clifford+T circuits of 64 gates (32 in
a quick run), timed `thread_reps` times each way, alternating. The suite adds
the section "threads" to results.json (the times, their medians, the
throughput ratios, the processor time of two threads, whether every way gave
the results of calls one after another, and for the full batch its digest)
and writes one paragraph.
"""

from __future__ import annotations

import statistics
from typing import Any

import circuits
from formats import fmt_time
from harness import log, run_child
from settings import Settings


def tool_names(wanted: list[str]) -> list[str]:
    return ["kestrel"]


def run(s: Settings, wanted: list[str]) -> dict[str, Any]:
    log(f"thread scaling on a batch of {s.batch} circuits of {circuits.BATCH_GATES} gates")
    record = run_child("threads", str(s.batch), str(s.thread_reps))
    median = {k: statistics.median(v) for k, v in record["seconds"].items()}
    record["median"] = median
    record["ratio"] = median["threads_1"] / median["threads_2"]
    record["ratio_processes"] = median["threads_1"] / median["processes_2"]
    record["cores_2"] = statistics.median(
        c / w for c, w in zip(record["cpu_seconds"]["threads_2"], record["seconds"]["threads_2"]))
    log(f"  throughput of 2 threads / 1 thread: {record['ratio']:.2f}, "
        f"of 2 processes / 1 thread: {record['ratio_processes']:.2f}")
    return {"threads": record}


def tables(results: dict[str, Any], heading: str, notes: str) -> list[str]:
    th = results.get("threads")
    if not th:
        return []
    med = th["median"]
    return [f"{heading} Threads", "",
            f"A batch of {th['count']} circuits of {th['gates']} gates through a "
            f"`ThreadPoolExecutor`: {fmt_time(med['threads_1'])} on one thread, "
            f"{fmt_time(med['threads_2'])} on two (medians of "
            f"{len(th['seconds']['threads_1'])}), so two threads give "
            f"**{th['ratio']:.2f} times** the throughput of one; the process used "
            f"{th['cores_2']:.2f} cores' worth of processor time meanwhile. For comparison, "
            f"two worker processes (`ProcessPoolExecutor`) took "
            f"{fmt_time(med['processes_2'])}, {th['ratio_processes']:.2f} times the "
            f"throughput of one thread: what the two cores gave at the time. "
            + ("Every way gives the same results as calls one after another."
               if th["same"] else "**Some results differ from those of sequential calls.**"),
            ""]


def notes(results: dict[str, Any]) -> str:
    if not results.get("threads"):
        return ""
    return ("- Threads: the batch runs through `ThreadPoolExecutor` with one and with two\n"
            f"  workers and through a `ProcessPoolExecutor` of two, "
            f"{results['settings']['thread_reps']} times each,\n"
            "  alternating; the ratios compare medians.\n")
