"""Simplifies one-qubit Clifford+T circuits written in OpenQASM 2.0."""

def optimize_qasm(qasm: str) -> tuple[str, dict[str, int]]:
    """optimize_qasm(qasm: str) -> (optimized_qasm: str, stats: dict)"""

def cli() -> None:
    """CLI entrypoint with no Python args (usable via console_scripts).
    Parses argv: kestrel --in file.qasm [--out out.qasm] [--stats]"""

class PanicException(BaseException):
    """An internal fault of kestrel. It derives from BaseException, so that
    `except Exception` does not catch it."""
