"""Large inputs, interrupts, many threads and many calls: no crash, no leak,
no drift. The sizes are those a test run affords; scripts/long-checks.sh
runs them larger (`scaled`)."""

import resource
import signal
import subprocess
import sys
import time
from concurrent.futures import ThreadPoolExecutor

import pytest

import kestrel
from conftest import CLI, HEADER, console_script, default_sigint, qasm, run, scaled
from model import gate_text, t_count, written_gates


def test_hundred_megabyte_lines():
    size = scaled(100 << 20, 400 << 20)
    # A gate line whose operand runs on, a comment line as long, two T gates.
    text = "h q[0] " + "x" * size + "\n// " + "t q[0];" * (size // 7) + "\nt q[0];\nt q[0];\n"
    assert kestrel.optimize_qasm(text)[0] == qasm("h q[0];", "s q[0];")


def run_on_small_stack(args, cwd):
    # The console script's main thread gets 1 MB of stack, while the reader's
    # chain of Seq nodes nests one level per gate: no walk may recurse.
    def limit():
        resource.setrlimit(resource.RLIMIT_STACK, (1 << 20, 1 << 20))

    return run([str(console_script())] + args, cwd, preexec_fn=limit)


def test_long_and_deeply_nested_input_through_the_command_line(tmp_path):
    gates = ["h", "t", "sdg", "cx", "tdg", "x"] * (scaled(1 << 20, 1 << 22) // 6)
    (tmp_path / "long.qasm").write_text(HEADER + gate_text(gates))
    result = run_on_small_stack(["--in", "long.qasm", "--out", "out.qasm", "--stats"], tmp_path)
    assert result.returncode == 0, result.stderr[-2000:]
    assert written_gates((tmp_path / "out.qasm").read_text()) == gates  # no rule applies
    n, t = len(gates), t_count(gates)
    assert result.stderr.decode() == (f"{{'t_before': {t}, 't_after': {t}, 'depth_before': {n}, "
                                      f"'depth_after': {n}, 'gates_before': {n}, 'gates_after': {n}}}\n")
    nested = "(" * scaled(1_000_000, 10_000_000) + ")" * scaled(1_000_000, 10_000_000)
    (tmp_path / "nested.qasm").write_text(f"h {nested};\n{nested}\nt q[{nested}];\n// {nested}\nt q[0];\n")
    result = run_on_small_stack(["--in", "nested.qasm"], tmp_path)
    assert result.stdout.decode() == qasm("h q[0];", "s q[0];"), result.stderr[-2000:]


def test_interrupt_during_optimisation():
    # Ctrl-C during a call: KeyboardInterrupt arrives once the call is back,
    # and the module goes on working.
    code = (f"import sys, kestrel\ntext = {HEADER!r} + 't q[0];\\nh q[0];\\n' * 2_000_000\n"
            "print('ready', flush=True)\ntry:\n    kestrel.optimize_qasm(text)\n"
            "    sys.stdin.read()  # the interrupt arrives here at the latest\n"
            "except KeyboardInterrupt:\n    print('interrupted')\n"
            f"print(kestrel.optimize_qasm({qasm('t q[0];', 't q[0];')!r})[0] == {qasm('s q[0];')!r})\n")
    with subprocess.Popen([sys.executable, "-c", code], stdin=subprocess.PIPE,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          preexec_fn=default_sigint) as process:
        assert process.stdout.readline() == b"ready\n"
        time.sleep(0.3)
        process.send_signal(signal.SIGINT)
        stdout, stderr = process.communicate(timeout=120)
    assert (process.returncode, stdout, stderr) == (0, b"interrupted\nTrue\n", b"")


def test_interrupt_while_writing_to_a_full_pipe(tmp_path):
    # Nobody reads the pipe until after the signals, so the write is blocked
    # when they come. The first ends a write call part-way; the second comes
    # while the next call has written nothing, which fails with EINTR. The
    # write must go on after both, every byte.
    gates = ["h", "t", "x"] * 200_000
    (tmp_path / "in.qasm").write_text(HEADER + gate_text(gates))
    with subprocess.Popen(CLI + ["--in", "in.qasm"], cwd=tmp_path, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, preexec_fn=default_sigint) as process:
        for pause in (2, 0.5):
            time.sleep(pause)
            process.send_signal(signal.SIGINT)
        # Reading at once could wake the blocked call before the signal ends
        # it; that call would then write a little and return its count.
        time.sleep(0.5)
        stdout, stderr = process.communicate(timeout=120)
    assert (process.returncode, stderr) == (1, b"KeyboardInterrupt: \n")
    assert written_gates(stdout.decode()) == gates


INPUTS = [qasm("t q[0];", "t q[0];"),
          qasm("h q[0];", "z q[0];", "h q[0];", "cx q[0],q[1];", "cx q[1],q[0];"),
          qasm(*["t q[0];", "h q[0];", "tdg q[0];", "s q[0];", "t q[0];", "t q[0];"] * 4),
          HEADER + gate_text(["t", "h", "s", "x", "tdg"] * 10_000), "", "// nothing\n"]


def test_eight_threads_give_the_sequential_results():
    expected = [kestrel.optimize_qasm(text) for text in INPUTS]

    def work(slot):  # each thread its own order
        order = ((slot + k * (slot + 1)) % len(INPUTS) for k in range(scaled(60, 3_000)))
        return all(kestrel.optimize_qasm(INPUTS[i]) == expected[i] for i in order)

    with ThreadPoolExecutor(max_workers=8) as pool:
        assert list(pool.map(work, range(8))) == [True] * 8


LEAK_CHECK = """
import sys, resource, kestrel
H = 'OPENQASM 2.0;\\ninclude "qelib1.inc";\\nqreg q[1];\\n'
calls = [lambda: kestrel.optimize_qasm(H + "t q[0];\\nt q[0];\\n"),
         lambda: kestrel.optimize_qasm(qasm=H + "h q[0];\\nz q[0];\\nh q[0];\\ncx q[0],q[0];\\n"),
         lambda: kestrel.optimize_qasm(b""), lambda: kestrel.optimize_qasm("t\\ud800"),
         lambda: kestrel.optimize_qasm(), lambda: kestrel.optimize_qasm("a", qasm="b")]
if sys.argv[1] == "cli":
    calls = [kestrel.cli, kestrel.cli, kestrel.cli, lambda: kestrel.cli(1)]
rss = []
for k in range(int(sys.argv[2])):
    try:
        calls[k % len(calls)]()
    except (TypeError, UnicodeEncodeError):
        pass
    if k in (1000, int(sys.argv[2]) - 1):
        with open("/proc/self/statm") as statm:
            rss.append(int(statm.read().split()[1]) * resource.getpagesize())
print(*rss)
"""


@pytest.mark.parametrize("entry, calls", [("optimize_qasm", scaled(100_000, 1_000_000)),
                                          ("cli", scaled(20_000, 200_000))])
def test_resident_memory_stays_flat(tmp_path, entry, calls):
    (tmp_path / "in.qasm").write_text(qasm("t q[0];", "t q[0];", "h q[0];"))
    result = subprocess.run([sys.executable, "-c", LEAK_CHECK, entry, str(calls), "--in", "in.qasm",
                             "--out", "out.qasm"], cwd=tmp_path, capture_output=True, text=True,
                            timeout=1800, check=False)
    assert result.returncode == 0, result.stderr
    after_warm, after_all = map(int, result.stdout.split())
    assert after_all - after_warm < 1 << 20, (after_warm, after_all)


def test_arguments_keep_their_reference_counts():
    values = [qasm("t q[0];"), type("Text", (str,), {})(qasm("h q[0];")), b"t q[0];", "t\ud800", object()]
    before = [sys.getrefcount(value) for value in values]
    for k in range(3_000):
        try:
            kestrel.optimize_qasm(values[k % 5]) if k % 2 else kestrel.optimize_qasm(qasm=values[k % 5])
        except (TypeError, UnicodeEncodeError):
            pass
    assert [sys.getrefcount(value) for value in values] == before
