"""The module object, PanicException, documentation and the type stub."""

import inspect
import subprocess
import sys
import textwrap
from pathlib import Path

import pytest

import kestrel


class TestModule:
    def test_functions_and_exception_are_attributes(self):
        assert kestrel.__name__ == "kestrel"
        assert kestrel.__doc__.startswith("Simplifies Clifford+T circuits")
        assert callable(kestrel.optimize_qasm) and callable(kestrel.cli)

    def test_text_signatures_and_docstrings(self):
        assert str(inspect.signature(kestrel.optimize_qasm)) == (
            "(qasm, *, method='saturation', per_qubit=False, iter_limit=30, node_limit=10000,"
            " time_limit=5.0)")
        assert kestrel.optimize_qasm.__doc__.startswith(
            "optimize_qasm(qasm: str) -> (optimized_qasm: str, stats: dict)\n")
        assert str(inspect.signature(kestrel.cli)) == "()"
        assert kestrel.cli.__doc__ == (
            "CLI entrypoint with no Python args (usable via console_scripts).\n"
            "Parses argv: kestrel --in file.qasm [--out out.qasm] [--stats]")

    def test_a_second_import_returns_the_same_module(self):
        code = textwrap.dedent("""
            import sys, kestrel
            first, panic = kestrel, kestrel.PanicException
            del sys.modules["kestrel"]
            import kestrel
            assert kestrel is first, "a new module object"
            assert kestrel.PanicException is panic, "a new exception type"
            print("same")
        """)
        result = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                                timeout=60, check=False)
        assert result.stdout == "same\n", result.stderr

    def test_import_from_a_subinterpreter_is_refused(self):
        interpreters = pytest.importorskip("_xxsubinterpreters")
        code = textwrap.dedent("""
            import kestrel, _xxsubinterpreters as interpreters
            interpreter = interpreters.create()
            try:
                interpreters.run_string(interpreter, "import kestrel")
            except Exception as error:
                print(error)
            else:
                print("imported")
        """)
        del interpreters
        result = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                                timeout=60, check=False)
        assert result.returncode == 0, result.stderr
        assert "ImportError" in result.stdout
        assert "subinterpreters" in result.stdout


class TestPanicException:
    def test_type(self):
        panic = kestrel.PanicException
        assert f"{panic.__module__}.{panic.__qualname__}" == "kestrel.PanicException"
        assert panic.__bases__ == (BaseException,)
        assert not issubclass(panic, Exception)

    def test_escapes_except_exception(self):
        def swallow_ordinary_errors():
            try:
                raise kestrel.PanicException("assertion failed: x")
            except Exception:
                return "caught"

        with pytest.raises(kestrel.PanicException) as caught:
            swallow_ordinary_errors()
        assert caught.value.args == ("assertion failed: x",)


def test_type_checkers_see_the_stub(tmp_path: Path):
    pytest.importorskip("mypy")
    (tmp_path / "use.py").write_text(textwrap.dedent("""
        import kestrel
        text, stats = kestrel.optimize_qasm("h q[0];")
        reveal_type(text)
        reveal_type(stats)
        reveal_type(kestrel.cli())
        count: str = stats["t_after"]
        kestrel.optimize_qasm(b"h q[0];")
        try:
            pass
        except kestrel.PanicException as panic:
            reveal_type(panic)
        reveal_type(kestrel.explain("t q[0];", node_limit=5).iterations[0].applied)
        kestrel.optimize_qasm("t q[0];", method="fast")
    """))
    result = subprocess.run([sys.executable, "-m", "mypy", "--no-incremental", "use.py"],
                            cwd=tmp_path, capture_output=True, text=True, timeout=300,
                            check=False)
    # Older mypy versions qualify builtin types with "builtins.".
    out = result.stdout.replace("builtins.", "")
    assert 'use.py:4: note: Revealed type is "str"' in out, out
    assert 'use.py:5: note: Revealed type is "dict[str, int]"' in out, out
    assert 'use.py:6: note: Revealed type is "None"' in out, out
    assert 'use.py:12: note: Revealed type is "kestrel.PanicException"' in out, out
    assert 'use.py:7: error: Incompatible types in assignment (expression has type "int"' in out
    assert 'use.py:8: error: Argument 1 to "optimize_qasm" has incompatible type "bytes"' in out
    assert 'use.py:13: note: Revealed type is "dict[str, int]"' in out, out
    assert 'use.py:14: error: Argument "method" to "optimize_qasm" has incompatible type' in out
