"""Large inputs, many calls, many threads: no crash, no leak, no drift.

Sizes are those a test run can afford; under scripts/long-checks.sh every
size and count here grows (`scaled`).
"""

import resource
import signal
import subprocess
import sys
import threading
import time

import pytest

import kestrel
from conftest import HEADER, console_script, qasm, run, scaled
from model import gate_text, same_unitary, t_count, written_gates

class TestLargeInputs:
    def test_a_million_gates(self):
        n = scaled(1 << 20, 1 << 22)
        block = ["t", "h", "tdg", "cx", "t", "t", "s", "h"]
        gates = block * (n // len(block))
        out, stats = kestrel.optimize_qasm(HEADER + gate_text(gates))
        result = written_gates(out)
        assert stats["gates_before"] == stats["depth_before"] == n
        assert stats["t_before"] == t_count(gates)
        assert stats["gates_after"] == len(result) and stats["t_after"] == t_count(result)
        assert stats["t_after"] <= stats["t_before"]
        assert same_unitary(result, gates)

    def test_a_hundred_megabyte_line(self):
        size = scaled(100 << 20, 400 << 20)
        # A gate line whose operand runs on, then a comment line as long,
        # then two T gates that must still be read.
        text = "h q[0] " + "x" * size + "\n// " + "t q[0];" * (size // 7) + "\nt q[0];\nt q[0];\n"
        out, stats = kestrel.optimize_qasm(text)
        assert out == qasm("h q[0];", "s q[0];")
        assert (stats["gates_before"], stats["t_before"], stats["t_after"]) == (3, 2, 0)

    @pytest.mark.parametrize("blank", ["\n", "\r\n", " \t\n", "\u3000\n"],
                             ids=["lf", "crlf", "blanks", "ideographic-space"])
    def test_a_hundred_thousand_blank_lines(self, blank):
        count = scaled(100_000, 2_000_000)
        assert kestrel.optimize_qasm(blank * count) == (HEADER, dict.fromkeys(
            ["t_before", "t_after", "depth_before", "depth_after", "gates_before", "gates_after"],
            0))
        out, stats = kestrel.optimize_qasm(blank * count + "t q[0];" + blank * count + "t q[0];")
        assert out == qasm("s q[0];")
        assert stats["gates_before"] == 2


class TestCommandLine:
    """Long and deeply nested inputs through the console script, whose main
    thread gets a stack of 1 MB: the reader's chain of Seq nodes nests one
    level per gate, so nothing may walk it by recursion."""

    STACK = 1 << 20

    def run_small_stack(self, args, cwd):
        def limit_stack():
            resource.setrlimit(resource.RLIMIT_STACK, (self.STACK, self.STACK))

        return run([str(console_script())] + args, cwd, preexec_fn=limit_stack)

    def test_long_input(self, tmp_path):
        n = scaled(1 << 20, 1 << 22)
        gates = ["h", "t", "sdg", "cx", "tdg", "x"] * (n // 6)
        (tmp_path / "long.qasm").write_text(HEADER + gate_text(gates))
        result = self.run_small_stack(["--in", "long.qasm", "--out", "out.qasm", "--stats"],
                                      tmp_path)
        assert result.returncode == 0, result.stderr[-2000:]
        out = (tmp_path / "out.qasm").read_text()
        # No rule applies to this sequence, so it comes back as it went in.
        assert written_gates(out) == gates
        n, t = len(gates), t_count(gates)
        assert result.stderr.decode() == (
            f"{{'t_before': {t}, 't_after': {t}, 'depth_before': {n}, "
            f"'depth_after': {n}, 'gates_before': {n}, 'gates_after': {n}}}\n")

    def test_deeply_nested_lines(self, tmp_path):
        depth = scaled(1_000_000, 10_000_000)
        nested = "(" * depth + ")" * depth
        text = f"h {nested};\n{nested}\nt q[{nested}];\n// {nested}\nt q[0];\n"
        (tmp_path / "nested.qasm").write_text(text)
        result = self.run_small_stack(["--in", "nested.qasm"], tmp_path)
        assert result.returncode == 0, result.stderr[-2000:]
        assert result.stdout.decode() == qasm("h q[0];", "s q[0];")


class TestInterrupts:
    """Ctrl-C during a call: the process keeps running, KeyboardInterrupt
    arrives once the call is back, and nothing is lost or cut short."""

    def test_interrupt_during_optimisation(self):
        code = (
            "import sys, kestrel\n"
            f"text = {HEADER!r} + 't q[0];\\nh q[0];\\n' * 2_000_000\n"
            "print('ready', flush=True)\n"
            "try:\n"
            "    kestrel.optimize_qasm(text)\n"
            "    sys.stdin.read()  # the interrupt arrives here at the latest\n"
            "except KeyboardInterrupt:\n"
            "    print('interrupted')\n"
            f"print(kestrel.optimize_qasm({qasm('t q[0];', 't q[0];')!r})[0] == {qasm('s q[0];')!r})\n")
        with subprocess.Popen([sys.executable, "-c", code], stdin=subprocess.PIPE,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE) as process:
            assert process.stdout.readline() == b"ready\n"
            time.sleep(0.3)
            process.send_signal(signal.SIGINT)
            stdout, stderr = process.communicate(timeout=120)
        assert (process.returncode, stdout, stderr) == (0, b"interrupted\nTrue\n", b"")

    def test_interrupt_while_writing_to_a_full_pipe(self, tmp_path):
        # The text is far larger than a pipe holds and nobody reads until
        # after the signal, so the write is blocked when it comes: the write
        # must go on after the interruption and deliver every byte.
        gates = ["h", "t", "x"] * 200_000
        (tmp_path / "in.qasm").write_text(HEADER + gate_text(gates))
        code = ("import sys, kestrel\ntry:\n    kestrel.cli()\n"
                "except KeyboardInterrupt:\n    sys.stderr.write('interrupted\\n')\n")
        with subprocess.Popen([sys.executable, "-c", code, "--in", "in.qasm"], cwd=tmp_path,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE) as process:
            time.sleep(2)
            process.send_signal(signal.SIGINT)
            stdout, stderr = process.communicate(timeout=120)
        assert (process.returncode, stderr) == (0, b"interrupted\n")
        assert written_gates(stdout.decode()) == gates


INPUTS = [
    qasm("t q[0];", "t q[0];"),
    qasm("h q[0];", "z q[0];", "h q[0];", "cx q[0],q[1];", "cx q[1],q[0];"),
    qasm(*["t q[0];", "h q[0];", "tdg q[0];", "s q[0];", "t q[0];", "t q[0];"] * 4),
    HEADER + gate_text(["t", "h", "s", "x", "tdg"] * 10_000),
    "",
    "// nothing\n",
]


def test_eight_threads_give_the_sequential_results():
    calls = scaled(60, 3_000)
    expected = [kestrel.optimize_qasm(text) for text in INPUTS]
    mismatches = []
    errors = []

    def work(slot):
        try:
            for k in range(calls):
                i = (slot + k * (slot + 1)) % len(INPUTS)  # each thread its own order
                if kestrel.optimize_qasm(INPUTS[i]) != expected[i]:
                    mismatches.append((slot, k, i))
        except BaseException as error:  # reported below, not lost in the thread
            errors.append(error)

    threads = [threading.Thread(target=work, args=(slot,)) for slot in range(8)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert errors == []
    assert mismatches == []


LEAK_CHECK = """
import sys, kestrel
import resource
H = 'OPENQASM 2.0;\\ninclude "qelib1.inc";\\nqreg q[1];\\n'

def rss():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * resource.getpagesize()

calls = [
    lambda: kestrel.optimize_qasm(H + "t q[0];\\nt q[0];\\n"),
    lambda: kestrel.optimize_qasm(qasm=H + "h q[0];\\nz q[0];\\nh q[0];\\ncx q[0],q[0];\\n"),
    lambda: kestrel.optimize_qasm(""),
    lambda: kestrel.optimize_qasm(H + "t q[0];\\nh q[0];\\ns q[0];\\n" * 3),
]
errors = [
    lambda: kestrel.optimize_qasm(b"t q[0];\\n"),
    lambda: kestrel.optimize_qasm("t q[0];\\ud800\\n"),
    lambda: kestrel.optimize_qasm(),
    lambda: kestrel.optimize_qasm("a", qasm="b"),
]
if sys.argv[1] == "cli":
    calls = [kestrel.cli]
    errors = [lambda: kestrel.cli(1)]

def one_round(k):
    calls[k % len(calls)]()
    if k % 10 == 0:
        try:
            errors[(k // 10) % len(errors)]()
        except (TypeError, UnicodeEncodeError):
            pass

warm, total = int(sys.argv[2]), int(sys.argv[3])
for k in range(warm):
    one_round(k)
after_warm = rss()
for k in range(warm, total):
    one_round(k)
print(after_warm, rss())
"""


@pytest.mark.parametrize("entry, calls", [("optimize_qasm", scaled(100_000, 1_000_000)),
                                          ("cli", scaled(20_000, 200_000))])
def test_resident_memory_stays_flat(tmp_path, entry, calls):
    (tmp_path / "in.qasm").write_text(qasm("t q[0];", "t q[0];", "h q[0];"))
    result = subprocess.run(
        [sys.executable, "-c", LEAK_CHECK, entry, "1000", str(calls),
         "--in", "in.qasm", "--out", "out.qasm"],
        cwd=tmp_path, capture_output=True, text=True, timeout=1800, check=False)
    assert result.returncode == 0, result.stderr
    after_warm, after_all = map(int, result.stdout.split())
    assert after_all - after_warm < 1 << 20, (after_warm, after_all)


class TestReferenceCounts:
    def test_arguments_keep_their_counts(self):
        class Text(str):
            pass

        valid = [qasm("t q[0];", "t q[0];"), Text(qasm("h q[0];")), "x" * 10_000]
        invalid = [b"t q[0];", 10 ** 40, ["t q[0];"], "t q[0];\ud800", object()]
        def counts():
            return [sys.getrefcount(value) for value in valid + invalid]

        def calls():  # its loop variables go with it
            for _ in range(1_000):
                for value in valid:
                    kestrel.optimize_qasm(value)
                    kestrel.optimize_qasm(qasm=value)
                for value in invalid:
                    with pytest.raises((TypeError, UnicodeEncodeError)):
                        kestrel.optimize_qasm(value)

        before = counts()
        calls()
        assert counts() == before

    def test_results_are_owned_by_the_caller_alone(self):
        result = kestrel.optimize_qasm(qasm("t q[0];", "t q[0];"))
        text, stats = result
        del result  # the tuple is gone; only `text` and `stats` hold the items
        assert sys.getrefcount(text) == 2
        assert sys.getrefcount(stats) == 2
