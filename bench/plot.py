"""The plot of a run (results.png): median wall time against circuit size,
log-log, one line per installed tool on the Clifford+T circuits and one for
kestrel on the family with cx; a cut-off size is an x at the time limit.
Needs matplotlib (the bench extra).
"""

from __future__ import annotations

from pathlib import Path
from typing import Any

import circuits


def write(results: dict[str, Any], path: Path) -> None:
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
