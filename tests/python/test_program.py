"""The command line as a program: python -m kestrel, exit statuses, --help,
--version, and --out that never loses data."""

import shutil
import signal
import stat
import subprocess
import sys
import time
from pathlib import Path

import pytest

import kestrel
from conftest import HEADER, REPO, console_script, default_sigint, qasm, run

TT = qasm("t q[0];", "t q[0];")
NO_REGISTER = "OPENQASM 2.0;\ninclude \"qelib1.inc\";\nt q[0];\n"
PROGRAMS = {"module": [sys.executable, "-m", "kestrel"], "script": [str(console_script())]}


@pytest.fixture(params=sorted(PROGRAMS))
def program(request):
    return PROGRAMS[request.param]


@pytest.fixture
def tt(tmp_path):
    (tmp_path / "tt.qasm").write_text(TT)
    return tmp_path


# Every method and option: what the keywords give, and not the default.
@pytest.mark.parametrize("name, args, options", [
    ("t_pairs", ["--method", "normal-form"], {"method": "normal-form"}),
    ("t_pairs", ["--method", "saturation", "--iter-limit", "2", "--node-limit", "20"],
     {"iter_limit": 2, "node_limit": 20}),
    ("t_pairs", ["--per-qubit"], {"per_qubit": True}),
    ("t_pairs", ["--per-qubit", "--method", "normal-form"], {"per_qubit": True, "method": "normal-form"}),
    ("tcount/tof_3", ["--method", "rotation-merging", "--phase"], {"method": "rotation-merging", "phase": True}),
    ("tcount/tof_3", ["--method", "phase-polynomial", "--ancillas", "2"],
     {"method": "phase-polynomial", "ancillas": 2}),
    ("tcount/adder_8", ["--method", "phase-polynomial", "--two-qubit-cost", "0.1"],
     {"method": "phase-polynomial", "two_qubit_cost": 0.1}),
    ("angles/qft_4", ["--method", "phase-polynomial", "--epsilon", "1e-6", "--phase"],
     {"method": "phase-polynomial", "epsilon": 1e-6, "phase": True}),
])
def test_options_give_what_the_keywords_give(tmp_path, name, args, options):
    text = (REPO / "examples" / f"{name}.qasm").read_text()
    (tmp_path / "in.qasm").write_text(text)
    result = run([sys.executable, "-m", "kestrel", "--in", "in.qasm", "--stats"] + args, tmp_path)
    optimized, stats = kestrel.optimize_qasm(text, **options)
    assert (result.stdout.decode(), result.stderr.decode()) == (optimized, f"{stats}\n")
    assert optimized != kestrel.optimize_qasm(text)[0]


@pytest.mark.parametrize("args, error", [
    (["--in", "missing.qasm"], "[Errno 2] No such file or directory: 'missing.qasm'"),
    (["--in", "tt.qasm", "--per-qubit"],
     "tt.qasm: line 3, column 3: expected a quantum register declared before this statement, found 'q'"),
])
def test_an_input_error_is_one_line_and_status_1(program, tt, args, error):
    (tt / "tt.qasm").write_text(NO_REGISTER)
    result = run(program + args, tt)
    assert (result.returncode, result.stdout) == (1, b"")
    assert result.stderr.decode() == f"kestrel: {error}\n"


def has_loaded_kestrel(pid: int) -> bool:
    """Whether the process has mapped kestrel's extension: past the interpreter's start and the imports, which a loaded
    machine can stretch past any fixed pause (an interrupt there is Python's own, with a traceback)."""
    return "kestrel/__init__" in Path(f"/proc/{pid}/maps").read_text()


def test_ctrl_c_exits_with_status_130_without_a_traceback(program, tmp_path):
    (tmp_path / "long.qasm").write_text(HEADER + "t q[0];\nh q[0];\n" * 1_500_000)
    with subprocess.Popen(program + ["--in", "long.qasm"], cwd=tmp_path, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, preexec_fn=default_sigint) as process:
        while not has_loaded_kestrel(process.pid):
            time.sleep(0.01)
        time.sleep(0.2)  # into the run, which takes over a second
        process.send_signal(signal.SIGINT)
        stdout, stderr = process.communicate(timeout=120)
    assert (process.returncode, stderr) == (130, b"")
    assert stdout.startswith(HEADER.encode())  # what had begun is finished


class TestOutputIsReplacedWhole:
    def test_permissions_of_an_existing_file_are_kept(self, tt):
        (tt / "out.qasm").write_text("old")
        (tt / "out.qasm").chmod(0o640)
        assert run([sys.executable, "-m", "kestrel", "--in", "tt.qasm", "--out", "out.qasm"], tt).returncode == 0
        assert (tt / "out.qasm").read_text() == qasm("s q[0];")
        assert stat.S_IMODE((tt / "out.qasm").stat().st_mode) == 0o640
        assert sorted(p.name for p in tt.iterdir()) == ["out.qasm", "tt.qasm"]

    def test_a_link_is_followed_and_kept(self, tt):
        (tt / "real.qasm").write_text("old")
        (tt / "link.qasm").symlink_to("real.qasm")
        run([sys.executable, "-m", "kestrel", "--in", "tt.qasm", "--out", "link.qasm"], tt)
        assert (tt / "link.qasm").is_symlink()
        assert (tt / "real.qasm").read_text() == qasm("s q[0];")

    @pytest.mark.skipif(shutil.which("unshare") is None, reason="no unshare")
    def test_a_full_file_system_leaves_the_old_file_and_no_temporary(self, tmp_path):
        # A 64 KiB tmpfs in a mount namespace of its own; the result is
        # larger than that, so writing it fails part-way.
        (tmp_path / "big.qasm").write_text(HEADER + "h q[0];\nt q[0];\n" * 20_000)
        disk = tmp_path / "disk"
        disk.mkdir()
        script = (f'mount -t tmpfs -o size=64k tmpfs "{disk}" && echo old > "{disk}/out.qasm" && '
                  f'{sys.executable} -m kestrel --in big.qasm --out "{disk}/out.qasm"; '
                  f'echo "status $?"; ls -A "{disk}"; cat "{disk}/out.qasm"')
        result = run(["unshare", "--mount", "--map-root-user", "sh", "-c", script], tmp_path)
        if b"status" not in result.stdout:
            pytest.skip(f"cannot mount a tmpfs here: {result.stderr.decode().strip()}")
        assert result.stdout.decode() == "status 1\nout.qasm\nold\n"
        assert result.stderr.decode() == f"kestrel: [Errno 28] No space left on device: '{disk}/out.qasm'\n"

    @pytest.mark.skipif(shutil.which("unshare") is None, reason="no unshare")
    def test_a_read_only_file_is_refused_and_kept(self, tt):
        # Root may write any file; mapped to an ordinary user in a user
        # namespace of its own, the process owns the files but has no
        # privilege over them, as a user running kestrel would.
        (tt / "out.qasm").write_text("old")
        (tt / "out.qasm").chmod(0o444)
        result = run(["unshare", "--user", "--map-user=1000", "--map-group=1000", sys.executable,
                      "-m", "kestrel", "--in", "tt.qasm", "--out", "out.qasm"], tt)
        if b"kestrel" not in result.stderr:
            pytest.skip(f"cannot run in a user namespace here: {result.stderr.decode().strip()}")
        assert (result.returncode, result.stderr) == (1, b"kestrel: [Errno 13] Permission denied: 'out.qasm'\n")
        assert (tt / "out.qasm").read_text() == "old"
