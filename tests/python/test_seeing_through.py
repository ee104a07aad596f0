"""Rotation merging on programs as users write them: qelib1.inc's composite gates, angle gates at multiples of pi/4 and
gates the program defines, each seen through as its Clifford+T gates and written back as them when one of its T gates
changes.

Every check is Qiskit's: its Operator of the program read (with Qiskit's own definitions of the gates) must equal that
of the program written times the phase kestrel reports, exactly; MQT QCEC takes the programs too wide for Operator. That
each gate expands to its matrix is Expansion's test (C++, against a model of the matrices, every angle at multiples of
pi/4), and the reading of angle expressions is Expressions'; test_angles' random programs draw every such gate, Clifford
ones and angles in several spellings.
"""

import sys

import pytest
from qiskit import qasm2, transpile

import kestrel
from conftest import EXAMPLES, HEAD, REPO
from programs import CLIFFORD_T_BASIS as BASIS
from programs import figures, load, reported_phase, same_operator, t_content

def merge(text):
    """The result, its phase in eighths of pi (a float where the phase is given in radians) and the statistics."""
    out, stats = kestrel.optimize_qasm(text, method="rotation-merging", phase=True)
    return out, reported_phase(stats), stats


@pytest.mark.parametrize("definition, line, boundary", [
    # What holds a boundary stays one, and nothing merges across it.
    ("gate b x, y { t x; barrier x, y; t y; }", "b q[0],q[1];", True),
    ("opaque b x;", "b q[0];", True),
    ("", "if (c==1) ccx q[0],q[1],q[2];", True),
    # Rotations of any angle in a gate are seen through.
    ("gate b x { rz(0.3) x; }", "b q[0];", False),
    ("gate a x { rz(0.3) x; }\ngate b x, y { t x; a y; }", "b q[0],q[1];", False),
    ("", "c3x q[0],q[1],q[2],q[3];", False),
])
def test_boundaries_and_rotations_inside_gates(definition, line, boundary):
    text = HEAD + definition + "\nqreg q[4];\ncreg c[1];\nt q[0];\n" + line + "\nt q[0];\n"
    out, phase, stats = merge(text)
    if boundary:
        assert out == text
    else:
        assert stats["t_after"] < stats["t_before"] or stats["rotations_after"] < stats["rotations_before"]
        assert same_operator(text, out, phase)


def test_untouched_statements_stay_byte_for_byte():
    text = (HEAD + "qreg q[2];  qreg anc[1]; qreg r[5]; // work\n"
            "t q[0];\n  ccx   q[0], q[1],anc[0];\n// the second stays\n"
            "ccx r[0],r[1],r[2];\ncu1(pi/2) r[3] ,r[4];\tt q[0];\n")
    out, phase, stats = merge(text)
    # The first ccx's T on its first control (Z on q[0] in every frame)
    # merges with the T gates on q[0] before and after it: they become S T at
    # the first, the ccx is written as its fifteen gates less that one, each
    # on a line of its own at the statement's indent, and the last T goes.
    # The second ccx and the cu1 keep their text.
    assert out == (HEAD + "qreg q[2];  qreg anc[1]; qreg r[5]; // work\n"
                   "s q[0];\nt q[0];\n"
                   "  h anc[0];\n  cx q[1],anc[0];\n  tdg anc[0];\n  cx q[0],anc[0];\n  t anc[0];\n"
                   "  cx q[1],anc[0];\n  tdg anc[0];\n  cx q[0],anc[0];\n  t q[1];\n  t anc[0];\n"
                   "  h anc[0];\n  cx q[0],q[1];\n  tdg q[1];\n  cx q[0],q[1];\n// the second stays\n"
                   "ccx r[0],r[1],r[2];\ncu1(pi/2) r[3] ,r[4];\t\n")
    # The T gates inside the gates count: two ccx of seven and a cu1(pi/2) of
    # three, beside the two T lines; after, S T and the first ccx's six.
    assert (stats["t_before"], stats["t_after"]) == (19, 17)
    assert same_operator(text, out, phase)


def written_and_expanded(name):
    """A program as written and as Clifford+T gates: a QASMBench program and Qiskit's translation of it, or
    bench/toffolis.py's collapse of a T-count program (whose file is the expanded one) and the file."""
    text = (EXAMPLES / f"{name}.qasm").read_text()
    if name.startswith("qasmbench/"):
        return text, qasm2.dumps(transpile(load(text), basis_gates=BASIS, optimization_level=0))
    sys.path.insert(0, str(REPO / "bench"))
    import toffolis
    written, count = toffolis.collapse(text)
    assert count > 0 and toffolis.equivalent(text, written).startswith("equivalent")
    return written, text


@pytest.mark.parametrize("name", [
    *(f"qasmbench/{n}" for n in ["adder_n4", "toffoli_n3", "fredkin_n3", "wstate_n3", "qft_n4", "adder_n433"]),
    *(f"tcount/{n}" for n in ["tof_3", "barenco_tof_4", "mod5_4", "fprenorm", "grover_5", "qft_4",
                              "hwb6", "vbe_adder_3", "mod_red_21"])])
def test_programs_as_written_reach_their_expanded_t_count(name):
    written, expanded = written_and_expanded(name)
    out, phase, stats = merge(written)
    assert t_content(out) == t_content(merge(expanded)[0])
    assert t_content(out) < t_content(written) or name.startswith("qasmbench/")
    assert {k: stats[k + "_after"] for k in ("t", "gates", "depth")} == figures(load(out))
    if name.startswith("tcount/") or load(written).num_qubits <= 5:
        assert same_operator(written, out, phase)
