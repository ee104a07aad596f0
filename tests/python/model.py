"""A plain model of the circuits kestrel reads and writes: gate matrices (as Qiskit gives them), each gate's inverse,
the unitary of a gate list, and matrices compared up to a global phase.

Every one-qubit gate acts on qubit 0 of a two-qubit space and CNOT has control 0 and target 1, so each identity of the
rule set holds exactly, global phase included: T·T = S, S·S = Z, T·T† = I, H·Z·H = X, H·X·H = Z, CNOT·CNOT = I. An
optimised circuit must therefore be the same matrix as its input, not just the same up to phase.
"""

import functools

import numpy as np
from qiskit.circuit.library import HGate, SdgGate, SGate, TdgGate, TGate, XGate, ZGate

from conftest import HEADER

# The gates' matrices as Qiskit defines them.
ONE_QUBIT = {gate.name: gate.to_matrix()
             for gate in (HGate(), SGate(), SdgGate(), TGate(), TdgGate(), XGate(), ZGate())}
# Basis index q0 + 2 * q1: a one-qubit gate on q0 is kron(I, G); CNOT with
# control q0 flips q1 when q0 is 1, swapping |01> and |11>.
GATES = {name: np.kron(np.eye(2), m) for name, m in ONE_QUBIT.items()}
GATES["cx"] = np.eye(4)[[0, 3, 2, 1]]
NAMES = sorted(GATES)
INVERSE = {"h": "h", "s": "sdg", "sdg": "s", "t": "tdg", "tdg": "t", "x": "x", "z": "z", "cx": "cx"}

# The lines the writer produces, one per gate.
WRITTEN = {f"{name} q[0];": name for name in ONE_QUBIT} | {"cx q[0],q[0];": "cx"}


def unitary(gates):
    """The matrix of the gate names `gates` applied first to last."""
    return functools.reduce(lambda u, gate: GATES[gate] @ u, gates, np.eye(4, dtype=complex))


def same_unitary(a, b):
    return np.allclose(unitary(a), unitary(b), rtol=0, atol=1e-9)


def written_gates(text):
    """The gate names of a text the writer produced, line by line."""
    assert text.startswith(HEADER) and text.endswith("\n")
    return [WRITTEN[line] for line in text[len(HEADER):].splitlines()]


def gate_text(gates):
    """Gate lines for `gates` on the one wire, as the writer writes them."""
    return "".join("cx q[0],q[0];\n" if g == "cx" else f"{g} q[0];\n" for g in gates)


def t_count(gates):
    return sum(name in ("t", "tdg") for name in gates)


def same_up_to_phase(a, b):
    """Whether matrices a and b are equal up to a global phase."""
    k = np.argmax(np.abs(a))
    if abs(b.flat[k]) < 1e-9:
        return False
    return np.allclose(a * (b.flat[k] / a.flat[k]), b, atol=1e-9)
