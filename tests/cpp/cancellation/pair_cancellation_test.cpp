// The pair cancellation on tables of gates that commute or do not, with and
// without boundaries, and on random gate lists against a dense model: the
// gates kept must multiply to the same 2^n x 2^n matrix as those given
// (global phase included), with matrices written here from their definitions;
// with T gates joined, the gates as left; then with cz gates made phases on
// a passing network (src/cancellation/cz_to_phases.h).
#include "src/cancellation/pair_cancellation.h"
#include "src/cancellation/cz_to_phases.h"

#include <gtest/gtest.h>

#include <complex>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "tests/cpp/helpers.h"

namespace kestrel {
namespace {

using Complex = std::complex<double>;
using Matrix = std::vector<Complex>;  // row-major, side 2^n

PlacedGate g1(Elementary e, std::uint32_t q) { return {e, q, 0}; }
PlacedGate g2(Elementary e, std::uint32_t a, std::uint32_t b) { return {e, a, b}; }
CancelItem gate(PlacedGate g) { return {g, 0, 0}; }
PlacedGate rotation(Elementary e, std::uint32_t q) { return {e, q, 0, 0.3}; }

// The matrix of `gates` on n qubits (basis bit q: qubit q), applied to the
// columns of the identity one gate at a time.
Matrix matrix_of(const std::vector<PlacedGate>& gates, std::uint32_t n) {
  const std::size_t d = std::size_t{1} << n;
  Matrix m(d * d, 0);
  for (std::size_t i = 0; i < d; ++i) m[i * d + i] = 1;
  const double r = 1 / std::sqrt(2.0);
  const Complex w = std::polar(1.0, M_PI / 4), I(0, 1);
  for (const PlacedGate& g : gates) {
    Matrix next(d * d, 0);
    for (std::size_t col = 0; col < d; ++col) {
      for (std::size_t x = 0; x < d; ++x) {
        const Complex v = m[x * d + col];
        if (v == Complex(0)) continue;
        const std::size_t a = (x >> g.a) & 1, b = (x >> g.b) & 1;
        const auto put = [&](std::size_t y, Complex c) { next[y * d + col] += c * v; };
        switch (g.gate) {
          case Elementary::H:
            put(x & ~(std::size_t{1} << g.a), r);
            put(x | (std::size_t{1} << g.a), a ? -r : r);
            break;
          case Elementary::X: put(x ^ (std::size_t{1} << g.a), 1); break;
          case Elementary::Y: put(x ^ (std::size_t{1} << g.a), a ? -I : I); break;
          case Elementary::Z: put(x, a ? -1.0 : 1.0); break;
          case Elementary::S: put(x, a ? I : 1.0); break;
          case Elementary::Sdg: put(x, a ? -I : 1.0); break;
          case Elementary::T: put(x, a ? w : 1.0); break;
          case Elementary::Tdg: put(x, a ? std::conj(w) : 1.0); break;
          case Elementary::CX: put(a ? x ^ (std::size_t{1} << g.b) : x, 1); break;
          case Elementary::CZ: put(x, a && b ? -1.0 : 1.0); break;
          case Elementary::Swap:
            put(a == b ? x : x ^ (std::size_t{1} << g.a) ^ (std::size_t{1} << g.b), 1);
            break;
          case Elementary::Rz: put(x, std::polar(1.0, a ? g.angle / 2 : -g.angle / 2)); break;
          case Elementary::Rx:
            put(x, std::cos(g.angle / 2));
            put(x ^ (std::size_t{1} << g.a), -I * std::sin(g.angle / 2));
            break;
          case Elementary::Ry: ADD_FAILURE() << "no ry here"; break;
        }
      }
    }
    m = std::move(next);
  }
  return m;
}

// Whether two matrices agree to rounding.
bool same(const Matrix& a, const Matrix& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t k = 0; k < a.size(); ++k) {
    if (std::abs(a[k] - b[k]) > 1e-9) return false;
  }
  return true;
}

// The gates kept, barriers left out.
std::vector<PlacedGate> kept_gates(const std::vector<CancelItem>& items, const std::vector<bool>& removed) {
  std::vector<PlacedGate> out;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (!removed[i] && items[i].count == 0) out.push_back(items[i].gate);
  }
  return out;
}

TEST(PairCancellation, PairsThroughCommutingAndBlockingGates) {
  using E = Elementary;
  struct Case {
    std::string name;
    std::vector<PlacedGate> gates;
    std::size_t left;  // gates kept
  };
  const std::vector<Case> cases = {
      {"adjacent cx", {g2(E::CX, 0, 1), g2(E::CX, 0, 1)}, 0},
      {"cx reversed is no inverse", {g2(E::CX, 0, 1), g2(E::CX, 1, 0)}, 2},
      {"through a shared control", {g2(E::CX, 0, 1), g2(E::CX, 0, 2), g2(E::CX, 0, 1)}, 1},
      {"through a shared target", {g2(E::CX, 0, 2), g2(E::CX, 1, 2), g2(E::CX, 0, 2)}, 1},
      {"through t on the control", {g2(E::CX, 0, 1), g1(E::T, 0), g2(E::CX, 0, 1)}, 1},
      {"not through t on the target", {g2(E::CX, 0, 1), g1(E::T, 1), g2(E::CX, 0, 1)}, 3},
      {"through x on the target", {g2(E::CX, 0, 1), g1(E::X, 1), g2(E::CX, 0, 1)}, 1},
      {"not through x on the control", {g2(E::CX, 0, 1), g1(E::X, 0), g2(E::CX, 0, 1)}, 3},
      {"not through a target on the control", {g2(E::CX, 0, 1), g2(E::CX, 2, 0), g2(E::CX, 0, 1)}, 3},
      {"not through h", {g2(E::CX, 0, 1), g1(E::H, 1), g2(E::CX, 0, 1)}, 3},
      {"cz either way round, through s", {g2(E::CZ, 0, 1), g1(E::S, 1), g2(E::CZ, 1, 0)}, 1},
      {"nested pairs", {g2(E::CX, 0, 1), g2(E::CX, 1, 2), g2(E::CX, 1, 2), g2(E::CX, 0, 1)}, 0},
      {"one-qubit inverses", {g1(E::T, 0), g1(E::Tdg, 0), g1(E::S, 1), g1(E::Sdg, 1), g1(E::H, 2), g1(E::H, 2)}, 0},
      {"t t is no pair", {g1(E::T, 0), g1(E::T, 0)}, 2},
      {"swap either way round", {g2(E::Swap, 0, 1), g2(E::Swap, 1, 0)}, 0},
      {"through rz on the control", {g2(E::CX, 0, 1), rotation(E::Rz, 0), g2(E::CX, 0, 1)}, 1},
      {"not through rz on the target", {g2(E::CX, 0, 1), rotation(E::Rz, 1), g2(E::CX, 0, 1)}, 3},
      {"through rx on the target", {g2(E::CX, 0, 1), rotation(E::Rx, 1), g2(E::CX, 0, 1)}, 1},
  };
  // The model tells apart what the pass must not confuse.
  EXPECT_FALSE(same(matrix_of({g2(E::CX, 0, 1)}, 3), matrix_of({g2(E::CX, 1, 0)}, 3)));
  EXPECT_FALSE(same(matrix_of({g1(E::T, 0), g1(E::T, 0)}, 3), matrix_of({}, 3)));
  EXPECT_FALSE(same(matrix_of({g1(E::S, 0), g1(E::S, 0)}, 3), matrix_of({}, 3)));  // z, not 1
  for (const Case& c : cases) {
    std::vector<CancelItem> items;
    for (const PlacedGate& g : c.gates) items.push_back(gate(g));
    const std::vector<bool> removed = cancel_gate_pairs(3, items, {});
    const std::vector<PlacedGate> kept = kept_gates(items, removed);
    EXPECT_EQ(kept.size(), c.left) << c.name;
    EXPECT_TRUE(same(matrix_of(kept, 3), matrix_of(c.gates, 3))) << c.name;
  }
}

TEST(PairCancellation, JoiningTGatesAndCxAroundSGates) {
  using E = Elementary;
  struct Case {
    std::string name;
    std::vector<PlacedGate> gates;
    std::vector<Elementary> left;  // the gates kept, in order
  };
  const std::vector<Case> cases = {
      {"t t is s", {g1(E::T, 0), g1(E::T, 0)}, {E::S}},
      {"tdg tdg through a control is sdg", {g1(E::Tdg, 0), g2(E::CX, 0, 1), g1(E::Tdg, 0)}, {E::Sdg, E::CX}},
      {"t t not through a target", {g1(E::T, 1), g2(E::CX, 0, 1), g1(E::T, 1)}, {E::T, E::CX, E::T}},
      {"t tdg still cancel", {g1(E::T, 0), g1(E::S, 0), g1(E::Tdg, 0)}, {E::S}},
      {"t t t: s then t", {g1(E::T, 0), g1(E::T, 0), g1(E::T, 0)}, {E::S, E::T}},
      {"s s is no pair to join", {g1(E::S, 0), g1(E::S, 0)}, {E::S, E::S}},
      {"cx s cx is cz, s, s", {g2(E::CX, 0, 1), g1(E::S, 1), g2(E::CX, 0, 1)}, {E::CZ, E::S, E::S}},
      {"cx z cx is z z", {g2(E::CX, 0, 1), g1(E::Z, 1), g2(E::CX, 0, 1)}, {E::Z, E::Z}},
      {"cx s sdg cx: the s pair goes first, then the cx pair",
       {g2(E::CX, 0, 1), g1(E::S, 1), g1(E::Sdg, 1), g2(E::CX, 0, 1)}, {}},
      {"cx sdg sdg s cx past t on the control",
       {g2(E::CX, 0, 1), g1(E::T, 0), g1(E::Sdg, 1), g1(E::Sdg, 1), g1(E::S, 1), g2(E::CX, 0, 1)},
       {E::CZ, E::T, E::Sdg, E::Sdg}},
      {"not around a t", {g2(E::CX, 0, 1), g1(E::S, 1), g1(E::T, 1), g2(E::CX, 0, 1)},
       {E::CX, E::S, E::T, E::CX}},
      {"not around an x", {g2(E::CX, 0, 1), g1(E::S, 1), g1(E::X, 1), g2(E::CX, 0, 1)},
       {E::CX, E::S, E::X, E::CX}},
      {"not with h on the control", {g2(E::CX, 0, 1), g1(E::H, 0), g1(E::S, 1), g2(E::CX, 0, 1)},
       {E::CX, E::H, E::S, E::CX}},
  };
  for (const Case& c : cases) {
    std::vector<CancelItem> items;
    for (const PlacedGate& g : c.gates) items.push_back(gate(g));
    std::vector<Elementary> now;
    const std::vector<bool> removed = cancel_gate_pairs(3, items, {}, &now, true);
    ASSERT_EQ(now.size(), items.size()) << c.name;
    std::vector<PlacedGate> kept;
    std::vector<Elementary> names;
    for (std::size_t i = 0; i < items.size(); ++i) {
      if (removed[i]) continue;
      kept.push_back({now[i], items[i].gate.a, items[i].gate.b});
      names.push_back(now[i]);
    }
    EXPECT_EQ(names, c.left) << c.name;
    EXPECT_TRUE(same(matrix_of(kept, 3), matrix_of(c.gates, 3))) << c.name;
  }
}

// A Toffoli's network on target w with controls a and b: w holds w^b,
// w^a^b, w^a and w at the four phase gates `at` (in that order).
std::vector<PlacedGate> network(std::uint32_t a, std::uint32_t b, std::uint32_t w,
                                const std::vector<Elementary>& at) {
  using E = Elementary;
  return {g2(E::CX, b, w), g1(at[0], w), g2(E::CX, a, w), g1(at[1], w),
          g2(E::CX, b, w), g1(at[2], w), g2(E::CX, a, w), g1(at[3], w)};
}

std::vector<PlacedGate> joined(std::vector<std::vector<PlacedGate>> parts) {
  std::vector<PlacedGate> out;
  for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

// The pair cancellation with T gates joined and cx pairs around S powers
// made cz gates, then cz gates made phases: the gates kept, as left.
std::vector<PlacedGate> cancelled(const std::vector<CancelItem>& items, std::span<const std::uint32_t> barrier_qubits,
                                  std::uint32_t n, std::size_t* dissolved = nullptr) {
  std::vector<Elementary> now;
  std::vector<bool> removed = cancel_gate_pairs(n, items, barrier_qubits, &now, true);
  const std::size_t gone = cz_to_phases(n, items, barrier_qubits, removed, now);
  if (dissolved != nullptr) *dissolved = gone;
  std::vector<PlacedGate> kept;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (!removed[i] && items[i].count == 0) kept.push_back({now[i], items[i].gate.a, items[i].gate.b});
  }
  return kept;
}

TEST(PairCancellation, CzGatesBecomePhasesOnANetworkThatPassesTheirParities) {
  using E = Elementary;
  const std::vector<E> toffoli = {E::Tdg, E::T, E::Tdg, E::T};
  const std::vector<E> inverse = {E::T, E::Tdg, E::T, E::Tdg};
  struct Case {
    std::string name;
    std::vector<PlacedGate> gates;
    std::size_t two_qubit;  // two-qubit gates kept
  };
  const std::vector<Case> cases = {
      {"after the network", joined({network(0, 1, 2, toffoli), {g2(E::CZ, 0, 1)}}), 4},
      {"before it, either way round", joined({{g2(E::CZ, 1, 0)}, network(0, 1, 2, toffoli)}), 4},
      {"the inverse phases", joined({network(0, 1, 2, inverse), {g2(E::CZ, 0, 1)}}), 4},
      {"past phases and controls on its qubits",
       joined({network(0, 1, 2, toffoli), {g1(E::T, 0), g2(E::CX, 1, 3), g2(E::CZ, 0, 1)}}), 5},
      {"s, sdg and z take either sign",
       joined({network(0, 1, 2, {E::S, E::Sdg, E::Z, E::S}), {g2(E::CZ, 0, 1)}}), 4},
      {"a run after h on the target", joined({{g1(E::H, 2)}, network(0, 1, 2, toffoli), {g2(E::CZ, 0, 1)}}), 4},
      {"not past h on one of its qubits", joined({network(0, 1, 2, toffoli), {g1(E::H, 0), g2(E::CZ, 0, 1)}}), 5},
      {"not past a target on one of its qubits",
       joined({network(0, 1, 2, toffoli), {g2(E::CX, 3, 1), g2(E::CZ, 0, 1)}}), 6},
      {"not where a t needs an s", joined({network(0, 1, 2, {E::T, E::T, E::Tdg, E::T}), {g2(E::CZ, 0, 1)}}), 5},
      {"not with a parity missing",
       joined({{g2(E::CX, 1, 2), g1(E::Tdg, 2), g2(E::CX, 0, 2), g1(E::T, 2), g2(E::CX, 1, 2),
                g2(E::CX, 0, 2), g1(E::T, 2), g2(E::CZ, 0, 1)}}), 5},
      {"not across another control on the target",
       joined({{g2(E::CX, 1, 2), g1(E::Tdg, 2), g2(E::CX, 3, 2), g2(E::CX, 0, 2), g1(E::T, 2),
                g2(E::CX, 1, 2), g1(E::Tdg, 2), g2(E::CX, 0, 2), g1(E::T, 2), g2(E::CZ, 0, 1)}}), 6},
      {"beside a cx from its first qubit, into s and sdg gates",
       {g1(E::S, 1), g2(E::CX, 0, 1), g1(E::Sdg, 1), g1(E::Sdg, 0), g2(E::CZ, 0, 1)}, 1},
      {"beside a cx, into t and tdg gates",
       {g1(E::T, 1), g2(E::CX, 0, 1), g1(E::Tdg, 1), g1(E::Tdg, 0), g2(E::CZ, 0, 1)}, 1},
      {"before a cx from its second qubit",
       {g1(E::Tdg, 1), g1(E::S, 0), g2(E::CZ, 0, 1), g2(E::CX, 1, 0), g1(E::Sdg, 0)}, 1},
      {"not beside a cx with no phase gate across it",
       {g2(E::CX, 0, 1), g1(E::Tdg, 1), g1(E::Tdg, 0), g2(E::CZ, 0, 1)}, 2},
      {"not beside a cx with h between",
       {g1(E::T, 1), g2(E::CX, 0, 1), g1(E::H, 1), g1(E::Tdg, 1), g1(E::Tdg, 0), g2(E::CZ, 0, 1)}, 2},
      {"not beside a cx with a target on its control between",
       {g1(E::T, 1), g2(E::CX, 0, 1), g1(E::Tdg, 1), g2(E::CX, 3, 0), g1(E::Tdg, 0), g2(E::CZ, 0, 1)}, 3},
      {"not across h on the target",
       joined({{g2(E::CX, 1, 2), g1(E::Tdg, 2), g2(E::CX, 0, 2), g1(E::H, 2), g1(E::T, 2),
                g2(E::CX, 1, 2), g1(E::Tdg, 2), g2(E::CX, 0, 2), g1(E::T, 2), g2(E::CZ, 0, 1)}}), 5},
  };
  for (const Case& c : cases) {
    std::vector<CancelItem> items;
    for (const PlacedGate& g : c.gates) items.push_back(gate(g));
    const std::vector<PlacedGate> kept = cancelled(items, {}, 4);
    std::size_t two_qubit = 0, t = 0, t_given = 0;
    for (const PlacedGate& g : kept) two_qubit += elementary_info(g.gate).qubits == 2, t += elementary_info(g.gate).t;
    for (const PlacedGate& g : c.gates) t_given += elementary_info(g.gate).t;
    EXPECT_EQ(two_qubit, c.two_qubit) << c.name;
    EXPECT_EQ(t, t_given) << c.name;
    EXPECT_LE(kept.size(), c.gates.size()) << c.name;
    EXPECT_TRUE(same(matrix_of(kept, 4), matrix_of(c.gates, 4))) << c.name;
  }
  // A boundary on one of the cz's qubits between it and the network, or on
  // the target inside the network, keeps it; one elsewhere does not.
  const std::vector<std::uint32_t> qubits = {0, 2, 3};
  const std::size_t at[] = {8, 4, 4};  // where each goes among the network's gates
  for (std::uint32_t on = 0; on < 3; ++on) {
    std::vector<CancelItem> items;
    for (const PlacedGate& g : network(0, 1, 2, toffoli)) items.push_back(gate(g));
    items.insert(items.begin() + static_cast<std::ptrdiff_t>(at[on]), CancelItem{{}, on, 1});
    items.push_back(gate(g2(E::CZ, 0, 1)));
    std::size_t dissolved = 0;
    cancelled(items, qubits, 4, &dissolved);
    EXPECT_EQ(dissolved, on == 2 ? 1u : 0u) << "a boundary on qubit " << qubits[on];
  }
}

TEST(PairCancellation, RandomNetworksAndCzGatesKeepTheirMatrix) {
  // Toffoli-like networks with random phases and controls, cz gates and
  // other gates between: the gates kept (as left) multiply to the product of
  // those given; T gates never grow in number, nor do two-qubit gates.
  using E = Elementary;
  const E phases[] = {E::T, E::Tdg, E::S, E::Sdg, E::Z};
  const E other[] = {E::H, E::T, E::Tdg, E::S, E::X, E::CX, E::CZ};
  std::mt19937_64 rng(37);
  const std::uint32_t n = 4;
  std::size_t dissolved_in_all = 0;
  for (int round = 0; round < 300; ++round) {
    std::vector<PlacedGate> gates;
    std::vector<std::uint32_t> controls = {0, 1};  // the last network's
    for (std::size_t k = 0, parts = 2 + rng() % 4; k < parts; ++k) {
      std::vector<std::uint32_t> q = {0, 1, 2, 3};
      std::shuffle(q.begin(), q.end(), rng);
      const unsigned kind = rng() % 4;
      if (kind == 0) {
        // Half the networks a Toffoli's phases (or their inverses), the rest
        // phases at random.
        std::vector<E> at;
        const bool toffoli = rng() % 2, up = rng() % 2;
        for (int p = 0; p < 4; ++p) {
          at.push_back(toffoli ? ((p % 2 == 0) == up ? E::Tdg : E::T)
                               : rng() % 3 ? (rng() % 2 ? E::T : E::Tdg) : phases[rng() % 5]);
        }
        const auto part = network(q[0], q[1], q[2], at);
        gates.insert(gates.end(), part.begin(), part.end());
        controls = {q[0], q[1]};
      } else if (kind == 1) {
        gates.push_back(rng() % 2 ? g2(E::CZ, controls[1], controls[0]) : g2(E::CZ, q[0], q[1]));
      } else if (kind == 2) {
        // A cx with phase gates on both sides of its target and on its
        // control, and a cz on its qubits before or after it.
        const auto phase = [&](std::uint32_t on) { return g1(phases[rng() % 5], on); };
        const bool cz_first = rng() % 2;
        if (cz_first) gates.push_back(g2(E::CZ, q[0], q[1]));
        for (const PlacedGate& g : {phase(q[1]), g2(E::CX, q[0], q[1]), phase(q[1]), phase(q[0])}) gates.push_back(g);
        if (!cz_first) gates.push_back(g2(E::CZ, q[1], q[0]));
      } else {
        const E e = other[rng() % 7];
        gates.push_back(elementary_info(e).qubits == 2 ? g2(e, q[0], q[1]) : g1(e, q[0]));
      }
    }
    std::vector<CancelItem> items;
    for (const PlacedGate& g : gates) items.push_back(gate(g));
    std::size_t dissolved = 0;
    const std::vector<PlacedGate> kept = cancelled(items, {}, n, &dissolved);
    dissolved_in_all += dissolved;
    std::size_t t[2] = {0, 0}, two_qubit[2] = {0, 0};
    for (const PlacedGate& g : gates) t[0] += elementary_info(g.gate).t, two_qubit[0] += elementary_info(g.gate).qubits == 2;
    for (const PlacedGate& g : kept) t[1] += elementary_info(g.gate).t, two_qubit[1] += elementary_info(g.gate).qubits == 2;
    EXPECT_LE(t[1], t[0]) << "round " << round;
    EXPECT_LE(two_qubit[1], two_qubit[0]) << "round " << round;
    ASSERT_TRUE(same(matrix_of(kept, n), matrix_of(gates, n))) << "round " << round;
  }
  EXPECT_GT(dissolved_in_all, 20u);  // the lists do have cz gates to make phases
}

TEST(PairCancellation, BoundariesStopTheSearchOnTheirQubitsOnly) {
  using E = Elementary;
  const std::vector<std::uint32_t> qubits = {1, 2};  // a barrier on qubit 1, one on qubit 2
  const std::vector<CancelItem> on_target = {gate(g2(E::CX, 0, 1)), {{}, 0, 1}, gate(g2(E::CX, 0, 1))};
  EXPECT_EQ(kept_gates(on_target, cancel_gate_pairs(3, on_target, qubits)).size(), 2u);
  const std::vector<CancelItem> elsewhere = {gate(g2(E::CX, 0, 1)), {{}, 1, 1}, gate(g2(E::CX, 0, 1))};
  EXPECT_EQ(kept_gates(elsewhere, cancel_gate_pairs(3, elsewhere, qubits)).size(), 0u);
  EXPECT_NE(fault_of([&] { cancel_gate_pairs(2, elsewhere, qubits); }), "no fault");
  const std::vector<CancelItem> outside = {gate(g2(E::CX, 0, 5))};
  EXPECT_NE(fault_of([&] { cancel_gate_pairs(3, outside, {}); }), "no fault");
}

TEST(PairCancellation, LongNetworksMeetTheirCopiesHoweverManyPairsCancelBetween) {
  // A chain of k cx gates of which no two neighbours commute, then the same
  // k reversed and the k again: the reversed ones cancel the copies after
  // them, pair after pair, far past the reach of one search (each qubit
  // holds some 130 cancelled gates between the last pair's two gates).
  std::vector<CancelItem> items;
  const std::uint32_t n = 6;
  std::vector<PlacedGate> chain;
  for (std::uint32_t k = 0; k < 200; ++k) chain.push_back(g2(Elementary::CX, k % n, (k + 1) % n));
  for (const PlacedGate& g : chain) items.push_back(gate(g));
  for (std::size_t k = chain.size(); k-- > 0;) items.push_back(gate(chain[k]));
  for (const PlacedGate& g : chain) items.push_back(gate(g));
  const std::vector<bool> removed = cancel_gate_pairs(n, items, {});
  EXPECT_EQ(kept_gates(items, removed).size(), chain.size());
}

TEST(PairCancellation, RandomListsKeepTheirMatrix) {
  using E = Elementary;
  const E one[] = {E::H, E::S, E::Sdg, E::T, E::Tdg, E::X, E::Y, E::Z};
  const E two_qubit[] = {E::CX, E::CZ, E::Swap};
  std::mt19937_64 rng(2026);
  const std::uint32_t n = 3;
  std::size_t removed_in_all = 0, sandwiches_met = 0;
  for (int round = 0; round < 400; ++round) {
    std::vector<CancelItem> items;
    std::vector<std::uint32_t> barrier_qubits;
    const std::size_t length = 4 + rng() % 20;
    for (std::size_t k = 0; k < length; ++k) {
      const std::uint32_t a = static_cast<std::uint32_t>(rng() % n);
      const std::uint32_t b = (a + 1 + static_cast<std::uint32_t>(rng() % (n - 1))) % n;
      const unsigned pick = rng() % 10;
      if (pick < 5) {
        // Mostly cx and cz, and often a repeat of a recent gate.
        if (!items.empty() && rng() % 2 && items.back().count == 0) {
          items.push_back(items[items.size() - 1 - rng() % std::min<std::size_t>(items.size(), 3)]);
        } else {
          items.push_back(gate(g2(rng() % 4 ? two_qubit[rng() % 2] : E::Swap, a, b)));
        }
      } else if (pick < 9) {
        items.push_back(gate(rng() % 8 ? g1(one[rng() % 8], a) : rotation(rng() % 2 ? E::Rz : E::Rx, a)));
      } else {
        items.push_back({{}, static_cast<std::uint32_t>(barrier_qubits.size()), 1});
        barrier_qubits.push_back(a);
      }
    }
    // Every other round with T gates joined, half of those with cx pairs
    // around S powers made cz gates too.
    std::vector<Elementary> now;
    const std::vector<bool> removed =
        cancel_gate_pairs(n, items, barrier_qubits, round % 2 ? &now : nullptr, round % 4 == 3);
    // Barriers are never removed; the gates kept multiply to the product
    // of those given (where barriers stop a pair is the table's test).
    std::vector<PlacedGate> given, kept;
    for (std::size_t i = 0; i < items.size(); ++i) {
      if (items[i].count != 0) continue;
      given.push_back(items[i].gate);
      if (!removed[i]) kept.push_back(items[i].gate);
      if (!removed[i] && round % 2) kept.back().gate = now[i];  // a one-qubit gate acts on `a`
      removed_in_all += removed[i];
    }
    ASSERT_TRUE(same(matrix_of(kept, n), matrix_of(given, n))) << "round " << round;
    // Without a cx pair around S powers met, the call with them made cz
    // gates gives the same gates.
    std::vector<Elementary> plain_now, sandwich_now;
    bool met = true;
    const std::vector<bool> plain = cancel_gate_pairs(n, items, barrier_qubits, &plain_now, false, &met);
    sandwiches_met += met;
    if (!met) {
      EXPECT_EQ(cancel_gate_pairs(n, items, barrier_qubits, &sandwich_now, true), plain) << "round " << round;
      EXPECT_EQ(sandwich_now, plain_now) << "round " << round;
    }
    for (std::size_t i = 0; i < items.size(); ++i) {
      if (items[i].count != 0) {
        EXPECT_FALSE(removed[i]);
      }
    }
  }
  EXPECT_GT(removed_in_all, 100u);  // the lists do have pairs to cancel
  EXPECT_GT(sandwiches_met, 10u);   // and cx pairs around S powers, in some
  EXPECT_LT(sandwiches_met, 390u);  // but not all
}

// Once the deadline has passed, the walk stops at its first look at the
// clock: the items before it go as they would alone, those from it on stay
// as given, and the whole still has the matrix given; the cz gates then
// stay cz gates.
TEST(PairCancellation, PastTheDeadlineTheWalkStopsWhereItIs) {
  using E = Elementary;
  std::mt19937_64 rng(11);
  const std::uint32_t n = 3;
  const E kinds[] = {E::CX, E::CZ, E::T, E::Tdg, E::S, E::H};
  std::vector<CancelItem> items;
  while (items.size() < 2 * std::size_t{kClockStride}) {
    const auto a = static_cast<std::uint32_t>(rng() % n);
    const auto b = (a + 1 + static_cast<std::uint32_t>(rng() % (n - 1))) % n;
    const E e = kinds[rng() % 6];
    items.push_back(gate(elementary_info(e).qubits == 2 ? g2(e, a, b) : g1(e, a)));
    if (rng() % 2) items.push_back(items.back());  // a pair, or two T gates that join
  }
  const Deadline passed(std::chrono::nanoseconds(0));
  std::vector<Elementary> now, alone_now;
  std::vector<bool> removed = cancel_gate_pairs(n, items, {}, &now, true, nullptr, passed);
  const std::size_t walked = kClockStride - 1;
  const std::vector<bool> alone =
      cancel_gate_pairs(n, std::span(items).first(walked), {}, &alone_now, true);
  std::size_t gone = 0;
  std::vector<PlacedGate> given, kept;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i < walked) {
      EXPECT_EQ(removed[i], alone[i]) << i;
      EXPECT_EQ(now[i], alone_now[i]) << i;
    } else {
      EXPECT_FALSE(removed[i]) << i;
      EXPECT_EQ(now[i], items[i].gate.gate) << i;
    }
    gone += removed[i];
    given.push_back(items[i].gate);
    if (removed[i]) continue;
    kept.push_back(items[i].gate);
    kept.back().gate = now[i];  // a one-qubit gate acts on `a`
  }
  EXPECT_GT(gone, walked / 4);
  EXPECT_TRUE(same(matrix_of(kept, n), matrix_of(given, n)));
  const std::vector<bool> before = removed;
  const std::vector<Elementary> before_now = now;
  EXPECT_EQ(cz_to_phases(n, items, {}, removed, now, passed), 0u);
  EXPECT_EQ(removed, before);
  EXPECT_EQ(now, before_now);
}

}  // namespace
}  // namespace kestrel
