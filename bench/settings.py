"""How hard one benchmark run measures, and where it writes.

`Settings(quick=False)` is the full run of `bash scripts/bench.sh`: sizes up
to 1,048,576 gates, each cell timed at least 5 and at most 51 times, written
to bench/. `Settings(quick=True)` is `--quick`: sizes up to 4,096, fewer runs,
written to build/bench-quick/. Every field but `out` is stored in
results.json, so a report can say how its numbers were taken.
"""

from __future__ import annotations

from pathlib import Path

import circuits

BENCH = Path(__file__).resolve().parent
REPO = BENCH.parent


class Settings:
    """How hard one run of the suites measures."""

    def __init__(self, quick: bool):
        self.quick = quick
        self.sizes = circuits.QUICK_SIZES if quick else circuits.SIZES
        self.min_runs = 3 if quick else 5          # runs per cell, at least ...
        self.max_runs = 21 if quick else 51        # ... and at most
        self.budget = 0.3 if quick else 10.0       # seconds of runs after which min_runs suffice
        self.stop_at = 3.0 if quick else 60.0      # no run starts that would end past this
        self.run_limit = 10.0 if quick else 120.0  # a single run over this is cut off
        self.memory_trials = 1 if quick else 3     # memory children per size, median taken
        self.batch = 32 if quick else circuits.BATCH_SIZE  # circuits in the thread batch
        self.thread_reps = 1 if quick else 3       # timings of the batch per thread count
        self.out = REPO / "build" / "bench-quick" if quick else BENCH

    def recorded(self) -> dict[str, object]:
        """The fields results.json keeps (all but where the reports go)."""
        return {k: v for k, v in vars(self).items() if k != "out"}
