"""The normal-form method's table beside Qiskit's OptimizeCliffordT, and how
it stands against the targets its issue set: the same T counts as the pass,
at least ten times its speed at every size, and at 1,048,576 gates at most
0.1 µs and 60 bytes per gate, in time at most 9 times that at 131,072 gates
(linear growth would be 8).

The cells are those of the random-circuit suite (bench/random_circuits.py),
which times "kestrel-nf" and "qiskit-ct" with the other tools; the table
follows that suite's own tables.
"""

from __future__ import annotations

from typing import Any

import circuits
from formats import fmt_number, fmt_ratio, fmt_time, t_after_text

NF_SPEEDUP = 10
NF_US_PER_GATE = 0.1
NF_BYTES_PER_GATE = 60
NF_LINEARITY = 9


def table(results: dict[str, Any], cells: dict[tuple[str, str, int], dict[str, Any]],
          heading: str) -> list[str]:
    """The table and a sentence on the targets; nothing when the run did not
    time the normal form. `cells` indexes results["cells"] by (tool, family, gates)."""
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
