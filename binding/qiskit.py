"""kestrel inside Qiskit: a transpiler pass and an optimization-stage plugin.

`KestrelOptimize` runs one of kestrel's methods on a `DAGCircuit` and edits
it in place: it walks the DAG once, hands kestrel each operation as a gate
code and its qubits, removes or replaces the operations kestrel names, and
adds the exact global phase kestrel reports to `global_phase`, so that the
result's `Operator` equals the input's, phase included:

    >>> from qiskit import QuantumCircuit
    >>> from qiskit.transpiler import PassManager
    >>> qc = QuantumCircuit(2)
    >>> _ = qc.t(1); _ = qc.cx(0, 1); _ = qc.t(1); _ = qc.cx(0, 1); _ = qc.t(1)
    >>> PassManager(KestrelOptimize()).run(qc).count_ops()["t"]
    1

kestrel reads h, s, sdg, t, tdg, x, y, z, sx, sxdg, id, cx, cy, cz and swap
as Qiskit's standard gates. Any other gate (ccx, ch, cswap, a library block,
a custom gate) is first written as its definition, again and again, down to
those gates; one whose definition holds something else (a rotation whose
angle is an unbound parameter) is left whole, and the pass names it in
`property_set["kestrel_left_whole"]` ({name: count}) and the unbound
parameters in `property_set["kestrel_unbound_parameters"]` (sorted names).
What is left whole and every other operation (measure, reset, barrier,
delay, control flow) is a boundary on its qubits and stays as it was and
where it was, as do registers, `name`, `metadata` and layouts. kestrel
removes operations and replaces one-qubit gates with h, s, sdg, t, tdg, x
and z on the same qubit; it never moves or adds a two-qubit gate.

A circuit with bound angles (rz, cp, u, ...) goes to rotation merging as
its OpenQASM 2.0 text, so that its rotations of any angle merge too; the
result is a new DAG whose gates stand on the qubits of the gates they came
from. The phase-polynomial method always takes that route: it rewrites
blocks of the circuit, cx gates included.

`KestrelStage` is the stage plugin registered as `kestrel` under the entry
point group `qiskit.transpiler.optimization`, for
`transpile(circuit, optimization_method="kestrel", optimization_level=L)`.

Importing this module imports Qiskit; `import kestrel` alone does not.
"""

from __future__ import annotations

import functools
import itertools
import math
from array import array
from typing import Literal

from qiskit import qasm2
from qiskit.circuit import ControlFlowOp, Gate, ParameterExpression, QuantumCircuit
from qiskit.circuit.equivalence_library import SessionEquivalenceLibrary
from qiskit.circuit.library import (CXGate, CYGate, CZGate, HGate, SdgGate, SGate, SwapGate,
                                    TdgGate, TGate, XGate, ZGate)
from qiskit.converters import circuit_to_dag, dag_to_circuit
from qiskit.dagcircuit import DAGCircuit, DAGOpNode
from qiskit.passmanager.base_tasks import Task
from qiskit.passmanager.flow_controllers import DoWhileController
from qiskit.transpiler import PassManager, PassManagerConfig
from qiskit.transpiler.basepasses import TransformationPass
from qiskit.transpiler.passes import BasisTranslator, FixedPoint, InverseCancellation, Size
from qiskit.transpiler.preset_passmanagers.plugin import (PassManagerStagePlugin,
                                                         PassManagerStagePluginManager)

from qiskit.qasm2 import QASM2ExportError

import kestrel

__all__ = ["KestrelOptimize", "KestrelStage", "Method"]

Method = Literal["rotation-merging", "normal-form", "saturation", "phase-polynomial"]

# The gate codes kestrel takes: its library gates without parameters, by name.
_CODES: dict[str, int] = kestrel._gate_codes
# The gates kestrel writes, by code.
_WRITTEN: dict[int, Gate] = {
    _CODES[gate.name]: gate
    for gate in (HGate(), SGate(), SdgGate(), TGate(), TdgGate(), XGate(), ZGate())
}
# The gates kestrel writes; a target lacking one gets the result translated.
# Rotation merging writes a rotation of any angle as rz, rx or ry.
WRITTEN_GATES = frozenset(gate.name for gate in _WRITTEN.values()) | {"rz", "rx", "ry"}


class KestrelOptimize(TransformationPass):
    """Lowers the T count of a circuit with one of kestrel's methods.

    method: "rotation-merging" (the default: the T gates of the whole circuit
    merged as pi/8 Pauli rotations across its Clifford gates), "normal-form"
    (every qubit's runs of one-qubit gates in T-optimal normal form) or
    "saturation" (every qubit's runs by equality saturation with the gate
    identities, within iter_limit, node_limit and time_limit), or
    "phase-polynomial" (rotation merging, then blocks of commuting rotations
    rewritten with fewer T gates: new cx gates on any pair of qubits, so not
    for a routed circuit). time_limit bounds the whole pass; with rotation
    merging, T gates reached after it stay as they are.

    The phase-polynomial method rewrites more than single gates: the circuit
    goes to kestrel as OpenQASM 2.0 text and comes back as a new DAG on the
    same qubits and bits. A circuit that text cannot carry (control flow,
    bits outside registers, registers out of the bits' order, an operation
    OpenQASM 2.0 cannot write) gets rotation merging instead.

    The result equals the input exactly: kestrel's global phase is added to
    the DAG's. Raises ValueError for an unknown method or a bad limit when
    made, and for a circuit too large for rotation merging when run.

    With epsilon (rotation-merging and phase-polynomial only), the circuit
    goes through the text and comes back in Clifford+T: every rotation left
    after merging is replaced by h, s, sdg, t, tdg, x, y, z gates within
    operator-norm distance epsilon of it up to a global phase, every other
    gate written as h, s, sdg, t, tdg, x, y, z, cx and cz; the result then
    equals the input within `property_set["kestrel_synthesis_error"]` (the
    distances summed), the global phase included. A circuit the text cannot
    carry, or with unbound parameters, raises ValueError then.
    """

    def __init__(self, method: Method = "rotation-merging", *, iter_limit: int = 30,
                 node_limit: int = 10000, time_limit: float = 5.0,
                 epsilon: float | None = None) -> None:
        super().__init__()
        self.method = method
        self.iter_limit = iter_limit
        self.node_limit = node_limit
        self.time_limit = time_limit
        self.epsilon = epsilon
        self._optimize(b"", b"", 0)  # the options checked now, as kestrel checks them
        if epsilon is not None:
            kestrel.optimize_qasm("", method=method, epsilon=epsilon)

    def _optimize(self, gates: bytes, qubits: bytes, width: int) -> tuple[list[tuple[int, bytes]], int]:
        method = "rotation-merging" if self.method == "phase-polynomial" else self.method
        return kestrel._optimize_gates(gates, qubits, width, method=method,
                                       iter_limit=self.iter_limit, node_limit=self.node_limit,
                                       time_limit=self.time_limit)

    def run(self, dag: DAGCircuit) -> DAGCircuit:
        """Optimises `dag` in place and returns it (a new DAG with the
        phase-polynomial method, unless rotation merging stands in, and
        with rotation merging on a circuit with rotations of any angle)."""
        unbound = _unbound_parameters(dag)
        self.property_set["kestrel_unbound_parameters"] = unbound
        if self.epsilon is not None:
            written = None if unbound else self._through_text(dag)
            if written is None:
                raise ValueError("KestrelOptimize with epsilon needs a circuit that OpenQASM 2.0 "
                                 "can write, with every parameter bound")
            self.property_set["kestrel_left_whole"] = {}
            return written
        if self.method == "phase-polynomial" or (
                self.method == "rotation-merging" and not unbound and _has_angles(dag)):
            written = self._through_text(dag)
            if written is not None:
                self.property_set["kestrel_left_whole"] = {}
                return written
        self.property_set["kestrel_left_whole"] = _decompose_unread(dag)
        index = {bit: k for k, bit in enumerate(dag.qubits)}
        nodes = list(dag.topological_op_nodes())
        # A custom gate may share a standard gate's name: it is a boundary.
        codes = bytes([_CODES.get(node.name, 0) if node.is_standard_gate() else 0
                       for node in nodes])
        qargs = [node.qargs for node in nodes]
        if 0 in codes:
            # A boundary gives its number of qubits first; one on no qubit
            # is left out, as nothing could move past it.
            kept = [k for k, q in enumerate(qargs) if q]
            words: list[int] = []
            for k in kept:
                if codes[k] == 0:
                    words.append(len(qargs[k]))
                words.extend([index[q] for q in qargs[k]])
            nodes = [nodes[k] for k in kept]
            codes = bytes([codes[k] for k in kept])
            qubits = array("I", words)
        else:
            qubits = array("I", map(index.__getitem__, itertools.chain.from_iterable(qargs)))
        if not codes:
            return dag
        edits, phase = self._optimize(bytes(codes), qubits.tobytes(), len(dag.qubits))
        for position, replacement in edits:
            node = nodes[position]
            if not replacement:
                dag.remove_op_node(node)
            elif len(replacement) == 1:
                dag.substitute_node(node, _WRITTEN[replacement[0]])
            else:
                dag.substitute_node_with_dag(node, _one_qubit_dag(replacement))
        if phase:
            dag.global_phase += phase * math.pi / 8
        return dag


    def _through_text(self, dag: DAGCircuit) -> DAGCircuit | None:
        """`dag` through the method as OpenQASM 2.0 text, or None when the
        text cannot carry it."""
        circuit = dag_to_circuit(dag, copy_operations=False)
        if (list(itertools.chain.from_iterable(circuit.qregs)) != circuit.qubits
                or list(itertools.chain.from_iterable(circuit.cregs)) != circuit.clbits
                or any(isinstance(i.operation, ControlFlowOp) for i in circuit.data)
                or isinstance(dag.global_phase, ParameterExpression)
                or _misnamed(circuit)):
            return None
        try:
            text = qasm2.dumps(circuit)
        except QASM2ExportError:
            return None
        out, stats = kestrel.optimize_qasm(text, method=self.method, phase=True,
                                           time_limit=self.time_limit, epsilon=self.epsilon)
        if "synthesis_error" in stats:
            self.property_set["kestrel_synthesis_error"] = stats["synthesis_error"]
        written = qasm2.loads(out, custom_instructions=qasm2.LEGACY_CUSTOM_INSTRUCTIONS)
        result = dag.copy_empty_like()
        for instruction in written.data:
            result.apply_operation_back(
                instruction.operation,
                tuple(dag.qubits[written.find_bit(q).index] for q in instruction.qubits),
                tuple(dag.clbits[written.find_bit(c).index] for c in instruction.clbits),
                check=False)
        phase = (stats["phase"] * math.pi / 8 if "phase" in stats else stats["phase_radians"])
        result.global_phase = dag.global_phase + phase
        return result


# What qasm2.dumps writes by its name alone, as the standard gate of that
# name: a gate of another kind under such a name (a custom gate called
# "h") comes back from the text as the standard one.
_NAMED_BY_STANDARD = {c.name: c.constructor for c in qasm2.LEGACY_CUSTOM_INSTRUCTIONS}


def _misnamed(circuit: QuantumCircuit) -> bool:
    """Whether `circuit`, or a definition it writes out, holds a gate under
    a standard gate's name that is not that gate."""
    stack, seen = [circuit], set()
    while stack:
        for instruction in stack.pop().data:
            operation = instruction.operation
            standard = _NAMED_BY_STANDARD.get(operation.name)
            if standard is not None:
                if not isinstance(operation, standard):
                    return True
                continue
            definition = getattr(operation, "definition", None)
            if isinstance(operation, Gate) and definition is not None and id(definition) not in seen:
                seen.add(id(definition))
                stack.append(definition)
    return False


def _unbound_parameters(dag: DAGCircuit) -> list[str]:
    """The names of the parameters left unbound in `dag`'s operations, sorted."""
    names: set[str] = set()
    for node in dag.op_nodes():
        for param in getattr(node.op, "params", ()):
            if isinstance(param, ParameterExpression):
                names.update(p.name for p in param.parameters)
    return sorted(names)


def _has_angles(dag: DAGCircuit) -> bool:
    """Whether `dag` holds a standard gate with angles, which only the
    OpenQASM text carries to kestrel."""
    return any(node.is_standard_gate() and node.op.params for node in dag.op_nodes())


# Rounds of definitions a gate is written through at most.
_MAX_DEFINITION_DEPTH = 16


# The gates kestrel sees through in a gate list: others it takes as boundaries.
_READ = frozenset({"h", "s", "sdg", "t", "tdg", "x", "y", "z", "sx", "sxdg", "id", "cx", "cy",
                   "cz", "swap"})


def _read(instruction) -> bool:
    """Whether kestrel reads the operation as a gate."""
    return instruction.is_standard_gate() and instruction.name in _READ


def _decompose_unread(dag: DAGCircuit) -> dict[str, int]:
    """Writes every gate kestrel does not read as its definition, down to
    gates it reads, in place; returns the gates left whole, by name."""
    left: dict[str, int] = {}
    written: dict[tuple, DAGCircuit | None] = {}  # per gate and angles
    for node in dag.op_nodes():
        op = node.op
        if _read(node) or not isinstance(op, Gate) or isinstance(op, ControlFlowOp):
            continue
        # Standard gates with numeric angles are written out once each.
        key = None
        if node.is_standard_gate() and all(isinstance(p, (int, float)) for p in op.params):
            key = (op.name, op.num_qubits, tuple(op.params))
        if key is None or key not in written:
            flat = _definition_in_read_gates(op)
            out = None if flat is None else circuit_to_dag(flat)
            if key is not None:
                written[key] = out
        else:
            out = written[key]
        if out is None:
            left[op.name] = left.get(op.name, 0) + 1
        else:
            dag.substitute_node_with_dag(node, out)
    return left


def _definition_in_read_gates(gate: Gate) -> QuantumCircuit | None:
    """`gate` written through its definitions as gates kestrel reads, with
    their global phase, or None when one of them holds anything else."""
    circuit = QuantumCircuit(gate.num_qubits)
    circuit.append(gate, range(gate.num_qubits))
    for _ in range(_MAX_DEFINITION_DEPTH):
        unread = [i.operation for i in circuit.data if not _read(i)]
        if not unread:
            return circuit
        # A rotation by an angle stays one: no definition makes it read.
        if any(not isinstance(op, Gate) or op.definition is None or
               (op.params and getattr(op, "_standard_gate", None) is not None)
               for op in unread):
            return None
        circuit = circuit.decompose(gates_to_decompose=sorted({op.name for op in unread}))
    return None


@functools.lru_cache(maxsize=256)
def _one_qubit_dag(codes: bytes) -> DAGCircuit:
    """The gates of `codes`, first to last, as a one-qubit DAG (read, never changed)."""
    circuit = QuantumCircuit(1)
    for code in codes:
        circuit.append(_WRITTEN[code], [0])
    return circuit_to_dag(circuit)


class KestrelStage(PassManagerStagePlugin):
    """The optimization stage `kestrel`.

    Level 0 does nothing. Level 1 merges rotations over the whole circuit.
    Level 2 then puts every qubit's runs of one-qubit gates in T-optimal
    normal form. Level 3 repeats rotation merging, the normal form and the
    cancellation of adjacent inverse pairs (cx, cy, cz, swap) while the
    circuit keeps shrinking. kestrel writes h, s, sdg, t, tdg, x and z: on a
    target or basis that lacks any of them but has t and tdg, the stage ends
    with Qiskit's basis translation back into it. A target or basis without
    t or tdg cannot hold a T gate for kestrel to merge (the translation stage
    has already turned them into rotations), so there the stage is Qiskit's
    own default optimization stage at the same level.

    `KestrelStage(epsilon=E).pass_manager(config, level)` (the entry point
    makes it without): at level 1 and above the first round is
    `KestrelOptimize("rotation-merging", epsilon=E)`, which leaves the
    circuit in Clifford+T with every two-qubit gate on the qubits of the
    gate it came from (so a routed circuit stays routed), whatever the
    target's rotations.
    """

    def __init__(self, epsilon: float | None = None) -> None:
        super().__init__()
        self.epsilon = epsilon

    def pass_manager(self, pass_manager_config: PassManagerConfig,
                     optimization_level: int | None = None) -> PassManager:
        level = 2 if optimization_level is None else optimization_level
        if level > 0 and self.epsilon is None and not _holds_t(pass_manager_config):
            return PassManagerStagePluginManager().get_passmanager_stage(
                "optimization", "default", pass_manager_config, level)
        manager = PassManager()
        if level <= 0:
            return manager
        rounds: list[Task] = [KestrelOptimize("rotation-merging") if self.epsilon is None else
                              KestrelOptimize("rotation-merging", epsilon=self.epsilon)]
        if level >= 2:
            rounds.append(KestrelOptimize("normal-form"))
        if level >= 3:
            # Each round lowers the T count or, at the same T count, the size:
            # the loop ends.
            rounds += [InverseCancellation([CXGate(), CYGate(), CZGate(), SwapGate()]),
                       Size(), FixedPoint("size")]
            manager.append(DoWhileController(
                rounds, do_while=lambda property_set: not property_set["size_fixed_point"]))
        else:
            manager.append(rounds)
        basis = _basis(pass_manager_config)
        if basis is not None:
            manager.append(BasisTranslator(SessionEquivalenceLibrary, basis,
                                           pass_manager_config.target))
        return manager


def _holds_t(config: PassManagerConfig) -> bool:
    """Whether the target or basis (if any) has both t and tdg."""
    if config.target is not None:
        return all(config.target.instruction_supported(name) for name in ("t", "tdg"))
    return config.basis_gates is None or {"t", "tdg"} <= set(config.basis_gates)


def _basis(config: PassManagerConfig) -> list[str] | None:
    """The gates of the target or basis when it lacks one that kestrel writes, else None.

    The target that transpile makes when given neither a backend nor basis
    gates supports every gate."""
    target = config.target
    if target is not None:
        lacking = not all(target.instruction_supported(name) for name in WRITTEN_GATES)
        return sorted(target.operation_names) if lacking else None
    if config.basis_gates is not None and not WRITTEN_GATES <= set(config.basis_gates):
        return list(config.basis_gates)
    return None
