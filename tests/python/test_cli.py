"""The command line: options from the process's argument vector, files,
streams, and the errors of each."""

import os
import subprocess
import sys

import pytest

import kestrel

from conftest import CLI, REPO, USAGE, console_script, qasm, run

# A circuit no rule simplifies: the output equals the input.
PLAIN = qasm("h q[0];", "t q[0];", "sdg q[0];", "x q[0];", "tdg q[0];", "h q[0];")
PLAIN_STATS = ("{'t_before': 2, 't_after': 2, 'depth_before': 6, 'depth_after': 6, "
               "'gates_before': 6, 'gates_after': 6}\n")
TT_STATS = ("{'t_before': 2, 't_after': 0, 'depth_before': 2, 'depth_after': 1, "
            "'gates_before': 2, 'gates_after': 1}\n")


@pytest.fixture
def files(tmp_path):
    (tmp_path / "plain.qasm").write_text(PLAIN)
    (tmp_path / "--stats").write_text(PLAIN)
    (tmp_path / "tt.qasm").write_text(qasm("t q[0];", "t q[0];"))
    return tmp_path


@pytest.mark.parametrize("args, stdout, stderr", [
    (["--in", "plain.qasm"], PLAIN, ""),
    (["--stats", "--in", "tt.qasm"], qasm("s q[0];"), TT_STATS),
    (["--in", "plain.qasm", "--out"], PLAIN, ""),  # an --out without a path: standard output
    (["--in", "--stats"], PLAIN, ""),  # the element after --in, whatever it is
    (["--in", "missing.qasm", "--in", "plain.qasm"], PLAIN, ""),
    (["-h", "-", "stray", "--in", "plain.qasm", "--OUT", "o.qasm", "--stats"], PLAIN, PLAIN_STATS),
    ([], "", USAGE),
    (["--in"], "", USAGE),
    (["--in", "plain.qasm", "--in"], "", USAGE),
    (["--stats", "--out", "o.qasm"], "", USAGE),
    (["--in=plain.qasm", "--IN", "plain.qasm"], "", USAGE),
    # Errors end the call with OSError; nothing is written after them.
    (["--in", "missing.qasm", "--out", "o.qasm", "--stats"], "",
     "FileNotFoundError: [Errno 2] No such file or directory: 'missing.qasm'\n"),
    (["--in", "tt.qasm", "--out", "no/such/dir.qasm", "--stats"], "",
     TT_STATS + "FileNotFoundError: [Errno 2] No such file or directory: 'no/such/dir.qasm'\n"),
])
def test_options_and_errors(files, args, stdout, stderr):
    result = run(CLI + args, files)
    assert (result.stdout.decode(), result.stderr.decode()) == (stdout, stderr)
    assert result.returncode == (1 if "Error" in stderr else 0)
    assert sorted(p.name for p in files.iterdir()) == ["--stats", "plain.qasm", "tt.qasm"]


def test_output_files_and_the_order_of_output(files):
    (files / "out.qasm").write_text("x" * 10_000)
    assert run(CLI + ["--in", "plain.qasm", "--out", "out.qasm"], files).stdout == b""
    assert (files / "out.qasm").read_text() == PLAIN
    # The input is read whole before the output replaces it.
    run(CLI + ["--in", "tt.qasm", "--out", "tt.qasm"], files)
    assert (files / "tt.qasm").read_text() == qasm("s q[0];")
    # What Python wrote comes first, buffered or not, then the statistics,
    # then the text; the options are the process's own, not sys.argv.
    code = ("import sys, kestrel; sys.argv[1:] = ['--in', 'missing.qasm']; print('before');"
            "sys.stderr.write('note\\n'); kestrel.cli()")
    buffered = {name: value for name, value in os.environ.items() if name != "PYTHONUNBUFFERED"}
    result = run([sys.executable, "-c", code, "--in", "plain.qasm", "--stats"], files,
                 stderr=subprocess.STDOUT, env=buffered)
    assert result.stdout.decode() == "note\nbefore\n" + PLAIN_STATS + PLAIN


def test_standard_output_that_cannot_be_written(files):
    read_end, write_end = os.pipe()
    os.close(read_end)
    result = run(CLI + ["--in", "tt.qasm"], files, stdout=write_end)
    os.close(write_end)
    assert result.stderr.decode() == (
        "BrokenPipeError: [Errno 32] failed printing to stdout: Broken pipe\n")


def test_non_utf8_arguments_are_bytes_used_as_given(tmp_path):
    directory = os.fsencode(tmp_path)
    with open(os.path.join(directory, b"circuit-\xff.qasm"), "wb") as file:
        file.write(PLAIN.encode())
    result = run(CLI + [b"\xc3\x28", b"--in", b"circuit-\xff.qasm", b"--out", b"out-\xfe.qasm", b"--\xff"],
                 tmp_path)
    assert (result.returncode, result.stderr) == (0, b"")
    with open(os.path.join(directory, b"out-\xfe.qasm"), "rb") as file:
        assert file.read() == PLAIN.encode()


@pytest.mark.parametrize("example", sorted((REPO / "examples").rglob("*.qasm")), ids=lambda p: p.name)
def test_examples_through_the_console_script(example):
    result = run([str(console_script()), "--in", str(example), "--stats"], REPO)
    text, stats = kestrel.optimize_qasm(example.read_text())
    assert (result.returncode, result.stdout.decode(), result.stderr.decode()) == (0, text, f"{stats}\n")
