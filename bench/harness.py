"""Runs the child programs of bench/children.py and reads what they print.

`time_cell(tool, path, warm_up, s)` is one cell of a table: the tool timed
on one text in a child that is stopped when a line is overdue by more than
`s.run_limit` seconds, as {"status": "ok", "runs": [...], "median": ...,
"cpu_median": ..., "t_after": ...}; "cut off" when no run finished in time,
"failed" (with the child's last error line) when the child failed.
`measure_memory` is the peak resident memory one optimisation adds, and
`run_child` any child that prints one JSON document. Progress goes to
standard error through `log`.
"""

from __future__ import annotations

import json
import queue
import statistics
import subprocess
import sys
import tempfile
import threading
from pathlib import Path
from typing import Any

from settings import Settings

CHILDREN = Path(__file__).resolve().parent / "children.py"


def log(message: str) -> None:
    print(message, file=sys.stderr, flush=True)


def child_command(kind: str, *args: str) -> list[str]:
    return [sys.executable, str(CHILDREN), kind, *args]


def run_child(kind: str, *args: str) -> Any:
    """Runs a child to its end and returns the JSON document it printed."""
    out = subprocess.run(child_command(kind, *args), capture_output=True, text=True, check=True)
    return json.loads(out.stdout)


def time_cell(tool: str, path: Path, warm_up: str, s: Settings) -> dict[str, Any]:
    """Runs a timing child, stopping it when a line is overdue; returns the
    cell. `warm_up` names the untimed text (children.warm_up_text)."""
    command = child_command("time", tool, str(path), warm_up, str(s.min_runs),
                            str(s.max_runs), str(s.budget), str(s.stop_at))
    with tempfile.TemporaryFile() as errors:
        process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=errors, text=True)
        lines: queue.Queue[str | None] = queue.Queue()

        def read() -> None:
            assert process.stdout is not None
            for row in process.stdout:
                lines.put(row)
            lines.put(None)

        reader = threading.Thread(target=read, daemon=True)
        reader.start()
        cell: dict[str, Any] = {"status": "ok", "runs": []}
        # Importing and warming up gets the same allowance as one run.
        while True:
            try:
                row = lines.get(timeout=s.run_limit)
            except queue.Empty:
                process.kill()
                process.wait()
                if not cell["runs"]:
                    cell["status"] = "cut off"
                break
            if row is None:
                break
            record = json.loads(row)
            if "seconds" in record:
                cell["runs"].append(record.pop("seconds"))
                cell.setdefault("cpu_runs", []).append(record.pop("cpu"))
                cell.update(record)
        reader.join(timeout=10)
        code = process.wait()
        if cell["status"] == "ok" and (code != 0 or not cell["runs"]):
            errors.seek(0)
            tail = errors.read().decode(errors="replace").strip().splitlines()
            cell = {"status": "failed", "runs": [],
                    "error": tail[-1] if tail else f"exit status {code}"}
    if cell["runs"]:
        cell["median"] = statistics.median(cell["runs"])
        cell["cpu_median"] = statistics.median(cell["cpu_runs"])
    return cell


def measure_memory(path: Path, s: Settings, mode: str = "optimise") -> dict[str, Any]:
    """Median over trials of (peak with one optimisation - peak without it)."""
    differences = []
    for _ in range(s.memory_trials):
        peaks = {child: run_child("memory", str(path), child)["peak"]
                 for child in ("baseline", mode)}
        differences.append(peaks[mode] - peaks["baseline"])
    return {"extra_bytes": statistics.median(differences), "trials": differences}
