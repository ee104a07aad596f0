"""The command line: words from the process's argument vector, the usage errors and what the others end with, files,
streams, --json through a pipe, and the warning about texts that are neither one wire nor a program."""

import ast
import importlib.metadata
import json
import os
import re
import shlex
import subprocess
import sys

import pytest

from conftest import CLI, REPO, USAGE, console_script, program, qasm, run

# The command line as a shell runs it, and a reader of its standard output
# at the other end of a pipe, as `jq` would be.
CLI_SHELL = [shlex.quote(word) for word in CLI]
READER = shlex.join([sys.executable, "-c", "import json, sys; json.dump(json.load(sys.stdin), sys.stdout)"])

# A circuit no rule simplifies: the output equals the input.
PLAIN = qasm("h q[0];", "t q[0];", "sdg q[0];", "x q[0];", "tdg q[0];", "h q[0];")
TT_STATS = "{'t_before': 2, 't_after': 0, 'depth_before': 2, 'depth_after': 1, 'gates_before': 2, 'gates_after': 1}\n"
TT_JSON = {"qasm": qasm("s q[0];"), "stats": ast.literal_eval(TT_STATS)}
# Three qubits: read per qubit, as --per-qubit reads it.
WIDE = program(3, "t q[0];", "cx q[0],q[1];", "t q[2];", "rz(0.3) q[1];")
# No program: read as one wire, with a warning; --strict refuses.
FOLDED = "t q[0];\nt q[2];\nt q[0];\n"
FOLDED_WARNING = ('the input was read as one wire, but line 2 applies a gate to a qubit other '
                  'than q[0]: "t q[2];". The result is not equivalent to the program, and the '
                  'input is no whole program either: line 1, column 1: ')


@pytest.fixture
def files(tmp_path):
    (tmp_path / "plain.qasm").write_text(PLAIN)
    (tmp_path / "--stats").write_text(PLAIN)
    (tmp_path / "tt.qasm").write_text(qasm("t q[0];", "t q[0];"))
    (tmp_path / "wide.qasm").write_text(WIDE)
    (tmp_path / "folded.qasm").write_text(FOLDED)
    (tmp_path / "empty.qasm").write_text("")
    return tmp_path


FILES = ["--stats", "empty.qasm", "folded.qasm", "plain.qasm", "tt.qasm", "wide.qasm"]


@pytest.mark.parametrize("args, stdout, stderr", [
    (["plain.qasm"], PLAIN, ""),
    (["--in", "plain.qasm"], PLAIN, ""),
    (["--in=plain.qasm"], PLAIN, ""),
    (["--stats", "tt.qasm"], qasm("s q[0];"), TT_STATS),
    (["tt.qasm", "--phase"], qasm("s q[0];"), "phase 0 (the input is e^(i*0*pi/8) times the result)\n"),
    (["--in", "--stats"], PLAIN, ""),  # the word after --in, whatever it is
    (["--", "--stats"], PLAIN, ""),
    (["--in", "missing.qasm", "--in", "plain.qasm"], PLAIN, ""),  # a later --in replaces
    (["wide.qasm", "--stats"], WIDE,
     "{'t_before': 2, 't_after': 2, 'depth_before': 3, 'depth_after': 3, 'gates_before': 4, 'gates_after': 4}\n"),
    (["folded.qasm"], qasm("t q[0];", "s q[0];"), f"kestrel: warning: {FOLDED_WARNING}"),
    # An empty file gives the header, whatever the method (phase-polynomial:
    # test_phase_polynomial's test_nothing_to_do).
    (["empty.qasm", "--method", "rotation-merging"], qasm(), ""),
    (["empty.qasm", "--per-qubit"], qasm(), ""),
    (["empty.qasm", "--method", "normal-form"], qasm(),
     "kestrel: warning: the input was read as one wire and holds no gate, so the result is the empty circuit\n"),
])
def test_invocations_that_run(files, args, stdout, stderr):
    result = run(CLI + args, files)
    printed = result.stderr.decode()
    if stderr.endswith(": "):  # the reader's own words follow
        printed = printed[:len(stderr)]
    assert (result.returncode, result.stdout.decode(), printed) == (0, stdout, stderr)
    assert sorted(p.name for p in files.iterdir()) == FILES


# --json: one JSON object on standard output, the text and the statistics,
# for a pipe; --stats keeps its dictionary on standard error.
@pytest.mark.parametrize("args, stderr", [
    (["tt.qasm", "--json"], ""),
    (["tt.qasm", "--json", "--stats"], TT_STATS),
    (["--json", "--in", "-"], ""),
])
def test_json_through_a_pipe(files, args, stderr):
    pipeline = subprocess.run(" ".join(CLI_SHELL + args) + " | " + READER, shell=True, cwd=files,
                              input=qasm("t q[0];", "t q[0];").encode(), capture_output=True,
                              timeout=300, check=False)
    assert (pipeline.returncode, pipeline.stderr.decode()) == (0, stderr)
    assert json.loads(pipeline.stdout) == TT_JSON


def test_json_with_an_output_file(files):
    result = run(CLI + ["wide.qasm", "--json", "--phase", "--out", "o.qasm"], files)
    assert (files / "o.qasm").read_text() == WIDE
    printed = json.loads(result.stdout)
    assert printed["qasm"] == WIDE and printed["stats"]["phase"] == 0
    assert (result.returncode, result.stderr) == (0, b"")
    (files / "o.qasm").unlink()


# Usage errors: status 2, the usage line and the message, nothing on
# standard output and no file written.
@pytest.mark.parametrize("args, message", [
    # One row per kind of refusal; every message is in the command-line
    # reader's own table (tests/cpp/pipeline/options_test.cpp).
    (["--stats", "--out", "o.qasm"], "no input file: give one as FILE or --in FILE (- is standard input)"),
    (["plain.qasm", "--out"], "--out needs a value (FILE)"),
    (["plain.qasm", "--per_qubit"], "unknown option '--per_qubit' (did you mean '--per-qubit'?)"),
    (["plain.qasm", "stray", "--out", "o.qasm"], "unexpected argument 'stray': the input is already 'plain.qasm'"),
    (["plain.qasm", "--time-limit=nan"], "--time-limit must be a positive finite number of seconds, not 'nan'"),
    (["plain.qasm", "--method", "fast", "--out", "o.qasm"],
     "--method must be 'saturation', 'normal-form', 'rotation-merging' or 'phase-polynomial', not 'fast'"),
    (["plain.qasm", "--dot", "e.dot", "--method", "normal-form"],
     "--report and --dot describe a saturation run on one wire, not --per-qubit or another --method"),
    (["--bogus", "plain.qasm", "stray"], "unknown option '--bogus'"),  # the first one
])
def test_usage_errors(files, args, message):
    for command in (CLI, [str(console_script())]):
        result = run(command + args, files)
        assert (result.returncode, result.stdout.decode(), result.stderr.decode()) == (
            2, "", USAGE + f"kestrel: error: {message}\n")
    assert sorted(p.name for p in files.iterdir()) == FILES


# What ends a run that has begun: an exception from kestrel.cli() (status 1
# and "<type>: <message>" through the CLI wrapper; the console script
# prints "kestrel: <message>"), nothing written after it.
@pytest.mark.parametrize("args, stderr", [
    (["missing.qasm", "--out", "o.qasm", "--stats"],
     "FileNotFoundError: [Errno 2] No such file or directory: 'missing.qasm'\n"),
    (["tt.qasm", "--out", "no/such/dir.qasm", "--stats"],
     TT_STATS + "FileNotFoundError: [Errno 2] No such file or directory: 'no/such/dir.qasm'\n"),
    (["folded.qasm", "--strict", "--out", "o.qasm", "--stats"], f"ValueError: folded.qasm: {FOLDED_WARNING}"),
])
def test_errors_after_the_words(files, args, stderr):
    result = run(CLI + args, files)
    assert (result.returncode, result.stdout.decode()) == (1, "")
    assert result.stderr.decode().startswith(stderr)
    assert sorted(p.name for p in files.iterdir()) == FILES


def test_standard_input_that_is_not_utf8(files):
    result = run(CLI + ["-"], files, input=b"// caf\xe9\n")
    assert (result.returncode, result.stderr) == (1, b"OSError: [Errno 84] stream did not contain valid UTF-8\n")


def test_help_and_version_win_over_every_other_word(files):
    help_text = run(CLI + ["--help"], files)
    assert (help_text.returncode, help_text.stderr) == (0, b"")
    assert help_text.stdout.decode().startswith(USAGE)
    # Every option listed once, and each one the docs document.
    listed = re.findall(r"^  (?:-[a-z], )?(--[a-z-]+)", help_text.stdout.decode(), re.MULTILINE)
    page = (REPO / "docs" / "command-line.md").read_text()
    assert sorted(listed) == sorted(set(re.findall(r"^\| `(--[a-z-]+)", page, re.MULTILINE)))
    for args in (["-h"], ["--bogus", "-h", "stray"], ["plain.qasm", "--stats", "--help"]):
        assert run(CLI + args, files).stdout == help_text.stdout, args
    version = run(CLI + ["x.qasm", "--version", "--bogus"], files)
    assert (version.returncode, version.stdout) == (
        0, f"kestrel {importlib.metadata.version('kestrel-tcount')}\n".encode())


def test_output_files_and_the_order_of_output(files):
    (files / "out.qasm").write_text("x" * 10_000)
    assert run(CLI + ["--in", "plain.qasm", "--out", "out.qasm"], files).stdout == b""
    assert (files / "out.qasm").read_text() == PLAIN
    # The input is read whole before the output replaces it.
    run(CLI + ["--in", "tt.qasm", "--out", "tt.qasm"], files)
    assert (files / "tt.qasm").read_text() == qasm("s q[0];")
    # What Python wrote comes first, buffered or not, then the warning and
    # the statistics, then the text; the words are the process's own, not
    # sys.argv, and the interpreter's options are not among them.
    code = ("import sys, kestrel; sys.argv[1:] = ['--in', 'missing.qasm']; print('before');"
            "sys.stderr.write('note\\n'); kestrel.cli()")
    buffered = {name: value for name, value in os.environ.items() if name != "PYTHONUNBUFFERED"}
    result = run([sys.executable, "-I", "-X", "utf8", "-c", code, "folded.qasm", "--stats"],
                 files, stderr=subprocess.STDOUT, env=buffered)
    printed = result.stdout.decode()
    assert printed.startswith(f"note\nbefore\nkestrel: warning: {FOLDED_WARNING}")
    assert printed.endswith("\n{'t_before': 3, 't_after': 1, 'depth_before': 3, 'depth_after': 2, "
                            "'gates_before': 3, 'gates_after': 2}\n" + qasm("t q[0];", "s q[0];"))


def test_standard_output_that_cannot_be_written(files):
    read_end, write_end = os.pipe()
    os.close(read_end)
    result = run(CLI + ["--in", "tt.qasm"], files, stdout=write_end)
    os.close(write_end)
    assert result.stderr.decode() == "BrokenPipeError: [Errno 32] failed printing to stdout: Broken pipe\n"


def test_non_utf8_words_are_bytes_used_as_given(tmp_path):
    directory = os.fsencode(tmp_path)
    with open(os.path.join(directory, b"circuit-\xff.qasm"), "wb") as file:
        file.write(PLAIN.encode())
    result = run(CLI + [b"circuit-\xff.qasm", b"--out", b"out-\xfe.qasm"], tmp_path)
    assert (result.returncode, result.stderr) == (0, b"")
    with open(os.path.join(directory, b"out-\xfe.qasm"), "rb") as file:
        assert file.read() == PLAIN.encode()
    refused = run(CLI + [b"circuit-\xff.qasm", b"--\xff"], tmp_path)
    assert (refused.returncode, refused.stderr) == (2, USAGE.encode() + b"kestrel: error: unknown option '--\xff'\n")
