// Exact one-qubit synthesis: the reduction by H·T^j and the normal form.
#include "src/synthesis/exact_synthesis.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <span>
#include <type_traits>
#include <utility>

#include "engine/fault.h"
#include "src/normal_form/normal_form.h"

namespace kestrel::synthesis {

ExactMatrix ExactMatrix::reduced() const {
  ExactMatrix out = *this;
  while (out.k > 0) {
    for (const ZOmega& x : out.e) {
      if (!x.divisible_by_root2()) return out;
    }
    for (ZOmega& x : out.e) x = x.divide_by_root2();
    --out.k;
  }
  // A negative power (entries over √2^-1) only comes from gate products that
  // cannot occur; k stays at 0 or above for unitary inputs.
  return out;
}

ExactMatrix operator*(const ExactMatrix& a, const ExactMatrix& b) {
  ExactMatrix out;
  out.e[0] = a.e[0] * b.e[0] + a.e[1] * b.e[2];
  out.e[1] = a.e[0] * b.e[1] + a.e[1] * b.e[3];
  out.e[2] = a.e[2] * b.e[0] + a.e[3] * b.e[2];
  out.e[3] = a.e[2] * b.e[1] + a.e[3] * b.e[3];
  out.k = a.k + b.k;
  return out.reduced();
}

ExactMatrix identity_matrix() {
  return {{ZOmega::omega_power(0), ZOmega{}, ZOmega{}, ZOmega::omega_power(0)}, 0};
}

namespace {

ExactMatrix diagonal(int power) {
  return {{ZOmega::omega_power(0), ZOmega{}, ZOmega{}, ZOmega::omega_power(power)}, 0};
}

// Appends T^m (m taken modulo 8) as T gates; the normal form tidies them.
void append_t_power(int m, std::vector<OpKind>& gates) {
  for (int i = 0; i < ((m % 8) + 8) % 8; ++i) gates.push_back(OpKind::T);
}

}  // namespace

ExactMatrix gate_matrix(OpKind gate) {
  const ZOmega one = ZOmega::omega_power(0);
  switch (gate) {
    case OpKind::H:
      return {{one, one, one, -one}, 1};
    case OpKind::S:
      return diagonal(2);
    case OpKind::Sdg:
      return diagonal(6);
    case OpKind::T:
      return diagonal(1);
    case OpKind::Tdg:
      return diagonal(7);
    case OpKind::X:
      return {{ZOmega{}, one, one, ZOmega{}}, 0};
    case OpKind::Z:
      return diagonal(4);
    default:
      fault("internal error: exact synthesis reads h, s, sdg, t, tdg, x and z only");
  }
}

bool equal_up_to_phase(const ExactMatrix& a, const ExactMatrix& b) {
  const ExactMatrix ra = a.reduced(), rb = b.reduced();
  if (ra.k != rb.k) return false;
  for (int m = 0; m < 8; ++m) {
    const ZOmega phase = ZOmega::omega_power(m);
    bool same = true;
    for (int j = 0; j < 4 && same; ++j) same = ra.e[j] == phase * rb.e[j];
    if (same) return true;
  }
  return false;
}

namespace {

// The reduction's matrix with coordinates of type Int: std::int64_t while
// they stay below kSmallLimit (the fast case, for denominators up to about
// √2^110: unitarity bounds every coordinate by √2^k), Integer otherwise.
template <class Int>
struct Work {
  using Entry = std::array<Int, 4>;  // coefficients of 1, ω, ω², ω³
  std::array<Entry, 4> e;            // the entries times √2^k, row by row
  int k = 0;                         // the power of √2 in the denominator
};

// Coordinates below this bound stay below 2^62 through one step (a sum,
// then a product by √2), so the int64 case never overflows.
constexpr std::int64_t kSmallLimit = std::int64_t{1} << 59;

template <class Int>
std::array<Int, 4> rotate(const std::array<Int, 4>& x, int m) {  // x·ω^m, 0 <= m < 4
  std::array<Int, 4> out = x;
  for (int i = 0; i < m; ++i) out = {-out[3], out[0], out[1], out[2]};
  return out;
}

template <class Int>
void reduce(Work<Int>& w) {
  while (w.k > 0) {
    for (const auto& x : w.e) {
      if (((x[0] + x[2]) & 1) != 0 || ((x[1] + x[3]) & 1) != 0) return;
    }
    for (auto& x : w.e) {  // x·√2 / 2, exact: every coordinate of x·√2 is even
      x = {(x[1] - x[3]) >> 1, (x[0] + x[2]) >> 1, (x[1] + x[3]) >> 1, (x[2] - x[0]) >> 1};
    }
    --w.k;
  }
}

template <class Int>
Work<Int> step(const Work<Int>& m, int j) {  // H·T^j·m, reduced
  const auto w2 = rotate(m.e[2], j), w3 = rotate(m.e[3], j);
  Work<Int> out;
  out.k = m.k + 1;
  for (int c = 0; c < 4; ++c) {
    out.e[0][c] = m.e[0][c] + w2[c];
    out.e[1][c] = m.e[1][c] + w3[c];
    out.e[2][c] = m.e[0][c] - w2[c];
    out.e[3][c] = m.e[1][c] - w3[c];
  }
  reduce(out);
  return out;
}

template <class Int>
bool small(const Work<Int>& w) {
  for (const auto& x : w.e) {
    for (const Int& v : x) {
      if (v > kSmallLimit || v < -kSmallLimit) return false;
    }
  }
  return true;
}

// Lowers rest's k to 0 by steps H·T^j, recording each j. One step lowers k
// when k is large; near the end it may take up to kMaxSteps, tried shortest
// first. Returns false only in the int64 case, when a coordinate outgrew
// kSmallLimit (then the caller starts again with Integer).
template <class Int>
bool reduce_to_monomial(Work<Int>& rest, std::vector<int>& steps) {
  constexpr int kMaxSteps = 4;
  // The step with T^j lowers k only if (0,0) + ω^j·(1,0) has even
  // coordinates: compare parities (a rotation by ω shifts them cyclically).
  auto parity = [](const std::array<Int, 4>& x) {
    unsigned bits = 0;
    for (int c = 0; c < 4; ++c) bits |= static_cast<unsigned>(x[c] & 1) << c;
    return bits;
  };
  while (rest.k > 0) {
    if constexpr (std::is_same_v<Int, std::int64_t>) {
      if (!small(rest)) return false;
    }
    bool lowered = false;
    const unsigned p0 = parity(rest.e[0]);
    unsigned p2 = parity(rest.e[2]);
    for (int j = 0; j < 4 && !lowered; ++j, p2 = ((p2 << 1) | (p2 >> 3)) & 15) {
      if (p0 != p2) continue;
      Work<Int> next = step(rest, j);
      if (next.k < rest.k) {
        rest = std::move(next);
        steps.push_back(j);
        lowered = true;
      }
    }
    // Longer sequences in lexicographic order (the first step's j slowest),
    // so that consecutive ones share their prefix: states[s] is the matrix
    // after the first s steps, recomputed only from the first j that changed.
    std::array<Work<Int>, kMaxSteps + 1> states;
    states[0] = rest;
    for (int depth = 2; depth <= kMaxSteps && !lowered; ++depth) {
      for (int code = 0; code < (1 << (2 * depth)) && !lowered; ++code) {
        auto j_of = [&](int s) { return (code >> (2 * (depth - 1 - s))) & 3; };
        // The highest base-4 digit that changed from code - 1 names the first step to redo.
        const int changed = code == 0 ? 2 * depth - 1 : std::bit_width(static_cast<unsigned>(code ^ (code - 1))) - 1;
        for (int s = depth - 1 - changed / 2; s < depth; ++s) {
          if constexpr (std::is_same_v<Int, std::int64_t>) {
            if (!small(states[s])) return false;
          }
          states[s + 1] = step(states[s], j_of(s));
        }
        if (states[depth].k < rest.k) {
          for (int s = 0; s < depth; ++s) steps.push_back(j_of(s));
          rest = std::move(states[depth]);
          lowered = true;
        }
      }
    }
    check(lowered, "a unitary over Z[1/sqrt2, i] has steps H T^j that lower its denominator");
  }
  return true;
}

// The m with x = ω^m (x a power of ω), a fault otherwise.
template <class Int>
int power_of(const std::array<Int, 4>& x) {
  for (int m = 0; m < 8; ++m) {
    bool same = true;
    for (int c = 0; c < 4; ++c) same = same && x[c] == (c == m % 4 ? (m < 4 ? 1 : -1) : 0);
    if (same) return m;
  }
  fault("internal error: a unitary over Z[omega] has entries that are powers of omega");
}

// The circuit (before the normal form) for the matrix that `rest` started
// as: rest's monomial is ω^a·T^(b-a) or X·ω^b·T^(a-b), then the steps undone.
template <class Int>
std::vector<OpKind> undo(const Work<Int>& rest, const std::vector<int>& steps) {
  auto zero = [](const std::array<Int, 4>& x) { return x[0] == 0 && x[1] == 0 && x[2] == 0 && x[3] == 0; };
  std::vector<OpKind> gates;
  if (zero(rest.e[1]) && zero(rest.e[2])) {
    append_t_power(power_of(rest.e[3]) - power_of(rest.e[0]), gates);
  } else {
    check(zero(rest.e[0]) && zero(rest.e[3]), "a unitary over Z[omega] is monomial");
    append_t_power(power_of(rest.e[1]) - power_of(rest.e[2]), gates);
    gates.push_back(OpKind::X);
  }
  // u = T^-j1 H T^-j2 H ... T^-jn H rest: after rest's gates come H, T^-jn, ..., H, T^-j1.
  for (auto j = steps.rbegin(); j != steps.rend(); ++j) {
    gates.push_back(OpKind::H);
    append_t_power(-*j, gates);
  }
  return gates;
}

template <class Int>
Work<Int> work_from(const ExactMatrix& u) {
  Work<Int> w;
  w.k = u.k;
  for (int i = 0; i < 4; ++i) {
    for (int c = 0; c < 4; ++c) {
      if constexpr (std::is_same_v<Int, std::int64_t>) {
        const Integer& v = u.e[i].c[c];
        w.e[i][c] = v > kSmallLimit || v < -kSmallLimit ? kSmallLimit + 1 : v.convert_to<std::int64_t>();
      } else {
        w.e[i][c] = u.e[i].c[c];
      }
    }
  }
  return w;
}

// Applies the gates in circuit order to w (each on the left). Returns false
// only in the int64 case, when a coordinate outgrew kSmallLimit.
template <class Int>
bool apply_gates(std::span<const OpKind> gates, Work<Int>& w) {
  for (OpKind gate : gates) {
    if constexpr (std::is_same_v<Int, std::int64_t>) {
      if (!small(w)) return false;
    }
    if (gate == OpKind::H) {
      w = step(w, 0);
      continue;
    }
    if (gate == OpKind::X) {
      std::swap(w.e[0], w.e[2]);
      std::swap(w.e[1], w.e[3]);
      continue;
    }
    // A diagonal gate diag(1, ω^p) turns the second row.
    const int p = gate == OpKind::T     ? 1
                  : gate == OpKind::S   ? 2
                  : gate == OpKind::Z   ? 4
                  : gate == OpKind::Sdg ? 6
                  : gate == OpKind::Tdg ? 7
                                        : (fault("internal error: exact synthesis reads h, s, sdg, t, tdg, x and z only"), 0);
    for (int r = 2; r < 4; ++r) {
      w.e[r] = rotate(w.e[r], p % 4);
      if (p >= 4) {
        for (Int& v : w.e[r]) v = -v;
      }
    }
  }
  return true;
}

template <class Int>
ExactMatrix matrix_from(const Work<Int>& w) {
  ExactMatrix out;
  out.k = w.k;
  for (int i = 0; i < 4; ++i) {
    for (int c = 0; c < 4; ++c) out.e[i].c[c] = w.e[i][c];
  }
  return out;
}

}  // namespace

ExactMatrix circuit_matrix(std::span<const OpKind> gates) {
  Work<std::int64_t> fast = work_from<std::int64_t>(identity_matrix());
  if (apply_gates(gates, fast)) return matrix_from(fast);
  Work<Integer> slow = work_from<Integer>(identity_matrix());
  apply_gates(gates, slow);
  return matrix_from(slow);
}

std::size_t least_t_count(const ZOmega& v, int k, bool odd) {
  const bool one_plus_omega = ((v.c[0] + v.c[1] + v.c[2] + v.c[3]) & 1) == 0;
  const int sde = 2 * k - (one_plus_omega ? 1 : 0);
  int least = sde - 2;
  if ((least & 1) != (odd ? 1 : 0)) ++least;
  return static_cast<std::size_t>(std::max(0, least));
}

std::vector<OpKind> synthesize_exact(const ExactMatrix& u) {
  const ExactMatrix start = u.reduced();
  std::vector<int> steps;  // the j of each H·T^j applied, in turn
  std::vector<OpKind> gates;
  Work<std::int64_t> fast = work_from<std::int64_t>(start);
  if (small(fast) && reduce_to_monomial(fast, steps)) {
    gates = undo(fast, steps);
  } else {
    steps.clear();
    Work<Integer> slow = work_from<Integer>(start);
    reduce_to_monomial(slow, steps);
    gates = undo(slow, steps);
  }
  NormalFormWire wire;
  for (OpKind gate : gates) wire.add(gate);
  std::vector<OpKind> out;
  wire.write(out);
  return out;
}

}  // namespace kestrel::synthesis
