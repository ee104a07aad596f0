"""Bad input through the module and the command line: each case ends in its
own clear error or in a defined reading, and nothing is written where it
should not be."""

import errno
import os
import pathlib
import subprocess
import sys

import pytest

import kestrel
from conftest import CLI_CODE, HEADER, qasm, run


class TestModuleArguments:
    @pytest.mark.parametrize("value, type_name", [
        (bytearray(b"t q[0];\n"), "bytearray"),
        (memoryview(b"t q[0];\n"), "memoryview"),
        (1.5, "float"),
        (pathlib.PurePosixPath("c.qasm"), "PurePosixPath"),
        (type("Printable", (), {"__str__": lambda self: "t q[0];\n"})(), "Printable"),
        (str, "type"),
    ])
    def test_objects_that_are_not_str(self, value, type_name):
        with pytest.raises(TypeError) as caught:
            kestrel.optimize_qasm(value)
        assert str(caught.value) == (
            f"argument 'qasm': '{type_name}' object cannot be converted to 'str'")

    def test_a_str_subclass_is_read_by_its_characters(self):
        class Disguised(str):
            def __str__(self):
                return "t q[0];\n"

            def encode(self, *args, **kwargs):
                return b"t q[0];\n"

        assert kestrel.optimize_qasm(Disguised(qasm("x q[0];")))[0] == qasm("x q[0];")

    @pytest.mark.parametrize("text", [
        "\ud800", "\udfff" + qasm("t q[0];"), qasm("t q[0];") + "\udc80",
        qasm("t q[0];") * 10_000 + "// \ud83d\ude00 written as two halves\n",
    ], ids=["alone", "first", "last", "after-a-long-text"])
    def test_lone_surrogates_anywhere(self, text):
        with pytest.raises(UnicodeEncodeError):
            kestrel.optimize_qasm(text)
        # The failed call leaves nothing behind that changes the next one.
        assert kestrel.optimize_qasm(qasm("t q[0];", "t q[0];"))[0] == qasm("s q[0];")

    @pytest.mark.parametrize("text, gates", [
        ("t q[0];\0\nt q[0];\n", ["s q[0];"]),         # after the prefix: still the gate
        ("\0t q[0];\nh q[0];\n", ["h q[0];"]),         # before it: not a gate line
        ("h\0q[0];\n", []),                            # in place of the blank
        ("\0" * 1000 + "\nx q[0];\n", ["x q[0];"]),  # a line of NULs, then a gate
        ("x q[0];\n\0", ["x q[0];"]),                  # a one-byte last line
    ], ids=["after-prefix", "before-gate", "instead-of-blank", "nul-line", "last"])
    def test_nul_characters_are_ordinary_characters(self, text, gates):
        out, stats = kestrel.optimize_qasm(text)
        assert out == qasm(*gates)


# Byte sequences that are not UTF-8, each placed at the very end of the file
# so that a decoder reading past the end would show.
NOT_UTF8 = {
    "lone-continuation": b"\x80",
    "overlong-slash": b"\xc0\xaf",
    "overlong-nul": b"\xc0\x80",
    "overlong-three": b"\xe0\x9f\xbf",
    "overlong-four": b"\xf0\x8f\xbf\xbf",
    "surrogate": b"\xed\xa0\x80",
    "past-u10ffff": b"\xf4\x90\x80\x80",
    "f5": b"\xf5\x80\x80\x80",
    "ff": b"\xff",
    "cut-two": b"\xc3",
    "cut-three": b"\xe2\x82",
    "cut-four": b"\xf0\x9f\x98",
}
# The largest and the edge code points of each length, also at the end.
UTF8_EDGES = {
    "u7f": b"\x7f", "u80": b"\xc2\x80", "ud7ff": b"\xed\x9f\xbf", "ue000": b"\xee\x80\x80",
    "uffff": b"\xef\xbf\xbf", "u10000": b"\xf0\x90\x80\x80", "u10ffff": b"\xf4\x8f\xbf\xbf",
}


class TestCommandLineInput:
    @pytest.mark.parametrize("tail", NOT_UTF8.values(), ids=NOT_UTF8.keys())
    def test_not_utf8_is_refused_and_nothing_is_written(self, reporting, tmp_path, tail):
        (tmp_path / "in.qasm").write_bytes(qasm("t q[0];", "t q[0];").encode() + b"// " + tail)
        (tmp_path / "out.qasm").write_text("kept")
        result = run(reporting + ["--in", "in.qasm", "--out", "out.qasm", "--stats"], tmp_path)
        assert (result.returncode, result.stdout) == (3, b"")
        assert result.stderr.decode() == (
            "OSError|builtins|[Errno 84] stream did not contain valid UTF-8: 'in.qasm'\n")
        assert (tmp_path / "out.qasm").read_text() == "kept"

    @pytest.mark.parametrize("tail", UTF8_EDGES.values(), ids=UTF8_EDGES.keys())
    def test_utf8_edges_are_accepted(self, tmp_path, tail):
        (tmp_path / "in.qasm").write_bytes(qasm("t q[0];", "t q[0];").encode() + b"// " + tail)
        result = run([sys.executable, "-c", CLI_CODE, "--in", "in.qasm"], tmp_path)
        assert (result.returncode, result.stderr) == (0, b"")
        assert result.stdout.decode() == qasm("s q[0];")

    def test_nul_bytes_in_the_file_do_not_end_it(self, tmp_path):
        (tmp_path / "in.qasm").write_bytes(b"t q[0];\n\0\0\n\0// \0\nt q[0];\n")
        result = run([sys.executable, "-c", CLI_CODE, "--in", "in.qasm"], tmp_path)
        assert result.stdout.decode() == qasm("s q[0];")

    def test_an_empty_device_is_an_empty_circuit(self, tmp_path):
        result = run([sys.executable, "-c", CLI_CODE, "--in", os.devnull], tmp_path)
        assert (result.returncode, result.stdout.decode()) == (0, HEADER)

    @pytest.mark.parametrize("make, error", [
        (lambda d: "missing.qasm", FileNotFoundError(errno.ENOENT, "No such file or directory")),
        (lambda d: (d / "dir").mkdir() or "dir", IsADirectoryError(errno.EISDIR, "Is a directory")),
        (lambda d: "", FileNotFoundError(errno.ENOENT, "No such file or directory")),
        (lambda d: "n" * 5000, OSError(errno.ENAMETOOLONG, "File name too long")),
        (lambda d: (d / "file").write_text("t q[0];\n") and "file/in.qasm",
         NotADirectoryError(errno.ENOTDIR, "Not a directory")),
    ], ids=["missing", "directory", "empty-path", "long-name", "under-a-file"])
    def test_unreadable_input_leaves_the_output_alone(self, reporting, tmp_path, make, error):
        path = make(tmp_path)
        (tmp_path / "out.qasm").write_text("kept")
        result = run(reporting + ["--in", path, "--out", "out.qasm", "--stats"], tmp_path)
        assert (result.returncode, result.stdout) == (3, b"")
        assert result.stderr.decode() == os_error_line(error, path)
        assert (tmp_path / "out.qasm").read_text() == "kept"


def os_error_line(error: OSError, path: str) -> str:
    """What the reporting launcher prints for `error` about the file `path`."""
    return f"{type(error).__qualname__}|builtins|[Errno {error.errno}] {error.strerror}: {path!r}\n"


STATS = ("{'t_before': 2, 't_after': 0, 'depth_before': 2, 'depth_after': 1, "
         "'gates_before': 2, 'gates_after': 1}\n")


@pytest.fixture
def tt(tmp_path):
    (tmp_path / "tt.qasm").write_text(qasm("t q[0];", "t q[0];"))
    return tmp_path


class TestCommandLineOutput:
    @pytest.mark.parametrize("make, error", [
        (lambda d: (d / "dir").mkdir() or "dir", IsADirectoryError(errno.EISDIR, "Is a directory")),
        (lambda d: "tt.qasm/out.qasm", NotADirectoryError(errno.ENOTDIR, "Not a directory")),
        (lambda d: "", FileNotFoundError(errno.ENOENT, "No such file or directory")),
        (lambda d: "o" * 5000, OSError(errno.ENAMETOOLONG, "File name too long")),
    ], ids=["directory", "under-a-file", "empty-path", "long-name"])
    def test_unwritable_output(self, reporting, tt, make, error):
        path = make(tt)
        result = run(reporting + ["--in", "tt.qasm", "--out", path, "--stats"], tt)
        assert (result.returncode, result.stdout) == (3, b"")
        assert result.stderr.decode() == STATS + os_error_line(error, path)
        assert (tt / "tt.qasm").read_text() == qasm("t q[0];", "t q[0];")

    def test_output_over_its_own_input(self, tt):
        # The input is read whole before the output is truncated.
        result = run([sys.executable, "-c", CLI_CODE, "--in", "tt.qasm", "--out", "tt.qasm"], tt)
        assert (result.returncode, result.stdout, result.stderr) == (0, b"", b"")
        assert (tt / "tt.qasm").read_text() == qasm("s q[0];")

    def test_closed_stdout_descriptor(self, tt):
        code = ("import sys, kestrel\ntry:\n    kestrel.cli()\n"
                "except BaseException as error:\n"
                "    sys.stderr.write(f'{type(error).__name__}|{error}\\n')\n")
        result = run([sys.executable, "-c", code, "--in", "tt.qasm", "--stats"], tt,
                     stdout=subprocess.DEVNULL, preexec_fn=lambda: os.close(1))
        assert result.stderr.decode() == (
            STATS + "OSError|[Errno 9] failed printing to stdout: Bad file descriptor\n")

    def test_full_stdout(self, reporting, tt):
        if not os.path.exists("/dev/full"):
            pytest.skip("no /dev/full")
        with open("/dev/full", "wb") as full:
            result = run(reporting + ["--in", "tt.qasm"], tt, stdout=full)
        assert result.stderr.decode() == (
            "OSError|builtins|[Errno 28] failed printing to stdout: No space left on device\n")

    def test_reader_that_leaves_during_a_long_output(self, reporting, tmp_path):
        # The pipe fills, the reader takes a little and closes its end: the
        # rest of the write fails part-way with a broken pipe, not a signal.
        (tmp_path / "long.qasm").write_text(qasm(*["h q[0];", "t q[0];"] * 200_000))
        with subprocess.Popen(reporting + ["--in", "long.qasm"], cwd=tmp_path,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE) as process:
            assert process.stdout.read(1000).startswith(HEADER.encode())
            process.stdout.close()
            stderr = process.stderr.read()
            assert process.wait(timeout=120) == 3
        assert stderr.decode() == (
            "BrokenPipeError|builtins|[Errno 32] failed printing to stdout: Broken pipe\n")
