"""How the benchmark's tables write numbers: times, durations, ratios and T
counts, for example fmt_time(0.00123) == "1.23 ms" and fmt_ratio(85952.3) ==
"85,952×". bench/against.py writes its times the same way.
"""

from __future__ import annotations

from typing import Any


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


def t_after_text(c: dict[str, Any]) -> str:
    """A cell's T count after, with its general rotations ("12 + 1 rot."), or
    its status when it has none."""
    if "t_after" not in c:
        return c["status"]
    text = f"{c['t_after']:,}"
    if c.get("rotations"):
        text += f" + {c['rotations']:,} rot."
    return text
