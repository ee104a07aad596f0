"""The T-count programs written with Toffoli gates, as their sources had them.

The T-count programs (examples/tcount/) were expanded from their
sources by PyZX, each Toffoli into H on its target around the thirteen gates

    cx b,c; tdg c; cx a,c; t c; cx b,c; tdg c; cx a,c; t b; t c; cx a,b; t a; tdg b; cx a,b;

(exactly the doubly controlled Z on a, b, c), with the H gates of Toffolis in
a row on one target cancelled. `collapse` finds that fixed pattern, line by
line, and writes `h c; ccx a,b,c; h c;` in its place (the same operator:
H CCZ H on c is the Toffoli), then cancels each H against an H right before
it on its wire, so that a Toffoli of the source comes back as one `ccx` line.
All 32 programs are made of these patterns and single gates; every T gate
lies in a pattern but in qft_4, whose other T gates stay as they are.

    python bench/toffolis.py --check [names...]

checks each collapsed program against its expanded file: Qiskit's Operator
up to 10 qubits, MQT QCEC above, both exactly (global phase included); where
QCEC gives no answer in five minutes (hwb10), random states through both.
"""

from __future__ import annotations

import re
import sys
from pathlib import Path

import circuits

QCEC_SECONDS = 300.0
LINE = re.compile(r"(h|t|tdg|s|sdg|x|z|cx)\s+q\[(\d+)\](?:,\s*q\[(\d+)\])?;")
CORE = [("cx", "b", "c"), ("tdg", "c"), ("cx", "a", "c"), ("t", "c"), ("cx", "b", "c"),
        ("tdg", "c"), ("cx", "a", "c"), ("t", "b"), ("t", "c"), ("cx", "a", "b"), ("t", "a"),
        ("tdg", "b"), ("cx", "a", "b")]


def _gate(line: str) -> tuple[str, list[int]] | None:
    m = LINE.fullmatch(line.strip())
    if m is None:
        return None
    return m.group(1), [int(q) for q in m.groups()[1:] if q is not None]


def _core(gates: list[tuple[str, list[int]] | None], i: int) -> dict[str, int] | None:
    """The qubits a, b, c of a pattern starting at line i, or None."""
    if i + len(CORE) > len(gates):
        return None
    env: dict[str, int] = {}
    for k, (name, *names) in enumerate(CORE):
        gate = gates[i + k]
        if gate is None or gate[0] != name or len(gate[1]) != len(names):
            return None
        for var, q in zip(names, gate[1]):
            if env.setdefault(var, q) != q:
                return None
    return env if len(set(env.values())) == 3 else None


def collapse(text: str) -> tuple[str, int]:
    """`text` with each pattern written as a Toffoli, and how many there are."""
    lines = text.split("\n")
    gates = [_gate(line) for line in lines]
    out: list[str | None] = []   # lines, None where an H was cancelled
    ops: list[tuple[str, list[int]] | None] = []
    last: dict[int, list[int]] = {}  # per qubit: the places in `out` of its gates, newest last
    toffolis = 0

    def put(line: str, gate: tuple[str, list[int]] | None) -> None:
        if gate is not None and gate[0] == "h":
            q = gate[1][0]
            stack = last.get(q, [])
            if stack and ops[stack[-1]] == gate:
                out[stack.pop()] = None
                return
        out.append(line)
        ops.append(gate)
        if gate is not None:
            for q in gate[1]:
                last.setdefault(q, []).append(len(out) - 1)

    i = 0
    while i < len(lines):
        env = _core(gates, i)
        if env is None:
            put(lines[i], gates[i])
            i += 1
            continue
        a, b, c = env["a"], env["b"], env["c"]
        put(f"h q[{c}];", ("h", [c]))
        put(f"ccx q[{a}],q[{b}],q[{c}];", ("ccx", [a, b, c]))
        put(f"h q[{c}];", ("h", [c]))
        toffolis += 1
        i += len(CORE)
    return "\n".join(line for line in out if line is not None), toffolis


def collapsed_programs() -> list[tuple[str, str, str]]:
    """(name, expanded text, collapsed text) of each shared T-count program."""
    return [(p.stem, p.read_text(), collapse(p.read_text())[0])
            for p in circuits.shared_programs("tcount")]


def equivalent(expanded: str, collapsed: str) -> str:
    """How the two programs were found to be the same operator, global phase
    included, or "NOT EQUIVALENT": Qiskit's Operator up to 10 qubits, else
    MQT QCEC; where QCEC gives no answer in QCEC_SECONDS (hwb10), both are
    applied to random states by Qiskit's Statevector, up to 20 qubits."""
    from qiskit import qasm2
    from qiskit.quantum_info import Operator, random_statevector
    a, b = qasm2.loads(expanded), qasm2.loads(collapsed)
    if a.num_qubits <= 10:
        return "equivalent (Operator)" if Operator(a) == Operator(b) else "NOT EQUIVALENT"
    from mqt import qcec
    result = str(qcec.verify(a, b, timeout=QCEC_SECONDS).equivalence).rsplit(".", 1)[-1]
    if result == "equivalent":
        return "equivalent (QCEC)"
    if result in ("no_information", "probably_equivalent") and a.num_qubits <= 20:
        for seed in range(3):
            state = random_statevector(2 ** a.num_qubits, seed=seed)
            if abs(state.evolve(a).inner(state.evolve(b)) - 1) > 1e-9:
                return "NOT EQUIVALENT"
        return "equivalent (three random states, QCEC undecided)"
    return "NOT EQUIVALENT" if result.startswith("not") else f"undecided ({result})"


def main() -> None:
    if sys.argv[1:2] != ["--check"]:
        sys.exit(__doc__)
    wanted = set(sys.argv[2:])
    failed = 0
    for name, expanded, collapsed in collapsed_programs():
        if wanted and name not in wanted:
            continue
        verdict = equivalent(expanded, collapsed)
        failed += not verdict.startswith("equivalent")
        print(f"{name}: {collapse(expanded)[1]} Toffolis, {verdict}", flush=True)
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
