"""Times kestrel, with both methods, and its peers on seeded random Clifford+T circuits.

    python bench/run.py                  # everything; writes bench/results.{md,json,png}
    python bench/run.py --quick          # sizes up to 4,096, under a minute; writes build/bench-quick/
    python bench/run.py --update-readme  # also puts the tables into README.md
    python bench/run.py --report bench/results.json --update-readme  # reports again, no runs
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
"""

from __future__ import annotations

import argparse
import json
import os
import statistics
import sys
import tempfile
import time
from datetime import datetime, timezone
from pathlib import Path
from typing import Any

BENCH = Path(__file__).resolve().parent
REPO = BENCH.parent
sys.path.insert(0, str(BENCH))

import circuits  # noqa: E402
import environment  # noqa: E402
import golden  # noqa: E402
import tools  # noqa: E402
from harness import log, measure_memory, run_child, time_cell  # noqa: E402
from settings import Settings  # noqa: E402


# ---------------------------------------------------------------------------
# The parent.

def measure_threads(s: Settings) -> dict[str, Any]:
    record = run_child("threads", str(s.batch), str(s.thread_reps))
    median = {k: statistics.median(v) for k, v in record["seconds"].items()}
    record["median"] = median
    record["ratio"] = median["threads_1"] / median["threads_2"]
    record["ratio_processes"] = median["threads_1"] / median["processes_2"]
    record["cores_2"] = statistics.median(
        c / w for c, w in zip(record["cpu_seconds"]["threads_2"], record["seconds"]["threads_2"]))
    return record


def run_per_qubit(s: Settings) -> list[dict[str, Any]]:
    """The per-qubit mode beside Qiskit's OptimizeCliffordT on the QASMBench
    programs and on random 100-qubit programs: one row per program."""
    log("timing the per-qubit mode")
    programs = [(p.stem, p.read_text()) for p in circuits.shared_programs("qasmbench")]
    sizes = circuits.QUICK_PER_QUBIT_SIZES if s.quick else circuits.PER_QUBIT_SIZES
    programs += [(f"random {n:,}", circuits.per_qubit_program(n)) for n in sizes]
    rows = []
    with tempfile.TemporaryDirectory(prefix="kestrel-bench-pq-") as scratch:
        for name, text in programs:
            path = Path(scratch) / (name.replace(" ", "_").replace(",", "") + ".qasm")
            path.write_text(text)
            row: dict[str, Any] = {"program": name, "statements": text.count(";")}
            for tool in tools.PER_QUBIT_TOOLS:
                if not tools.available(tool):
                    row[tool] = {"status": "not installed", "runs": []}
                    continue
                row[tool] = time_cell(tool, path, "per_qubit", s)
                if "t_before" in row[tool]:
                    row["t_before"] = row[tool].pop("t_before")
                shown = (f"{row[tool]['median'] * 1e3:.3f} ms" if "median" in row[tool]
                         else row[tool]["status"])
                log(f"  {tool:10} {name:16} {row['statements']:>9} statements: {shown}")
            rows.append(row)
    return rows


def per_qubit_table(rows: list[dict[str, Any]], heading: str) -> list[str]:
    labels = [tools.PER_QUBIT_TOOLS[t][0] for t in tools.PER_QUBIT_TOOLS]
    out = [f"{heading} The per-qubit mode", "",
           "Whole programs, each qubit's runs brought to their normal form (`per_qubit=True, "
           "method=\"normal-form\"`), beside Qiskit's `OptimizeCliffordT` pass on the same "
           "text, both T-optimal on each run: median wall time from text to "
           "text, microseconds per statement, and the T count after (T before: kestrel's "
           "`t_before`, T and T-dagger applications outside gate definitions).", "",
           "| Program | Statements | T before | " +
           " | ".join(f"{label} | µs/statement | T after" for label in labels) + " |",
           "|---|---:|---:|" + "---:|---:|---:|" * len(labels)]
    for row in rows:
        t_before = f"{row['t_before']:,}" if "t_before" in row else ""
        cells = [row["program"], f"{row['statements']:,}", t_before]
        for tool in tools.PER_QUBIT_TOOLS:
            c = row[tool]
            if "median" in c:
                cells += [fmt_time(c["median"]),
                          fmt_number(c["median"] / row["statements"] * 1e6), f"{c['t_after']:,}"]
            else:
                cells += [c["status"], "", ""]
        out.append("| " + " | ".join(cells) + " |")
    out.append("")
    return out


def run_suite(s: Settings, wanted: list[str]) -> dict[str, Any]:
    started = time.time()
    peers = [p for p in tools.PEERS if p in wanted]
    methods = ["kestrel", *(["kestrel-nf"] if "kestrel-nf" in wanted else [])]
    present = {name: tools.available(name) for name in [*methods, *peers]}
    if not present["kestrel"]:
        sys.exit("kestrel is not installed in this interpreter")
    results: dict[str, Any] = {
        "quick": s.quick,
        "date": datetime.now(timezone.utc).strftime("%Y-%m-%d %H:%M UTC"),
        "machine": environment.machine(),
        "commit": environment.git_state(),
        "versions": environment.versions(list(present)),
        "settings": s.recorded(),
        "tools": {n: {"label": tools.TOOLS[n][0], "pipeline": tools.TOOLS[n][1],
                      "installed": present[n]} for n in present},
        "cells": [], "memory": {}, "memory_nf": {}, "threads": None,
        "load": [os.getloadavg()[0]],
    }
    with tempfile.TemporaryDirectory(prefix="kestrel-bench-") as scratch:
        paths = {}
        for family in circuits.FAMILIES:
            for gates in s.sizes:
                text = circuits.circuit(family, gates)
                path = Path(scratch) / f"{family}-{gates}.qasm"
                path.write_text(text)
                paths[family, gates] = (path, circuits.t_count(text))

        def cell(tool: str, family: str, gates: int, body: dict[str, Any]) -> None:
            body.update(tool=tool, family=family, gates=gates,
                        t_before=paths[family, gates][1])
            results["cells"].append(body)
            shown = f"{body['median'] * 1e3:.3f} ms" if "median" in body else body["status"]
            log(f"  {tool:10} {family:10} {gates:>9} gates: {shown}")

        for method in methods:
            log(f"timing {method}")
            for family in circuits.FAMILIES:
                for gates in s.sizes:
                    cell(method, family, gates,
                         time_cell(method, paths[family, gates][0], family, s))
        for peer in peers:
            log(f"timing {peer}")
            stopped = False
            for gates in s.sizes:
                if not present[peer]:
                    body = {"status": "not installed", "runs": []}
                elif stopped:
                    body = {"status": "cut off", "skipped": True, "runs": []}
                else:
                    body = time_cell(peer, paths["clifford_t", gates][0], "clifford_t", s)
                    stopped = body["status"] in ("cut off", "failed")
                cell(peer, "clifford_t", gates, body)
        for method, mode, key in [("kestrel", "optimise", "memory"),
                                  ("kestrel-nf", "normal-form", "memory_nf")]:
            if method not in methods:
                continue
            log(f"measuring {method}'s peak memory")
            for family in circuits.FAMILIES:
                for gates in s.sizes:
                    m = measure_memory(paths[family, gates][0], s, mode)
                    m["bytes_per_gate"] = m["extra_bytes"] / gates
                    results[key][f"{family}/{gates}"] = m
                    log(f"  {family:10} {gates:>9} gates: {m['bytes_per_gate']:.1f} bytes/gate")
    results["per_qubit"] = run_per_qubit(s)
    log(f"thread scaling on a batch of {s.batch} circuits of {circuits.BATCH_GATES} gates")
    results["threads"] = measure_threads(s)
    log(f"  throughput of 2 threads / 1 thread: {results['threads']['ratio']:.2f}, "
        f"of 2 processes / 1 thread: {results['threads']['ratio_processes']:.2f}")

    if golden.GOLDEN.exists():
        results["golden"] = golden.check_run(results)
    results["load"].append(os.getloadavg()[0])
    results["seconds"] = time.time() - started
    return results


# ---------------------------------------------------------------------------
# Reports.

def fmt_time(seconds: float) -> str:
    if seconds < 1e-3:
        return f"{seconds * 1e6:.0f} µs"
    if seconds < 1:
        return f"{seconds * 1e3:.3g} ms"
    return f"{seconds:.3g} s"


def fmt_duration(seconds: float) -> str:
    return f"{seconds:.0f} s" if seconds < 120 else f"{seconds / 60:.0f} minutes"


def fmt_number(x: float) -> str:
    return f"{x:,.0f}" if x >= 100 else f"{x:.3g}"


def fmt_ratio(ratio: float) -> str:
    return f"{ratio:.2g}×" if ratio < 10 else f"{ratio:,.0f}×"


def cells_of(results: dict[str, Any]) -> dict[tuple[str, str, int], dict[str, Any]]:
    return {(c["tool"], c["family"], c["gates"]): c for c in results["cells"]}


def t_after_text(c: dict[str, Any]) -> str:
    if "t_after" not in c:
        return c["status"]
    text = f"{c['t_after']:,}"
    if c.get("rotations"):
        text += f" + {c['rotations']:,} rot."
    return text


def tables(results: dict[str, Any], heading: str, notes: str) -> str:
    """The markdown tables of a run; `heading` is the markdown of their level,
    `notes` where the reader finds how things were counted."""
    cells = cells_of(results)
    sizes = sorted({c["gates"] for c in results["cells"]})
    names = [n for n in results["tools"] if n == "kestrel" or results["tools"][n]["installed"]]
    names = [n for n in names if n != "kestrel-nf"]  # in a table of its own below
    peers = [n for n in names if n != "kestrel"]
    label = {n: results["tools"][n]["label"] for n in results["tools"]}
    m = results["machine"]
    about = [f"Measured on {m['cpu']}, {m['cores']} cores, {m['memory_gib']} GiB memory, "
             f"{m['system']}, Python {m['python']}",
             f"kestrel at commit {results['commit']}"]
    about += [f"{d} {v}" for d, v in results["versions"].items() if d != "kestrel"]
    about.append(f"{results['date']}; load average {results['load'][0]:.1f} at the start, "
                 f"{results['load'][1]:.1f} at the end")
    out = ["; ".join(about) + "."
           + (" A quick run: fewer sizes and runs." if results["quick"] else ""), ""]

    out += [f"{heading} kestrel", "",
            "Median wall time of `optimize_qasm` over the runs, and the peak resident "
            "memory one call adds, per gate.", "",
            "| Gates | Circuits | Median time | µs/gate | Peak bytes/gate | T before | T after "
            "| Runs |",
            "|---:|---|---:|---:|---:|---:|---:|---:|"]
    for family in circuits.FAMILIES:
        for gates in sizes:
            c = cells.get(("kestrel", family, gates))
            if not c:
                continue
            mem = results["memory"].get(f"{family}/{gates}", {})
            kind = "Clifford+T" if family == "clifford_t" else "Clifford+T with cx"
            if "median" in c:
                out.append(f"| {gates:,} | {kind} | {fmt_time(c['median'])} | "
                           f"{fmt_number(c['median'] / gates * 1e6)} | "
                           f"{mem.get('bytes_per_gate', float('nan')):,.0f} | "
                           f"{c['t_before']:,} | {c['t_after']:,} | {len(c['runs'])} |")
            else:
                out.append(f"| {gates:,} | {kind} | {c['status']} | | | {c['t_before']:,} | | |")
    out.append("")

    if peers:
        out += [f"{heading} Against the peers", "",
                "Median wall time of each pipeline from QASM text to QASM text on the "
                "Clifford+T circuits, and in brackets its ratio to kestrel's (above 1: "
                "kestrel is faster).", "",
                "| Gates | " + " | ".join(label[n] for n in names) + " |",
                "|---:|" + "---:|" * len(names)]
        for gates in sizes:
            k = cells.get(("kestrel", "clifford_t", gates), {})
            row = [f"{gates:,}"]
            for n in names:
                c = cells.get((n, "clifford_t", gates), {})
                if "median" not in c:
                    row.append(c.get("status", ""))
                elif n == "kestrel" or "median" not in k:
                    row.append(fmt_time(c["median"]))
                else:
                    row.append(f"{fmt_time(c['median'])} ({fmt_ratio(c['median'] / k['median'])})")
            out.append("| " + " | ".join(row) + " |")
        out.append("")
        out += [f"{heading} T count after", "",
                "T and T-dagger gates in each result (\"rot.\": general rotations that "
                "are no Clifford+T gate; see " + notes + ").", "",
                "| Gates | T before | " + " | ".join(label[n] for n in names) + " |",
                "|---:|---:|" + "---:|" * len(names)]
        for gates in sizes:
            k = cells.get(("kestrel", "clifford_t", gates), {})
            row = [f"{gates:,}", f"{k.get('t_before', 0):,}"]
            row += [t_after_text(cells.get((n, "clifford_t", gates), {"status": ""}))
                    for n in names]
            out.append("| " + " | ".join(row) + " |")
        out.append("")
        missing = [label[n] for n in results["tools"] if not results["tools"][n]["installed"]]
        if missing:
            out += ["Not installed, so not run: " + ", ".join(missing) + ".", ""]

    out += normal_form_tables(results, heading)
    if results.get("per_qubit"):
        out += per_qubit_table(results["per_qubit"], heading)

    th = results["threads"]
    if th:
        med = th["median"]
        out += [f"{heading} Threads", "",
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
    return "\n".join(out)


# What the issue of the normal-form method asks of it against Qiskit's
# OptimizeCliffordT: the same T counts, ten times the speed at every size,
# and at the largest size 0.1 us and 60 bytes per gate and linear time.
NF_SPEEDUP = 10
NF_US_PER_GATE = 0.1
NF_BYTES_PER_GATE = 60
NF_LINEARITY = 9


def normal_form_tables(results: dict[str, Any], heading: str) -> list[str]:
    """The normal-form method's table beside Qiskit's OptimizeCliffordT, and
    how it stands against the targets."""
    cells = cells_of(results)
    if not any(c["tool"] == "kestrel-nf" for c in results["cells"]):
        return []
    sizes = sorted({c["gates"] for c in results["cells"] if c["tool"] == "kestrel-nf"})
    peer = results["tools"].get("qiskit-ct", {})
    peer_label = peer.get("label", "Qiskit OptimizeCliffordT")
    out = [f"{heading} The normal form against {peer_label}", "",
           "kestrel's `method=\"normal-form\"` and Qiskit's OptimizeCliffordT pass, both "
           "T-optimal on one-qubit Clifford+T chains: median wall time from text to text "
           "(and, per gate, kestrel's median processor time, which other load on the machine "
           "does not stretch), kestrel's peak memory per gate, and the T gates each result "
           "keeps. Qiskit runs on the Clifford+T circuits only; the family with cx is read by "
           "kestrel as one wire.", "",
           "| Gates | Circuits | kestrel normal form | µs/gate | CPU µs/gate | Peak bytes/gate | "
           f"{peer_label} | Speed-up | T before | T after, kestrel | T after, Qiskit |",
           "|---:|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|"]
    equal, speedups = [], []
    for family in circuits.FAMILIES:
        for gates in sizes:
            c = cells.get(("kestrel-nf", family, gates))
            if not c:
                continue
            kind = "Clifford+T" if family == "clifford_t" else "Clifford+T with cx"
            mem = results.get("memory_nf", {}).get(f"{family}/{gates}", {})
            q = cells.get(("qiskit-ct", family, gates), {})
            row = [f"{gates:,}", kind]
            if "median" in c:
                row += [fmt_time(c["median"]), fmt_number(c["median"] / gates * 1e6),
                        fmt_number(c["cpu_median"] / gates * 1e6) if "cpu_median" in c else ""]
            else:
                row += [c["status"], "", ""]
            row.append(f"{mem['bytes_per_gate']:,.0f}" if "bytes_per_gate" in mem else "")
            if "median" in q and "median" in c:
                speedups.append((gates, q["median"] / c["median"]))
                row += [fmt_time(q["median"]), fmt_ratio(q["median"] / c["median"])]
            else:
                row += [q.get("status", ""), ""]
            row += [f"{c['t_before']:,}", t_after_text(c) if "t_after" in c else "",
                    t_after_text(q) if "t_after" in q else ""]
            if "t_after" in q and "t_after" in c:
                equal.append(q["t_after"] == c["t_after"] and not q.get("rotations"))
            out.append("| " + " | ".join(row) + " |")
    out.append("")

    notes = []
    if equal:
        notes.append(f"T counts equal to Qiskit's on {sum(equal)} of {len(equal)} circuits")
    if speedups:
        least = min(speedups, key=lambda p: p[1])
        notes.append(f"the least speed-up {fmt_ratio(least[1])} (at {least[0]:,} gates; "
                     f"target {NF_SPEEDUP}×)")
    big, mid = cells.get(("kestrel-nf", "clifford_t", 1_048_576)), \
        cells.get(("kestrel-nf", "clifford_t", 131_072))
    if big and "median" in big:
        cpu = (f", processor time {big['cpu_median'] / 1_048_576 * 1e6:.3f}"
               if "cpu_median" in big else "")
        notes.append(f"at 1,048,576 gates {big['median'] / 1_048_576 * 1e6:.3f} µs/gate{cpu} "
                     f"(target {NF_US_PER_GATE})")
        mem = results.get("memory_nf", {}).get("clifford_t/1048576")
        if mem:
            notes.append(f"{mem['bytes_per_gate']:.1f} bytes/gate (target {NF_BYTES_PER_GATE})")
        if mid and "median" in mid:
            cpu = (f", processor time {big['cpu_median'] / mid['cpu_median']:.2f}"
                   if "cpu_median" in big and "cpu_median" in mid else "")
            notes.append(f"time at 1,048,576 gates / at 131,072: "
                         f"{big['median'] / mid['median']:.2f}{cpu} "
                         f"(target at most {NF_LINEARITY})")
    if notes:
        text = "; ".join(notes)
        out += [text[0].upper() + text[1:] + ".", ""]
    return out


NOTES = """\
## How it is measured

- Circuits: `bench/circuits.py` draws each gate uniformly from h, s, sdg, t, tdg, x
  and z (Clifford+T), or from those and cx (kestrel only, since it reads a
  multi-qubit program as one wire), with a fixed 64-bit mixing function, so
  every run and machine sees the same texts.
- Time: each tool and size runs in a fresh process; after an untimed warm-up
  on an 8-gate circuit the whole text-to-text pipeline runs at least {min_runs}
  times, more while their total is under {budget:g} s (at most {max_runs}), and
  no run starts that would take the total past {stop_at:g} s; the table shows
  the median. A run over {run_limit:g} s is stopped: that size and every larger
  one of the tool are "cut off".
- Memory: a child that imports kestrel, reads the text and optimises it once,
  minus a child that does all but the optimisation; their peak resident sets
  (VmHWM; a child's ru_maxrss would start from the parent's peak), median of
  {memory_trials}, divided by the gates.
- kestrel stops saturating once its e-graph holds more than 10,000 nodes, so
  from 32,768 gates on it returns the input unchanged: those rows time reading,
  loading and writing.
- Peers: {pipelines}
- T count: T and T-dagger gates of the result. PyZX counts phase gates with an
  odd multiple of pi/4. pytket's FullPeepholeOptimise merges a one-qubit circuit
  into one general rotation (TK1, written as u3) whose angles are usually no
  multiple of pi/4: such a gate is counted as one "rot." rather than as T gates,
  since writing it in Clifford+T is an approximation pytket does not make.
  Qiskit level 3 resynthesises the merged single-qubit runs into the discrete
  basis, which can raise the T count.
- The normal form: the same circuits through `optimize_qasm(text,
  method="normal-form")`, its memory measured as the default's. Qiskit's
  OptimizeCliffordT runs alone in a PassManager: the circuits use only the
  gate names it reads (h, s, sdg, t, tdg, x, z), so no translation comes first.
  Its results also hold sx, sxdg and y gates, which are Cliffords.
- Threads: the batch runs through `ThreadPoolExecutor` with one and with two
  workers and through a `ProcessPoolExecutor` of two, {thread_reps} times each,
  alternating; the ratios compare medians.
"""


def notes(results: dict[str, Any]) -> str:
    pipelines = "; ".join(f"{v['label']}: {v['pipeline']}" for n, v in results["tools"].items()
                          if n != "kestrel")
    return NOTES.format(pipelines=pipelines or "none", **results["settings"])


def golden_text(results: dict[str, Any]) -> str:
    g = results.get("golden")
    if g is None:
        return "No bench/golden.json to compare kestrel's results with.\n"
    if not g["problems"]:
        return (f"kestrel's output texts and statistics for all {g['compared']} measured "
                "circuits match bench/golden.json.\n")
    return ("**kestrel's results differ from bench/golden.json:**\n\n"
            + "\n".join(f"- {p}" for p in g["problems"]) + "\n")


def plot(results: dict[str, Any], path: Path) -> None:
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    fig, ax = plt.subplots(figsize=(8, 5.5), dpi=120)
    limit = results["settings"]["run_limit"]
    styles = {"kestrel": "o-", "kestrel-nf": "*-", "qiskit-l3": "s-", "qiskit-1q": "D-",
              "pyzx": "^-", "pytket": "v-", "qiskit-ct": "P-"}
    series = [(n, "clifford_t") for n in results["tools"] if results["tools"][n]["installed"]]
    series.insert(1, ("kestrel", "with_cx"))
    cut_any = False
    for tool, family in series:
        cells = sorted((c for c in results["cells"]
                        if c["tool"] == tool and c["family"] == family), key=lambda c: c["gates"])
        xs = [c["gates"] for c in cells if "median" in c]
        ys = [c["median"] for c in cells if "median" in c]
        label = results["tools"][tool]["label"]
        if family == "with_cx":
            label += " (with cx)"
        style = styles.get(tool, "o-") if family == "clifford_t" else "o--"
        (line,) = ax.plot(xs, ys, style, label=label, markersize=5,
                          alpha=0.6 if family == "with_cx" else 1.0)
        cut = [c["gates"] for c in cells if c["status"] == "cut off"]
        if cut:
            cut_any = True
            ax.plot(cut, [limit] * len(cut), "x", color=line.get_color(), markersize=9,
                    markeredgewidth=2)
    if cut_any:
        ax.axhline(limit, color="grey", linestyle=":", linewidth=1)
        ax.text(circuits.SIZES[0], limit * 1.25, f"cut off (x): a run over {limit:g} s",
                color="grey", fontsize=9)
    ax.set_xscale("log")
    ax.set_yscale("log")
    if cut_any:
        ax.set_ylim(top=limit * 4)
    sizes = sorted({c["gates"] for c in results["cells"]})
    ax.set_xticks(sizes, [f"{n:,}" for n in sizes], fontsize=8)
    ax.minorticks_off()
    ax.set_xlabel("gates in the circuit")
    ax.set_ylabel("median wall time per circuit (s)")
    m = results["machine"]
    ax.set_title(f"QASM text to simplified text, random Clifford+T circuits\n"
                 f"{m['cpu']}, {m['cores']} cores", fontsize=11)
    ax.grid(True, which="major", alpha=0.3)
    ax.legend(loc="lower right", fontsize=9)
    fig.tight_layout()
    fig.savefig(path)
    plt.close(fig)


def write_reports(results: dict[str, Any], out: Path) -> None:
    out.mkdir(parents=True, exist_ok=True)
    (out / "results.json").write_text(json.dumps(results, indent=1) + "\n")
    command = "bash scripts/bench.sh" + (" --quick" if results["quick"] else "")
    body = [f"# Benchmark results", "",
            f"Written by `{command}` in {fmt_duration(results['seconds'])}.", "",
            tables(results, "##", "the notes below"), "![time against size](results.png)", "",
            "## Results unchanged", "", golden_text(results), notes(results)]
    (out / "results.md").write_text("\n".join(body))
    try:
        plot(results, out / "results.png")
    except ImportError:
        log("matplotlib is not installed: no plot")


BEGIN = "<!-- benchmark tables: written by bench/run.py --update-readme -->"
END = "<!-- end of benchmark tables -->"


def update_readme(results: dict[str, Any]) -> None:
    readme = REPO / "README.md"
    text = readme.read_text()
    if BEGIN not in text or END not in text:
        sys.exit("README.md has no benchmark markers")
    head, rest = text.split(BEGIN, 1)
    _, tail = rest.split(END, 1)
    block = tables(results, "###", "bench/results.md") + "\n![Median time against circuit size](bench/results.png)\n"
    readme.write_text(head + BEGIN + "\n\n" + block + "\n" + END + tail)


# ---------------------------------------------------------------------------

def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--quick", action="store_true",
                        help="sizes up to 4,096 and fewer runs; writes to build/bench-quick")
    parser.add_argument("--out", type=Path, help="where the results go")
    parser.add_argument("--tools", default=",".join(tools.TOOLS),
                        help="comma-separated subset of " + ", ".join(tools.TOOLS))
    parser.add_argument("--update-readme", action="store_true",
                        help="also replace the benchmark tables in README.md")
    parser.add_argument("--record", action="store_true",
                        help="write kestrel's result digests to bench/golden.json and "
                             "bench/small_golden.json")
    parser.add_argument("--check", action="store_true",
                        help="compare kestrel's results with both digest files")
    parser.add_argument("--max-gates", type=int, help="with --record/--check: sizes up to this")
    parser.add_argument("--report", type=Path, metavar="JSON",
                        help="measure nothing: write the reports again from a results.json")
    parser.add_argument("--per-qubit-only", action="store_true",
                        help="time only the per-qubit mode and its peer; prints the table")
    args = parser.parse_args()

    if args.record:
        golden.record(args.max_gates)
        return
    if args.check:
        sys.exit(0 if golden.check(args.max_gates) else 1)

    s = Settings(args.quick)
    if args.out:
        s.out = args.out
    if args.per_qubit_only:
        rows = run_per_qubit(s)
        print("\n".join(per_qubit_table(rows, "##")))
        return
    if args.report:
        results = json.loads(args.report.read_text())
        write_reports(results, args.out or args.report.resolve().parent)
        if args.update_readme:
            update_readme(results)
        return
    wanted = [t for t in args.tools.split(",") if t]
    unknown = set(wanted) - set(tools.TOOLS)
    if unknown:
        parser.error("unknown tools: " + ", ".join(sorted(unknown)))
    results = run_suite(s, wanted)
    write_reports(results, s.out)
    if args.update_readme:
        update_readme(results)
    log(f"wrote {s.out / 'results.md'} in {results['seconds']:.0f} s")
    g = results.get("golden")
    if g and g["problems"]:
        log("kestrel's results differ from bench/golden.json:\n  " + "\n  ".join(g["problems"]))
        sys.exit(1)


if __name__ == "__main__":
    main()
