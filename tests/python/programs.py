"""What the tests of whole-program methods share: the programs the repository holds (examples/tcount/,
examples/qasmbench/, some gzipped), a program's statements as text, Qiskit's reading of a program, Qiskit's counts of
it, its T gates with every gate seen through, its deferral into one unitary by which two programs are compared, the
phase a result reports, and random Clifford+T programs with boundaries."""

import gzip
import math
import re

import numpy as np
from hypothesis import strategies as st
from qiskit import QuantumCircuit, QuantumRegister, qasm2
from qiskit.circuit import Clbit
from qiskit.quantum_info import Operator

from conftest import EXAMPLES


def program_paths(folder):
    """The programs of examples/<folder>/ ("tcount", "qasmbench"), plain
    (.qasm) or gzipped (.qasm.gz), in the order of their names."""
    paths = [p for p in (EXAMPLES / folder).iterdir() if p.name.endswith((".qasm", ".qasm.gz"))]
    return sorted(paths, key=program_name)


def program_name(path):
    """A program's name: "hwb10" for hwb10.qasm.gz."""
    return path.name.removesuffix(".gz").removesuffix(".qasm")


def program_text(path):
    """A program's text, read through gzip where the file is compressed."""
    if path.name.endswith(".gz"):
        with gzip.open(path, "rt", encoding="utf-8") as file:
            return file.read()
    return path.read_text()


def statements(text):
    """The statements of a program text, comments removed and ends stripped:
    a statement ends at a ';' outside braces or at the '}' closing a body."""
    text = re.sub(r"//[^\n]*", "", text)
    out, start, depth = [], 0, 0
    for i, ch in enumerate(text):
        if ch == "{":
            depth += 1
        elif ch == "}":
            depth -= 1
            if depth == 0:
                out.append(text[start:i + 1].strip())
                start = i + 1
        elif ch == ";" and depth == 0:
            out.append(text[start:i + 1].strip())
            start = i + 1
    assert not text[start:].strip(), "the text ends inside a statement"
    return out


def load(text):
    return qasm2.loads(text, custom_instructions=qasm2.LEGACY_CUSTOM_INSTRUCTIONS)


def figures(circuit):
    """Qiskit's counts for a circuit: T gates (`t_gates`: those inside every gate too), gate applications (a conditional
    gate counts as its gate; measure, reset and barrier do not) and depth."""
    gates = 0
    for instruction in circuit.data:
        name = instruction.operation.name
        if name == "if_else":
            name = instruction.operation.blocks[0].data[0].operation.name
        if name in ("measure", "reset", "barrier"):
            continue
        gates += 1
    return {"t": t_gates(circuit), "gates": gates, "depth": circuit.depth()}


# The gates Qiskit's basis translation is asked to write a program in: the
# Clifford+T gates, and the rotations it cannot write in them.
CLIFFORD_T_BASIS = ["h", "s", "sdg", "t", "tdg", "x", "y", "z", "cx", "cz", "swap", "rz", "rx",
                    "ry", "u1", "u2", "u3", "p", "id", "measure", "reset"]


# The Clifford gates of CLIFFORD_T_BASIS: no T gate, whatever their operands.
CLIFFORDS = {"h", "s", "sdg", "x", "y", "z", "cx", "cz", "swap", "id"}
ROTATIONS = {"rz", "rx", "ry", "u1", "p", "u2", "u3", "u"}


def t_content(text):
    """The T gates of a program text (`t_gates` of Qiskit's reading)."""
    return t_gates(load(text))


def t_gates(circuit):
    """The T gates of a circuit as Qiskit defines its gates: t and tdg one each; a rotation whose angles are all
    multiples of pi/4 its odd ones (a u3 turning by a whole turn about Y is the phase gate of its two other angles), any
    other rotation none; a Clifford gate of CLIFFORDS none; and any other gate those of Qiskit's own definition of it (a
    ccx its seven, a c3x, made of pi/8 rotations, none); inside conditions too. Each gate is counted through its own
    definition, never through a translation of the whole program, whose choice of decompositions depends on the other
    gates the program holds."""
    known = {}  # (name, qubits, angles) -> the T gates of that gate's definition

    def rotation(op):
        turns = [float(p) / (math.pi / 4) for p in op.params]
        if not all(abs(k - round(k)) < 1e-9 for k in turns):
            return sum(abs(k - round(k)) < 1e-9 and round(k) % 2 for k in turns)
        turns = [round(k) for k in turns]
        if op.name in ("u3", "u") and turns[0] % 8 == 0:
            return (turns[1] + turns[2]) % 2
        return sum(k % 2 for k in turns)

    def count(circuit):
        t = 0
        for instruction in circuit.data:
            op = instruction.operation
            if op.name in ("t", "tdg"):
                t += 1
            elif op.name == "if_else":
                t += sum(count(block) for block in op.blocks if block is not None)
            elif op.name in ROTATIONS:
                t += rotation(op)
            elif op.name not in CLIFFORDS and getattr(op, "definition", None) is not None:
                key = (op.name, op.num_qubits, tuple(float(p) for p in op.params))
                if key not in known:
                    known[key] = count(op.definition)
                t += known[key]
        return t
    return count(circuit)


def two_qubit_gates(circuit):
    """The two-qubit gates (cx, cz, swap) of a circuit with every gate seen through as `t_gates` sees it: a ccx holds
    six; an opaque gate on two or more qubits is one; inside conditions too."""
    def count(circuit):
        n = 0
        for instruction in circuit.data:
            op = instruction.operation
            if op.name in ("cx", "cz", "swap"):
                n += 1
            elif op.name == "if_else":
                n += sum(count(block) for block in op.blocks if block is not None)
            elif op.name in ("barrier", "measure", "reset") or op.num_qubits < 2:
                continue
            elif getattr(op, "definition", None) is not None:
                n += count(op.definition)
            else:
                n += 1
        return n
    return count(circuit)


def deferred(circuit):
    """The circuit with each measurement a CX onto a fresh qubit, each reset a swap with a fresh qubit and each
    condition the gate controlled by the qubits that hold its bits last: a unitary on more qubits. The k-th measurement
    or reset on a qubit gets the same fresh qubit whatever the order of the operations on other wires."""
    places = []  # (qubit, k) per measurement or reset, k counting per qubit
    seen = {}
    for instruction in circuit.data:
        if instruction.operation.name in ("measure", "reset"):
            q = circuit.find_bit(instruction.qubits[0]).index
            places.append((q, seen.get(q, 0)))
            seen[q] = seen.get(q, 0) + 1
    fresh = QuantumRegister(len(places), "fresh")
    index = {place: k for k, place in enumerate(sorted(places))}
    out = QuantumCircuit(*circuit.qregs, fresh, global_phase=circuit.global_phase)
    holder = {}  # clbit -> the fresh qubit its last measurement went to
    next_place = iter(places)
    for instruction in circuit.data:
        op = instruction.operation
        if op.name == "measure":
            target = fresh[index[next(next_place)]]
            out.cx(instruction.qubits[0], target)
            holder[instruction.clbits[0]] = target
        elif op.name == "reset":
            out.swap(instruction.qubits[0], fresh[index[next(next_place)]])
        elif op.name == "if_else":
            (register, value), body = op.condition, op.blocks[0]
            register = [register] if isinstance(register, Clbit) else list(register)
            value = int(value)
            wanted = [(value >> k) & 1 for k in range(len(register))]
            # A bit never measured is 0: it fixes the condition or drops out.
            if any(holder.get(bit) is None and w for bit, w in zip(register, wanted)):
                continue
            controls = [(holder[bit], w) for bit, w in zip(register, wanted) if bit in holder]
            state = "".join(str(w) for _, w in reversed(controls))
            for inner in body.data:
                targets = [instruction.qubits[body.qubits.index(q)] for q in inner.qubits]
                gate = inner.operation.control(len(controls), ctrl_state=state) if controls else inner.operation
                out.append(gate, [q for q, _ in controls] + targets)
        else:
            out.append(op, instruction.qubits)
    return out


def reported_phase(stats):
    """The phase a result reports with phase=True, in eighths of pi: `phase`, a whole number, or
    `phase_radians` in [0, 2 pi) where it is no multiple of pi/8; never both."""
    if "phase" in stats:
        assert "phase_radians" not in stats
        return stats["phase"]
    assert 0 <= stats["phase_radians"] < 2 * math.pi
    return stats["phase_radians"] * 8 / math.pi


def pairs(circuit):
    """The pairs of qubits that two-qubit operations stand on."""
    return {frozenset(circuit.find_bit(q).index for q in i.qubits) for i in circuit.data if len(i.qubits) == 2}


def same_operator(text, out, phase=None):
    """Whether Qiskit reads program `text` as e^(i phase pi/8) times program `out` (times any global phase where `phase`
    is None), measurements, resets and conditions deferred onto extra qubits on both sides."""
    a, b = Operator(deferred(load(text))), Operator(deferred(load(out)))
    if phase is None:
        return a.equiv(b)
    return np.allclose(a.data, np.exp(1j * phase * math.pi / 8) * b.data, atol=1e-9)


# The one-qubit Clifford+T gates of the random programs, and the Clifford
# gates they conjugate with (and their inverses).
RANDOM_GATES = ["h", "s", "sdg", "t", "tdg", "x", "y", "z", "sx"]
INVERSE = {"h": "h", "s": "sdg", "sdg": "s", "x": "x", "y": "y", "z": "z", "sx": "sxdg",
           "cx": "cx", "cz": "cz", "swap": "swap"}


@st.composite
def clifford_t_programs(draw, most_qubits=8):
    """Programs of 2 to `most_qubits` qubits over the Clifford+T gates with boundaries mixed in (measurements,
    resets, conditions, barriers, gates seen through or not, among them a defined gate with a parameter), each
    measurement or reset adding a qubit to the deferred program: at most 9 in all."""
    n = draw(st.integers(2, most_qubits))
    most_boundaries = min(3, 9 - n)
    lines = ['OPENQASM 2.0;', 'include "qelib1.inc";', f"qreg q[{n}];", "creg c[2];",
             "gate g(p) a, b { cx a, b; u1(p) b; }"]
    qubit = st.integers(0, n - 1)

    def clifford():
        name = draw(st.sampled_from(sorted(INVERSE)))
        if name in ("cx", "cz", "swap"):
            return name, draw(st.permutations(range(n)))[:2]
        return name, [draw(qubit)]

    def text(name, qubits):
        return f"{name} " + ",".join(f"q[{k}]" for k in qubits) + ";"

    def boundary():
        a, b, c = (draw(st.permutations(range(n)))[:3] + [None])[:3]
        return draw(st.sampled_from([
            f"measure q[{a}] -> c[{b % 2}];", f"reset q[{a}];", f"barrier q[{a}],q[{b}];",
            f"if (c=={b % 4}) t q[{a}];", f"if (c=={b % 4}) x q[{a}];", f"rz(0.3) q[{a}];",
            f"rz(pi/4) q[{a}];", f"g(pi/4) q[{a}],q[{b}];", "t q;", "h q;"]
            + ([f"ccx q[{a}],q[{b}],q[{c}];"] if c is not None else [])))

    boundaries = 0
    for _ in range(draw(st.integers(1, 30))):
        kind = draw(st.integers(0, 19))
        if kind <= 8:
            lines.append(f"{draw(st.sampled_from(RANDOM_GATES + ['t', 't', 'tdg']))} q[{draw(qubit)}];")
        elif kind <= 12:
            lines.append(text(*clifford()))
        elif kind <= 15 and boundaries < most_boundaries:
            # A boundary between two T gates of the same product: it decides
            # whether they merge.
            boundaries += 1
            a = draw(qubit)
            frame = [clifford() for _ in range(draw(st.integers(0, 3)))]
            lines += [f"t q[{a}];"] + [text(*g) for g in frame] + [boundary()]
            lines += [text(INVERSE[name], qubits) for name, qubits in reversed(frame)]
            lines.append(f"{draw(st.sampled_from(['t', 'tdg']))} q[{a}];")
        elif boundaries < most_boundaries:
            boundaries += 1
            lines.append(boundary())
    return "\n".join(lines) + "\n"
