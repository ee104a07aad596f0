"""Optimised circuits are equivalent to their input.

Random programs mix gate lines in the spellings the reader accepts with lines it must ignore. The model computes the
unitary of what was generated and of what came back, which must be the same matrix, and the statistics must count the
gates of both texts.
"""

from hypothesis import given, settings
from hypothesis import strategies as st

import kestrel
from conftest import scaled
from model import NAMES, same_unitary, t_count, written_gates


# How a gate line may be written and still be read as its gate: other
# operands, no semicolon, extra blanks, a trailing comment.
def gate_spellings(name):
    if name == "cx":
        operands = ["q[0],q[1];", "q[1], q[0];", "q[0],q[0]"]
    else:
        operands = ["q[0];", "q[1];", "q[0]"]
    spellings = [f"{name} {op}" for op in operands]
    spellings += [f"{name}  q[0];", f"{name} q[0]; // {name} again", f"{name} q[0]; t q[0];"]
    if name == "h":
        spellings.append("h\tq[0];")
    return st.sampled_from(spellings)


# Lines the reader must ignore.
JUNK = [
    "", "OPENQASM 2.0;", 'include "qelib1.inc";', "qreg q[2];", "creg c[2];", "// t q[0];", "//h q[0];",
    "measure q[0] -> c[0];", "barrier q[0],q[1];", "rz(pi/4) q[0];", "rz(pi/2) q[0];", "y q[0];", "id q[0];",
    "u1(0.5) q[0];", "sx q[0];", "swap q[0],q[1];", "reset q[0];", "if(c==1) x q[0];", "gate g a { h a; }", "H q[0];",
    "T q[0];", "CX q[0],q[1];", "t\tq[0];", "x\tq[0];", "cx\tq[0],q[1];", "tq[0];", "hq[0];", "h", "t", "x", "cx",
    "z\u00a0q[0];", "\u00e9t\u00e9 q[0];",
]
INDENT = ["", " ", "   ", "\t", "\u00a0", "\u3000", "\x0b", "\x0c", "\x85"]
TRAILING = ["", " ", "\t ", "\u2003", "\x0c"]
LINE_ENDS = ["\n", "\r\n"]

# Runs of gates that some rule rewrites, so that generated programs hit the
# rules often; junk lines may fall between their gates.
REDEXES = [["t", "t"], ["t", "t", "t", "t"], ["s", "s"], ["t", "tdg"], ["tdg", "t"],
           ["h", "z", "h"], ["h", "x", "h"], ["cx", "cx"], ["h", "t", "t", "t", "t", "h"]]


# A program item is (line text, gate name or None); a group is a list of
# items: one gate, a redex with at most one junk line after each gate, or one
# junk line.
def gate_item(name):
    return gate_spellings(name).map(lambda line: (line, name))


junk_items = st.sampled_from(JUNK).map(lambda line: (line, None))
groups = st.one_of(
    st.sampled_from(NAMES).flatmap(lambda name: gate_item(name).map(lambda i: [i])),
    st.sampled_from(REDEXES).flatmap(lambda run: st.tuples(*(
        st.tuples(gate_item(name), st.lists(junk_items, max_size=1)) for name in run
    )).map(lambda pairs: [item for gate, junk in pairs for item in [gate, *junk]])),
    junk_items.map(lambda i: [i]),
)
programs = st.tuples(
    st.lists(groups, max_size=20).map(lambda gs: [item for g in gs for item in g]),
    st.lists(st.sampled_from(INDENT), min_size=1),
    st.lists(st.sampled_from(TRAILING), min_size=1),
    st.lists(st.sampled_from(LINE_ENDS), min_size=1),
    st.booleans(),
)


def render(program):
    """The text of a generated program and the gates it holds, in order."""
    items, indents, trailings, ends, final_end = program
    text = ""
    for k, (line, _) in enumerate(items):
        end = ends[k % len(ends)] if final_end or k + 1 < len(items) else ""
        text += indents[k % len(indents)] + line + trailings[k % len(trailings)] + end
    return text, [name for _, name in items if name is not None]


@settings(max_examples=scaled(150, 1500), deadline=None)
@given(programs)
def test_result_is_the_same_unitary_and_the_statistics_describe_both_texts(program):
    text, gates = render(program)
    out, stats = kestrel.optimize_qasm(text)
    result = written_gates(out)

    assert same_unitary(result, gates)

    assert stats == {"t_before": t_count(gates), "t_after": t_count(result), "depth_before": len(gates),
                     "depth_after": len(result), "gates_before": len(gates), "gates_after": len(result)}
    # The input is one of the candidates, so the result never costs more.
    assert (stats["t_after"], stats["gates_after"]) <= (stats["t_before"], stats["gates_before"])
