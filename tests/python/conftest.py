"""Shared helpers: the QASM header and ways to run the command line."""

import os
import subprocess
import sys
from pathlib import Path

import pytest

HEADER = 'OPENQASM 2.0;\ninclude "qelib1.inc";\nqreg q[1];\n'
USAGE = "Usage: kestrel --in <file.qasm> [--out out.qasm] [--stats]\n"
REPO = Path(__file__).resolve().parents[2]
EXAMPLES = REPO / "examples"
# Set by scripts/long-checks.sh: stress sizes and example counts grow.
LONG_CHECKS = os.environ.get("KESTREL_LONG_CHECKS") == "1"

# Runs cli() in a fresh interpreter; the options follow the code string.
CLI_CODE = "import kestrel; kestrel.cli()"

# Like CLI_CODE, but reports an exception as "<type name>: <message>" on
# standard error, so that tests can tell OSError from PanicException.
CLI_REPORTING_CODE = """
import sys, kestrel
try:
    kestrel.cli()
except BaseException as error:
    sys.stderr.write(f"{type(error).__qualname__}|{type(error).__module__}|{error}\\n")
    sys.exit(3)
"""


def qasm(*gate_lines: str) -> str:
    """The header followed by `gate_lines`, each ended by a line feed."""
    return HEADER + "".join(line + "\n" for line in gate_lines)


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
    return subprocess.run(argv, cwd=cwd, timeout=120, check=False, **kwargs)


LAUNCHERS = {
    "python-c": lambda: [sys.executable, "-c", CLI_CODE],
    "console-script": lambda: [str(console_script())],
}


@pytest.fixture(params=sorted(LAUNCHERS))
def launcher(request):
    """The command that starts cli(): `python -c ...` or the console script."""
    command = LAUNCHERS[request.param]()
    if request.param == "console-script" and not os.access(command[0], os.X_OK):
        pytest.fail(f"console script missing: {command[0]}")
    return command


@pytest.fixture
def reporting():
    """A command that runs cli() and reports any exception with its type."""
    return [sys.executable, "-c", CLI_REPORTING_CODE]
