"""optimize_qasm: its arguments, its result, memory. (The interpreter lock released during a call: test_stress.py.)"""

import pathlib
import subprocess
import sys

import pytest

import kestrel
from conftest import qasm


@pytest.mark.parametrize("args, kwargs, message", [
    ((), {}, "optimize_qasm() missing 1 required positional argument: 'qasm'"),
    (("a", "b"), {}, "optimize_qasm() takes 1 positional argument but 2 were given"),
    ((), {"qasm": "a", "text": "b"}, "optimize_qasm() got an unexpected keyword argument 'text'"),
    (("a",), {"qasm": "a"}, "optimize_qasm() got multiple values for argument 'qasm'"),
    ((b"t q[0];",), {}, "argument 'qasm': 'bytes' object cannot be converted to 'str'"),
    ((None,), {}, "argument 'qasm': 'NoneType' object cannot be converted to 'str'"),
    ((pathlib.PurePosixPath("c.qasm"),), {}, "argument 'qasm': 'PurePosixPath' object cannot be converted to 'str'"),
])
def test_argument_errors(args, kwargs, message):
    with pytest.raises(TypeError) as caught:
        kestrel.optimize_qasm(*args, **kwargs)
    assert str(caught.value) == message


def test_a_str_subclass_is_read_by_its_characters():
    class Disguised(str):
        def __str__(self):
            return "t q[0];\n"

        def encode(self, *args, **kwargs):
            return b"t q[0];\n"

    assert kestrel.optimize_qasm(qasm=Disguised(qasm("x q[0];")))[0] == qasm("x q[0];")


@pytest.mark.parametrize("text, gates", [
    ("t q[0];\0\nt q[0];\n", ["s q[0];"]),
    ("\0" * 1000 + "\nx q[0];\n\0", ["x q[0];"]),
    ("\ud800", None),
    (qasm("t q[0];") * 10_000 + "// \ud83d\ude00 written as two halves\n", None),
])
def test_nul_characters_are_read_and_lone_surrogates_refused(text, gates):
    if gates is None:
        with pytest.raises(UnicodeEncodeError) as caught:
            kestrel.optimize_qasm(text)
        assert caught.value.encoding == "utf-8"
    else:
        assert kestrel.optimize_qasm(text)[0] == qasm(*gates)


def test_exhausted_memory_raises_memory_error():
    # The address space is capped just above what the process uses, then a
    # text is given whose result alone needs more (32 MB of output text): the
    # process lives on, and says so.
    code = """
import resource, kestrel
text = "t q[0];\\n" * 4_000_000
with open("/proc/self/statm") as statm:
    used = int(statm.read().split()[0]) * resource.getpagesize()
resource.setrlimit(resource.RLIMIT_AS, (used + 16 * 2**20, resource.RLIM_INFINITY))
try:
    kestrel.optimize_qasm(text)
except MemoryError:
    print("MemoryError")
"""
    result = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=120, check=False)
    assert (result.returncode, result.stdout) == (0, "MemoryError\n"), result.stderr
