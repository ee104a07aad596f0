"""Where a benchmark run ran: the machine, kestrel's commit and the versions
of the tools, as results.json records them and the reports' first line says,
for example "Intel(R) Xeon(R) Processor, 2 cores, 24 GiB memory, ...; kestrel
at commit de8e864; qiskit 2.6.2; ...".
"""

from __future__ import annotations

import os
import platform
import subprocess
from typing import Any

import tools
from settings import REPO


def machine() -> dict[str, Any]:
    model = platform.processor() or platform.machine()
    try:
        for row in subprocess.run(["lscpu"], capture_output=True, text=True).stdout.splitlines():
            if row.startswith("Model name:"):
                model = row.split(":", 1)[1].strip()
    except OSError:
        pass
    memory = os.sysconf("SC_PAGE_SIZE") * os.sysconf("SC_PHYS_PAGES")
    return {"cpu": model, "cores": os.cpu_count(), "memory_gib": round(memory / 2**30),
            "python": platform.python_version(), "system": platform.platform(terse=True)}


def git_state() -> str:
    """The short commit, and whether the code kestrel is built from differs from it."""
    def git(*args: str) -> str:
        return subprocess.run(["git", *args], cwd=REPO, capture_output=True,
                              text=True).stdout.strip()

    commit = git("rev-parse", "--short", "HEAD") or "unknown"
    changed = git("status", "--porcelain", "--", "engine", "src", "binding", "CMakeLists.txt",
                  "pyproject.toml")
    return commit + (" with uncommitted engine changes" if changed else "")


def versions(names: list[str]) -> dict[str, str]:
    """{distribution: version} of the installed tools among `names`, in their order."""
    return {tools.DISTRIBUTION[n]: tools.version(n) for n in names if tools.available(n)}
