"""The benchmark's circuits and the digests that pin kestrel's results.

Every circuit is a seeded random gate sequence written as OpenQASM 2.0 text;
the same family, size and index always give the same text, on any machine
and Python version, because the generator is a fixed 64-bit mixing function
rather than the `random` module. For example `circuit("clifford_t", 8)` is
eight gates drawn from h, s, sdg, t, tdg, x and z on one qubit, and
`circuit("with_cx", 8)` draws from the same gates and cx, over a register of
two qubits so that the text stays valid for any reader (kestrel reads the
gate names only and treats the program as one wire).

A digest records what kestrel returned for a circuit: the SHA-256 of the
output text and the statistics dictionary. `bench/golden.json` keeps one per
circuit, so a change to the engine can show that it changed no result.
"""

from __future__ import annotations

import hashlib
import json
from pathlib import Path
from typing import Any, Iterator

SIZES = [8, 64, 512, 4_096, 32_768, 131_072, 1_048_576]
QUICK_SIZES = [8, 64, 512, 4_096]
FAMILIES = ["clifford_t", "with_cx"]

# The thread-scaling batch: BATCH_SIZE circuits of BATCH_GATES gates each.
BATCH_GATES = 64
BATCH_SIZE = 256

HEADERS = {
    "clifford_t": 'OPENQASM 2.0;\ninclude "qelib1.inc";\nqreg q[1];\n',
    "with_cx": 'OPENQASM 2.0;\ninclude "qelib1.inc";\nqreg q[2];\n',
}
GATES = {
    "clifford_t": ["h", "s", "sdg", "t", "tdg", "x", "z"],
    "with_cx": ["h", "s", "sdg", "t", "tdg", "x", "z", "cx"],
}
T_GATES = {"t", "tdg"}

GOLDEN = Path(__file__).resolve().parent / "golden.json"

# The per-qubit mode's random programs: statements over PER_QUBIT_QUBITS qubits.
PER_QUBIT_SIZES = [10_000, 100_000, 1_000_000]
QUICK_PER_QUBIT_SIZES = [10_000]
PER_QUBIT_QUBITS = 100

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
    """The text line of one gate: single-qubit gates on q[0], cx from q[0] to q[1]."""
    if name == "cx":
        return "cx q[0],q[1];\n"
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


def qasmbench() -> list[Path]:
    """The QASMBench programs of the shared data beside the repository (for
    a work tree, a folder further up), or of $KESTREL_QASMBENCH."""
    import os
    candidates = [Path(os.environ["KESTREL_QASMBENCH"])] if "KESTREL_QASMBENCH" in os.environ else []
    candidates += [d / "shared" / "data" / "qasmbench" for d in Path(__file__).resolve().parents]
    for folder in candidates:
        if folder.is_dir():
            return sorted(folder.glob("*.qasm"))
    return []


def t_count(text: str) -> int:
    """T and T-dagger gate lines of a text written by `circuit`."""
    return sum(1 for row in text.splitlines() if row.split(" ", 1)[0] in T_GATES)


def sha256(text: str) -> str:
    return hashlib.sha256(text.encode()).hexdigest()


def digest(text: str, output: str, stats: dict[str, int]) -> dict[str, Any]:
    """What golden.json keeps for one circuit."""
    return {"input_sha256": sha256(text), "output_sha256": sha256(output), "stats": dict(stats)}


def batch_texts() -> list[str]:
    return [circuit("clifford_t", BATCH_GATES, i) for i in range(BATCH_SIZE)]


def batch_digest(texts: list[str], results: list[tuple[str, dict[str, int]]]) -> dict[str, Any]:
    """One digest for the whole thread-scaling batch, its statistics summed."""
    inputs, outputs = hashlib.sha256(), hashlib.sha256()
    totals: dict[str, int] = {}
    for text, (output, stats) in zip(texts, results):
        inputs.update(sha256(text).encode())
        outputs.update(sha256(output).encode())
        outputs.update(json.dumps(stats).encode())
        for key, value in stats.items():
            totals[key] = totals.get(key, 0) + value
    return {"input_sha256": inputs.hexdigest(), "output_sha256": outputs.hexdigest(),
            "stats": totals}


def batch_key() -> str:
    return f"batch/{BATCH_SIZE}x{BATCH_GATES}"


def keys(max_gates: int | None = None) -> Iterator[tuple[str, str, int]]:
    """(key, family, gates) of every single benchmark circuit up to `max_gates`."""
    for family in FAMILIES:
        for gates in SIZES:
            if max_gates is None or gates <= max_gates:
                yield f"{family}/{gates}", family, gates


def compute_digests(optimize, max_gates: int | None = None) -> dict[str, dict[str, Any]]:
    """Runs `optimize` (kestrel.optimize_qasm) over every circuit up to
    `max_gates`, and over the batch when its circuits are that small."""
    out: dict[str, dict[str, Any]] = {}
    for key, family, gates in keys(max_gates):
        text = circuit(family, gates)
        output, stats = optimize(text)
        out[key] = digest(text, output, stats)
    if max_gates is None or BATCH_GATES <= max_gates:
        texts = batch_texts()
        out[batch_key()] = batch_digest(texts, [optimize(t) for t in texts])
    return out


def load_golden(path: Path = GOLDEN) -> dict[str, dict[str, Any]]:
    return json.loads(path.read_text())["circuits"]


def save_golden(digests: dict[str, dict[str, Any]], path: Path = GOLDEN) -> None:
    document = {
        "about": "kestrel.optimize_qasm on every benchmark circuit of bench/circuits.py: "
                 "SHA-256 of the input and output texts and the statistics. "
                 "Written by `bench/run.py --record`, compared by `bench/run.py --check`.",
        "circuits": digests,
    }
    path.write_text(json.dumps(document, indent=1) + "\n")


def compare(found: dict[str, dict[str, Any]], golden: dict[str, dict[str, Any]]) -> list[str]:
    """One line per circuit of `found` whose digest differs from `golden`."""
    problems = []
    for key, value in found.items():
        expected = golden.get(key)
        if expected is None:
            problems.append(f"{key}: not in the golden file")
        elif expected["input_sha256"] != value["input_sha256"]:
            problems.append(f"{key}: the input text changed (the generator, not the engine)")
        elif expected != value:
            problems.append(f"{key}: stats {value['stats']} output {value['output_sha256'][:12]}, "
                            f"golden stats {expected['stats']} output "
                            f"{expected['output_sha256'][:12]}")
    return problems
