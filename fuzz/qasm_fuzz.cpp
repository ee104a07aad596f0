// Arbitrary bytes through the whole pipeline: read, optimise, measure, write.
//
// Besides the sanitizers, each input checks what a caller relies on: the
// result is the same 4x4 unitary as the input (every rule is an exact
// identity when a one-qubit gate acts on qubit 0 of two and CNOT has control
// 0 and target 1), it costs no more than the input, its statistics agree with
// its gate list, and writing it then reading it back gives the same gates.
// The normal-form method runs on every input too: its result is the same
// unitary up to a global phase, has no more T gates than the default's, and
// a second pass over its text changes nothing.
#include <array>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <string>
#include <string_view>
#include <vector>

#include "src/circuit/chain.h"
#include "src/circuit/op.h"
#include "src/saturation/optimize.h"
#include "src/pipeline/pipeline.h"
#include "src/text/qasm.h"

namespace kestrel {
namespace {

void require(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "qasm_fuzz: broken invariant: %s\n", what);
  std::abort();
}

using Complex = std::complex<double>;
using Matrix = std::array<std::array<Complex, 4>, 4>;  // basis index q0 + 2 * q1

Matrix identity() {
  Matrix m{};
  for (int k = 0; k < 4; ++k) m[k][k] = 1;
  return m;
}

// The 2x2 matrix of a one-qubit gate the reader produces.
std::array<std::array<Complex, 2>, 2> one_qubit(OpKind gate) {
  const double r = 1 / std::sqrt(2.0);
  const Complex t = std::polar(1.0, std::numbers::pi / 4);
  switch (gate) {
    case OpKind::H: return {{{r, r}, {r, -r}}};
    case OpKind::S: return {{{1, 0}, {0, Complex(0, 1)}}};
    case OpKind::Sdg: return {{{1, 0}, {0, Complex(0, -1)}}};
    case OpKind::T: return {{{1, 0}, {0, t}}};
    case OpKind::Tdg: return {{{1, 0}, {0, std::conj(t)}}};
    case OpKind::X: return {{{0, 1}, {1, 0}}};
    case OpKind::Z: return {{{1, 0}, {0, -1}}};
    default: break;
  }
  require(false, "a one-qubit gate");
  return {};
}

// The unitary of a gate list applied first to last.
Matrix unitary(const std::vector<Op>& gates) {
  Matrix u = identity();
  for (Op g : gates) {
    Matrix next{};
    if (g.op() == OpKind::CNOT) {
      // Control q0, target q1: swaps the rows of |01> and |11>.
      const int image[4] = {0, 3, 2, 1};
      for (int row = 0; row < 4; ++row) next[image[row]] = u[row];
    } else {
      const auto m = one_qubit(g.op());
      for (int row = 0; row < 4; ++row) {
        const int q0 = row & 1, q1 = row >> 1;
        for (int col = 0; col < 4; ++col) {
          next[row][col] = m[q0][0] * u[2 * q1][col] + m[q0][1] * u[2 * q1 + 1][col];
        }
      }
    }
    u = next;
  }
  return u;
}

std::vector<Op> gate_list(const RecExpr<Op>& expr) {
  std::vector<Op> gates;
  emit(expr.root(), expr, gates);
  return gates;
}

// Whether a = z b for a complex z of modulus 1.
bool same_up_to_phase(const Matrix& a, const Matrix& b) {
  int row = 0, col = 0;
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 4; ++c) {
      if (std::abs(b[r][c]) > std::abs(b[row][col])) row = r, col = c;
    }
  }
  const Complex phase = a[row][col] / b[row][col];
  if (std::abs(std::abs(phase) - 1) > 1e-9) return false;
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 4; ++c) {
      if (std::abs(a[r][c] - phase * b[r][c]) > 1e-9) return false;
    }
  }
  return true;
}

void check_normal_form(std::string_view text, const std::vector<Op>& in_gates,
                       const CircuitStats& before, const CircuitStats& default_after) {
  const PipelineOptions options{.method = Method::NormalForm, .per_qubit = false, .limits = {}};
  const PipelineResult result = run_pipeline(text, options);
  const RecExpr<Op> read_back = parse_qasm(result.qasm);
  const std::vector<Op> out_gates = gate_list(read_back);
  require(result.before == before, "normal form: the input's statistics");
  require(result.after == wire_stats(read_back), "normal form: the statistics of the text");
  require(result.after.t <= default_after.t, "normal form: no more T gates than the default");
  require(result.qasm.starts_with(kQasmHeader), "normal form: the header");
  for (Op g : out_gates) {
    require(g.op() != OpKind::RZ1 && g.op() != OpKind::RZ2, "normal form: no rotation");
  }
  require(run_pipeline(result.qasm, options).qasm == result.qasm,
          "normal form: a second pass changes nothing");
  if (in_gates.size() <= 20'000) {
    require(same_up_to_phase(unitary(in_gates), unitary(out_gates)),
            "normal form: the same unitary up to phase");
  }
}

void run_one(std::string_view text) {
  const RecExpr<Op> expr = parse_qasm(text);
  const RecExpr<Op> copy = expr;
  const RecExpr<Op> best = optimize_expr(expr);
  require(expr == copy, "the input expression is left unchanged");
  const CircuitStats before = wire_stats(expr);
  const CircuitStats after = wire_stats(best);
  const std::string out = print_qasm(best);

  const std::vector<Op> in_gates = gate_list(expr);
  const std::vector<Op> out_gates = gate_list(best);
  require(expr.size() == (in_gates.empty() ? 1 : 2 * in_gates.size() - 1),
          "the reader's chain has 2n - 1 nodes");
  require(before.gates == in_gates.size() && before.depth == before.gates, "input statistics");
  require(after.gates == out_gates.size() && after.depth == after.gates, "output statistics");
  require(after.t <= before.t, "the T count never grows");
  require(after.t < before.t || after.gates <= before.gates, "the result never costs more");

  for (Op g : out_gates) {
    require(g.op() != OpKind::RZ1 && g.op() != OpKind::RZ2, "no rule makes a rotation");
  }
  require(out.starts_with(kQasmHeader) && out.ends_with('\n'), "the written text's frame");
  require(gate_list(parse_qasm(out)) == out_gates, "the written text reads back as the result");

  if (in_gates.size() <= 20'000) {
    const Matrix a = unitary(in_gates), b = unitary(out_gates);
    for (int row = 0; row < 4; ++row) {
      for (int col = 0; col < 4; ++col) {
        require(std::abs(a[row][col] - b[row][col]) < 1e-9, "the result is the same unitary");
      }
    }
  }
  check_normal_form(text, in_gates, before, after);
}

}  // namespace
}  // namespace kestrel

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kestrel::run_one(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
