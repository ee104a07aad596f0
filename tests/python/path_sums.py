"""Sums over paths of Clifford+T circuits, and the rules that reduce them.

A circuit on n qubits maps a basis state |x> to

    2^(-scale/2) * e^(i pi g/8) * sum over y of  w^P(x, y) |f(x, y)>

where w = e^(i pi/4), y are the path variables (one per Hadamard gate), each output wire f_j is an affine function over
GF(2) of the variables x and y (a parity, held as a bit mask, plus a constant bit), and the phase P is a sum of parities
with coefficients mod 8, sum of c_p [p(x, y)] with [.] the parity's value 0 or 1 as an integer. g is mod 16, for the
global phases of rz(k pi/4) (e^(-i k pi/8)). For example `h q[0]; t q[0]; h q[0];` on |x0> is

    1/2 * sum over y1, y2 of  w^(2[y1] + 2[x0] - 2[x0+y1] + [y1] + 2[y1] + 2[y2] - 2[y1+y2]) |y2>

since 4ab = 2[a] + 2[b] - 2[a+b] for bits a, b. Gates: x flips a wire's constant, cx adds one wire to another, a phase
gate diag(1, w^k) adds k [f]; h makes a fresh y, adds 4 y f and puts y on the wire; cz and ccz add 4 fa fb and 4 fa fb
fc as parities the same way; ccx is h ccz h.

A path variable y on no wire is summed out by a rule once the phase's dependence on it is simple. Write P = A + y B with
B(x) = P(y=1) - P(y=0) = sum over the terms holding y of c_p (1 - 2[r_p]), r_p the parity p without y. Where the terms'
r_p give B = C + 4[L] for a constant C and a parity L (checked exactly: the odd-coefficient r_p must have even overlaps
pairwise, and the variables in an odd number of c_p-weighted r_p's mod 4 form L):
- HH (C = 0 or 4): the sum over y is 2 [C/4 + L = 0]; no L: a factor 2 (elimination); else a path variable v of L is set
  to the rest of it everywhere and goes too;
- omega (C = 2 or 6): the sum over y is sqrt(2) w^(1 - 2[G]) with G = [C = 6] + L.
In both the terms holding y keep their value at y = 0. `close` keeps the diagonal alone, each wire's condition f_j = x_j
a path variable of the phase (an HH rule on it sets a variable of f_j to the rest). A sum reduced to no path variable,
scale 0, f_j = x_j and a phase that is constant as a function (checked on its multilinear form mod 8) is the identity
times e^(i pi g/8). This module knows nothing of kestrel.
"""

from __future__ import annotations

import math
from copy import deepcopy

import numpy as np

# The one-qubit phase gates as powers k of diag(1, w^k).
PHASES = {"t": 1, "s": 2, "z": 4, "sdg": 6, "tdg": 7}
# Past this many phase terms the sum is given up on (a guard on memory).
MAX_TERMS = 2_000_000


class Vanishing(Exception):
    """A sum over a path variable that is zero everywhere: no unitary has it."""


class TooLarge(Exception):
    """The phase grew past MAX_TERMS terms."""


def variables(mask: int):
    """The variables of a parity (bit mask), lowest first."""
    while mask:
        low = mask & -mask
        yield low.bit_length() - 1
        mask ^= low


def put(out: dict[int, int], key: int, c: int) -> None:
    """out[key] += c (mod 8), a zero removed."""
    v = (out.get(key, 0) + c) % 8
    if v:
        out[key] = v
    else:
        out.pop(key, None)


def lifted(monomials, c: int = 1, out: dict[int, int] | None = None) -> dict[int, int]:
    """c times the sum mod 2 of `monomials` (bit masks; 0 is the constant) lifted to the integers mod 8, added into
    `out`: [a1 + ... + am] is the sum over nonempty subsets S of (-2)^(|S|-1) times their product, zero mod 8 past
    three factors."""
    out = {} if out is None else out
    terms = sorted(monomials)
    for i, a in enumerate(terms):
        put(out, a, c)
        if c % 4:
            for j in range(i + 1, len(terms)):
                put(out, a | terms[j], -2 * c)
                if c % 2:
                    for k in range(j + 1, len(terms)):
                        put(out, a | terms[j] | terms[k], 4 * c)
    return out


def multilinear(poly: dict[int, int]) -> dict[int, int]:
    """The phase sum c_p [p] as its unique multilinear polynomial mod 8 (monomial bit mask -> coefficient; the constant
    under 0)."""
    out: dict[int, int] = {}
    for p, c in poly.items():
        lifted([1 << v for v in variables(p)], c, out)
    return out


class Sum:
    """What both stages share: the phase with its index of the terms that hold each variable, the rules' counts and the
    loop that applies them."""

    def _term(self, key: int, c: int) -> None:
        """poly[key] += c (mod 8), c nonzero mod 8, the index kept."""
        old = self.poly.get(key, 0)
        new = (old + c) % 8
        if new:
            self.poly[key] = new
        else:
            del self.poly[key]
        for v in variables(key):
            self.touched.add(v)
            if not new:
                self.holding[v].discard(key)
            elif not old:
                self.holding.setdefault(v, set()).add(key)
        if len(self.poly) > MAX_TERMS:
            raise TooLarge(f"more than {MAX_TERMS} phase terms")

    def reduce(self, every: bool = False, on_step=None) -> None:
        """Applies rules until none fits, to the variables touched since the last call (every path variable with
        `every`); on_step(rule, y) after each."""
        if every:
            self.touched |= self.paths
        while self.touched:
            y = self.touched.pop()
            rule = self.try_reduce(y)
            if rule:
                self.counts[rule] += 1
                if on_step:
                    on_step(rule, y)


class PathSum(Sum):
    """A sum over paths on `n` qubits, starting as the identity; inputs are variables 0..n-1, path variables get the
    next numbers."""

    def __init__(self, n: int):
        self.n = n
        self.wires: list[list[int]] = [[1 << j, 0] for j in range(n)]  # [parity, constant]
        self.poly: dict[int, int] = {}           # parity -> coefficient 1..7
        self.holding: dict[int, set[int]] = {}   # variable -> parities of poly with it
        self.on_wires = {j: 1 for j in range(n)}  # variable -> wires with it
        self.phase16 = 0                         # g: the global phase, pi/8 units
        self.scale = 0                           # the amplitude's factor 2^(-scale/2)
        self.paths: set[int] = set()             # the path variables still summed
        self.next_var = n
        self.touched: set[int] = set()           # variables whose terms or wires changed
        self.counts = {"elimination": 0, "HH": 0, "omega": 0}

    # --- the phase and the wires, with their indexes kept -----------------

    def add(self, p: int, c: int, const: int = 0) -> None:
        """P += c [const + p] (mod 8); a constant goes to the global phase."""
        c %= 8
        if not c:
            return
        if const:   # [1 + p] = 1 - [p]
            self.phase16 = (self.phase16 + 2 * c) % 16
            c = -c % 8
        if p:
            self._term(p, c)

    def add_product(self, fs: list[list[int]], c: int) -> None:
        """P += c * 2^(len(fs)-1) * (product of the affine fs), written as parities: 2^(m-1) a1...am = sum over nonempty
        S of (-1)^(|S|-1) [sum of S]."""
        m = len(fs)
        for subset in range(1, 1 << m):
            p, const = 0, 0
            for i in range(m):
                if subset >> i & 1:
                    p ^= fs[i][0]
                    const ^= fs[i][1]
            sign = -1 if bin(subset).count("1") % 2 == 0 else 1
            self.add(p, sign * c, const)

    def set_wire(self, q: int, p: int, const: int) -> None:
        old = self.wires[q][0]
        for v in variables(old ^ p):
            self.on_wires[v] = self.on_wires.get(v, 0) + (1 if p >> v & 1 else -1)
            self.touched.add(v)
        self.wires[q] = [p, const]

    def fresh(self) -> int:
        y = self.next_var
        self.next_var += 1
        self.paths.add(y)
        return y

    # --- gates ------------------------------------------------------------

    def x(self, q: int) -> None:
        self.wires[q][1] ^= 1

    def phase(self, q: int, k: int) -> None:
        """diag(1, w^k) on q."""
        self.add(self.wires[q][0], k, self.wires[q][1])

    def h(self, q: int) -> None:
        y = self.fresh()
        self.add_product([list(self.wires[q]), [1 << y, 0]], 2)   # 4 y f
        self.set_wire(q, 1 << y, 0)
        self.scale += 1

    def cx(self, c: int, t: int) -> None:
        self.set_wire(t, self.wires[t][0] ^ self.wires[c][0], self.wires[t][1] ^ self.wires[c][1])

    def cz(self, a: int, b: int) -> None:
        self.add_product([self.wires[a], self.wires[b]], 2)

    def ccz(self, a: int, b: int, c: int) -> None:
        self.add_product([self.wires[a], self.wires[b], self.wires[c]], 1)

    def ccx(self, a: int, b: int, t: int) -> None:
        self.h(t)
        self.ccz(a, b, t)
        self.h(t)

    def swap(self, a: int, b: int) -> None:
        fa, fb = list(self.wires[a]), list(self.wires[b])
        self.set_wire(a, *fb)
        self.set_wire(b, *fa)

    def apply(self, op: tuple) -> None:
        """One operation: ("p", q, k), ("global", k16), or a gate's name and qubits."""
        name, *args = op
        if name == "p":
            self.phase(args[0], args[1])
        elif name == "global":
            self.phase16 = (self.phase16 + args[0]) % 16
        else:
            getattr(self, name)(*args)

    def close(self) -> None:
        """Keeps only the diagonal <x|.|x>: each wire f_j not x_j becomes x_j, its condition [f_j + x_j = 0] = 1/2 sum
        over a fresh z of w^(4 z (f_j + x_j)) joining the phase. A unitary whose diagonal is e^(i pi g/8) everywhere
        is that times the identity."""
        for j, (w, const) in enumerate(self.wires):
            if w != 1 << j or const:
                self.add_product([[1 << self.fresh(), 0], [w ^ 1 << j, const]], 2)
                self.scale += 2
                self.set_wire(j, 1 << j, 0)

    # --- the rules --------------------------------------------------------

    def substitute(self, v: int, p: int, const: int) -> None:
        """v := [const + p] (p without v) in the phase and the wires."""
        bit = 1 << v
        if self.on_wires.get(v, 0):
            for q, (w, k) in enumerate(self.wires):
                if w & bit:
                    self.set_wire(q, w ^ bit ^ p, k ^ const)
        for term in list(self.holding.get(v, ())):
            c = self.poly[term]
            self.add(term, -c)
            self.add(term ^ bit ^ p, c, const)
        self.holding.pop(v, None)
        self.on_wires.pop(v, None)

    def derivative(self, y: int) -> tuple[int, int] | None:
        """(C, L) with P(y=1) - P(y=0) = C + 4[L] (mod 8), or None where the difference is no such function."""
        bit = 1 << y
        total, weight = 0, {}
        odd: list[int] = []
        for p in self.holding.get(y, ()):
            c = self.poly[p]
            total += c
            r = p ^ bit
            for v in variables(r):
                weight[v] = weight.get(v, 0) + c
            if c % 2:
                odd.append(r)
        if any(w % 2 for w in weight.values()):
            return None
        # The odd c_p's contribute -2 c_p [r_p] to B; mod 8 it is a parity
        # only if every two variables share an even number of those r_p.
        columns: dict[int, int] = {}
        for i, r in enumerate(odd):
            for v in variables(r):
                columns[v] = columns.get(v, 0) | 1 << i
        cols = list(columns.values())
        for i, a in enumerate(cols):
            for b in cols[i + 1:]:
                if (a & b).bit_count() % 2:
                    return None
        ell = 0
        for v, w in weight.items():
            if w % 4 == 2:
                ell |= 1 << v
        return total % 8, ell

    def try_reduce(self, y: int) -> str | None:
        """Applies a rule to path variable y if one fits; its name or None."""
        if y not in self.paths or self.on_wires.get(y, 0):
            return None
        d = self.derivative(y)
        if d is None or d[0] % 2:
            return None
        total, ell = d
        bit = 1 << y
        if total % 4 == 0:
            pivot = max((v for v in variables(ell) if v in self.paths), default=None)
            if pivot is None and ell:
                return None
            if pivot is None and total:
                raise Vanishing(f"path variable {y} sums to zero")
        self.substitute(y, 0, 0)   # the terms holding y take their value at y = 0
        self.paths.discard(y)
        if total % 4 == 0:
            self.scale -= 2
            if not ell:
                return "elimination"
            self.paths.discard(pivot)
            self.substitute(pivot, ell ^ 1 << pivot, total // 4)
            return "HH"
        self.scale -= 1
        self.phase16 = (self.phase16 + 2) % 16
        self.add(ell, 6, 1 if total == 6 else 0)
        return "omega"

    # --- reading it -------------------------------------------------------

    def is_identity(self) -> bool:
        """Whether it is the identity times e^(i pi g/8); the phase's constant part moves into g."""
        if self.paths or self.scale or any(w != [1 << j, 0] for j, w in enumerate(self.wires)):
            return False
        form = multilinear(self.poly)
        constant = form.pop(0, 0)
        if form:
            return False
        self.phase16 = (self.phase16 + 2 * constant) % 16
        self.poly, self.holding = {}, {}
        return True

    def fix_inputs(self, bits_of_x: list[int]) -> None:
        """Input j := bits_of_x[j]: the sum is then the state the operator gives |x>, as a function of the path
        variables alone."""
        for j, b in enumerate(bits_of_x):
            self.substitute(j, 0, b)
            self.touched.update(self.paths)

    def amplitudes(self, max_paths: int = 20) -> dict[int, complex] | None:
        """With the inputs fixed: each output basis state's amplitude (bit j of the key is qubit j), summed over the
        remaining path variables; None past `max_paths` of them."""
        ys = sorted(self.paths)
        if len(ys) > max_paths:
            return None
        rows = 1 << len(ys)
        index = np.arange(rows, dtype=np.int64)
        column = {y: ((index >> i) & 1).astype(np.uint8) for i, y in enumerate(ys)}

        def evaluate(p: int):
            out = np.zeros(rows, dtype=np.uint8)
            for v in variables(p):
                if v not in column:
                    raise ValueError("fix the inputs first")
                out ^= column[v]
            return out

        phase = np.zeros(rows, dtype=np.int64)
        for p, c in self.poly.items():
            phase += c * evaluate(p).astype(np.int64)
        table = np.zeros((rows, self.n), dtype=np.uint8)
        for j, (p, const) in enumerate(self.wires):
            table[:, j] = evaluate(p) ^ const
        packed = np.packbits(table, axis=1, bitorder="little")
        keys = [int.from_bytes(row.tobytes(), "little") for row in packed]
        weight = np.exp(1j * np.pi * (2 * (phase % 8) + self.phase16) / 8)
        weight = weight * 2.0 ** (-self.scale / 2)
        out: dict[int, complex] = {}
        for k, w in zip(keys, weight.tolist()):
            out[k] = out.get(k, 0) + w
        return {k: a for k, a in out.items() if abs(a) > 1e-9}

    def matrix(self) -> np.ndarray:
        """The operator as a dense matrix (a few qubits only), in Qiskit's order: bit j of an index is qubit j."""
        size = 1 << self.n
        out = np.zeros((size, size), dtype=complex)
        for col in range(size):
            copy = deepcopy(self)
            copy.fix_inputs([(col >> j) & 1 for j in range(self.n)])
            for row, a in copy.amplitudes(max_paths=24).items():
                out[row, col] = a
        return out


def close_to_power(angle: float, unit: float) -> int | None:
    """k with angle = k unit, or None."""
    k = angle / unit
    r = round(k)
    return r if math.isclose(k, r, abs_tol=1e-9) else None
