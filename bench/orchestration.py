"""One benchmark run: where it ran, every suite in turn, and the comparison of
kestrel's results with bench/golden.json, gathered into the document that
becomes results.json.

A suite is a module with four functions (bench/random_circuits.py,
bench/per_qubit.py and bench/threads.py are the examples; bench/run.py lists
the suites a run has, in the order of their tables):

- `tool_names(wanted)`: the names in bench/tools.py of the tools it runs, given
  the tools asked for (`--tools`); their versions go into the report;
- `run(s, wanted)`: measures, in child processes through bench/harness.py,
  and returns its sections of results.json, such as {"per_qubit": rows};
- `tables(results, heading, notes)`: its Markdown from a results document, a
  list of lines (none when the document lacks its sections); `heading` is
  "##" in results.md and "###" in a page that holds tables under its own
  headings, `notes` names where the notes
  on how things are counted are;
- `notes(results)`: its bullets of "How it is measured", or "".
"""

from __future__ import annotations

import os
import sys
import time
from datetime import datetime, timezone
from types import ModuleType
from typing import Any

import environment
import golden
import tools
from settings import Settings


def run(s: Settings, wanted: list[str], suites: list[ModuleType]) -> dict[str, Any]:
    started = time.time()
    if not tools.available("kestrel"):
        sys.exit("kestrel is not installed in this interpreter")
    names = list(dict.fromkeys(n for suite in suites for n in suite.tool_names(wanted)))
    results: dict[str, Any] = {
        "quick": s.quick,
        "date": datetime.now(timezone.utc).strftime("%Y-%m-%d %H:%M UTC"),
        "machine": environment.machine(),
        "commit": environment.git_state(),
        "versions": environment.versions(names),
        "settings": s.recorded(),
        "load": [os.getloadavg()[0]],
    }
    for suite in suites:
        results.update(suite.run(s, wanted))
    if golden.GOLDEN.exists():
        results["golden"] = golden.check_run(results)
    results["load"].append(os.getloadavg()[0])
    results["seconds"] = time.time() - started
    return results
