"""The simplifiers the benchmark times, each as one pipeline from text to text.

A pipeline takes OpenQASM 2.0 text and returns the simplified circuit as text
together with the tool's own circuit object; the time of a run is the time of
the whole pipeline (read, simplify, write), as `kestrel.optimize_qasm` does it
in one call. Counting the gates of the result happens afterwards, untimed.

The result's T count is what each tool's output holds of T and T-dagger:
- kestrel, with either method: `t_after` of its statistics;
- Qiskit: `t` and `tdg` instructions; any instruction outside the Clifford+T
  names below counts as a general rotation;
- PyZX: `Circuit.tcount()`, the phase gates whose phase is an odd multiple
  of pi/4 (exactly a T up to Cliffords); other non-Clifford phases would count
  as rotations;
- quizx: its simplified graph is not turned back into a circuit (the
  extraction would take longer than the simplification); its T count is the
  spiders whose phase is an odd multiple of pi/4, as quizx counts them. (PyZX
  0.9's `tcount` of a graph also counts a phase of -pi/2, which quizx leaves
  unreduced, as a T);
- pytket: `T` and `Tdg` operations, plus, for a rotation gate (TK1, Rz, U3,
  ...), one per angle that is an odd multiple of a quarter turn of pi when
  every angle is a multiple of pi/4. A rotation with an angle that is no
  multiple of pi/4 is not a T gate at all: it counts as one general rotation,
  reported beside the T count, since a Clifford+T form of it is approximate
  and its T count is not something pytket reports.
"""

from __future__ import annotations

from fractions import Fraction
from typing import Any, Callable

# name -> (label in reports, description of the pipeline)
TOOLS = {
    "kestrel": ("kestrel", "kestrel.optimize_qasm"),
    "kestrel-nf": ("kestrel normal form", "kestrel.optimize_qasm(method=\"normal-form\")"),
    "qiskit-l3": ("Qiskit level 3",
                  "qiskit.qasm2.loads; transpile(optimization_level=3, basis_gates="
                  "[h, s, sdg, t, tdg, x, z]); qasm2.dumps"),
    "qiskit-1q": ("Qiskit 1q passes",
                  "qiskit.qasm2.loads; PassManager([InverseCancellation, "
                  "CommutativeCancellation, OptimizeCliffordT]); qasm2.dumps"),
    "pyzx": ("PyZX",
             "Circuit.from_qasm; to_graph; simplify.full_reduce; extract_circuit; "
             "optimize.basic_optimization; to_qasm"),
    "pytket": ("pytket",
               "qasm.circuit_from_qasm_str; FullPeepholeOptimise().apply; "
               "circuit_to_qasm_str"),
    # The circuits are in Clifford+T names already, which is what the pass
    # reads, so no translation runs before it.
    "qiskit-ct": ("Qiskit OptimizeCliffordT",
                  "qiskit.qasm2.loads; PassManager([OptimizeCliffordT]); qasm2.dumps"),
}
PEERS = ["qiskit-l3", "qiskit-1q", "pyzx", "pytket", "qiskit-ct"]

# The per-qubit mode and the peer it is set beside, on whole programs.
PER_QUBIT_TOOLS = {
    "kestrel-pq": ("kestrel per-qubit, normal form",
                   "kestrel.optimize_qasm(per_qubit=True, method=\"normal-form\")"),
    "qiskit-ct": ("Qiskit OptimizeCliffordT",
                  "qiskit.qasm2.loads; PassManager([OptimizeCliffordT()]); qasm2.dumps"),
}

# The options of kestrel's whole-program T-count method.
ROTATION_MERGING: dict[str, Any] = {"method": "rotation-merging"}

# The rotation-merging suite's tools, on whole programs.
ROTATION_MERGING_TOOLS = {
    "kestrel-rm": ("kestrel",
                   "kestrel.optimize_qasm(" +
                   ", ".join(f"{k}={v!r}" for k, v in ROTATION_MERGING.items()) + ")"),
    "pyzx-tr": ("PyZX teleport_reduce",
                "Circuit.from_qasm; to_graph; simplify.teleport_reduce; Circuit.from_graph; "
                "to_basic_gates; to_qasm"),
    "quizx": ("quizx full_simp", "quizx.qasm; full_simp (the graph, not extracted)"),
}

CLIFFORD_T_BASIS = ["h", "s", "sdg", "t", "tdg", "x", "z"]
QISKIT_CLIFFORD = {"h", "s", "sdg", "x", "y", "z", "sx", "sxdg", "id", "cx", "barrier",
                   "measure"}

Pipeline = Callable[[str], tuple[str, Any]]


# The distribution that provides each tool (kestrel's is kestrel-tcount).
KESTREL = "kestrel-tcount"
DISTRIBUTION = {"kestrel": KESTREL, "kestrel-nf": KESTREL, "kestrel-pq": KESTREL,
                "qiskit-l3": "qiskit", "qiskit-1q": "qiskit", "pyzx": "pyzx", "pytket": "pytket",
                "qiskit-ct": "qiskit", "kestrel-rm": KESTREL, "pyzx-tr": "pyzx",
                "quizx": "quizx"}
# The tools whose T counts are not counted by the function of their first word.
COUNTER = {"kestrel-pq": "kestrel_program", "kestrel-rm": "kestrel_program"}


def version(name: str) -> str:
    from importlib.metadata import version as dist_version
    return dist_version(DISTRIBUTION[name])


def available(name: str) -> bool:
    try:
        version(name)
    except Exception:
        return False
    return True


def pipeline(name: str) -> Pipeline:
    """Imports the tool and returns its pipeline."""
    return globals()["_" + name.replace("-", "_")]()


def counts(name: str, result: Any) -> dict[str, int]:
    """{"t_after": T gates of the result, "rotations": general rotations}, and
    for kestrel on whole programs also "t_before"."""
    key = COUNTER.get(name, name.split("-")[0])
    return globals()["_count_" + key](result)


def _kestrel() -> Pipeline:
    import kestrel

    def run(text: str) -> tuple[str, Any]:
        output, stats = kestrel.optimize_qasm(text)
        return output, stats

    return run


def _kestrel_nf() -> Pipeline:
    import kestrel

    def run(text: str) -> tuple[str, Any]:
        output, stats = kestrel.optimize_qasm(text, method="normal-form")
        return output, stats

    return run


def _count_kestrel_program(stats: dict[str, int]) -> dict[str, int]:
    return {"t_before": stats["t_before"], "t_after": stats["t_after"], "rotations": 0,
            "gates_before": stats["gates_before"]}


def _count_kestrel(stats: dict[str, int]) -> dict[str, int]:
    return {"t_after": stats["t_after"], "rotations": 0}


def _kestrel_pq() -> Pipeline:
    import kestrel

    def run(text: str) -> tuple[str, Any]:
        return kestrel.optimize_qasm(text, per_qubit=True, method="normal-form")

    return run


def _kestrel_rm() -> Pipeline:
    import kestrel

    def run(text: str) -> tuple[str, Any]:
        return kestrel.optimize_qasm(text, **ROTATION_MERGING)

    return run


def _qiskit_ct() -> Pipeline:
    import qiskit.qasm2
    from qiskit.transpiler import PassManager
    from qiskit.transpiler.passes import OptimizeCliffordT

    def run(text: str) -> tuple[str, Any]:
        circuit = qiskit.qasm2.loads(text)
        out = PassManager([OptimizeCliffordT()]).run(circuit)
        return qiskit.qasm2.dumps(out), out

    return run


def _qiskit_l3() -> Pipeline:
    import qiskit.qasm2
    from qiskit import transpile

    def run(text: str) -> tuple[str, Any]:
        circuit = qiskit.qasm2.loads(text)
        out = transpile(circuit, basis_gates=CLIFFORD_T_BASIS, optimization_level=3,
                        seed_transpiler=0)
        return qiskit.qasm2.dumps(out), out

    return run


def _qiskit_1q() -> Pipeline:
    import qiskit.qasm2
    from qiskit.circuit.library import HGate, SdgGate, SGate, TdgGate, TGate, XGate, ZGate
    from qiskit.transpiler import PassManager
    from qiskit.transpiler.passes import (CommutativeCancellation, InverseCancellation,
                                          OptimizeCliffordT)

    def run(text: str) -> tuple[str, Any]:
        circuit = qiskit.qasm2.loads(text)
        manager = PassManager([
            InverseCancellation([(TGate(), TdgGate()), (SGate(), SdgGate()), HGate(), XGate(),
                                 ZGate()]),
            CommutativeCancellation(basis_gates=CLIFFORD_T_BASIS),
            OptimizeCliffordT(),
        ])
        out = manager.run(circuit)
        return qiskit.qasm2.dumps(out), out

    return run


def _count_qiskit(circuit: Any) -> dict[str, int]:
    ops = circuit.count_ops()
    t = ops.get("t", 0) + ops.get("tdg", 0)
    other = sum(n for op, n in ops.items() if op not in QISKIT_CLIFFORD | {"t", "tdg"})
    return {"t_after": t, "rotations": other}


def _pyzx() -> Pipeline:
    import pyzx as zx

    def run(text: str) -> tuple[str, Any]:
        graph = zx.Circuit.from_qasm(text).to_graph()
        zx.simplify.full_reduce(graph, quiet=True)
        out = zx.optimize.basic_optimization(zx.extract_circuit(graph).to_basic_gates())
        return out.to_qasm(), out

    return run


def _count_pyzx(circuit: Any) -> dict[str, int]:
    rotations = 0
    for gate in circuit.gates:
        phase = getattr(gate, "phase", None)
        if phase is not None and Fraction(phase).denominator > 4:
            rotations += 1
    return {"t_after": circuit.tcount(), "rotations": rotations}


def _pyzx_tr() -> Pipeline:
    import pyzx as zx

    def run(text: str) -> tuple[str, Any]:
        graph = zx.Circuit.from_qasm(text).to_graph()
        graph = zx.simplify.teleport_reduce(graph)
        out = zx.Circuit.from_graph(graph).to_basic_gates()
        return out.to_qasm(), out

    return run


def _quizx() -> Pipeline:
    import quizx

    def run(text: str) -> tuple[str, Any]:
        graph = quizx.qasm(text)
        quizx.full_simp(graph)
        return "", graph

    return run


def _count_quizx(graph: Any) -> dict[str, int]:
    denominators = [Fraction(phase).denominator for phase in graph.phases().values()]
    return {"t_after": denominators.count(4),
            "rotations": sum(1 for d in denominators if d > 4)}


def _pytket() -> Pipeline:
    from pytket.passes import FullPeepholeOptimise
    from pytket.qasm import circuit_from_qasm_str, circuit_to_qasm_str

    def run(text: str) -> tuple[str, Any]:
        circuit = circuit_from_qasm_str(text)
        FullPeepholeOptimise().apply(circuit)
        return circuit_to_qasm_str(circuit), circuit

    return run


def _count_pytket(circuit: Any) -> dict[str, int]:
    from pytket.circuit import OpType

    t = rotations = 0
    for command in circuit.get_commands():
        op = command.op
        if op.type in (OpType.T, OpType.Tdg):
            t += 1
            continue
        # Angles are in half-turns: 0.25 is pi/4.
        quarters = [float(p) * 4 for p in op.params]
        if any(abs(q - round(q)) > 1e-9 for q in quarters):
            rotations += 1
        else:
            t += sum(1 for q in quarters if round(q) % 2)
    return {"t_after": t, "rotations": rotations}
