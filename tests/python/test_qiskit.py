"""kestrel.qiskit, the transpiler pass and the optimization stage, against Qiskit's own Operator, global phase included.

Every method must return a circuit whose Operator equals the input's exactly: on the repository's QASMBench and T-count
programs of at most 10 qubits, and on random circuits of Clifford+T gates mixed with barriers and parameterised gates.
Circuits with mid-circuit measurements, resets, conditions or unbound parameters are compared after the same rewrite of
both sides (deferral, and the same random values bound). Everything that is no h, s, sdg, t, tdg, x or z gate must come
back unchanged and in order on every wire, with the circuit's name, metadata and registers, and the T count never grows.
The stage is found through the installed wheel's entry point and checked at every level, with and without a target or
basis gates. The exact phase that optimize_qasm(..., phase=True) reports is checked the same way.
"""

import math
import re
import subprocess
import sys

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st
from qiskit import QuantumCircuit, QuantumRegister, ClassicalRegister, qasm2, transpile
from qiskit.circuit import Gate, Parameter
from qiskit.circuit.library import CXGate
from qiskit.converters import circuit_to_dag, dag_to_circuit
from qiskit.providers.fake_provider import GenericBackendV2
from qiskit.quantum_info import Operator
from qiskit.transpiler import PassManager

import kestrel
from conftest import HEAD, qasm, scaled
from kestrel.qiskit import KestrelOptimize
from programs import deferred, load, pairs, program_name, program_paths, program_text, t_content

METHODS = ["rotation-merging", "normal-form", "saturation"]
RUN_GATES = {"h", "s", "sdg", "t", "tdg", "x", "z"}  # the gates kestrel removes and writes
CLIFFORD_T_BASIS = ["h", "s", "sdg", "t", "tdg", "x", "z", "cx"]


def small_programs(folders=("qasmbench", "tcount"), count=None, most_qubits=10):
    """The repository's programs of at most `most_qubits` qubits, as parameters (the text)."""
    out = []
    for name in folders:
        for path in program_paths(name):
            text = program_text(path)
            qubits = sum(int(n) for n in re.findall(r"^\s*qreg\s+\w+\s*\[\s*(\d+)\s*\]", text, re.M))
            if qubits <= most_qubits:
                out.append(pytest.param(text, id=f"{name}/{program_name(path)}"))
    return out[:count]


def optimized(circuit, method="rotation-merging", **limits):
    return PassManager(KestrelOptimize(method, **limits)).run(circuit)


def t_count(circuit):
    ops = circuit.count_ops()
    return ops.get("t", 0) + ops.get("tdg", 0)


def unitary_of(circuit):
    """The Operator of the circuit with final measurements removed and the others deferred."""
    return Operator(deferred(circuit.remove_final_measurements(inplace=False)))


def wires(circuit):
    """Per qubit and clbit, what acts on it that kestrel must keep: every
    operation but h, s, sdg, t, tdg, x and z, with its bits, in order."""
    out = {}
    for instruction in circuit.data:
        if instruction.operation.name in RUN_GATES:
            continue
        bits = tuple(circuit.find_bit(b).index for b in instruction.qubits), \
            tuple(circuit.find_bit(b).index for b in instruction.clbits)
        for bit in (*instruction.qubits, *instruction.clbits):
            out.setdefault(bit, []).append((instruction.operation, bits))
    return out


# The standard gates the pass reads; it writes any other gate as its
# definition where that ends in these.
READ = {"h", "s", "sdg", "t", "tdg", "x", "y", "z", "sx", "sxdg", "id", "cx", "cy", "cz", "swap"}


def written_out(circuit):
    """`circuit` with each gate the pass does not read replaced by Qiskit's
    decomposition of it, repeated, where that ends in gates it reads."""
    out = circuit.copy_empty_like()
    for instruction in circuit.data:
        op = instruction.operation
        replaced = None
        if isinstance(op, Gate) and not (instruction.is_standard_gate() and op.name in READ):
            single = QuantumCircuit(op.num_qubits)
            single.append(op, range(op.num_qubits))
            for _ in range(16):
                single = single.decompose()
                if all(i.is_standard_gate() and i.name in READ for i in single.data):
                    replaced = single
                    break
                if any(i.is_standard_gate() and i.operation.params for i in single.data):
                    break
        if replaced is None:
            out.append(instruction)
        else:
            out.compose(replaced, instruction.qubits, inplace=True)
    return out


def check_pass(circuit, result, method="rotation-merging"):
    """Everything the pass promises besides equality."""
    reference = written_out(circuit)
    assert (result.name, result.metadata, result.qregs, result.cregs) == \
        (circuit.name, circuit.metadata, circuit.qregs, circuit.cregs)
    # Rotation merging takes a circuit that holds a gate with an angle through OpenQASM 2.0 text.
    if method == "rotation-merging" and any(i.is_standard_gate() and i.operation.params for i in circuit.data):
        # Rotations of any angle merge through the text: gates stay on the
        # qubits of the gates they came from, no T gate is added but where
        # a sum of rotations lands on pi/4.
        assert pairs(result) <= pairs(circuit.decompose(reps=4)) | pairs(circuit)
        return
    assert wires(result) == wires(reference)
    assert t_count(result) <= t_count(reference)
    shift = (float(result.global_phase) - float(circuit.global_phase)) / (math.pi / 8)
    assert abs(shift - round(shift)) < 1e-9


@pytest.mark.parametrize("method", METHODS)
@pytest.mark.parametrize("text", small_programs())
def test_real_programs(text, method):
    circuit = load(text)
    result = optimized(circuit, method)
    check_pass(circuit, result, method)
    assert unitary_of(result) == unitary_of(circuit)


# ---------------------------------------------------------------------------
# Random circuits.

CLIFFORD_T = ["h", "s", "sdg", "t", "tdg", "x", "y", "z", "sx", "sxdg", "id"]
TWO_QUBIT = ["cx", "cy", "cz", "swap"]
CUSTOM = QuantumCircuit(2, name="g")
CUSTOM.cx(0, 1)
CUSTOM.t(1)
FAKE_H = QuantumCircuit(1, name="h")  # a custom gate named as a standard one
FAKE_H.x(0)
THETA = Parameter("theta")


def conditional_t(qc, a, b, c):
    with qc.if_test((qc.clbits[b % 2], 1)):
        qc.t(a)


# What each boundary puts on qubits a and b (and c, where there are three).
BOUNDARIES = {
    "barrier": lambda qc, a, b, c: qc.barrier([a, b]),
    "rz": lambda qc, a, b, c: qc.rz([0.3, math.pi / 4][b % 2], a),
    "u": lambda qc, a, b, c: qc.u(0.1, 0.2, 0.3, a),
    "ccx": lambda qc, a, b, c: c is not None and qc.ccx(a, b, c),
    "custom": lambda qc, a, b, c: qc.append(CUSTOM.to_gate(), [a, b]),
    "fake h": lambda qc, a, b, c: qc.append(FAKE_H.to_gate(), [a]),
    "cx0": lambda qc, a, b, c: qc.append(CXGate(ctrl_state=0), [a, b]),
    "measure": lambda qc, a, b, c: qc.measure(a, b % 2),
    "reset": lambda qc, a, b, c: qc.reset(a),
    "if": conditional_t,
    "param": lambda qc, a, b, c: qc.rz(THETA, a),
}


@st.composite
def circuits(draw, boundaries=("barrier", "rz", "u", "ccx", "custom", "cx0", "fake h"),
             most_qubits=6, most_boundaries=10):
    """Clifford+T circuits of 2 to `most_qubits` qubits with at most
    `most_boundaries` of the boundaries named mixed in."""
    n = draw(st.integers(2, most_qubits))
    qc = QuantumCircuit(QuantumRegister(n, "q"), ClassicalRegister(2, "c"), name="random",
                        metadata={"seed": draw(st.integers(0, 9))})
    qc.global_phase = draw(st.sampled_from([0.0, 0.25, math.pi / 8]))
    placed = 0
    for _ in range(draw(st.integers(0, 40))):
        order = draw(st.permutations(range(n)))
        a, b, c = order[0], order[1], order[2] if n > 2 else None
        kind = draw(st.integers(0, 9))
        if kind <= 5:
            getattr(qc, draw(st.sampled_from(CLIFFORD_T + ["t", "tdg"])))(a)
        elif kind <= 7:
            getattr(qc, draw(st.sampled_from(TWO_QUBIT)))(a, b)
        elif placed < most_boundaries:
            placed += 1
            BOUNDARIES[draw(st.sampled_from(boundaries))](qc, a, b, c)
    return qc


@settings(max_examples=scaled(120, 1200), deadline=None)
@given(circuit=st.one_of(circuits(), circuits(boundaries=("measure", "reset", "if", "param", "barrier"),
                                               most_qubits=4, most_boundaries=3)),
       method=st.sampled_from(METHODS), value=st.floats(-3, 3))
def test_random_circuits(circuit, method, value):
    result = optimized(circuit.copy(), method)
    check_pass(circuit, result, method)
    # Every measurement deferred on both sides: one that the result leaves
    # last on its qubit may not be last in the input.
    same = lambda c: Operator(deferred(c.assign_parameters({p: value for p in c.parameters})))
    assert same(result) == same(circuit)


# ---------------------------------------------------------------------------
# Through OpenQASM 2.0 text, and what cannot go that way. (The pass's gate
# list gives the text's edits: GateList.SameEditsAsTheText, C++; the
# phase-polynomial method on random programs: test_phase_polynomial.py; the
# circuits' way through text: the random circuits above, with angles.)

@pytest.mark.parametrize("method", ["rotation-merging", "phase-polynomial"])
@pytest.mark.parametrize("nested", [False, True])
def test_a_custom_gate_named_as_a_standard_one_does_not_go_through_text(method, nested):
    """qasm2.dumps writes a custom gate named h as `h`, the standard h."""
    qc = QuantumCircuit(1)
    qc.rz(0.3, 0)
    fake = FAKE_H.to_gate()  # an X gate
    if nested:
        outer = QuantumCircuit(1, name="outer")
        outer.append(fake, [0])
        fake = outer.to_gate()
    qc.append(fake, [0])
    qc.t(0)
    assert Operator(optimized(qc.copy(), method)) == Operator(qc)


def test_what_text_cannot_carry_gets_rotation_merging():
    """Control flow, and bits outside registers, do not go through text."""
    qc = QuantumCircuit(QuantumRegister(2, "q"), ClassicalRegister(1, "c"))
    qc.t(0); qc.cx(0, 1); qc.t(0); qc.measure(1, 0)
    with qc.if_test((qc.clbits[0], 1)):
        qc.x(0)
    loose = QuantumCircuit(2)
    loose.t(0); loose.cx(0, 1); loose.t(0)
    for circuit in (qc, loose):
        result = optimized(circuit.copy(), "phase-polynomial")
        assert result == optimized(circuit.copy())


def test_the_pass_edits_in_place_and_keeps_layouts():
    qc = load(HEAD + "qreg q[3];\n" + "t q[1];\ncx q[0],q[1];\n" * 2 + "t q[1];\n"
              + "t q[2];\n" * 2 + "tdg q[0];\n" * 3)
    dag = circuit_to_dag(qc)
    assert KestrelOptimize().run(dag) is dag
    # t(1) ... t(1) merge to s; t t becomes s; tdg tdg tdg becomes sdg tdg.
    assert t_count(dag_to_circuit(dag)) == 2
    # Through transpile, onto a line of three qubits with a Clifford+T basis:
    # the layout and routing stand, the optimised circuit fits them.
    backend = GenericBackendV2(3, basis_gates=CLIFFORD_T_BASIS, coupling_map=[[0, 1], [1, 2]], seed=1)
    result = transpile(qc, backend, optimization_method="kestrel", optimization_level=2, seed_transpiler=1)
    assert result.layout is not None and t_count(result) == 2
    assert Operator.from_circuit(result) == Operator(qc)


def test_nothing_to_do():
    # (The empty circuit: random circuits of no gate, drawn above.)
    measured = QuantumCircuit(1, 1)
    measured.measure(0, 0)
    assert optimized(measured.copy()) == measured


@pytest.mark.parametrize("args, kwargs, error, message", [
    (("fast",), {}, ValueError, "method must be"),
    (("saturation",), {"iter_limit": 0}, ValueError, "iter_limit must be a whole number of at least 1"),
    (("phase-polynomial",), {"time_limit": 0}, ValueError, "time_limit must be"),
    ((), {"time_limit": "1"}, TypeError, "time_limit must be a number of seconds"),
    (("normal-form",), {"epsilon": 1e-8}, ValueError, "epsilon applies to method"),
    (("phase-polynomial",), {"epsilon": 0.5}, ValueError, "epsilon must be"),
])
def test_options_are_checked_when_the_pass_is_made(args, kwargs, error, message):
    with pytest.raises(error, match=message):
        KestrelOptimize(*args, **kwargs)


# ---------------------------------------------------------------------------
# The private entry point the pass calls.

def codes(*names):
    return bytes(kestrel._gate_codes.get(n, 0) for n in names)


def words(*qubits):
    return np.array(qubits, dtype=np.uint32).tobytes()


@pytest.mark.parametrize("args, error, message", [
    # The list's own refusals, each with its message, are in gate_list_test.cpp.
    ((bytes([21]), words(0), 1), ValueError, "operation 0: expected the code of a library gate"),  # rz
    ((codes("h"), b"\0\0", 1), ValueError, "qubits must hold 32-bit integers"),
    (("h", words(0), 1), TypeError, "gates must be bytes"),
    ((codes("h"), words(0)), TypeError, "missing 1 required positional argument: 'width'"),
])
def test_gate_list_refusals(args, error, message):
    with pytest.raises(error, match=message):
        kestrel._optimize_gates(*args)


# ---------------------------------------------------------------------------
# The stage.

@pytest.mark.parametrize("level", [0, 1, 2, 3])
@pytest.mark.parametrize("basis", [None, CLIFFORD_T_BASIS + ["y", "measure"],
                                   ["h", "s", "t", "tdg", "x", "cx"], ["rz", "sx", "x", "cx"]],
                         ids=["any", "clifford+t", "no sdg or z", "no t"])
@pytest.mark.parametrize("text", small_programs(["tcount"], 3, most_qubits=7))
def test_transpile(text, basis, level):
    circuit = load(text)
    result = transpile(circuit, basis_gates=basis, optimization_method="kestrel",
                       optimization_level=level, seed_transpiler=3)
    assert Operator(result) == Operator(circuit)
    if basis is not None:
        assert set(result.count_ops()) <= set(basis)
    default = transpile(circuit, basis_gates=basis, optimization_level=level, seed_transpiler=3)
    if basis is not None and "t" not in basis:
        assert result == default  # left to Qiskit's own stage
    elif level == 0:
        assert t_count(result) == t_count(default)
    else:
        assert t_count(result) < t_count(circuit)
    if level >= 2 and basis is not None and "t" in basis:
        assert t_count(result) <= t_count(transpile(circuit, basis_gates=basis, optimization_method="kestrel",
                                                    optimization_level=1, seed_transpiler=3))


# ---------------------------------------------------------------------------
# optimize_qasm's phase.

@pytest.mark.parametrize("method, per_qubit", [
    ("rotation-merging", False), ("normal-form", True), ("saturation", True)])
@pytest.mark.parametrize("text", small_programs(["tcount"], 8, most_qubits=7))
def test_optimize_qasm_phase(text, method, per_qubit):
    out, stats = kestrel.optimize_qasm(text, method=method, per_qubit=per_qubit, phase=True)
    before, after = Operator(load(text)), Operator(load(out))
    assert before == np.exp(1j * math.pi * stats["phase"] / 8) * after
    assert kestrel.optimize_qasm(text, method=method, per_qubit=per_qubit)[1] == \
        {k: v for k, v in stats.items() if k != "phase"}


@settings(max_examples=scaled(100, 1000), deadline=None)
@given(gates=st.lists(st.sampled_from(sorted(RUN_GATES)), max_size=40))
def test_one_wire_phase(gates):
    text = qasm(*(f"{g} q[0];" for g in gates))
    for method in ("normal-form", "saturation"):
        out, stats = kestrel.optimize_qasm(text, method=method, phase=True)
        assert Operator(load(text)) == np.exp(1j * math.pi * stats["phase"] / 8) * Operator(load(out))


def test_import_kestrel_does_not_import_qiskit():
    done = subprocess.run([sys.executable, "-c", "import sys, kestrel\n"
                           "print(any(m.split('.')[0] == 'qiskit' for m in sys.modules))"],
                          capture_output=True, text=True, check=True)
    assert done.stdout == "False\n"


# Gates with definitions (Qiskit's library, nested) are written out as the
# gates the pass reads; an mcx, which has none, is left whole and named.
def test_the_pass_writes_out_what_it_cannot_read():
    from qiskit.circuit.library import MCXGate, ModularAdderGate
    qc, adder = QuantumCircuit(4), ModularAdderGate(2)
    qc.t(0); qc.append(adder, range(4)); qc.tdg(0); qc.append(adder.inverse(), range(4))
    qc.ccx(0, 1, 2); qc.ch(1, 3); qc.ccx(0, 1, 2); qc.cswap(3, 0, 1)
    qc.t(3); qc.append(MCXGate(3), [0, 1, 2, 3]); qc.ccx(0, 1, 3); qc.ccx(0, 1, 3)
    manager = PassManager(KestrelOptimize())
    out = manager.run(qc)
    assert manager.property_set["kestrel_left_whole"] == {"mcx": 1}
    assert Operator(out) == Operator(qc)  # exactly, global phase included
    assert set(out.count_ops()) <= RUN_GATES | {"cx", "cy", "cz", "swap", "mcx"}
    assert t_count(out) < t_content(qasm2.dumps(qc.decompose(reps=8)))
