"""Rotation merging on programs as users write them: qelib1.inc's composite
gates, angle gates at multiples of pi/4 and gates the program defines, each
seen through as its Clifford+T gates and written back as them when one of
its T gates changes.

Every check is Qiskit's: its Operator of the program read (with Qiskit's own
definitions of the gates) must equal that of the program written times the
phase kestrel reports, exactly; MQT QCEC takes the programs too wide for
Operator. A gate is shown to be seen through by a merge that needs it: after
a gate G comes G's inverse as Qiskit writes it in Clifford+T gates, so that
G's T gates and the inverse's cancel, G's line is replaced by its gates and
the whole program is the identity times the phase.
"""

import math
import sys

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st
from qiskit import qasm2, transpile

import kestrel
from conftest import EXAMPLES, REPO, scaled
from programs import CLIFFORD_T_BASIS as BASIS
from programs import figures, load, same_operator, t_content

HEAD = 'OPENQASM 2.0;\ninclude "qelib1.inc";\n'


def merge(text):
    """The result, its phase in eighths of pi (a float where the phase is
    given in radians) and the statistics."""
    out, stats = kestrel.optimize_qasm(text, method="rotation-merging", phase=True)
    phase = stats["phase"] if "phase" in stats else stats["phase_radians"] * 8 / math.pi
    return out, phase, stats


def inverse_lines(line, qubits):
    """`line`'s inverse on q[0..qubits) as Qiskit writes it with BASIS."""
    circuit = load(HEAD + f"qreg q[{qubits}];\n{line}\n")
    inverse = transpile(circuit.inverse(), basis_gates=BASIS, optimization_level=0)
    return qasm2.dumps(inverse).split(f"qreg q[{qubits}];\n", 1)[1]


GATES = [
    ("ccx q[0],q[1],q[2];", 3), ("cswap q[0],q[1],q[2];", 3), ("ch q[0],q[1];", 2),
    ("csx q[1],q[0];", 2), ("rccx q[0],q[1],q[2];", 3), ("rc3x q[0],q[1],q[2],q[3];", 4),
    ("rz(pi/4) q[0];", 1), ("u1(pi/4) q[0];", 1), ("p(-pi/4) q[0];", 1), ("rx(pi/4) q[0];", 1),
    ("ry(3*pi/4) q[0];", 1), ("u3(pi/4,pi/2,-pi/4) q[0];", 1), ("u(3*pi/4,pi/4,pi) q[0];", 1),
    ("U(pi/4,0,pi/4) q[0];", 1), ("u2(pi/4,pi/2) q[0];", 1), ("cu1(pi/2) q[0],q[1];", 2),
    ("cp(-pi/2) q[1],q[0];", 2), ("crz(pi/2) q[0],q[1];", 2), ("crx(pi/2) q[0],q[1];", 2),
    ("cry(-pi/2) q[0],q[1];", 2), ("cu3(pi/2,pi/2,0) q[0],q[1];", 2),
    ("cu(pi/2,0,pi/2,pi/4) q[0],q[1];", 2), ("rzz(pi/4) q[0],q[1];", 2),
    ("rxx(3*pi/4) q[1],q[0];", 2), ("t q;", 2),
]


@pytest.mark.parametrize("line, qubits", GATES, ids=[g for g, _ in GATES])
def test_each_gate_is_its_matrix(line, qubits):
    text = HEAD + f"qreg q[{qubits}];\n{line}\n" + inverse_lines(line, qubits)
    out, phase, _ = merge(text)
    assert line not in out  # seen through and written back as its gates
    assert same_operator(text, out, phase)


# Clifford gates have no T gate to change: the frame must still follow them
# for the T gates around them to merge (or not) rightly.
CLIFFORDS = ["y q[0];", "sx q[0];", "sxdg q[1];", "cy q[0],q[1];", "cz q[1],q[0];",
             "swap q[0],q[1];", "id q[0];", "u2(0,pi) q[1];", "rx(pi/2) q[0];", "ry(pi) q[1];",
             "rzz(pi) q[0],q[1];", "cu1(pi) q[0],q[1];", "crx(pi) q[1],q[0];", "u0(3) q[0];"]


@pytest.mark.parametrize("line", CLIFFORDS)
@pytest.mark.parametrize("around", ["t q[0];\n{}\nt q[0];\n", "t q[1];\n{}\ntdg q[0];\n",
                                    "h q[0];\nt q[0];\n{}\nt q[1];\nh q[1];\ntdg q[1];\n"])
def test_cliffords_are_followed(line, around):
    text = HEAD + "qreg q[2];\n" + around.format(line)
    out, phase, _ = merge(text)
    assert line in out
    assert same_operator(text, out, phase)


WRITTEN = ["pi/4", "0.25*pi", "-pi/4+2*pi", "7*pi/4", "pi/4+4*pi", "sin(pi/2)*pi/4", "pi/2^3*2",
           "-(-pi)/4", "(1e0+.5*2)*pi/8", "3.14159265358979323846/4", "-3*pi/4"]


@pytest.mark.parametrize("angle", WRITTEN)
@pytest.mark.parametrize("gate", ["rz", "u1", "p", "rx"])
def test_angles_as_the_language_writes_them(angle, gate):
    text = HEAD + f"qreg q[1];\nh q[0];\n{gate}({angle}) q[0];\nt q[0];\nt q[0];\n"
    out, phase, stats = merge(text)
    assert stats["t_after"] < stats["t_before"] or f"{gate}({angle})" not in out
    assert same_operator(text, out, phase)


DEFINED = ("gate g1(a) x { rz(a) x; h x; }\n"
           "gate g2(a, b) x, y { g1(a/2) x; cx x, y; g1(b/4) y; }\n"
           "gate g3(c) x, y, z { g2(c, 2*c) z, x; g1(-c/2) y; ccx x, y, z; }\n"
           "gate maj a, b, c { cx c, b; cx c, a; ccx a, b, c; }\n")


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
        assert (stats["t_after"] < stats["t_before"]
                or stats["rotations_after"] < stats["rotations_before"])
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


QASMBENCH = EXAMPLES / "qasmbench"


@pytest.mark.parametrize("name", ["adder_n4", "toffoli_n3", "fredkin_n3", "wstate_n3", "qft_n4",
                                  "adder_n433"])
def test_qasmbench_as_written_reaches_its_expanded_t_count(name):
    text = (QASMBENCH / f"{name}.qasm").read_text()
    expanded = qasm2.dumps(transpile(load(text), basis_gates=BASIS, optimization_level=0))
    out, phase, stats = merge(text)
    assert t_content(out) == t_content(merge(expanded)[0])
    assert {k: stats[k + "_after"] for k in ("t", "gates", "depth")} == figures(load(out))
    if load(text).num_qubits <= 5:
        assert same_operator(text, out, phase)


# Random programs over the gates merging sees through and the boundaries
# beside them, on 3 to 6 qubits (with at most two measurements or resets,
# deferred onto fresh qubits on both sides).
SEEN = ["ccx {a},{b},{c}", "cswap {a},{b},{c}", "ch {a},{b}", "csx {a},{b}", "rccx {a},{b},{c}",
        "cu1(pi/2) {a},{b}", "crz(-pi/2) {a},{b}", "rz(pi/4) {a}", "u1(-pi/4) {a}",
        "u3(pi/4,pi/2,-pi/4) {a}", "rzz(3*pi/4) {a},{b}", "rx(pi/4) {a}", "t q", "tdg q",
        "g3(pi/2) {a},{b},{c}", "maj {a},{b},{c}", "cy {a},{b}", "sx {a}", "swap {a},{b}"]
OTHERS = ["t {a}", "tdg {a}", "t {a}", "h {a}", "s {a}", "cx {a},{b}", "x {a}", "cz {a},{b}"]
BOUNDARIES = ["rz(0.3) {a}", "c3x {a},{b},{c},{d}", "measure {a} -> c[0]", "reset {a}",
              "barrier {a},{b}", "if (c==1) ccx {a},{b},{c}", "rz(pi/4+1e-6) {a}"]


@st.composite
def seen_programs(draw):
    n = draw(st.integers(4, 6))
    lines = [HEAD.rstrip("\n"), DEFINED.rstrip("\n"), f"qreg q[{n}];", "creg c[1];"]
    deferrals = 0
    for _ in range(draw(st.integers(1, 25))):
        a, b, c, d = [f"q[{k}]" for k in draw(st.permutations(range(n)))[:4]]
        kind = draw(st.integers(0, 9))
        pool = SEEN if kind < 5 else OTHERS if kind < 9 else BOUNDARIES
        line = draw(st.sampled_from(pool)).format(a=a, b=b, c=c, d=d)
        if line.startswith(("measure", "reset")):
            if deferrals == 2:
                continue
            deferrals += 1
        lines.append(line + ";")
    return "\n".join(lines) + "\n"


@settings(max_examples=scaled(60, 600), deadline=None)
@given(text=seen_programs())
def test_random_programs_seen_through(text):
    out, phase, stats = merge(text)
    # T gates come only from T gates, or from rotations of other angles that
    # merged into them (the thirty pi/8 rotations of two c3x sum to fifteen).
    assert t_content(out) <= t_content(text) + stats["rotations_before"] - stats["rotations_after"]
    assert {k: stats[k + "_after"] for k in ("t", "gates", "depth")} == figures(load(out))
    assert same_operator(text, out, phase)


TCOUNT = EXAMPLES / "tcount"


@pytest.mark.parametrize("name", ["tof_3", "barenco_tof_4", "mod5_4", "fprenorm", "grover_5",
                                  "qft_4", "hwb6", "vbe_adder_3", "mod_red_21"])
def test_toffolis_as_written_reach_the_expanded_t_count(name):
    """bench/toffolis.py's programs are their expanded files exactly, and
    rotation merging leaves as many T gates in them as in the files."""
    sys.path.insert(0, str(REPO / "bench"))
    import toffolis
    expanded = (TCOUNT / f"{name}.qasm").read_text()
    written, count = toffolis.collapse(expanded)
    assert count > 0
    assert toffolis.equivalent(expanded, written).startswith("equivalent")
    out, phase, _ = merge(written)
    assert t_content(out) == t_content(merge(expanded)[0]) < t_content(written)
    assert same_operator(written, out, phase)
