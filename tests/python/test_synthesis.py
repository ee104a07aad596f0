"""kestrel.synthesize_rz against an independent computation in mpmath.

Each returned gate's 2x2 matrix is multiplied out in 50-digit arithmetic and compared with rz(angle) = diag(e^(-i
angle/2), e^(i angle/2)): the operator-norm distance up to a global phase (from the eigenvalues of rz(angle)^dagger U)
must be at most epsilon, the T count must be the number of t and tdg gates, and close to 3 log2(1/epsilon). Bad epsilons
and angles are ValueErrors.
"""

import math

import mpmath
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import kestrel
from conftest import scaled

mpmath.mp.dps = 50
R2 = 1 / mpmath.sqrt(2)
W = mpmath.exp(1j * mpmath.pi / 4)
# The diagonal gates are diag(1, W^k).
GATES = {"h": mpmath.matrix([[R2, R2], [R2, -R2]]), "x": mpmath.matrix([[0, 1], [1, 0]]),
         "y": mpmath.matrix([[0, -1j], [1j, 0]]),
         **{name: mpmath.diag([1, W**k]) for name, k in [("s", 2), ("sdg", -2), ("t", 1), ("tdg", -1), ("z", 4)]}}


def distance(gates, angle):
    """min over phases p of ||U - e^(ip) rz(angle)||, U the gates' product."""
    u = mpmath.eye(2)
    for gate in gates:
        u = GATES[gate] * u
    half = mpmath.mpf(angle) / 2
    rz_dagger = mpmath.matrix([[mpmath.exp(1j * half), 0], [0, mpmath.exp(-1j * half)]])
    values, _ = mpmath.eig(rz_dagger * u)
    a, b = (mpmath.arg(v) for v in values)
    gap = abs(a - b) % (2 * mpmath.pi)
    gap = min(gap, 2 * mpmath.pi - gap)  # the shorter arc between the eigenvalues
    return 2 * mpmath.sin(gap / 4)


@settings(max_examples=scaled(40, 400), deadline=None)
@given(st.floats(-20, 20), st.sampled_from([1e-2, 1e-3, 1e-6, 1e-10]))
def test_within_epsilon_with_about_three_log_t_gates(angle, epsilon):
    gates, t_count = kestrel.synthesize_rz(angle, epsilon)
    assert set(gates) <= set(GATES)
    assert t_count == sum(g in ("t", "tdg") for g in gates)
    assert distance(gates, angle) <= epsilon
    # Within sqrt(epsilon) of a multiple of pi/4 the epsilon-region lies
    # nearly along an axis: about four T gates a bit there (the next test).
    off_axis = abs(math.remainder(angle, math.pi / 4))
    per_bit = 4 if off_axis < math.sqrt(epsilon) else 3
    assert t_count <= per_bit * math.log2(1 / epsilon) + 10


# Angles just beyond a multiple of pi/4, where the epsilon-region lies
# nearly along an axis: the direct search (about 4 log2(1/epsilon) T gates
# there), and at theta = 3 epsilon below 1e-16, where no lattice point is
# reachable, the split into rz(theta - pi/8) rz(pi/8) at epsilon/2 each.
# Near zero (pi/2^25 .. pi/2^30 at 1e-10) one level holds thousands of
# candidates, none of which reaches the level's least T count; at pi + 3e-15
# no level has a point, and the search gives up at its node budget.
@pytest.mark.parametrize("angle, epsilon, per_bit", [
    (7.3e-10, 1e-10, 4), (-7.3e-10, 1e-10, 4), (3e-8, 1e-10, 4), (math.pi / 4 + 5e-10, 1e-11, 4),
    (math.pi / 2 + 3e-10, 1e-10, 4), (1e-13, 1e-15, 4), (2e-11, 1e-15, 4), (3e-21, 1e-21, 7), (3e-30, 1e-30, 7),
    (math.pi / 2**25, 1e-10, 4), (math.pi / 2**28, 1e-10, 4), (math.pi / 2**30, 1e-10, 4), (-math.pi / 2**27, 1e-10, 4),
    (math.pi / 2 - 3e-15, 1e-15, 4), (math.pi + 3e-15, 1e-15, 7)])
def test_angles_beyond_an_axis_by_a_few_epsilon(angle, epsilon, per_bit):
    gates, count = kestrel.synthesize_rz(angle, epsilon)
    assert distance(gates, angle) <= epsilon
    assert 3 * math.log2(1 / epsilon) - 10 <= count <= per_bit * math.log2(1 / epsilon) + 12


# Angles that are multiples of pi/4 come out exact (the double nearest the
# angle is off by ~1e-17); those within epsilon of the identity or of t are
# nothing or t.
@pytest.mark.parametrize("angle, epsilon, t_count, bound", [
    (0.0, 1e-10, 0, 1e-15), (math.pi / 4, 1e-10, 1, 1e-15), (math.pi / 2, 1e-10, 0, 1e-15),
    (-math.pi / 4, 1e-10, 1, 1e-15), (3 * math.pi / 4, 1e-10, 1, 1e-15), (math.pi, 1e-10, 0, 1e-15),
    (4 * math.pi, 1e-10, 0, 1e-15), (3e-11, 1e-10, 0, 1e-10), (-1e-31, 1e-30, 0, 1e-30),
    (math.pi / 4 - 1e-12, 1e-10, 1, 1e-10), (-math.pi / 4 + 2e-11, 1e-10, 1, 1e-10)])
def test_multiples_of_pi_4_and_angles_within_epsilon_of_one(angle, epsilon, t_count, bound):
    gates, count = kestrel.synthesize_rz(angle, epsilon)
    assert (count, distance(gates, angle) <= bound) == (t_count, True)


def test_the_same_call_gives_the_same_gates():
    assert kestrel.synthesize_rz(angle=0.3, epsilon=1e-8) == kestrel.synthesize_rz(0.3, 1e-8)
    # Rz has period 4 pi: the same rotation, as many T gates.
    assert kestrel.synthesize_rz(0.3 + 4 * math.pi, 1e-8)[1] == kestrel.synthesize_rz(0.3, 1e-8)[1]


@pytest.mark.parametrize("angle, epsilon, error, message", [
    *[(0.5, e, ValueError, r"epsilon must be a number in \(0, 0.1\]")
      for e in (0.0, -1e-3, 0.2, 1.0, math.nan, math.inf, -math.inf)],
    (math.nan, 1e-3, ValueError, "angle must be a finite number"),
    (math.inf, 1e-3, ValueError, "angle must be a finite number"),
    (0.5, 1e-40, ValueError, "below 1e-30"),
    ("0.5", 1e-3, TypeError, "must be real number, not str"),
])
def test_bad_arguments(angle, epsilon, error, message):
    with pytest.raises(error, match=message):
        kestrel.synthesize_rz(angle, epsilon)


def test_the_command_line_writes_the_same_gates():
    import json
    from conftest import REPO, console_script, run
    result = run([str(console_script()), "--rz", "0.5", "--epsilon", "1e-4", "--json"], REPO)
    assert result.returncode == 0, result.stderr
    printed = json.loads(result.stdout)
    gates, t_count = kestrel.synthesize_rz(0.5, 1e-4)
    assert (printed["gates"], printed["t_count"]) == (gates, t_count)
    assert distance(gates, 0.5) <= printed["distance"] * (1 + 1e-12) <= 1e-4 * (1 + 1e-12)
    program = run([str(console_script()), "--rz", "0.5", "--epsilon", "1e-4"], REPO)
    lines = program.stdout.decode().splitlines()
    assert lines[:3] == ["OPENQASM 2.0;", 'include "qelib1.inc";', "qreg q[1];"]
    assert lines[3:] == [f"{g} q[0];" for g in gates]
