"""The benchmark's circuits: seeded random texts, and where the real programs are.

Every circuit is a seeded random gate sequence written as OpenQASM 2.0 text;
the same family, size and index always give the same text, on any machine
and Python version, because the generator is a fixed 64-bit mixing function
rather than the `random` module. For example `circuit("clifford_t", 8)` is
eight gates drawn from h, s, sdg, t, tdg, x and z on one qubit, and
`circuit("with_cx", 8)` draws from the same gates and cx, written as the
one-wire gate language writes its CNOT, "cx q[0],q[0];": a text of one wire,
which kestrel's default reads line by line (it is no program Qiskit reads,
so only kestrel runs this family).

Whole programs are random too (`per_qubit_program`, many qubits;
`whole_program`, Clifford+T or only cx, t and tdg on up to thousands of
qubits, cx between any two qubits or only near ones) or real ones, those
the repository holds in examples/ (`shared_programs`). What kestrel returns
for the random circuits and the thread batch is recorded and checked by
bench/golden.py.
"""

from __future__ import annotations

import gzip
from pathlib import Path

SIZES = [8, 64, 512, 4_096, 32_768, 131_072, 1_048_576]
QUICK_SIZES = [8, 64, 512, 4_096]
FAMILIES = ["clifford_t", "with_cx"]

# The thread-scaling batch: BATCH_SIZE circuits of BATCH_GATES gates each.
BATCH_GATES = 64
BATCH_SIZE = 256

HEADERS = {
    "clifford_t": 'OPENQASM 2.0;\ninclude "qelib1.inc";\nqreg q[1];\n',
    "with_cx": 'OPENQASM 2.0;\ninclude "qelib1.inc";\nqreg q[1];\n',
}
GATES = {
    "clifford_t": ["h", "s", "sdg", "t", "tdg", "x", "z"],
    "with_cx": ["h", "s", "sdg", "t", "tdg", "x", "z", "cx"],
}
T_GATES = {"t", "tdg"}

# The per-qubit mode's random programs: statements over PER_QUBIT_QUBITS qubits.
PER_QUBIT_SIZES = [10_000, 100_000, 1_000_000]
QUICK_PER_QUBIT_SIZES = [10_000]
PER_QUBIT_QUBITS = 100

# The rotation-merging suite's random programs (`whole_program`): two
# families on ROTATION_QUBITS qubits at ROTATION_SIZES gates, and the
# Clifford+T family at WIDTH_GATES gates on each of WIDTHS qubits, with cx
# between any two qubits and between qubits at most LOCAL_REACH apart.
PROGRAM_FAMILIES = {
    "clifford_t_cx": ["h", "s", "sdg", "t", "tdg", "x", "z"],
    "cx_t": ["t", "tdg"],
}
CX_IN_20 = 7  # 35% of the gates are cx
ROTATION_QUBITS = 64
ROTATION_SIZES = [131_072, 1_048_576]
QUICK_ROTATION_SIZES = [8_192, 65_536]
WIDTHS = [64, 256, 1_024, 4_096]
WIDTH_GATES = 200_000
QUICK_WIDTH_GATES = 20_000
LOCAL_REACH = 8

_MASK = (1 << 64) - 1


def _mix(x: int) -> int:
    """One step of splitmix64's output function: a well-spread 64-bit value."""
    x = (x + 0x9E3779B97F4A7C15) & _MASK
    x = ((x ^ (x >> 30)) * 0xBF58476D1CE4E5B9) & _MASK
    x = ((x ^ (x >> 27)) * 0x94D049BB133111EB) & _MASK
    return x ^ (x >> 31)


def gate_names(family: str, gates: int, index: int = 0) -> list[str]:
    """The gate names of circuit `index` of `family` with `gates` gates."""
    names = GATES[family]
    base = len(names)
    # Each 64-bit draw yields 20 base-7 or base-8 digits (7^20 and 8^20 are
    # below 2^64); the tiny bias of the top digit does not matter here.
    state = _mix(FAMILIES.index(family) * 1_000_003 + gates * 7_919 + index)
    out: list[str] = []
    while len(out) < gates:
        state = _mix(state)
        x = state
        for _ in range(min(20, gates - len(out))):
            x, digit = divmod(x, base)
            out.append(names[digit])
    return out


def line(name: str) -> str:
    """The text line of one gate on the one wire q[0]; cx is the wire's CNOT."""
    if name == "cx":
        return "cx q[0],q[0];\n"
    return f"{name} q[0];\n"


def circuit(family: str, gates: int, index: int = 0) -> str:
    """The QASM text of circuit `index` of `family` with `gates` gates."""
    lines = {name: line(name) for name in GATES[family]}
    return HEADERS[family] + "".join(lines[n] for n in gate_names(family, gates, index))


def per_qubit_program(statements: int, qubits: int = PER_QUBIT_QUBITS) -> str:
    """A seeded random program over `qubits` qubits, one statement a line:
    with probability 3/20 a cx between two distinct random qubits, else one of
    h, s, sdg, t, tdg, x and z on a random qubit. Each qubit sees a run of
    about three gates between two cx, so runs repeat often."""
    names = GATES["clifford_t"]
    lines = [f'OPENQASM 2.0;\ninclude "qelib1.inc";\nqreg q[{qubits}];\n']
    state = _mix(statements * 1_000_003 + qubits)
    for _ in range(statements):
        state = _mix(state)
        x, kind = divmod(state, 20)
        if kind < 3:
            x, a = divmod(x, qubits)
            b = x % (qubits - 1)
            b += b >= a
            lines.append(f"cx q[{a}],q[{b}];\n")
        else:
            x, name = divmod(x, len(names))
            lines.append(f"{names[name]} q[{x % qubits}];\n")
    return "".join(lines)


def whole_program(family: str, gates: int, qubits: int, reach: int | None = None) -> str:
    """A seeded random program of `gates` gates on `qubits` qubits, one a
    line: with probability 7/20 a cx between two distinct random qubits (at
    most `reach` apart when it is given), else a gate drawn uniformly from
    PROGRAM_FAMILIES[family] on a random qubit. `whole_program("cx_t", 8, 64)`
    holds only cx, t and tdg, whose rotations all commute."""
    if reach is not None and not 0 < reach < qubits // 2:
        raise ValueError(f"reach {reach} needs 0 < reach < qubits / 2")
    names = PROGRAM_FAMILIES[family]
    seed = list(PROGRAM_FAMILIES).index(family) * 1_000_003 + gates * 7_919 + qubits
    state = _mix(seed * 31 + (reach or 0))
    lines = [f'OPENQASM 2.0;\ninclude "qelib1.inc";\nqreg q[{qubits}];\n']
    for _ in range(gates):
        state = _mix(state)
        x, kind = divmod(state, 20)
        x, a = divmod(x, qubits)
        if kind >= CX_IN_20:
            lines.append(f"{names[x % len(names)]} q[{a}];\n")
            continue
        if reach is None:
            b = x % (qubits - 1)
            b += b >= a
        else:
            # An offset of 1 to `reach` either way, turned back at the ends.
            x, step = divmod(x, reach)
            step = step + 1 if x % 2 else -step - 1
            b = a + step if 0 <= a + step < qubits else a - step
        lines.append(f"cx q[{a}],q[{b}];\n")
    return "".join(lines)


def shared_programs(name: str) -> list[Path]:
    """The programs the tests and the benchmarks share, those of
    examples/<name>/ ("qasmbench", "tcount"), as .qasm files in the order of
    their names: a gzipped one (hwb10.qasm.gz) is unpacked once into
    build/programs/<name>/, so that every reader takes a plain file."""
    repo = Path(__file__).resolve().parents[1]
    out = []
    for path in (repo / "examples" / name).iterdir():
        if path.name.endswith(".qasm"):
            out.append(path)
        elif path.name.endswith(".qasm.gz"):
            plain = repo / "build" / "programs" / name / path.name.removesuffix(".gz")
            if not plain.exists() or plain.stat().st_mtime < path.stat().st_mtime:
                plain.parent.mkdir(parents=True, exist_ok=True)
                unpacked = plain.with_name(plain.name + ".part")
                unpacked.write_bytes(gzip.decompress(path.read_bytes()))
                unpacked.replace(plain)
            out.append(plain)
    return sorted(out, key=lambda p: p.name)


def t_count(text: str) -> int:
    """T and T-dagger gate lines of a text written by `circuit`."""
    return sum(1 for row in text.splitlines() if row.split(" ", 1)[0] in T_GATES)


def batch_texts() -> list[str]:
    return [circuit("clifford_t", BATCH_GATES, i) for i in range(BATCH_SIZE)]

