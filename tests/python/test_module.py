"""The module object, PanicException and the type stub."""

import ast
import inspect
import subprocess
import sys
import textwrap
from pathlib import Path

import pytest

import kestrel
from conftest import REPO


def test_panic_exception_escapes_except_exception():
    assert kestrel.PanicException.__bases__ == (BaseException,)
    assert repr(kestrel.PanicException) == "<class 'kestrel.PanicException'>"
    with pytest.raises(kestrel.PanicException):
        try:
            raise kestrel.PanicException("assertion failed: x")
        except Exception:
            pass
    with pytest.raises(TypeError):
        kestrel.cli("--in")


def test_the_command_line_entry_says_what_it_is():
    assert kestrel.cli.__text_signature__ == "()"
    stub = definitions(Path(kestrel.__file__).with_name("__init__.pyi"))["cli"]
    assert ast.get_docstring(stub).startswith(kestrel.cli.__doc__.split("\n\n")[0])


def keyword_options(function):
    """The keyword-only parameters of a function of the module, as its
    signature (written from the table of options) gives them: (name, default)."""
    return [(p.name, p.default) for p in inspect.signature(function).parameters.values()
            if p.kind is inspect.Parameter.KEYWORD_ONLY]


def definitions(path):
    """The functions and classes a Python file defines at its top, by name."""
    return {node.name: node for node in ast.parse(path.read_text()).body
            if isinstance(node, (ast.FunctionDef, ast.ClassDef))}


def annotation(default):
    """The stub's annotation for an option with this default."""
    if isinstance(default, str):
        return "Literal[" + ", ".join(f"'{m}'" for m in kestrel._methods) + "]"
    if default is None:  # a number unset unless given
        return "float | None"
    return type(default).__name__


@pytest.mark.parametrize("name", ["optimize_qasm", "explain", "_optimize_gates"])
def test_the_stub_declares_what_the_table_gives(name):
    stub = definitions(REPO / "binding" / "kestrel.pyi")[name].args
    declared = [(a.arg, ast.literal_eval(d)) for a, d in zip(stub.kwonlyargs, stub.kw_defaults)]
    assert declared == keyword_options(getattr(kestrel, name))
    assert [ast.unparse(a.annotation) for a in stub.kwonlyargs] == [annotation(default) for _, default in declared]
    positional = [p.name for p in inspect.signature(getattr(kestrel, name)).parameters.values()
                  if p.kind is not inspect.Parameter.KEYWORD_ONLY]
    assert [a.arg for a in stub.args] == positional


def test_the_qiskit_pass_takes_what_the_table_gives():
    tree = ast.parse((REPO / "binding" / "qiskit.py").read_text())
    method = next(node.value for node in tree.body if isinstance(node, ast.Assign)
                  and [t.id for t in node.targets] == ["Method"])
    assert set(ast.literal_eval(method.slice)) == set(kestrel._methods)
    init = next(f for f in definitions(REPO / "binding" / "qiskit.py")["KestrelOptimize"].body
                if isinstance(f, ast.FunctionDef) and f.name == "__init__").args
    declared = [(a.arg, ast.literal_eval(d)) for a, d in zip(init.kwonlyargs, init.kw_defaults)]
    # epsilon takes the circuit through the text, to optimize_qasm.
    assert ("epsilon", None) in keyword_options(kestrel.optimize_qasm)
    declared.remove(("epsilon", None))
    assert [("method", "saturation")] + declared == keyword_options(kestrel._optimize_gates)
    assert ast.literal_eval(init.defaults[0]) in kestrel._methods


def python(code, cwd=None):
    return subprocess.run([sys.executable, *code], cwd=cwd, capture_output=True, text=True, timeout=300, check=False)


def test_one_module_per_process():
    # A second import in the same interpreter gives the same module; an import
    # from a subinterpreter is refused.
    interpreters = pytest.importorskip("_xxsubinterpreters")
    result = python(["-c", textwrap.dedent(f"""
        import sys, kestrel, {interpreters.__name__} as interpreters
        first = kestrel
        del sys.modules["kestrel"]
        import kestrel
        print(kestrel is first)
        interpreters.run_string(interpreters.create(), "import kestrel")
    """)])
    assert result.stdout == "True\n"
    assert "ImportError" in result.stderr and "does not support subinterpreters" in result.stderr


def test_type_checkers_see_the_stub_and_the_pass(tmp_path):
    (tmp_path / "use.py").write_text(textwrap.dedent("""
        import kestrel
        text, stats = kestrel.optimize_qasm("h q[0];")
        reveal_type((text, stats, kestrel.cli()))
        kestrel.optimize_qasm(b"h q[0];")
        try:
            pass
        except kestrel.PanicException as panic:
            reveal_type(panic)
        reveal_type(kestrel.explain("t q[0];", node_limit=5).iterations[0].applied)
        from kestrel.qiskit import KestrelOptimize
        KestrelOptimize('normal-form', time_limit=1.0)
        KestrelOptimize('fast')
    """))
    # (The options' annotations, method's Literal among them: the stub test above.)
    out = python(["-m", "mypy", "--no-incremental", "use.py"], tmp_path).stdout.replace("builtins.", "")
    for expected in ['use.py:4: note: Revealed type is "tuple[str, dict[str, int], None]"',
                     'use.py:5: error: Argument 1 to "optimize_qasm" has incompatible type "bytes"',
                     'use.py:9: note: Revealed type is "kestrel.PanicException"',
                     'use.py:10: note: Revealed type is "dict[str, int]"',
                     'use.py:13: error: Argument 1 to "KestrelOptimize" has incompatible type']:
        assert expected in out, out
