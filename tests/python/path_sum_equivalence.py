"""Equivalence of two Clifford+T programs decided by a sum over paths.

`check(u, v)` builds the sum over paths of V^dagger U (U's gates, then V's inverted in reverse order), reducing it after
each of V's Hadamard gates so that the path variables of matching Hadamard gates of U and V cancel from the middle out
(path_sums.py has the representation and the rules). Then only its diagonal is kept (PathSum.close: each output's
condition f_j = x_j becomes a path variable of the phase, free for the rules), for a unitary whose diagonal is e^(i pi
g/8) everywhere is that times the identity; what the affine form leaves goes on with nonlinear substitutions
(path_sums_multilinear.py). The verdict:
- "equivalent": the diagonal reduced to e^(i pi g/8) on every input, so U = e^(i pi g/8) V; with `phase=k` given
  (kestrel's `phase=True` report: U = e^(i k pi/8) V), g must be k too;
- "not equivalent", with a witness: a basis state |x> for which <x|V^dagger U|x> (V^dagger U |x> built as a sum with x
  fixed, reduced, then summed over the path variables left) is not e^(i pi k/8) (phase given), has modulus below 1, or
  differs from another input's (the operator is then no multiple of the identity);
- "unknown": the rules left path variables and no input tried gave a witness, or a gate is not one this reads.
It reads programs through Qiskit's OpenQASM 2.0 reader (gates named by Qiskit's standard library, others through their
definitions) and uses no part of kestrel. For example

    >>> check("OPENQASM 2.0; include \\"qelib1.inc\\"; qreg q[1]; s q[0];",
    ...       "OPENQASM 2.0; include \\"qelib1.inc\\"; qreg q[1]; t q[0]; t q[0];").verdict
    'equivalent'
"""

from __future__ import annotations

import math
import random
import time
from dataclasses import dataclass, field

from qiskit import QuantumCircuit, qasm2

from path_sums import PHASES, PathSum, TooLarge, Vanishing, close_to_power
from path_sums_multilinear import MultilinearPathSum

TOLERANCE = 1e-6
# Inputs tried for a witness: every one up to this many qubits, else a sample.
EXHAUSTIVE_QUBITS = 10
SAMPLED_INPUTS = 48


class Unsupported(Exception):
    """A gate or statement the sum over paths does not read."""


@dataclass
class Result:
    verdict: str                      # "equivalent", "not equivalent" or "unknown"
    phase16: int | None = None        # g where equivalent: U = e^(i pi g/8) V
    witness: dict | None = None       # where not equivalent: input and amplitudes
    reason: str = ""                  # where unknown: why
    seconds: float = 0.0
    qubits: int = 0
    gates: tuple[int, int] = (0, 0)   # operations read from U and from V
    left: int = 0                     # path variables the rules left
    rules: dict = field(default_factory=dict)


def read(program) -> QuantumCircuit:
    """A QuantumCircuit, or OpenQASM 2.0 text read by Qiskit."""
    if isinstance(program, QuantumCircuit):
        return program
    return qasm2.loads(program, custom_instructions=qasm2.LEGACY_CUSTOM_INSTRUCTIONS)


def _power(angle: float, d: int, what: str) -> int:
    """k with angle = k pi/d, or Unsupported."""
    k = close_to_power(angle, math.pi / d)
    if k is None:
        raise Unsupported(f"{what}: angle {angle} is no multiple of pi/{d}")
    return k


def _flatten_into(circuit: QuantumCircuit, wires: list[int], ops: list, depth: int) -> None:
    if depth > 20:
        raise Unsupported("gate definitions nested too deep")
    ops.append(("global", _power(float(circuit.global_phase), 8, "global phase") % 16))
    for inst in circuit.data:
        op = inst.operation
        name = op.name
        qs = [wires[circuit.find_bit(q).index] for q in inst.qubits]
        if inst.clbits or getattr(op, "condition", None) is not None:
            raise Unsupported(f"{name}: measurements and conditions are not read")
        if name in ("id", "barrier"):
            continue
        if name in PHASES:
            ops.append(("p", qs[0], PHASES[name]))
        elif name in ("x", "h"):
            ops.append((name, qs[0]))
        elif name == "y":   # Y = i X Z
            ops += [("p", qs[0], 4), ("x", qs[0]), ("global", 4)]
        elif name in ("cx", "cz", "swap", "ccx", "ccz"):
            ops.append((name, *qs))
        elif name in ("p", "u1", "rz"):
            k = _power(float(op.params[0]), 4, name)
            ops.append(("p", qs[0], k % 8))
            if name == "rz":   # rz(k pi/4) = e^(-i k pi/8) p(k pi/4)
                ops.append(("global", -k % 16))
        elif op.definition is not None:
            _flatten_into(op.definition, qs, ops, depth + 1)
        else:
            raise Unsupported(f"{name}: not a Clifford+T gate this reads")


def flatten(circuit: QuantumCircuit) -> list[tuple]:
    """The circuit as PathSum operations, in order."""
    ops: list[tuple] = []
    _flatten_into(circuit, list(range(circuit.num_qubits)), ops, 0)
    return [op for op in ops if op != ("global", 0)]


def inverse(ops: list[tuple]) -> list[tuple]:
    """The operations of the inverse circuit."""
    out = []
    for op in reversed(ops):
        if op[0] == "p":
            out.append(("p", op[1], -op[2] % 8))
        elif op[0] == "global":
            out.append(("global", -op[1] % 16))
        else:
            out.append(op)   # x, h, cx, cz, swap, ccx, ccz are their own inverses
    return out


def miter(n: int, u_ops: list[tuple], v_ops: list[tuple], on_step=None) -> PathSum:
    """V^dagger U as a sum over paths, reduced from the middle out: U's gates are applied unreduced (reducing U alone
    would rebuild its classical function, whose polynomials can grow without bound), then V's inverted, reducing
    after each Hadamard gate only the variables its gates touched, so that U's last gates and V's last ones cancel
    first and the wires stay those of U's first gates; then closed to its diagonal and reduced again."""
    ps = PathSum(n)
    for op in u_ops:
        ps.apply(op)
    ps.touched.clear()
    for op in inverse(v_ops):
        ps.apply(op)
        if op[0] == "h":
            ps.reduce(on_step=on_step)
    ps.close()
    ps.reduce(every=True, on_step=on_step)
    return ps


def _candidates(ps: PathSum, n: int):
    """Inputs to try for a witness: first those that switch on the inputs of the lowest terms left (where the operator
    most likely differs from the identity), then all of them (few qubits) or a seeded sample."""
    low_inputs = (1 << n) - 1
    seen = set()
    rest = [] if ps is None else sorted(ps.poly, key=lambda p: p.bit_count())
    for p in rest[:64]:
        x = p & low_inputs
        if x not in seen:
            seen.add(x)
            yield x
    if n <= EXHAUSTIVE_QUBITS:
        pool = range(1 << n)
    else:
        rng = random.Random(n)
        pool = [0, low_inputs] + [rng.getrandbits(n) for _ in range(SAMPLED_INPUTS)]
    for x in pool:
        if x not in seen:
            seen.add(x)
            yield x


def state_sum(n: int, x: int, u_ops: list[tuple], v_ops: list[tuple]) -> PathSum:
    """V^dagger U |x> as a sum over paths, reduced after every Hadamard gate of both (with the inputs fixed, U's gates
    reduce among themselves too)."""
    ps = PathSum(n)
    ps.fix_inputs([(x >> j) & 1 for j in range(n)])
    for op in u_ops + inverse(v_ops):
        ps.apply(op)
        if op[0] == "h":
            ps.reduce()
    ps.reduce(every=True)
    return ps


def _witness(ps: PathSum, n: int, u_ops, v_ops, phase: int | None):
    """A witness that V^dagger U is not e^(i pi phase/8) times the identity (any multiple of it where phase is None), or
    None; and how many inputs had too many path variables left to sum. `ps` (the reduced miter) suggests the inputs
    to try first."""
    reference = None
    skipped = 0
    for x in _candidates(ps, n):
        amplitudes = state_sum(n, x, u_ops, v_ops).amplitudes()
        if amplitudes is None:
            skipped += 1
            continue
        a = amplitudes.get(x, 0j)
        if phase is not None:
            expected = complex(math.cos(phase * math.pi / 8), math.sin(phase * math.pi / 8))
            if abs(a - expected) > TOLERANCE:
                return {"input": x, "amplitude": a, "expected": expected}, skipped
        elif abs(abs(a) - 1) > TOLERANCE:
            return {"input": x, "amplitude": a, "expected_modulus": 1.0}, skipped
        elif reference is None:
            reference = (x, a)
        elif abs(a - reference[1]) > TOLERANCE:
            return {"input": x, "amplitude": a, "other_input": reference[0], "other_amplitude": reference[1]}, skipped
    return None, skipped


def check(u, v, phase: int | None = None, on_step=None) -> Result:
    """Whether programs u and v (text or QuantumCircuit) are the same operator: exactly U = e^(i pi phase/8) V if
    `phase` is given, else up to a global phase."""
    start = time.perf_counter()
    cu, cv = read(u), read(v)
    result = Result("unknown", qubits=cu.num_qubits)
    if cu.num_qubits != cv.num_qubits:
        result.verdict, result.reason = "not equivalent", "different numbers of qubits"
        return result
    try:
        u_ops, v_ops = flatten(cu), flatten(cv)
    except Unsupported as e:
        result.reason = str(e)
        return result
    n = cu.num_qubits
    result.gates = (sum(op[0] != "global" for op in u_ops), sum(op[0] != "global" for op in v_ops))
    try:
        ps = miter(n, u_ops, v_ops, on_step)
    except TooLarge as e:
        result.reason = str(e)
        return result
    except Vanishing:   # zero all along the diagonal: the witness search shows it
        ps = None
    if ps is not None:
        result.left, result.rules = len(ps.paths), dict(ps.counts)
    if ps is not None and ps.is_identity() and (phase is None or ps.phase16 == phase % 16):
        result.verdict, result.phase16 = "equivalent", ps.phase16
    elif ps is not None and ps.paths:
        # Rules the affine form cannot hold may finish it: nonlinear substitutions.
        try:
            general = MultilinearPathSum(ps)
            general.reduce(every=True, on_step=on_step)
        except (TooLarge, Vanishing):
            general = None
        if general is not None:
            result.left = len(general.paths)
            result.rules = {k: v + general.counts[k] for k, v in result.rules.items()}
            if general.is_identity() and (phase is None or general.phase16 == phase % 16):
                result.verdict, result.phase16 = "equivalent", general.phase16
    if result.verdict == "unknown":
        witness, skipped = _witness(ps, n, u_ops, v_ops, None if phase is None else phase % 16)
        if witness is not None:
            result.verdict, result.witness = "not equivalent", witness
        else:
            result.reason = (f"{result.left} path variables left; no input tried gave a witness"
                             f" ({skipped} had too many path variables to sum)")
    result.seconds = time.perf_counter() - start
    return result
