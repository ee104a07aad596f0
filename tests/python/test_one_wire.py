"""The one-wire methods (the default, saturation, and the normal form) on texts that are not one wire: a program of
several qubits, or one holding lines the line reader drops, is read per qubit, exactly as per_qubit=True reads it, and
the result is a program equivalent to it (Qiskit's Operator); explain() says which reading was used and why. Only a text
that holds no gate, or that is neither one wire nor a program, warns with kestrel.OneWireWarning, and strict=True makes
that an error. Texts that are one wire are read line by line, as always (their bytes: test_bench_golden.py and
test_small_digests.py)."""

import warnings

import pytest

import kestrel
from conftest import HEADER, program, qasm
from programs import same_operator

METHODS = ["saturation", "normal-form"]


def call(text, **options):
    """optimize_qasm's result and the warnings it issued."""
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        result = kestrel.optimize_qasm(text, **options)
    return result, [(w.category, str(w.message)) for w in caught]


# Programs the line reader would misread, and the line it would part at.
NOT_ONE_WIRE = [
    (program(3, "t q[0];", "cx q[0],q[1];", "t q[2];", "rz(0.3) q[1];", "t q[0];"),
     'line 3 declares more than one qubit (3 in all): "qreg q[3];"'),
    (qasm("creg c[1];", "h q[0];", "measure q[0] -> c[0];", "t q[0];", "t q[0];"),
     'line 6 holds a measurement, which the reader drops: "measure q[0] -> c[0];"'),
    (qasm("t q[0];", "reset q[0];", "t q[0];"), 'line 5 holds a reset, which the reader drops'),
    (qasm("creg c[1];", "h q[0];", "if(c==1) x q[0];", "h q[0];"),
     'line 6 holds a statement under if, which the reader drops: "if(c==1) x q[0];"'),
    (qasm("t q[0];", "u(0,0,pi/4) q[0];", "t q[0];"),
     'line 5 holds a gate with parameters, which the reader drops: "u(0,0,pi/4) q[0];"'),
    (qasm("h q[0];", "y q[0];", "h q[0];"),
     'line 5 holds a gate or statement the reader does not know, and drops: "y q[0];"'),
    (qasm("h q[0]; t q[0];", "t q[0];"),
     'line 4 holds a gate the reader drops (it reads the one gate a line starts with)'),
    (qasm("gate g a", "{", "  t a;", "}", "g q[0];", "g q[0];"),
     'line 6, in a gate definition, is read as a gate of the wire: "t a;"'),
    # No gate the line reader reads, but a program all the same.
    (program(3, "ccx q[0],q[1],q[2];"), 'line 3 declares more than one qubit (3 in all): "qreg q[3];"'),
    (qasm("creg c[1];", "measure q[0] -> c[0];"), 'line 5 holds a measurement'),
]


@pytest.mark.parametrize("method", METHODS)
@pytest.mark.parametrize("text, reason", NOT_ONE_WIRE)
def test_a_program_that_is_not_one_wire_is_read_per_qubit(text, reason, method):
    with warnings.catch_warnings():  # no reading of a whole program warns
        warnings.simplefilter("error")
        result = kestrel.optimize_qasm(text, method=method, strict=True)
        assert result == kestrel.optimize_qasm(text, method=method, per_qubit=True)
    assert same_operator(text, result[0])
    if method == "saturation":
        report = kestrel.explain(text)
        assert (report.text, report.stats) == result
        assert report.reading == "per qubit" and report.reading_reason.startswith(reason)
        assert (report.stop_reason, report.iterations, report.dot) == (None, [], None)
        assert repr(report).startswith("Report(reading='per qubit', reading_reason='line ")


# Texts that are no program: the one-wire reading, with a warning that says
# where it parts from the program and why the text is no program either.
NO_PROGRAM = [
    ("t q[0];\nt q[2];\n",
     'the text was read as one wire, but line 2 applies a gate to a qubit other than q[0]: "t q[2];". The result is '
     'not equivalent to the program, and the text is no whole program either: line 1, column 1: expected '),
    (program(3, "h q[0];", "cx q[0],q[0];"),
     'the text was read as one wire, but line 3 declares more than one qubit (3 in all): "qreg q[3];". The result is '
     "not equivalent to the program, and the text is no whole program either: line 5, column 1: expected distinct "
     'qubits in each application of \'cx\': "cx q[0],q[0];"'),
    # A wrong number of qubits: the line is quoted.
    (program(3, "ccx q[0],q[1];"),
     "the text was read as one wire and holds no gate, so the result is the empty circuit; a file name given in place "
     "of the file's text is the usual cause (pass open(name).read()), and the text is no whole program either: line 4, "
     "column 1: expected 0 parameters and 3 qubits for 'ccx', found 0 and 2: \"ccx q[0],q[1];\""),
    ("examples/t_pairs.qasm",
     "the text was read as one wire and holds no gate, so the result is the empty circuit; a file name given in place "
     "of the file's text is the usual cause (pass open(name).read()), and the text is no whole program either: line 1, "
     "column 1: "),
]


@pytest.mark.parametrize("method", METHODS)
@pytest.mark.parametrize("text, message", NO_PROGRAM)
def test_a_text_that_is_no_program_warns_and_strict_refuses(text, message, method):
    (out, _), caught = call(text, method=method)
    assert len(caught) == 1
    category, said = caught[0]
    assert category is kestrel.OneWireWarning and issubclass(category, UserWarning)
    assert said.startswith(message)
    with pytest.raises(ValueError) as refused:
        kestrel.optimize_qasm(text, method=method, strict=True)
    assert str(refused.value) == said
    assert out.startswith(HEADER)


@pytest.mark.parametrize("text", ["", "   \n", qasm(), qasm("creg c[1];", "barrier q[0];")])
def test_no_gate_at_all_warns_and_names_the_usual_cause(text):
    (out, stats), caught = call(text)
    assert out == qasm() and stats["gates_before"] == 0
    assert caught == [(kestrel.OneWireWarning,
                       "the text was read as one wire and holds no gate, so the result is the empty circuit; a file "
                       "name given in place of the file's text is the usual cause (pass open(name).read())")]


def test_the_warning_points_at_the_caller_and_an_error_filter_raises_it():
    # (That it goes through the warnings module, and so through every filter: call() records it.)
    text = "t q[0];\nt q[2];\nt q[0];\n"
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        kestrel.optimize_qasm(text)
    assert caught[0].filename == __file__
    with warnings.catch_warnings():
        warnings.simplefilter("error", kestrel.OneWireWarning)
        with pytest.raises(kestrel.OneWireWarning):
            kestrel.optimize_qasm(text)


def test_explain_warns_and_refuses_as_optimize_qasm_does():
    text = "t q[0];\nt q[2];\nt q[0];\n"
    with pytest.warns(kestrel.OneWireWarning, match="line 2 applies"):
        report = kestrel.explain(text)
    assert (report.text, report.stats) == call(text)[0]
    assert (report.reading, report.reading_reason) == ("one wire", None)
    with pytest.raises(ValueError, match="line 2 applies"):
        kestrel.explain(text, strict=True)
