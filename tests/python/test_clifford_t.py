"""Programs with angles written in Clifford+T with `epsilon`, checked by Qiskit.

The output must hold only h, s, sdg, t, tdg, x, y, z, cx and cz (besides what is no gate), with the phase-polynomial
method no more two-qubit gates than the input, and its operator must lie within `synthesis_error` of the input's, both
up to the best global phase and with the phase reported (`phase_radians`). The distance up to a phase is computed from
the eigenvalues of A^dagger B: for unitaries, min over p of ||A - e^(ip) B|| is 2 sin(w/4), w the shortest arc holding
all eigenphases.
"""

import math

import numpy as np
import pytest
from qiskit import QuantumCircuit, qasm2
from qiskit.circuit.random import random_circuit
from qiskit.quantum_info import Operator
from qiskit.transpiler import PassManager, PassManagerConfig

import kestrel
from conftest import EXAMPLES, program
from kestrel.qiskit import KestrelOptimize, KestrelStage
from model import INVERSE
from programs import load, pairs

ANGLES = EXAMPLES / "angles"
CLIFFORD_T = {"h", "s", "sdg", "t", "tdg", "x", "y", "z", "cx", "cz"}
# Float64 products of thousands of gates: what the operators may differ by
# beyond the exact bound.
ROUNDING = 1e-11


def up_to_phase(a: np.ndarray, b: np.ndarray) -> float:
    """min over p of the spectral norm of a - e^(ip) b, for unitaries a and b."""
    phases = np.sort(np.angle(np.linalg.eigvals(a.conj().T @ b)))
    gaps = np.diff(np.concatenate([phases, [phases[0] + 2 * math.pi]]))
    return 2 * math.sin((2 * math.pi - gaps.max()) / 4)


def check_written(text: str, method: str, epsilon: float) -> dict:
    """Runs the method with `epsilon` and checks its output against `text`."""
    out, stats = kestrel.optimize_qasm(text, method=method, epsilon=epsilon, phase=True)
    names = {i.operation.name for i in load(out).data}
    assert names <= CLIFFORD_T | {"measure", "reset", "barrier"}, names - CLIFFORD_T
    assert stats["rotations_after"] == 0
    a, b = Operator(load(text)).data, Operator(load(out)).data
    bound = stats["synthesis_error"] + ROUNDING
    assert up_to_phase(a, b) <= bound
    assert np.linalg.norm(a - np.exp(1j * stats["phase_radians"]) * b, 2) <= bound
    return stats


# The shared programs with angles of at most 10 qubits, by method and precision.
@pytest.mark.parametrize("name, method, epsilon", [
    ("qft_4", "rotation-merging", 1e-10),
    ("qft_8", "phase-polynomial", 1e-10),
    ("qpe_6", "phase-polynomial", 1e-6),
    ("random_6_d20", "phase-polynomial", 1e-10),
    ("random_6_d20", "rotation-merging", 1e-3),
    ("xxz_6_trotter4", "phase-polynomial", 1e-10),
    ("qaoa_maxcut_8_p3", "rotation-merging", 1e-6),
    ("draper_adder_4", "phase-polynomial", 1e-3),
])
def test_angle_programs_within_the_reported_error(name, method, epsilon):
    text = (ANGLES / f"{name}.qasm").read_text()
    stats = check_written(text, method, epsilon)
    assert stats["t_after"] > 0
    if method == "phase-polynomial":
        assert stats["two_qubit_after"] <= stats["two_qubit_before"]


# Qiskit's random circuits use u, u1, u2, u3, cu1, cu3, crz, rzz, swap, ccx,
# cswap and gates written as definitions in the text (rzx, ecr, ...): every
# kind of statement expanded before synthesis.
@pytest.mark.parametrize("seed", [3, 11, 29, 47, 58])
@pytest.mark.parametrize("method", ["rotation-merging", "phase-polynomial"])
def test_random_programs_within_the_reported_error(seed, method):
    circuit = random_circuit(4, 6, max_operands=3, seed=seed)
    check_written(qasm2.dumps(circuit), method, 1e-8)


def test_a_sum_near_zero_is_kept_below_the_default_tolerance():
    # The two rotations on q[0] merge to rz(7.3e-10), which the default
    # tolerance (1e-9) takes for no rotation at all; it is synthesised only at
    # an epsilon below that. The lone rz(7.3e-10) is kept at any epsilon.
    text = program(2, "rz(0.3) q[0];", "rz(-0.29999999926999998) q[0];", "rz(7.3e-10) q[1];")
    assert kestrel.optimize_qasm(text, method="rotation-merging")[1]["t_after"] == 0
    stats = check_written(text, "rotation-merging", 1e-11)
    assert stats["rotations_synthesised"] == 2 and stats["t_after"] > 0
    assert stats["synthesis_error"] <= 2e-11  # each rotation within epsilon
    assert check_written(text, "rotation-merging", 1e-3)["rotations_synthesised"] == 1


def lines_on(out: str, qubit: int) -> list[str]:
    return [line.split()[0] for line in out.splitlines() if line.endswith(f" q[{qubit}];")]


def test_one_angle_is_synthesised_once():
    # rz(-0.25) is rz(0.25) inverted, and rz(0.25 + pi/2) is rz(0.25) and an
    # s (0.25 + pi/2 - pi/2 is 0.25 exactly in doubles, unlike 0.3).
    text = program(4, "rz(0.25) q[0];", "rz(0.25) q[1];", "rz(-0.25) q[2];", "rz(0.25+pi/2) q[3];")
    out, stats = kestrel.optimize_qasm(text, method="rotation-merging", epsilon=1e-6)
    assert stats["synthesised_angles"] == 1 and stats["rotations_synthesised"] == 4
    gates, t_count = kestrel.synthesize_rz(0.25, 1e-6)
    assert lines_on(out, 0) == lines_on(out, 1) == gates
    assert lines_on(out, 2) == [INVERSE[g] for g in reversed(gates)]
    assert lines_on(out, 3) == ["s"] + gates
    assert stats["t_after"] == 4 * t_count


# The bounds are synthesize_rz's (test_synthesis.py): here, that the
# argument of optimize_qasm is checked at all, its type converted, that it
# belongs to the whole-program methods, and that None is the default.
@pytest.mark.parametrize("method, epsilon, error", [
    ("phase-polynomial", math.nan, ValueError), ("rotation-merging", "0.1", TypeError),
    ("saturation", 1e-3, ValueError), ("normal-form", 1e-3, ValueError)])
def test_bad_epsilons_are_refused(method, epsilon, error):
    text = (ANGLES / "qft_4.qasm").read_text()
    with pytest.raises(error, match="epsilon applies to method" if epsilon == 1e-3 else "epsilon"):
        kestrel.optimize_qasm(text, method=method, epsilon=epsilon)
    assert kestrel.optimize_qasm(text, method=method, epsilon=None) == kestrel.optimize_qasm(text, method=method)


def test_the_qiskit_pass_and_stage_write_clifford_t_within_the_error():
    qc = QuantumCircuit(3, global_phase=0.6)
    qc.h(0); qc.rz(0.3, 0); qc.cx(0, 1); qc.rx(-1.1, 1); qc.ry(0.7, 2)
    qc.cp(0.4, 1, 2); qc.u(0.2, 0.5, -0.9, 0); qc.rzz(0.25, 1, 2); qc.t(1)
    manager = PassManager(KestrelOptimize("phase-polynomial", epsilon=1e-8))
    out = manager.run(qc)
    error = manager.property_set["kestrel_synthesis_error"]
    assert set(out.count_ops()) <= CLIFFORD_T and 0 < error < 1e-6
    # The global phase is kept: no phase freedom in the comparison.
    assert np.linalg.norm(Operator(qc).data - Operator(out).data, 2) <= error + ROUNDING
    out = KestrelStage(epsilon=1e-8).pass_manager(PassManagerConfig(), 3).run(qc)
    assert set(out.count_ops()) <= CLIFFORD_T
    assert up_to_phase(Operator(qc).data, Operator(out).data) <= 1e-6
    assert pairs(out) == pairs(qc)  # routed stays routed
