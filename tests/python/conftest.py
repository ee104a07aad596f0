"""Helpers shared by the Python tests."""

import os
import signal
import subprocess
import sys
from pathlib import Path

import pytest
from hypothesis import settings

HEAD = 'OPENQASM 2.0;\ninclude "qelib1.inc";\n'
HEADER = HEAD + "qreg q[1];\n"
USAGE = "usage: kestrel [options] FILE\n"
REPO = Path(__file__).resolve().parents[2]
EXAMPLES = REPO / "examples"
# Set by scripts/long-checks.sh: the sizes of test_stress.py and the example
# counts of test_equivalence.py grow.
LONG_CHECKS = os.environ.get("KESTREL_LONG_CHECKS") == "1"

# Property tests draw the same examples on every run, so that the test command
# passes or fails the same way each time; the long checks draw new ones, to
# find what the fixed draw does not.
settings.register_profile("fixed", derandomize=True)
settings.register_profile("exploring", derandomize=False)
settings.load_profile("exploring" if LONG_CHECKS else "fixed")



def pytest_addoption(parser):
    parser.addoption("--run-slow", action="store_true",
                     help="also run the tests marked slow (the long checks always do)")


def pytest_collection_modifyitems(config, items):
    """Tests marked slow are skipped unless --run-slow or the long checks ask."""
    if config.getoption("--run-slow") or LONG_CHECKS:
        return
    skip = pytest.mark.skip(reason="slow: run with --run-slow")
    for item in items:
        if "slow" in item.keywords:
            item.add_marker(skip)


# cli() in a fresh interpreter, the options after it; an exception ends the
# process with status 1 and "<type name>: <message>" on standard error, but
# SystemExit (a usage error's status 2), which ends it as it says.
CLI = [sys.executable, "-c", "import sys, kestrel\ntry:\n    kestrel.cli()\n"
       "except SystemExit:\n    raise\n"
       "except BaseException as e:\n    sys.exit(f'{type(e).__qualname__}: {e}')"]


def program(qubits: int, *lines: str) -> str:
    """A program of one register q of `qubits` qubits, then `lines`, each ended by a line feed."""
    return HEAD + f"qreg q[{qubits}];\n" + "".join(line + "\n" for line in lines)


def qasm(*gate_lines: str) -> str:
    """The header of one qubit followed by `gate_lines`, each ended by a line feed."""
    return program(1, *gate_lines)


def scaled(quick, long):
    """`quick` in the test run, `long` under scripts/long-checks.sh."""
    return long if LONG_CHECKS else quick


def console_script() -> Path:
    """The `kestrel` launcher installed beside the running interpreter."""
    return Path(sys.executable).parent / "kestrel"


def run(argv, cwd, **kwargs) -> subprocess.CompletedProcess:
    """Runs `argv` (str or bytes elements) and captures both streams as bytes."""
    kwargs.setdefault("stdout", subprocess.PIPE)
    kwargs.setdefault("stderr", subprocess.PIPE)
    return subprocess.run(argv, cwd=cwd, timeout=300, check=False, **kwargs)


def default_sigint() -> None:
    """For a child that is to be interrupted: SIGINT back to its default action, which a shell's background job starts
    without (ignored), so that the child's Python installs its KeyboardInterrupt handler."""
    signal.signal(signal.SIGINT, signal.SIG_DFL)
