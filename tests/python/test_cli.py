"""The command line: options from the process's argument vector, files and
streams, run through `python -c` and through the installed console script."""

import ast
import os
import subprocess
import sys
from pathlib import Path

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from conftest import EXAMPLES, HEADER, USAGE, console_script, qasm, run

# A circuit no rule simplifies: the output equals the input under the header.
PLAIN = qasm("h q[0];", "t q[0];", "sdg q[0];", "x q[0];", "tdg q[0];", "h q[0];")
PLAIN_STATS = ("{'t_before': 2, 't_after': 2, 'depth_before': 6, 'depth_after': 6, "
               "'gates_before': 6, 'gates_after': 6}\n")


@pytest.fixture
def plain(tmp_path: Path) -> Path:
    path = tmp_path / "plain.qasm"
    path.write_text(PLAIN)
    return path


class TestUsage:
    @pytest.mark.parametrize("args", [[], ["--in"], ["--in", "x.qasm", "--in"],
                                      ["--stats", "--out", "o.qasm"], ["--IN", "x.qasm"],
                                      ["--in=x.qasm"]],
                             ids=["none", "in-last", "in-again-last", "no-in", "capitals",
                                  "equals"])
    def test_usage_line_without_input_path(self, launcher, tmp_path, args):
        result = run(launcher + args, tmp_path)
        assert result.returncode == 0
        assert result.stdout == b""
        assert result.stderr.decode() == USAGE
        assert list(tmp_path.iterdir()) == []


class TestRuns:
    def test_text_to_stdout(self, launcher, plain):
        result = run(launcher + ["--in", plain.name], plain.parent)
        assert (result.returncode, result.stderr) == (0, b"")
        assert result.stdout.decode() == PLAIN

    def test_stats_on_stderr_and_text_on_stdout(self, launcher, plain):
        result = run(launcher + ["--stats", "--in", plain.name], plain.parent)
        assert result.returncode == 0
        assert result.stderr.decode() == PLAIN_STATS
        assert result.stdout.decode() == PLAIN

    def test_stats_come_before_the_text(self, plain):
        # One pipe for both streams shows the order of the writes.
        result = run([sys.executable, "-c", "import kestrel; kestrel.cli()", "--in", plain.name,
                      "--stats"], plain.parent, stderr=subprocess.STDOUT)
        assert result.stdout.decode() == PLAIN_STATS + PLAIN

    def test_optimised_example(self, launcher, tmp_path):
        (tmp_path / "tt.qasm").write_text(qasm("t q[0];", "t q[0];"))
        result = run(launcher + ["--in", "tt.qasm", "--stats"], tmp_path)
        assert result.returncode == 0
        assert result.stderr.decode() == (
            "{'t_before': 2, 't_after': 0, 'depth_before': 2, 'depth_after': 1, "
            "'gates_before': 2, 'gates_after': 1}\n")
        assert result.stdout.decode() == qasm("s q[0];")

    def test_text_to_out_file(self, launcher, plain):
        result = run(launcher + ["--in", plain.name, "--out", "result.qasm"], plain.parent)
        assert (result.returncode, result.stdout, result.stderr) == (0, b"", b"")
        assert (plain.parent / "result.qasm").read_text() == PLAIN

    def test_existing_out_file_is_replaced(self, launcher, plain):
        out = plain.parent / "result.qasm"
        out.write_text("x" * 10_000)
        run(launcher + ["--in", plain.name, "--out", out.name], plain.parent)
        assert out.read_text() == PLAIN

    def test_out_last_writes_to_stdout(self, launcher, plain):
        result = run(launcher + ["--in", plain.name, "--out"], plain.parent)
        assert result.stdout.decode() == PLAIN
        assert sorted(p.name for p in plain.parent.iterdir()) == ["plain.qasm"]

    def test_in_takes_the_next_element_even_an_option(self, launcher, tmp_path):
        (tmp_path / "--stats").write_text(PLAIN)
        result = run(launcher + ["--in", "--stats"], tmp_path)
        assert (result.returncode, result.stderr) == (0, b"")
        assert result.stdout.decode() == PLAIN

    def test_later_in_replaces_earlier(self, launcher, plain):
        result = run(launcher + ["--in", "missing.qasm", "--in", plain.name], plain.parent)
        assert result.stdout.decode() == PLAIN

    def test_unknown_elements_are_ignored(self, launcher, plain):
        args = ["-h", "-v", "stray.qasm", "--in", plain.name, "--OUT", "o.qasm", "-", "--stats"]
        result = run(launcher + args, plain.parent)
        assert result.returncode == 0
        assert result.stderr.decode() == PLAIN_STATS
        assert result.stdout.decode() == PLAIN
        assert not (plain.parent / "o.qasm").exists()

    def test_sys_argv_is_not_read(self, plain):
        code = "import sys, kestrel; sys.argv[1:] = ['--in', 'missing.qasm']; kestrel.cli()"
        result = run([sys.executable, "-c", code, "--in", plain.name], plain.parent)
        assert result.stdout.decode() == PLAIN

    def test_python_output_before_the_call_keeps_its_place(self, plain):
        code = "import sys, kestrel; print('before'); sys.stderr.write('note\\n'); kestrel.cli()"
        result = run([sys.executable, "-c", code, "--in", plain.name, "--stats"], plain.parent,
                     stderr=subprocess.STDOUT)
        assert result.stdout.decode() == "before\nnote\n" + PLAIN_STATS + PLAIN


class TestNonUtf8Arguments:
    def test_path_bytes_are_used_as_given(self, launcher, tmp_path):
        name = b"circuit-\xff\xfe.qasm"
        directory = os.fsencode(tmp_path)
        with open(os.path.join(directory, name), "wb") as file:
            file.write(PLAIN.encode())
        result = run(launcher + [b"--in", name, b"--out", b"out-\xff.qasm"], tmp_path)
        assert (result.returncode, result.stderr) == (0, b"")
        with open(os.path.join(directory, b"out-\xff.qasm"), "rb") as file:
            assert file.read() == PLAIN.encode()

    def test_other_non_utf8_elements_are_ignored(self, launcher, plain):
        result = run(launcher + [b"\xc3\x28", b"--in", plain.name.encode(), b"--\xff"],
                     plain.parent)
        assert (result.returncode, result.stderr) == (0, b"")
        assert result.stdout.decode() == PLAIN


class TestErrors:
    def test_missing_input(self, reporting, tmp_path):
        result = run(reporting + ["--in", "missing.qasm", "--out", "o.qasm", "--stats"], tmp_path)
        assert result.returncode == 3
        assert result.stdout == b""
        assert result.stderr.decode() == (
            "FileNotFoundError|builtins|[Errno 2] No such file or directory: 'missing.qasm'\n")
        assert list(tmp_path.iterdir()) == []

    def test_directory_as_input(self, reporting, tmp_path):
        (tmp_path / "dir").mkdir()
        result = run(reporting + ["--in", "dir"], tmp_path)
        assert result.stderr.decode() == (
            "IsADirectoryError|builtins|[Errno 21] Is a directory: 'dir'\n")

    def test_input_that_is_not_utf8(self, reporting, tmp_path):
        (tmp_path / "latin1.qasm").write_bytes(HEADER.encode() + b"// caf\xe9\nh q[0];\n")
        result = run(reporting + ["--in", "latin1.qasm", "--stats"], tmp_path)
        assert result.stdout == b""
        assert result.stderr.decode() == (
            "OSError|builtins|[Errno 84] stream did not contain valid UTF-8: 'latin1.qasm'\n")

    def test_output_that_cannot_be_created(self, reporting, plain):
        result = run(reporting + ["--in", plain.name, "--out", "no/such/dir.qasm", "--stats"],
                     plain.parent)
        assert result.stdout == b""
        assert result.stderr.decode() == (
            PLAIN_STATS + "FileNotFoundError|builtins|[Errno 2] No such file or directory: "
            "'no/such/dir.qasm'\n")

    def test_closed_stdout_is_os_error(self, reporting, plain):
        read_end, write_end = os.pipe()
        os.close(read_end)
        try:
            result = run(reporting + ["--in", plain.name], plain.parent, stdout=write_end)
        finally:
            os.close(write_end)
        assert result.stderr.decode() == (
            "BrokenPipeError|builtins|[Errno 32] failed printing to stdout: Broken pipe\n")

    def test_closed_stderr_is_os_error(self, plain):
        code = ("import os, kestrel\ntry:\n    kestrel.cli()\n"
                "except BaseException as error:\n    print(type(error).__name__, error)\n")
        result = run([sys.executable, "-c", code, "--in", plain.name, "--stats"], plain.parent,
                     stderr=subprocess.DEVNULL, preexec_fn=lambda: os.close(2))
        assert result.stdout.decode() == (
            "OSError [Errno 9] failed printing to stderr: Bad file descriptor\n")

    def test_full_disk_is_os_error(self, reporting, plain):
        if not os.path.exists("/dev/full"):
            pytest.skip("no /dev/full")
        result = run(reporting + ["--in", plain.name, "--out", "/dev/full"], plain.parent)
        assert result.stderr.decode() == (
            "OSError|builtins|[Errno 28] No space left on device: '/dev/full'\n")


@settings(max_examples=25, deadline=None)
@given(st.binary(max_size=12))
def test_input_is_accepted_exactly_when_it_is_utf8(tmp_path_factory, noise):
    tmp_path = tmp_path_factory.mktemp("utf8")
    (tmp_path / "in.qasm").write_bytes(HEADER.encode() + b"// " + noise + b"\nh q[0];\n")
    result = run([sys.executable, "-c", "import kestrel; kestrel.cli()", "--in", "in.qasm"],
                 tmp_path)
    try:
        noise.decode("utf-8")
    except UnicodeDecodeError:
        assert result.returncode != 0
        assert b"stream did not contain valid UTF-8" in result.stderr
    else:
        assert result.returncode == 0, result.stderr
        assert result.stdout.decode() == qasm("h q[0];")


GATE_PREFIXES = ("h ", "h\t", "s ", "sdg ", "t ", "tdg ", "x ", "z ", "cx ")


@pytest.mark.parametrize("example", sorted(EXAMPLES.rglob("*.qasm")),
                         ids=lambda path: str(path.relative_to(EXAMPLES)))
def test_examples_run_and_count_their_gate_lines(example, tmp_path):
    result = run([str(console_script()), "--in", str(example), "--stats", "--out", "out.qasm"],
                 tmp_path)
    assert result.returncode == 0, result.stderr
    stats = ast.literal_eval(result.stderr.decode())
    lines = [line.strip() for line in example.read_text().splitlines()]
    assert stats["gates_before"] == sum(line.startswith(GATE_PREFIXES) for line in lines)
    assert stats["t_before"] == sum(line.startswith(("t ", "tdg ")) for line in lines)
    out = (tmp_path / "out.qasm").read_text()
    assert out.startswith(HEADER)
    assert len(out[len(HEADER):].splitlines()) == stats["gates_after"]
