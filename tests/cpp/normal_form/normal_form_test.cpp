// Tests of the normal form against exact matrices of one-qubit gates.
//
// The matrices of src/synthesis/ (which the normal form does not use; their
// ring is checked against the complex numbers in rings_test.cpp) hold a
// unitary as M / sqrt2^k with the entries of M in Z[w], w = e^(i pi/4):
// every gate of the language is exact there, and two products are equal up
// to a global phase exactly when their reduced forms differ by a power of w. A search
// over the group from the identity, cheapest first, gives each operator's
// fewest T gates and, among circuits with that many, fewest gates. Every
// circuit of up to six gates must come back as the same operator with
// exactly those two counts, and circuits for the same operator as the same
// gates.
#include "src/normal_form/normal_form.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <queue>
#include <string>
#include <tuple>
#include <vector>

#include "src/circuit/chain.h"
#include "src/pipeline/pipeline.h"
#include "src/synthesis/exact_synthesis.h"
#include "src/text/qasm.h"
#include "tests/cpp/helpers.h"

namespace kestrel {
namespace {

using synthesis::ExactMatrix;
using synthesis::Integer;

// The same operator for every global phase: the least of the reduced
// form's eight multiples by powers of w (w (a, b, c, d) = (-d, a, b, c)).
using Key = std::array<Integer, 17>;

Key key(const ExactMatrix& u) {
  ExactMatrix m = u.reduced();
  Key best{};
  for (int phase = 0; phase < 8; ++phase) {
    Key k{};
    k[0] = m.k;
    for (int e = 0; e < 4; ++e) {
      for (int i = 0; i < 4; ++i) k[1 + 4 * e + i] = m.e[e].c[i];
      auto& c = m.e[e].c;
      c = {-c[3], c[0], c[1], c[2]};
    }
    if (phase == 0 || k < best) best = k;
  }
  return best;
}

ExactMatrix then(const ExactMatrix& u, OpKind gate) { return synthesis::gate_matrix(gate) * u; }

const std::vector<OpKind> kGates = {OpKind::H,   OpKind::S, OpKind::Sdg, OpKind::T,
                                    OpKind::Tdg, OpKind::X, OpKind::Z};

// The operators that need at most `max_t` T gates, each with the fewest T
// gates, then the fewest gates, of any circuit for it.
struct Group {
  std::vector<ExactMatrix> unitary;                     // each operator, by number
  std::vector<std::pair<std::size_t, std::size_t>> cheapest;  // its T gates and gates
  std::map<Key, std::size_t> number;                 // the number of each operator
};

Group search_group(std::size_t max_t) {
  using Entry = std::tuple<std::size_t, std::size_t, std::size_t>;  // T gates, gates, number
  Group group;
  std::vector<bool> settled;
  std::priority_queue<Entry, std::vector<Entry>, std::greater<>> queue;
  const auto reach = [&](const ExactMatrix& u, std::size_t t, std::size_t gates) {
    const auto [it, added] = group.number.emplace(key(u), group.unitary.size());
    if (added) {
      group.unitary.push_back(u);
      group.cheapest.emplace_back(t, gates);
      settled.push_back(false);
    }
    if (!settled[it->second]) queue.emplace(t, gates, it->second);
  };
  reach(synthesis::identity_matrix(), 0, 0);
  while (!queue.empty()) {
    const auto [t, gates, n] = queue.top();
    queue.pop();
    if (settled[n]) continue;
    settled[n] = true;
    group.cheapest[n] = {t, gates};
    for (OpKind g : kGates) {
      const std::size_t next_t = t + (is_t(g) ? 1 : 0);
      if (next_t <= max_t) reach(then(group.unitary[n], g), next_t, gates + 1);
    }
  }
  return group;
}

const PipelineOptions kNormalForm = [] {
  PipelineOptions options;
  options.method = Method::NormalForm;
  return options;
}();

std::vector<OpKind> normal_form(const std::vector<OpKind>& gates) {
  NormalFormWire wire;
  for (OpKind g : gates) wire.add(g);
  std::vector<OpKind> out;
  wire.write(out);
  return out;
}

std::string show(const std::vector<OpKind>& gates) {
  std::string out;
  for (OpKind g : gates) out += std::string(out.empty() ? "" : " ") + Op(g).debug();
  return "[" + out + "]";
}

TEST(NormalForm, EveryCircuitUpToSixGatesIsTOptimalShortestAndCanonical) {
  constexpr std::size_t kMaxGates = 6;
  const Group group = search_group(kMaxGates);
  // Clifford+T operators needing at most k T gates: 24 (1 + 3 (2^k - 1)).
  ASSERT_EQ(group.unitary.size(), 24u * (1 + 3 * ((1u << kMaxGates) - 1)));

  // The first result written for each operator: every other circuit for
  // that operator must come back as the same gates.
  std::vector<std::optional<std::vector<OpKind>>> written(group.unitary.size());

  struct Circuit {
    std::vector<OpKind> gates;  // the circuit
    std::size_t op = 0;         // its operator's number
  };
  std::vector<Circuit> todo{{{}, group.number.at(key(synthesis::identity_matrix()))}};
  std::size_t circuits = 0;
  while (!todo.empty()) {
    const Circuit c = std::move(todo.back());
    todo.pop_back();
    ++circuits;
    const std::vector<OpKind> out = normal_form(c.gates);
    if (written[c.op]) {
      ASSERT_EQ(show(out), show(*written[c.op])) << show(c.gates);
    } else {
      ASSERT_EQ(group.number.at(key(synthesis::circuit_matrix(out))), c.op) << show(c.gates) << " -> " << show(out);
      const auto [t, gates] = group.cheapest[c.op];
      ASSERT_EQ(t_count(out), t) << show(c.gates) << " -> " << show(out);
      ASSERT_EQ(out.size(), gates) << show(c.gates) << " -> " << show(out);
      written[c.op] = out;
    }
    if (c.gates.size() == kMaxGates) continue;
    for (OpKind g : kGates) {
      Circuit child{c.gates, group.number.at(key(then(group.unitary[c.op], g)))};
      child.gates.push_back(g);
      todo.push_back(std::move(child));
    }
  }
  EXPECT_EQ(circuits, 137'257u);
}

struct RunCase {
  std::vector<OpKind> in;   // a run
  std::vector<OpKind> out;  // its normal form
};

TEST(NormalForm, KnownRuns) {
  using enum OpKind;
  // Which circuit is written for a few runs (the test above holds every run
  // of up to six gates to the fewest T gates and gates, and one circuit per
  // operator), and the identity, which that test does not draw.
  const RunCase cases[] = {
      {{T, H, T}, {T, H, T}},           // different axes: both T gates stay
      {{H, T, H, H, T, H}, {H, S, H}},  // the same axis after the Cliffords
      {{T, I, T}, {S}},                 // the identity is nothing
  };
  for (const RunCase& c : cases) EXPECT_EQ(show(normal_form(c.in)), show(c.out)) << show(c.in);
}

// Each line the writer prints for the gates of `text` after the header.
std::vector<std::string> result_lines(std::string_view text) {
  const std::string out = run_pipeline(text, kNormalForm).qasm;
  EXPECT_TRUE(out.starts_with(kQasmHeader)) << out;
  std::vector<std::string> lines;
  for_each_gate_line(out, [&](OpKind g) { lines.push_back(std::string(op_name(g))); });
  return lines;
}

std::string lines_of(std::initializer_list<const char*> gates) {
  std::string text(kQasmHeader);
  for (const char* g : gates) {
    text += std::string(g) + (g == std::string_view("cx") ? " q[0],q[1];\n" : " q[0];\n");
  }
  return text;
}

struct WireCase {
  std::initializer_list<const char*> in;  // gate names of a one-wire program
  std::vector<std::string> out;           // the names of the result's gates
};

TEST(NormalFormWire, CnotsSplitRunsAndCancelAroundNothing) {
  const WireCase cases[] = {
      {{"cx", "t", "tdg", "cx"}, {}},                       // the run between comes to nothing
      {{"t", "cx", "h", "h", "cx", "t"}, {"S"}},            // ... and the runs around it join
      {{"cx", "h", "cx", "cx", "h", "cx"}, {}},             // pairs inside pairs
      {{"cx", "cx", "cx"}, {"CNOT"}},                       //
      {{"h", "cx", "t", "cx", "h"}, {"H", "CNOT", "T", "CNOT", "H"}},  // a T between stays
      {{"t", "cx", "t", "x", "t", "cx", "t"}, {"T", "CNOT", "X", "CNOT", "T"}},  // runs fold apart
      {{"h", "h", "cx", "t", "t"}, {"CNOT", "S"}},          // a first run of nothing keeps the cx
  };
  for (const WireCase& c : cases) {
    const std::string text = lines_of(c.in);
    EXPECT_EQ(result_lines(text), c.out) << text;
  }
}

TEST(OptimizeRun, SaturationGivesWhatThePipelineGives) {
  const std::string text = lines_of({"h", "t", "t", "cx", "cx", "h", "x", "h", "t", "tdg", "s"});
  const RecExpr<Op> read = parse_qasm(text);
  std::vector<Op> gates;
  emit(read.root(), read, gates);
  const std::vector<Op> out = optimize_segment(gates, {});
  const std::string written = run_pipeline(text).qasm;
  std::vector<Op> expected;
  for_each_gate_line(written, [&](OpKind g) { expected.emplace_back(g); });
  EXPECT_EQ(out, expected);
  EXPECT_TRUE(optimize_segment({}, {}).empty());
}

}  // namespace
}  // namespace kestrel
