"""optimize_qasm(text, method="normal-form") on long runs against model.py.

A result must be its input's matrix (model.unitary, one-qubit gates on qubit 0 and cx with control 0 and target 1) up to
a global phase, with no more T gates. Two families of runs have a known T count: a run followed by its inverse is the
identity, and a Matsumoto-Amano word (T or nothing, then HT or SHT any number of times, then Cliffords) needs every one
of its T gates. The exact model of tests/cpp/normal_form holds every run of up to six gates to its fewest T gates and
gates; these runs are thousands long.
"""

import random

from hypothesis import given, settings
from hypothesis import strategies as st

import kestrel
from conftest import HEADER, scaled
from model import INVERSE, ONE_QUBIT, gate_text, same_up_to_phase, t_count, unitary, written_gates


def normal_form(gates):
    return kestrel.optimize_qasm(HEADER + gate_text(gates), method="normal-form")


def check_result(gates, text, stats):
    """The checks every result passes; returns the result's gates."""
    out = written_gates(text)
    assert same_up_to_phase(unitary(gates), unitary(out))
    assert stats == {"t_before": t_count(gates), "t_after": t_count(out), "depth_before": len(gates),
                     "depth_after": len(out), "gates_before": len(gates), "gates_after": len(out)}
    assert t_count(out) <= t_count(gates)
    if t_count(out) == t_count(gates):
        assert len(out) <= len(gates)
    # Read back, the text gives the same counts, and a second pass keeps it.
    again, reread = kestrel.optimize_qasm(text, method="normal-form")
    assert again == text
    assert (reread["t_before"], reread["gates_before"]) == (stats["t_after"], stats["gates_after"])
    return out


def random_gates(seed, size, cx_share):
    rng = random.Random(seed)
    return ["cx" if rng.random() < cx_share else rng.choice(list(ONE_QUBIT)) for _ in range(size)]


def ma_word(seed, rotations):
    """A Matsumoto-Amano word with `rotations` T gates, each T as t or as
    tdg s (the same gate up to phase), then a few Clifford gates."""
    rng = random.Random(seed)
    gates = []
    for i in range(rotations):
        if i > 0:
            gates += rng.choice([["h"], ["s", "h"]])
        gates += rng.choice([["t"], ["tdg", "s"]])
    return gates + [rng.choice(["h", "s", "x", "z", "sdg"]) for _ in range(rng.randrange(4))]


seeds = st.integers(0, 2**32 - 1)


@settings(max_examples=scaled(25, 200), deadline=None)
@given(seeds, st.integers(0, 10_000), st.sampled_from([0.0, 0.01, 0.2]))
def test_random_wires_keep_their_operator(seed, size, cx_share):
    gates = random_gates(seed, size, cx_share)
    check_result(gates, *normal_form(gates))


@settings(max_examples=scaled(10, 50), deadline=None)
@given(seeds, st.integers(0, 5_000))
def test_a_run_then_its_inverse_is_nothing(seed, size):
    gates = random_gates(seed, size, 0.0)
    undo = [INVERSE[g] for g in reversed(gates)]
    text, stats = normal_form(gates + undo)
    assert text == HEADER
    assert stats["gates_after"] == 0


@settings(max_examples=scaled(15, 100), deadline=None)
@given(seeds, st.integers(1, 3_000))
def test_matsumoto_amano_words_keep_every_t_gate(seed, rotations):
    gates = ma_word(seed, rotations)
    out = check_result(gates, *normal_form(gates))
    assert t_count(out) == rotations
