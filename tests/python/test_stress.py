"""Large inputs, interrupts, many threads and many calls: no crash, no leak, no drift. The sizes are those a test run
affords; scripts/long-checks.sh runs them larger (`scaled`)."""

import os
import random
import resource
import signal
import subprocess
import sys
import threading
import time
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

import pytest

import kestrel
from conftest import CLI, HEAD, HEADER, console_script, default_sigint, qasm, run, scaled
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
    # One wire, its cx written "cx q[0],q[0];": the statistics alone.
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


INPUTS = [qasm("t q[0];", "t q[0];"), qasm("h q[0];", "z q[0];", "h q[0];", "cx q[0],q[1];", "cx q[1],q[0];"),
          qasm(*["t q[0];", "h q[0];", "tdg q[0];", "s q[0];", "t q[0];", "t q[0];"] * 4),
          HEADER + gate_text(["t", "h", "s", "x", "tdg"] * 10_000), "", "// nothing\n"]


def random_program(seed, qubits, gates):
    """A seeded Clifford+T program with measurements, resets and conditions."""
    rng = random.Random(seed)
    lines = [f"qreg q[{qubits}];", f"creg c[{qubits}];"]
    for _ in range(gates):
        a, b = rng.sample(range(qubits), 2)
        lines.append(rng.choice([f"t q[{a}];", f"tdg q[{a}];", f"h q[{a}];", f"s q[{a}];",
                                 f"cx q[{a}],q[{b}];", f"cx q[{a}],q[{b}];", f"x q[{a}];"]))
        if rng.random() < 0.02:
            lines.append(rng.choice([f"measure q[{a}] -> c[{a}];", f"reset q[{a}];",
                                     f"if (c=={rng.randrange(4)}) t q[{b}];", "barrier q;"]))
    return HEAD + "\n".join(lines) + "\n"


PROGRAMS = [HEAD + "qreg q[3];\ncreg c[3];\nt q[0];\ncx q[1],q[0];\nt q[0];\ncx q[1],q[0];\n"
            "t q[0];\nh q[2];\nt q[2];\nt q[2];\nmeasure q -> c;\n",
            random_program(1, 5, 400), random_program(2, 12, 1_000),
            HEAD + "qreg q[2];\nh q[2];\n"]  # the last raises ValueError

# Every method and mode, and explain: (function, text, options). The time
# limit is far off, so that a slow build under many threads gives the same
# results (past it, the rest of a per-qubit call would be left as it is).
NO_LIMIT = {"time_limit": 3600}
CALLS = ([(kestrel.optimize_qasm, text, NO_LIMIT) for text in INPUTS]
         + [(kestrel.optimize_qasm, text, {"method": "normal-form"}) for text in INPUTS]
         + [(kestrel.explain, text, NO_LIMIT) for text in INPUTS[:3]]
         + [(kestrel.optimize_qasm, text, NO_LIMIT | options) for text in PROGRAMS
            for options in ({"per_qubit": True}, {"per_qubit": True, "method": "normal-form"},
                            {"method": "rotation-merging"})])


def outcome(function, text, options):
    """What a call gives, as a value to compare: its result, the fields of a
    report but for its times, or the message of its ValueError."""
    try:
        result = function(text, **options)
    except ValueError as error:
        return "ValueError", str(error)
    if isinstance(result, kestrel.Report):
        return (result.text, result.stats, result.stop_reason, result.skipped, result.nodes, result.classes, result.dot,
                [(i.nodes, i.classes, i.applied, i.banned) for i in result.iterations])
    return result


def test_eight_threads_give_the_sequential_results():
    expected = [outcome(*call) for call in CALLS]
    assert [e for e in expected if e[0] == "ValueError"] and [e for e in expected if e[6:7] != (None,)]

    def work(slot):  # each thread its own order
        order = ((slot + k * (slot + 1)) % len(CALLS) for k in range(scaled(120, 3_000)))
        return all(outcome(*CALLS[i]) == expected[i] for i in order)

    with ThreadPoolExecutor(max_workers=8) as pool:
        assert list(pool.map(work, range(8))) == [True] * 8


CLI_THREADS = """
import sys, threading, kestrel
threads = [threading.Thread(target=lambda: [kestrel.cli() for _ in range(20)]) for _ in range(8)]
for thread in threads:
    thread.start()
for thread in threads:
    thread.join()
"""


def test_the_command_line_in_eight_threads_writes_what_one_call_writes(tmp_path):
    # Eight threads, one text, the same two files written over and over: each
    # written whole, the text and drawing of a single call, that of explain
    # (what one call writes there: test_report's TestCommandLine).
    text = qasm("t q[0];", "h q[0];", "t q[0];", "x q[0];", "tdg q[0];")
    (tmp_path / "in.qasm").write_text(text)
    result = run([sys.executable, "-c", CLI_THREADS, "--in", "in.qasm", "--out", "out.qasm", "--dot", "drawing.dot"],
                 tmp_path)
    assert (result.returncode, result.stderr) == (0, b"")
    assert (tmp_path / "out.qasm").read_text() == kestrel.optimize_qasm(text)[0]
    assert (tmp_path / "drawing.dot").read_text() == kestrel.explain(text).dot


# Calls that each last long enough for another thread to be scheduled, and
# the function to watch: a real saturation run, under the node limit (its
# report shows the iterations), and optimize_qasm, which releases the lock
# around the whole pipeline, whatever the method (binding/pipeline.cpp).
def saturating():
    rng = random.Random(40)
    return qasm(*(rng.choice(["h", "t", "s", "tdg", "sdg", "x", "z"]) + " q[0];" for _ in range(40)))


LONG_CALLS = {
    "saturation": lambda: (kestrel.explain, saturating(), {"node_limit": 100_000, "time_limit": 600}),
    "rotation merging": lambda: (kestrel.optimize_qasm, random_program(3, 64, 400_000), {"method": "rotation-merging"}),
}


@pytest.mark.parametrize("name", LONG_CALLS)
def test_a_second_thread_runs_while_a_call_works(name):
    # The switch interval is made so long that the calling thread gives up
    # the interpreter lock only where it releases it itself. Its profile hook
    # raises a flag just before the call and another just after. The main
    # thread, woken by the first, can take the lock before the second only
    # if the call released it; it then makes progress of its own (calls of
    # the module, each also releasing the lock) and notes whether the call
    # was still on when it began. No clock is read.
    function, text, options = LONG_CALLS[name]()
    called, returned, results = threading.Event(), [], []

    def hook(frame, event, arg):
        if arg is function and event == "c_call":
            called.set()
        elif arg is function:
            returned.append(event)

    def work():
        sys.setprofile(hook)
        try:
            results.append(function(text, **options))
        finally:
            sys.setprofile(None)

    interval = sys.getswitchinterval()
    sys.setswitchinterval(1_000)
    try:
        thread = threading.Thread(target=work)
        thread.start()
        assert called.wait(timeout=600)
        still_on = not returned
        progress = [kestrel.optimize_qasm(INPUTS[0])[1]["t_after"] for _ in range(3)]
        thread.join()
    finally:
        sys.setswitchinterval(interval)
    assert still_on and progress == [0, 0, 0] and returned == ["c_return"]
    if function is kestrel.explain:
        report = results[0]
        assert not report.skipped and report.stop_reason == "node limit"
        assert len(report.iterations) > 10


# Texts that are no programs, one for each kind of the statement reader's messages (after HEAD): the
# leak check reads them in every mode. Each message with its place: tests/cpp/program/program_test.cpp;
# that every method refuses a text with its place: test_angles' refusal of angles that are no number.
NO_PROGRAMS = [
    "gate g a { h a;\n", "qreg q[2];\nh q[2];", "qreg q[2];\ncx q[0],q[0];", "qreg q[2]; creg c[3];\nmeasure q -> c;",
    "qreg q[2]\nh q[0];", "qreg q[2];\nfoo q[0];", "qreg q[2];\nrz(pi/) q[0];", "gate g(x) a { h x; }",
    "qreg q[1]; creg q[1];", "qreg q[1048577];", "qreg q[1]; creg c[1];\nif (c==1) barrier q;",
    "include \"other.inc\";", "qreg q[1]; // \u00e9\nh\u00a0q[0];",
]


LEAK_CHECK = """
import ctypes, sys, resource, kestrel
from test_stress import CALLS, HEAD, NO_PROGRAMS
trim = ctypes.CDLL(None).malloc_trim
H = 'OPENQASM 2.0;\\ninclude "qelib1.inc";\\nqreg q[1];\\n'
calls = [lambda: kestrel.optimize_qasm(H + "t q[0];\\nt q[0];\\n"),
         lambda: kestrel.optimize_qasm(qasm=H + "h q[0];\\nz q[0];\\nh q[0];\\ncx q[0],q[0];\\n"),
         lambda: kestrel.optimize_qasm(b""), lambda: kestrel.optimize_qasm("t\\ud800"),
         lambda: kestrel.optimize_qasm(), lambda: kestrel.optimize_qasm("a", qasm="b")]
if ENTRY == "cli":
    calls = [kestrel.cli, kestrel.cli, kestrel.cli, lambda: kestrel.cli(1)]
if ENTRY == "methods":  # every method and mode, explain, every reading error
    calls = [lambda f=f, t=t, o=o: f(t, **o) for f, t, o in CALLS if len(t) < 2_000]
    calls += [lambda t=t, o=o: kestrel.optimize_qasm(HEAD + t, **o) for t in NO_PROGRAMS
              for o in ({"per_qubit": True}, {"method": "rotation-merging"})]
total = COUNT * len(calls) if ENTRY == "methods" else COUNT
rss = []  # resident bytes after each hundredth of the calls
for k in range(total):
    try:
        calls[k % len(calls)]()
    except (TypeError, UnicodeEncodeError, ValueError):
        pass
    if (k + 1) % max(1, total // 100) == 0:
        trim(0)  # what the heap holds free goes back, so that what stays is held
        with open("/proc/self/statm") as statm:
            rss.append(int(statm.read().split()[1]) * resource.getpagesize())
print(*rss)
"""


# The calls in all for optimize_qasm and cli; for "methods", the calls of
# each text and options, taken in turn: in the long run every method and
# mode, explain and the texts that raise get at least 100,000 calls (the
# per-qubit modes and rotation merging have two texts each), 5.6 million in
# all, about half an hour.
@pytest.mark.parametrize("entry, calls", [("optimize_qasm", scaled(100_000, 1_000_000)),
                                          ("cli", scaled(20_000, 200_000)), ("methods", scaled(1_000, 50_000))])
def test_resident_memory_stays_flat(tmp_path, entry, calls):
    (tmp_path / "in.qasm").write_text(qasm("t q[0];", "t q[0];", "h q[0];"))
    # The words after the code are the command line's own.
    code = f"ENTRY, COUNT = {entry!r}, {calls}\n" + LEAK_CHECK
    result = subprocess.run([sys.executable, "-c", code, "--in", "in.qasm",
                             "--out", "out.qasm"], cwd=tmp_path, capture_output=True, text=True,
                            timeout=scaled(3_600, 4 * 3_600), check=False,
                            env=dict(os.environ, PYTHONPATH=str(Path(__file__).parent)))
    assert result.returncode == 0, result.stderr
    rss = list(map(int, result.stdout.split()))
    # The floor of the last quarter of the calls against that of the second:
    # a leak raises the floor, while the allocator's heap grows and shrinks
    # by a megabyte or two around it (a report's text is large) and settles
    # its caches in the first calls.
    quarter = len(rss) // 4
    second, last = min(rss[quarter:2 * quarter]), min(rss[-quarter:])
    assert last - second < 1 << 20, (second, last)


def test_arguments_keep_their_reference_counts():
    values = [qasm("t q[0];"), type("Text", (str,), {})(qasm("h q[0];")), b"t q[0];", "t\ud800", object()]
    before = [sys.getrefcount(value) for value in values]
    for k in range(3_000):
        try:
            kestrel.optimize_qasm(values[k % 5]) if k % 2 else kestrel.optimize_qasm(qasm=values[k % 5])
        except (TypeError, UnicodeEncodeError):
            pass
    assert [sys.getrefcount(value) for value in values] == before
