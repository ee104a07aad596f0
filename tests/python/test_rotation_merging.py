"""Rotation merging (method="rotation-merging") against independent checkers.

Its results on the T-count programs are pinned byte for byte by test_tcount_digests.py and proved equivalent by
test_path_sums, but for hwb10, which MQT QCEC takes in the long checks. Here: what it passes and what stops it,
hand-written cases checked with Qiskit's Operator after the same deferral on both sides (a measurement becomes a CX
onto a fresh qubit, a reset a swap with a fresh qubit, and a condition the gate controlled by the qubits that hold
its bits), and the text it keeps. Random programs with boundaries: test_phase_polynomial.test_random_programs; the
gates the frame follows besides the seven (y, cz, swap): MergerTest's random programs (C++), against a model
and against the plain search.
"""

import re

import pytest

import kestrel
from conftest import EXAMPLES, LONG_CHECKS, program
from programs import load, program_paths, program_text, same_operator

TCOUNT = EXAMPLES / "tcount"


def merge(text, **options):
    return kestrel.optimize_qasm(text, method="rotation-merging", **options)


def equivalent_by_qcec(a, b):
    from mqt import qcec
    result = qcec.verify(a, b)
    return str(result.equivalence).rsplit(".", 1)[-1] in ("equivalent", "equivalent_up_to_global_phase")


@pytest.mark.skipif(not LONG_CHECKS, reason="the long checks only (minutes)")
def test_hwb10_by_qcec():
    text = program_text(next(p for p in program_paths("tcount") if p.name.startswith("hwb10.")))
    assert equivalent_by_qcec(load(text), load(merge(text)[0]))


def test_qcec_tells_a_wrong_result():
    """The checker is not blind: a result with one T gate removed fails."""
    text = (TCOUNT / "adder_8.qasm").read_text()
    out, _ = merge(text)
    broken = re.sub(r"\nt q\[\d+\];", "\n", out, count=1)
    assert broken != out
    assert not equivalent_by_qcec(load(text), load(broken))


REGISTERS = program(3, "creg c[3];")


@pytest.mark.parametrize("body, expected", [
    # A measurement of another qubit is passed; a line emptied goes whole, indent and line end, and what is kept stays
    # byte for byte.
    ("  t q[0];\r\nmeasure q[1] -> c[1];\r\n  tdg q[0];\n", "measure q[1] -> c[1];\r\n"),
    # So is a conditioned gate elsewhere; on the rotation's qubit it stops it.
    ("t q[0];\nif (c==1) x q[2];\nt q[0];\n", "s q[0];\nif (c==1) x q[2];\n"),
    ("t q[0];\nif (c==1) x q[0];\nt q[0];\n", None),
    # A T under a condition is a boundary, not a rotation; one on a whole
    # register is a rotation per qubit, written back as one line each.
    ("t q[0];\nif (c==1) t q[0];\nt q[0];\n", None),
    ("t q[0];\nt q;\nt q[0];\n", "s q[0];\nt q[0];\nt q[1];\nt q[2];\n"),
    # A barrier elsewhere is passed; one on the rotation's qubit (last of
    # its operands) stops it.
    ("t q[0];\nbarrier q[1],q[2];\nt q[0];\n", "s q[0];\nbarrier q[1],q[2];\n"),
    ("t q[0];\nbarrier q[1],q[0];\nt q[0];\n", None),
], ids=["measure-elsewhere", "if-elsewhere", "if-here", "t-under-if", "t-on-register", "barrier-elsewhere",
        "barrier-here"])
def test_cases(body, expected):
    out, _ = merge(REGISTERS + body)
    assert out == REGISTERS + (body if expected is None else expected)
    assert same_operator(REGISTERS + body, out)


def test_a_program_too_large_is_refused():
    with pytest.raises(ValueError, match=r"Pauli products fit in 4\.0 GiB: its 1048576 qubits"):
        merge(program(1048576, "t q[0];"))
