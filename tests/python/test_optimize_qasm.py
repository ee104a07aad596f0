"""optimize_qasm: arguments, results and the statistics dictionary."""

import subprocess
import sys
import threading
import time

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import kestrel
from conftest import HEADER, qasm

KEYS = ["t_before", "t_after", "depth_before", "depth_after", "gates_before", "gates_after"]
GATE_LINES = ["h q[0];", "s q[0];", "sdg q[0];", "t q[0];", "tdg q[0];", "x q[0];", "z q[0];",
              "cx q[0],q[0];"]


class TestArguments:
    def test_positional_and_keyword_give_the_same_result(self):
        text = qasm("h q[0];", "t q[0];")
        assert kestrel.optimize_qasm(text) == kestrel.optimize_qasm(qasm=text)

    def test_str_subclass_is_accepted(self):
        class Text(str):
            pass

        text = qasm("x q[0];")
        assert kestrel.optimize_qasm(Text(text)) == kestrel.optimize_qasm(text)

    @pytest.mark.parametrize(
        "args, kwargs, message",
        [
            ((), {}, "optimize_qasm() missing 1 required positional argument: 'qasm'"),
            (("a", "b"), {}, "optimize_qasm() takes 1 positional argument but 2 were given"),
            ((), {"text": "a"}, "optimize_qasm() got an unexpected keyword argument 'text'"),
            ((), {"qasm": "a", "extra": 1},
             "optimize_qasm() got an unexpected keyword argument 'extra'"),
            (("a",), {"qasm": "a"}, "optimize_qasm() got multiple values for argument 'qasm'"),
        ],
        ids=["missing", "two-positional", "unknown-keyword", "extra-keyword", "twice"],
    )
    def test_argument_errors(self, args, kwargs, message):
        with pytest.raises(TypeError) as caught:
            kestrel.optimize_qasm(*args, **kwargs)
        assert str(caught.value) == message

    @pytest.mark.parametrize("value, type_name", [(1, "int"), (b"h q[0];", "bytes"),
                                                   (None, "NoneType"), (["h q[0];"], "list")])
    def test_non_str_is_type_error_with_prefix(self, value, type_name):
        with pytest.raises(TypeError) as caught:
            kestrel.optimize_qasm(value)
        assert str(caught.value) == (
            f"argument 'qasm': '{type_name}' object cannot be converted to 'str'")

    def test_lone_surrogate_raises_unicode_encode_error_unchanged(self):
        with pytest.raises(UnicodeEncodeError) as caught:
            kestrel.optimize_qasm(HEADER + "h q[0];\ud800\n")
        assert not str(caught.value).startswith("argument")
        assert caught.value.encoding == "utf-8"

    def test_cli_takes_no_arguments(self):
        for args, kwargs in [((1,), {}), (("--in",), {}), ((), {"argv": []})]:
            with pytest.raises(TypeError):
                kestrel.cli(*args, **kwargs)


class TestResults:
    def test_two_t_gates_become_one_s_gate(self):
        text, stats = kestrel.optimize_qasm(qasm("t q[0];", "t q[0];"))
        assert text == qasm("s q[0];")
        assert list(stats.items()) == [("t_before", 2), ("t_after", 0), ("depth_before", 2),
                                       ("depth_after", 1), ("gates_before", 2),
                                       ("gates_after", 1)]

    def test_four_t_gates_become_one_z_gate(self):
        text, stats = kestrel.optimize_qasm(qasm(*["t q[0];"] * 4))
        assert text == qasm("z q[0];")
        assert (stats["t_before"], stats["t_after"]) == (4, 0)

    def test_right_nested_hzh_becomes_x(self):
        text, _ = kestrel.optimize_qasm(qasm("h q[0];", "z q[0];", "h q[0];"))
        assert text == qasm("x q[0];")

    def test_text_without_applicable_rule_keeps_its_gates(self):
        lines = ["h q[0];", "t q[0];", "sdg q[0];", "x q[0];", "tdg q[0];", "h q[0];"]
        text, stats = kestrel.optimize_qasm(qasm(*lines))
        assert text == qasm(*lines)
        assert stats == {"t_before": 2, "t_after": 2, "depth_before": 6, "depth_after": 6,
                         "gates_before": 6, "gates_after": 6}

    def test_result_shape(self):
        result = kestrel.optimize_qasm(qasm("h q[0];"))
        assert type(result) is tuple and len(result) == 2
        text, stats = result
        assert type(text) is str and type(stats) is dict
        assert list(stats) == KEYS
        assert all(type(value) is int for value in stats.values())

    def test_each_call_returns_a_new_dictionary(self):
        text = qasm("h q[0];")
        first = kestrel.optimize_qasm(text)[1]
        first["t_before"] = 99
        assert kestrel.optimize_qasm(text)[1]["t_before"] == 0

    @pytest.mark.parametrize("text", ["", "garbage\n", HEADER], ids=["empty", "unknown", "header"])
    def test_text_without_gates_is_the_empty_circuit(self, text):
        out, stats = kestrel.optimize_qasm(text)
        assert out == HEADER
        assert stats == dict.fromkeys(KEYS, 0)

    @settings(max_examples=40, deadline=None)
    @given(st.lists(st.sampled_from(GATE_LINES), min_size=1, max_size=10))
    def test_text_and_statistics_describe_the_same_circuits(self, lines):
        text, stats = kestrel.optimize_qasm(qasm(*lines))
        assert text.startswith(HEADER) and text.endswith("\n")
        assert set(text[len(HEADER):].splitlines()) <= set(GATE_LINES)
        # Before: the input as written. After: the text as returned.
        assert stats["gates_before"] == stats["depth_before"] == len(lines)
        assert stats["t_before"] == sum(line.startswith(("t ", "tdg ")) for line in lines)
        _, reread = kestrel.optimize_qasm(text)
        assert reread["t_before"] == stats["t_after"]
        assert reread["gates_before"] == stats["gates_after"]
        # The input is one of the candidates, so nothing gets more expensive.
        assert stats["t_after"] <= stats["t_before"]
        assert stats["gates_after"] <= stats["gates_before"] or stats["t_after"] < stats["t_before"]


class TestThreads:
    INPUTS = [qasm("t q[0];", "t q[0];"), qasm("h q[0];", "z q[0];", "h q[0];"),
              qasm(*["t q[0];", "h q[0];", "tdg q[0];", "s q[0];"] * 3),
              qasm("cx q[0],q[0];", "cx q[0],q[0];", "x q[0];")]

    def test_eight_threads_match_a_sequential_run(self):
        expected = [kestrel.optimize_qasm(text) for text in self.INPUTS]
        results = [None] * 8
        errors = []

        def work(slot):
            try:
                results[slot] = [kestrel.optimize_qasm(text) for text in self.INPUTS * 5]
            except BaseException as error:  # reported below, not lost in the thread
                errors.append(error)

        threads = [threading.Thread(target=work, args=(slot,)) for slot in range(8)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        assert errors == []
        for result in results:
            assert result == expected * 5

    def test_other_threads_run_while_a_call_optimises(self):
        # A ticker records the time every millisecond. With the interpreter
        # lock held through the call it could not run at all, and the largest
        # gap between ticks would cover the whole call. The input grows until
        # one call lasts long enough to tell the two apart.
        repeats = 20_000
        while True:
            duration, largest_gap = self.call_beside_ticker(
                qasm(*["h q[0];", "t q[0];", "sdg q[0];"] * repeats))
            if duration > 0.2 or repeats > 5_000_000:
                break
            repeats *= 2
        assert duration > 0.2, "no input was slow enough to measure"
        assert largest_gap < duration / 2

    @staticmethod
    def call_beside_ticker(text):
        """Runs optimize_qasm(text) while a ticker thread runs; returns the
        call's duration and the largest gap between ticks during it."""
        ticks = []
        done = threading.Event()

        def ticker():
            while not done.is_set():
                ticks.append(time.monotonic())
                time.sleep(0.001)

        thread = threading.Thread(target=ticker)
        thread.start()
        time.sleep(0.02)
        start = time.monotonic()
        kestrel.optimize_qasm(text)
        end = time.monotonic()
        done.set()
        thread.join()
        during = [start] + [tick for tick in ticks if start < tick < end] + [end]
        return end - start, max(b - a for a, b in zip(during, during[1:]))


def test_exhausted_memory_raises_memory_error():
    # The address space is capped just above what the process uses, then a
    # text is given whose result alone needs more (32 MB of output text): the
    # C++ allocation fails, and the process must survive it as a MemoryError.
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
print("alive")
"""
    result = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                            timeout=120, check=False)
    assert result.returncode == 0, result.stderr
    assert result.stdout == "MemoryError\nalive\n"
