"""The equivalence checker by sums over paths (path_sums.py, path_sums_multilinear.py, path_sum_equivalence.py) and what
it proves.

The checker is held to Qiskit's Operator where Operator can hold the circuits: every gate's sum, every reduction step of
both stages, every verdict on random circuits and on their one-gate mutants (whose witness must be Operator's own
amplitude). Then it proves kestrel's results on the T-count programs equivalent, the phase kestrel reports included, and
rejects each result with one T gate dropped. The largest programs are marked slow: `pytest --run-slow` (or the long
checks) runs them.
"""

import math
import random

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st
from qiskit import QuantumCircuit, qasm2, transpile
from qiskit.quantum_info import Operator

import kestrel
from conftest import scaled
from path_sum_equivalence import check, flatten, read
from path_sums import PathSum, Vanishing
from path_sums_multilinear import MultilinearPathSum
from programs import program_name, program_paths, program_text

PROGRAMS = {program_name(p): p for p in program_paths("tcount")}
# Past these, a program is checked in the slow run only (kestrel's own time
# on them is seconds too).
LARGE = {"gf2^32_mult", "gf2^64_mult", "gf2^128_mult"}
# Not checked: on hwb10 the phase-polynomial method moves T gates so far
# that the middle-out reduction pairs few Hadamard gates; it runs for
# minutes and leaves thousands of path variables.
UNCHECKED = {"hwb10"}
ONE_QUBIT = ["h", "x", "y", "z", "s", "sdg", "t", "tdg", "id"]


def operator(circuit):
    return Operator(circuit).data


def path_sum(circuit):
    ps = PathSum(circuit.num_qubits)
    for op in flatten(circuit):
        ps.apply(op)
    return ps


@pytest.mark.parametrize("gate, qubits", [(g, [1]) for g in ONE_QUBIT] + [
    ("cx", [2, 0]), ("cz", [0, 2]), ("swap", [0, 1]), ("ccx", [2, 0, 1]), ("ccz", [0, 1, 2]), ("rz", [1]), ("p", [0])])
def test_each_gate_is_its_matrix(gate, qubits):
    qc = QuantumCircuit(3)
    qc.h([0, 1, 2])   # not diagonal going in: phases and wires both show
    qc.t(0)
    if gate in ("rz", "p"):
        getattr(qc, gate)(3 * math.pi / 4, *qubits)
    else:
        getattr(qc, gate)(*qubits)
    np.testing.assert_allclose(path_sum(qc).matrix(), operator(qc), atol=1e-9)


@st.composite
def circuits(draw, max_qubits=3, max_gates=14):
    n = draw(st.integers(1, max_qubits))
    qc = QuantumCircuit(n)
    names = ONE_QUBIT[:-1] + ["h", "t", "cx", "cz", "ccx"]
    for _ in range(draw(st.integers(0, max_gates))):
        name = draw(st.sampled_from(names))
        width = {"cx": 2, "cz": 2, "ccx": 3}.get(name, 1)
        if width > n:
            continue
        qubits = draw(st.permutations(range(n)))[:width]
        getattr(qc, name)(*qubits)
    return qc


@pytest.mark.parametrize("closed", [False, True])
@settings(max_examples=scaled(150, 1500), deadline=None)
@given(circuits())
def test_every_reduction_step_keeps_the_operator(closed, qc):
    """Closed (PathSum.close), the sum is the operator's diagonal (which can vanish, unlike a unitary), and the second
    stage goes on from it."""
    want = np.diag(np.diag(operator(qc))) if closed else operator(qc)
    ps = path_sum(qc)
    if closed:
        ps.close()
    try:
        ps.reduce(every=True, on_step=lambda rule, y: np.testing.assert_allclose(
            ps.matrix(), want, atol=1e-9, err_msg=f"after {rule} on {y}"))
        if closed:
            general = MultilinearPathSum(ps)
            np.testing.assert_allclose(general.matrix(), want, atol=1e-9)
            general.reduce(every=True, on_step=lambda rule, y: np.testing.assert_allclose(
                general.matrix(), want, atol=1e-9, err_msg=f"after {rule} on {y}"))
    except Vanishing:
        assert closed and np.allclose(want, 0, atol=1e-9)


def test_every_rule_is_exercised():
    """The step test above means something only if the rules fire: over a seeded batch, every rule of each stage does,
    and some sums vanish."""
    rng = random.Random(7)
    affine = {"elimination": 0, "HH": 0, "omega": 0}
    general = dict(affine)
    vanished = 0
    for _ in range(300):
        qc = QuantumCircuit(2)
        for _ in range(rng.randint(1, 10)):
            name = rng.choice(["h", "h", "s", "t", "x", "cx", "cz"])
            if name in ("cx", "cz"):
                getattr(qc, name)(*rng.sample(range(2), 2))
            else:
                getattr(qc, name)(rng.randrange(2))
        ps = path_sum(qc)
        ps.close()
        g = MultilinearPathSum(ps)
        try:
            ps.reduce(every=True)
            g.reduce(every=True)
        except Vanishing:
            vanished += 1
            continue
        for k in affine:
            affine[k] += ps.counts[k]
            general[k] += g.counts[k]
    assert all(affine.values()) and all(general.values()) and vanished, (affine, general)


def phase_between(u, v):
    """k with U = e^(i k pi/8) V, or None where there is none."""
    a, b = operator(u), operator(v)
    for k in range(16):
        if np.allclose(a, np.exp(1j * k * math.pi / 8) * b, atol=1e-9):
            return k
    return None


def rewritten(qc, rng):
    """qc with identities put in at random places: the same operator up to a known global phase (x z x z = -1)."""
    out = QuantumCircuit(qc.num_qubits)
    for inst in qc.data:
        out.append(inst.operation, [out.qubits[qc.find_bit(q).index] for q in inst.qubits])
        q = rng.randrange(qc.num_qubits)
        for name in [["h", "h"], ["t", "t", "sdg"], ["x", "z", "x", "z"], []][rng.randrange(4)]:
            getattr(out, name)(q)
    return out


@settings(max_examples=scaled(150, 1500), deadline=None)
@given(circuits(max_qubits=4, max_gates=20), st.randoms(use_true_random=False))
def test_equal_circuits_are_proved_equal(qc, rng):
    other = rewritten(qc, rng)
    k = phase_between(qc, other)
    result = check(qc, other, phase=k)
    assert result.verdict != "not equivalent"
    if not any(inst.operation.name == "ccx" for inst in qc.data):
        assert result.verdict == "equivalent", result
    if result.verdict == "equivalent":
        assert result.phase16 == k


def mutants(qc):
    """Copies of qc with one change each: a gate changed (t to tdg, s to sdg, h to s), a T gate dropped, a cx's control
    and target swapped."""
    change = {"t": ["tdg", None], "tdg": ["t", None], "s": ["sdg"], "sdg": ["s"], "h": ["s"], "cx": ["reversed"]}
    for i, inst in enumerate(qc.data):
        for new in change.get(inst.operation.name, []):
            out = qc.copy_empty_like()
            for j, other in enumerate(qc.data):
                if j != i:
                    out.append(other)
                elif new == "reversed":
                    out.cx(*inst.qubits[::-1])
                elif new is not None:
                    getattr(out, new)(*inst.qubits)
            yield out


@settings(max_examples=scaled(60, 600), deadline=None)
@given(circuits(max_qubits=4, max_gates=16))
def test_mutants_are_rejected_with_a_true_witness(qc):
    """Where Operator says a mutant differs, the checker says so, and its witness is Operator's amplitude <x|V^dagger
    U|x>; where Operator says they are equal, the checker does not refute it."""
    for mutant in list(mutants(qc))[:6]:
        truth = phase_between(qc, mutant)
        result = check(qc, mutant)
        if truth is None:
            assert result.verdict == "not equivalent", result
            x = result.witness["input"]
            amplitude = (operator(mutant).conj().T @ operator(qc))[x, x]
            assert abs(amplitude - result.witness["amplitude"]) < 1e-9
        else:
            assert result.verdict != "not equivalent", result


def test_a_wrong_phase_is_rejected_and_what_it_does_not_read_is_unknown():
    qc = QuantumCircuit(2)
    qc.h(0), qc.t(0), qc.cx(0, 1), qc.h(1)
    assert check(qc, qc, phase=0).verdict == "equivalent"
    result = check(qc, qc, phase=1)
    assert result.verdict == "not equivalent"
    assert abs(result.witness["amplitude"] - 1) < 1e-9
    qc.rx(0.3, 0)
    result = check(qc, qc)
    assert result.verdict == "unknown" and "not a Clifford+T gate" in result.reason


def without_one_t(text):
    """`text` with its first `t` line dropped."""
    lines = text.split("\n")
    i = next(i for i, line in enumerate(lines) if line.startswith("t "))
    return "\n".join(lines[:i] + lines[i + 1:])


def prove(text, method):
    out, stats = kestrel.optimize_qasm(text, method=method, phase=True)
    result = check(text, out, phase=stats["phase"])
    if result.verdict == "equivalent":
        # The checker can fail on this very program: a one-T mutant.
        assert check(text, without_one_t(out)).verdict == "not equivalent"
    return result


@pytest.mark.parametrize("method", ["rotation-merging", "phase-polynomial"])
@pytest.mark.parametrize("name", [pytest.param(name, marks=[pytest.mark.slow] * (name in LARGE))
                                  for name in sorted(PROGRAMS, key=lambda n: n in LARGE)
                                  if name not in UNCHECKED])
def test_tcount_results_are_proved(name, method):
    result = prove(program_text(PROGRAMS[name]), method)
    assert result.verdict == "equivalent", result


def toffoli_network(qubits, gates, seed):
    """A seeded random network of x, cx and ccx gates (Qiskit's), written by Qiskit in Clifford+T."""
    rng = random.Random(seed)
    qc = QuantumCircuit(qubits)
    for _ in range(gates):
        k = rng.choice([1, 2, 3, 3, 3])
        [qc.x, qc.cx, qc.ccx][k - 1](*rng.sample(range(qubits), k))
    return transpile(qc, basis_gates=["h", "t", "tdg", "s", "sdg", "z", "x", "cx"], optimization_level=0)


@pytest.mark.parametrize("method", ["rotation-merging", "phase-polynomial"])
@pytest.mark.parametrize("seed", range(4))
def test_toffoli_networks_of_40_qubits_are_proved(seed, method):
    text = qasm2.dumps(toffoli_network(40, 200, seed))
    assert prove(text, method).verdict == "equivalent"


def test_reads_gates_through_their_definitions():
    text = ('OPENQASM 2.0;\ninclude "qelib1.inc";\ngate twice a, b, c { ccx a, b, c; t b; }\n'
            "qreg q[3];\nh q[0];\ntwice q[0], q[1], q[2];\n")
    expanded = read(text).decompose(gates_to_decompose=["twice"])
    assert check(text, expanded).verdict == "equivalent"
