"""The per-qubit mode against Qiskit, on real programs and random ones.

Each output must be a program Qiskit reads, keep every statement that is no run gate unchanged and in order, be the
input's circuit up to a global phase, and come with statistics that are Qiskit's figures for the input and the output.
Equivalence is checked segment by segment: between two operations that are not run gates, each qubit's run must be the
same 2x2 matrix up to phase, and the operations themselves must be the same, which makes the circuits the same up to a
global phase at any size, with measurements, resets and conditions anywhere.
"""

import re

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import kestrel
from conftest import EXAMPLES, scaled
from model import ONE_QUBIT, same_up_to_phase
from programs import clifford_t_programs, figures, load, program_name, program_paths, program_text, statements

# One row per method; normal-form joins as a row of its own.
METHODS = ["saturation", "normal-form"]

# The examples and the QASMBench programs (the T-count programs hold only run
# gates and cx: rotation merging's tests read them), but cancellations.qasm,
# one wire that is no program (cx q[0],q[0]).
PROGRAMS = [p for p in sorted(EXAMPLES.glob("*.qasm")) + program_paths("qasmbench") if p.name != "cancellations.qasm"]

RUN_STATEMENT = re.compile(r"(h|s|sdg|t|tdg|x|z)\s+[a-z]\w*\s*\[\s*\d+\s*\]\s*;")


def kept(text):
    """The statements that are no run gates: what the mode must keep."""
    return [s for s in statements(text) if not RUN_STATEMENT.fullmatch(s)]


def segments(circuit):
    """Per qubit, the product of each run of one-qubit Clifford+T gates
    between the other operations; and the other operations in order."""
    index = {qubit: k for k, qubit in enumerate(circuit.qubits)}
    clbits = {clbit: k for k, clbit in enumerate(circuit.clbits)}
    current = [np.eye(2, dtype=complex) for _ in circuit.qubits]
    runs = [[] for _ in circuit.qubits]
    others = []
    for instruction in circuit.data:
        op = instruction.operation
        qubits = [index[q] for q in instruction.qubits]
        if op.name in ONE_QUBIT and len(qubits) == 1:  # a run gate (Qiskit's matrices)
            current[qubits[0]] = ONE_QUBIT[op.name] @ current[qubits[0]]
            continue
        for k in qubits:
            runs[k].append(current[k])
            current[k] = np.eye(2, dtype=complex)
        params = tuple(round(float(p), 12) for p in op.params if isinstance(p, (int, float)))
        others.append((op.name, tuple(qubits), tuple(clbits[c] for c in instruction.clbits), params))
    for k, matrix in enumerate(current):
        runs[k].append(matrix)
    return runs, others


def check_output(text, out, stats):
    """Everything the mode promises about `out`, the result for `text`."""
    assert kept(out) == kept(text)
    before, after = load(text), load(out)
    assert {k: stats[k + "_before"] for k in ("t", "gates", "depth")} == figures(before)
    assert {k: stats[k + "_after"] for k in ("t", "gates", "depth")} == figures(after)

    runs_in, others_in = segments(before)
    runs_out, others_out = segments(after)
    assert others_in == others_out
    for qubit, (a, b) in enumerate(zip(runs_in, runs_out)):
        assert len(a) == len(b)
        for k, (m, n) in enumerate(zip(a, b)):
            assert same_up_to_phase(m, n), f"qubit {qubit}, run {k}"


@pytest.mark.parametrize("method", METHODS)
@pytest.mark.parametrize("path", PROGRAMS, ids=program_name)
def test_real_programs(path, method):
    text = program_text(path)
    out, stats = kestrel.optimize_qasm(text, per_qubit=True, method=method)
    check_output(text, out, stats)


def test_the_programs_are_there():
    assert len({program_name(p) for p in PROGRAMS}) >= 15


# ---------------------------------------------------------------------------
# Random programs (programs.clifford_t_programs: run gates, cx, ccx, rz,
# barriers, whole-register gates, a defined gate g(p), measurements, resets and
# conditions), the qubits from the m-th on moved to a second register, each
# statement followed by a line end, a comment, or a blank that puts the next
# statement on the same line.

SEPARATORS = [" ", "\n", "\n", "\n", " // note\n", "\n\n", "\t", "  \n"]


@st.composite
def programs(draw):
    text = draw(clifford_t_programs(most_qubits=6))
    n = int(re.search(r"qreg q\[(\d+)\];", text).group(1))
    m = draw(st.integers(1, n))
    if m < n:
        moved = lambda q: q.group() if int(q.group(1)) < m else f"r[{int(q.group(1)) - m}]"
        text = re.sub(r"\bq\[(\d+)\]", moved, text).replace(f"qreg r[{n - m}];", f"qreg q[{m}];\nqreg r[{n - m}];")
    lines = text.splitlines()
    return "".join(line + draw(st.sampled_from(SEPARATORS)) for line in lines)


@pytest.mark.parametrize("method", METHODS)
@settings(max_examples=scaled(150, 1500), deadline=None)
@given(text=programs())
def test_random_programs(text, method):
    out, stats = kestrel.optimize_qasm(text, per_qubit=True, method=method)
    check_output(text, out, stats)
