"""The closed sums over paths of path_sums.py (their diagonal: no wire but x_j on wire j) with a multilinear phase: the
second stage of the equivalence check, for what the affine stage leaves.

Where two circuits hold their Toffoli gates in different places, a path variable y can meet a phase 4 y (z + a b):
summing it sets z := a b, which no parity holds. Here the phase is a multilinear polynomial mod 8 (monomial ->
coefficient, each monomial a bit mask of its variables, 0 the constant 1), the unique form of a function of bits, so
that the rules read it directly:
- elimination: y in no term sums to a factor 2;
- HH: every term holding y has coefficient 4 (y alone: 0 or 4), the sum over y is 2 [R = 0] with R the sum mod 2 of
  those terms without y (plus 1 where y stands alone); a path variable v alone in R and in no other monomial of it is
  set to the rest of R everywhere, its lift to the integers (sum over subsets S of R's monomials of (-2)^(|S|-1) times
  their product, zero mod 8 past three) replacing it in the phase;
- omega: 2y (or 6y) alone plus terms 4 y Q: sqrt(2) w^(1 - 2Q) (or w^(-1 + 2Q)), Q lifted.
`MultilinearPathSum(closed)` takes a closed affine sum as it is; the phase's terms are then expanded once. A phase past
MAX_TERMS terms gives up (TooLarge).
"""

from __future__ import annotations

from path_sums import Sum, Vanishing, lifted, multilinear, variables


class MultilinearPathSum(Sum):
    """A closed sum over paths with a multilinear phase (see the module's comment)."""

    def __init__(self, affine):
        """The same sum as `affine` (a closed path_sums.PathSum)."""
        if any(w != [1 << j, 0] for j, w in enumerate(affine.wires)):
            raise ValueError("close the sum first")
        self.n, self.paths = affine.n, set(affine.paths)
        self.phase16, self.scale = affine.phase16, affine.scale
        self.poly: dict[int, int] = {}
        self.holding: dict[int, set[int]] = {}
        self.touched: set[int] = set()
        self.counts = {"elimination": 0, "HH": 0, "omega": 0}
        for mono, c in multilinear(affine.poly).items():
            self.add(mono, c)

    def add(self, mono: int, c: int) -> None:
        """P += c mono (mod 8); a constant goes to the global phase."""
        c %= 8
        if not c:
            return
        if mono == 0:
            self.phase16 = (self.phase16 + 2 * c) % 16
            return
        self._term(mono, c)

    def substitute(self, x: int, r: set[int]) -> None:
        """x := r (a polynomial over GF(2) without x) in the phase."""
        bit = 1 << x
        hits = [(m, self.poly[m]) for m in self.holding.get(x, ())]
        if hits:
            lift = lifted(r)
            for m, c in hits:
                self.add(m, -c)
                for s, k in lift.items():
                    self.add((m & ~bit) | s, c * k)
        self.holding.pop(x, None)

    def _pivot(self, r: set[int]) -> int | None:
        """The newest path variable alone in r and in no other monomial of it."""
        inside = 0
        for m in r:
            if m & (m - 1):
                inside |= m
        best = None
        for m in r:
            if m and not m & (m - 1) and not inside & m:
                v = m.bit_length() - 1
                if v in self.paths and (best is None or v > best):
                    best = v
        return best

    def try_reduce(self, y: int) -> str | None:
        """Applies a rule to path variable y if one fits; its name or None."""
        if y not in self.paths:
            return None
        bit = 1 << y
        terms = [(m, self.poly[m]) for m in self.holding.get(y, ())]
        alone = self.poly.get(bit, 0)
        rest = [(m, c) for m, c in terms if m != bit]
        if any(c != 4 for _, c in rest) or alone % 2:
            return None
        q: set[int] = set()
        for m, _ in rest:
            q ^= {m & ~bit}
        if alone in (0, 4):
            if alone:
                q ^= {0}
            pivot = self._pivot(q)
            if pivot is None and q:
                if q == {0}:
                    raise Vanishing(f"path variable {y} sums to zero")
                return None
        for m, c in terms:
            self.add(m, -c)
        self.paths.discard(y)
        self.holding.pop(y, None)
        if alone in (0, 4):
            self.scale -= 2
            if not q:
                return "elimination"
            q.discard(1 << pivot)
            self.paths.discard(pivot)
            self.substitute(pivot, q)
            return "HH"
        self.scale -= 1
        sign = 1 if alone == 2 else -1
        self.phase16 = (self.phase16 + 2 * sign) % 16
        for mono, k in lifted(q).items():
            self.add(mono, -2 * sign * k)
        return "omega"

    def is_identity(self) -> bool:
        """Whether it is the identity times e^(i pi g/8)."""
        return not self.paths and not self.poly and self.scale == 0

    def matrix(self):
        """The operator (diagonal) as a dense matrix, by summing every path (a few qubits and path variables only); bit
        j of an index is qubit j."""
        import numpy as np
        ys = sorted(self.paths)
        out = np.zeros((1 << self.n, 1 << self.n), dtype=complex)
        for col in range(1 << self.n):
            for choice in range(1 << len(ys)):
                assignment = col
                for i, y in enumerate(ys):
                    assignment |= ((choice >> i) & 1) << y
                phase = sum(c for m, c in self.poly.items() if m & assignment == m)
                out[col, col] += np.exp(1j * np.pi * (2 * phase + self.phase16) / 8)
        return out * 2.0 ** (-self.scale / 2)
