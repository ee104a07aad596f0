"""The one-wire methods on texts that are not one wire: kestrel.OneWireWarning,
its message, strict=True, and texts that are one wire left as they were."""

import sys
import warnings

import pytest

import kestrel
from conftest import EXAMPLES, REPO, qasm

sys.path.insert(0, str(REPO / "bench"))
import circuits  # noqa: E402

HEADER3 = 'OPENQASM 2.0;\ninclude "qelib1.inc";\nqreg q[3];\n'
WHOLE = ('per_qubit=True, method="rotation-merging" or method="phase-polynomial" read whole '
         'programs.')


def call(text, **options):
    """optimize_qasm's result and the warnings it issued."""
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        result = kestrel.optimize_qasm(text, **options)
    return result, [(w.category, str(w.message)) for w in caught]


@pytest.mark.parametrize("text, finding", [
    # The reports that brought the check: three qubits folded into one.
    (HEADER3 + "t q[0];\ncx q[0],q[1];\nt q[2];\nrz(0.3) q[1];\n",
     'line 3 declares more than one qubit (3 in all): "qreg q[3];"'),
    ("t q[0];\nt q[2];\n", 'line 2 applies a gate to a qubit other than q[0]: "t q[2];"'),
    (qasm("h q[0];", "measure q[0] -> c[0];"),
     'line 5 holds a measurement, which the reader drops: "measure q[0] -> c[0];"'),
    (qasm("h q[0];", "reset q[0];"), 'line 5 holds a reset, which the reader drops'),
    (qasm("h q[0];", "if(c==1) x q[0];"), 'line 5 holds a statement under if, which'),
    (qasm("h q[0];", "u(0,0,pi/4) q[0];"),
     'line 5 holds a gate with parameters, which the reader drops: "u(0,0,pi/4) q[0];"'),
    (qasm("h q[0];", "y q[0];"),
     'line 5 holds a gate or statement the reader does not know, and drops: "y q[0];"'),
    (qasm("h q[0]; t q[0];"), 'line 4 holds a gate the reader drops'),
    (qasm("gate g a", "{", "  t a;", "}", "g q[0];"),
     'line 6, in a gate definition, is read as a gate of the wire: "t a;"'),
])
def test_a_text_that_is_not_one_wire_warns_and_strict_refuses(text, finding):
    for options in ({}, {"method": "normal-form"}):
        (out, stats), caught = call(text, **options)
        assert len(caught) == 1
        category, message = caught[0]
        assert category is kestrel.OneWireWarning and issubclass(category, UserWarning)
        assert message.startswith("the text was read as one wire, but " + finding)
        assert message.endswith(". The result is not equivalent to the program; " + WHOLE)
        with pytest.raises(ValueError) as refused:
            kestrel.optimize_qasm(text, strict=True, **options)
        assert str(refused.value) == message
        # The result is what it was before the warning.
        assert out.startswith('OPENQASM 2.0;\ninclude "qelib1.inc";\nqreg q[1];\n')


@pytest.mark.parametrize("text", ["", "   \n", qasm(), "examples/t_pairs.qasm"])
def test_no_gate_at_all_warns_and_names_the_usual_cause(text):
    (out, stats), caught = call(text)
    assert out == qasm() and stats["gates_before"] == 0
    assert [c for c, _ in caught] == [kestrel.OneWireWarning]
    assert caught[0][1] == ("the text was read as one wire and holds no gate, so the result is "
                            "the empty circuit; a file name given in place of the file's text is "
                            "the usual cause (pass open(name).read())")


def test_the_message_names_every_method_that_reads_whole_programs():
    with pytest.raises(ValueError) as refused:
        kestrel.optimize_qasm(HEADER3 + "h q[0];\n", strict=True)
    # The methods of the table that read whole programs; the one-wire ones are not named.
    assert 'method="rotation-merging"' in str(refused.value)
    assert 'method="phase-polynomial"' in str(refused.value)
    assert 'method="saturation"' not in str(refused.value)
    assert set(kestrel._methods) == {"saturation", "normal-form", "rotation-merging",
                                     "phase-polynomial"}


def test_the_warning_points_at_the_caller_and_follows_the_filters():
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        kestrel.optimize_qasm(HEADER3)
    assert caught[0].filename == __file__
    with warnings.catch_warnings():
        warnings.simplefilter("error", kestrel.OneWireWarning)
        with pytest.raises(kestrel.OneWireWarning):
            kestrel.optimize_qasm(HEADER3 + "h q[0];\n")
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        warnings.filterwarnings("ignore", category=kestrel.OneWireWarning)
        assert kestrel.optimize_qasm(HEADER3 + "t q[0];\nt q[0];\n")[1]["t_after"] == 0


def test_explain_warns_and_refuses_as_optimize_qasm_does():
    text = HEADER3 + "t q[0];\nt q[1];\n"
    with pytest.warns(kestrel.OneWireWarning, match="line 3 declares"):
        report = kestrel.explain(text)
    assert (report.text, report.stats) == call(text)[0]
    with pytest.raises(ValueError, match="line 3 declares"):
        kestrel.explain(text, strict=True)


@pytest.mark.parametrize("options", [{"per_qubit": True}, {"method": "rotation-merging"},
                                     {"per_qubit": True, "method": "normal-form"}])
def test_whole_program_reading_never_warns(options):
    text = HEADER3 + "t q[0];\ncx q[0],q[1];\nt q[2];\nrz(0.3) q[1];\n"
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        kestrel.optimize_qasm(text, strict=True, **options)


@pytest.mark.parametrize("path", sorted(EXAMPLES.glob("*.qasm")), ids=lambda p: p.name)
def test_the_one_wire_examples_do_not_warn(path):
    # toffoli_twice is a program of three qubits, made for the whole-program methods.
    text = path.read_text()
    warns = path.name == "toffoli_twice.qasm"
    result, caught = call(text)
    assert [c for c, _ in caught] == ([kestrel.OneWireWarning] if warns else [])
    if not warns:
        assert kestrel.optimize_qasm(text, strict=True) == result


def test_the_benchmarks_families_are_one_wire():
    # What the golden and digest checks read: both families, the one with cx
    # written "cx q[0],q[0];", are one wire and read line by line.
    for gates in circuits.QUICK_SIZES:
        for family in circuits.FAMILIES:
            text = circuits.circuit(family, gates)
            (_, stats), caught = call(text, method="normal-form")
            assert not caught and stats["gates_before"] == gates, (family, gates)
