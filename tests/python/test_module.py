"""The module object, PanicException and the type stub."""

import inspect
import subprocess
import sys
import textwrap

import pytest

import kestrel


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


def test_signature_shows_the_options():
    assert str(inspect.signature(kestrel.optimize_qasm)) == (
        "(qasm, *, method='saturation', per_qubit=False, phase=False, iter_limit=30,"
        " node_limit=10000, time_limit=5.0)")


def python(code, cwd=None):
    return subprocess.run([sys.executable, *code], cwd=cwd, capture_output=True, text=True,
                          timeout=300, check=False)


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


def test_type_checkers_see_the_stub(tmp_path):
    (tmp_path / "use.py").write_text(textwrap.dedent("""
        import kestrel
        text, stats = kestrel.optimize_qasm("h q[0];")
        reveal_type((text, stats, kestrel.cli()))
        count: str = stats["t_after"]
        kestrel.optimize_qasm(b"h q[0];")
        try:
            pass
        except kestrel.PanicException as panic:
            reveal_type(panic)
        reveal_type(kestrel.explain("t q[0];", node_limit=5).iterations[0].applied)
        kestrel.optimize_qasm("t q[0];", method="fast")
    """))
    out = python(["-m", "mypy", "--no-incremental", "use.py"], tmp_path).stdout.replace("builtins.", "")
    for expected in ['use.py:4: note: Revealed type is "tuple[str, dict[str, int], None]"',
                     'use.py:5: error: Incompatible types in assignment (expression has type "int"',
                     'use.py:6: error: Argument 1 to "optimize_qasm" has incompatible type "bytes"',
                     'use.py:10: note: Revealed type is "kestrel.PanicException"',
                     'use.py:11: note: Revealed type is "dict[str, int]"',
                     'use.py:12: error: Argument "method" to "optimize_qasm" has incompatible type']:
        assert expected in out, out
