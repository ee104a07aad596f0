// Times optimize_expr end to end (load, saturate, extract) on random gate
// chains of growing length and on small circuits where the rules do real
// work; prints microseconds per gate. The circuits are seeded, so every run
// optimises the same inputs.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "src/saturation/optimize.h"
#include "src/text/qasm.h"

namespace {

using kestrel::Id;
using kestrel::Op;
using kestrel::OpKind;
using kestrel::RecExpr;

RecExpr<Op> random_chain(std::size_t gates, std::uint64_t seed, bool t_heavy) {
  const OpKind mixed[] = {OpKind::H, OpKind::S, OpKind::Sdg, OpKind::T,
                          OpKind::Tdg, OpKind::X, OpKind::Z, OpKind::CNOT};
  const OpKind heavy[] = {OpKind::T, OpKind::T, OpKind::Tdg, OpKind::H,
                          OpKind::Z, OpKind::T, OpKind::X, OpKind::S};
  RecExpr<Op> e;
  e.reserve(2 * gates);
  Id root = 0;
  for (std::size_t i = 0; i < gates; ++i) {
    seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
    const OpKind k = (t_heavy ? heavy : mixed)[(seed >> 33) % 8];
    const Id leaf = e.add(Op(k));
    root = i == 0 ? leaf : e.add(Op::seq(root, leaf));
  }
  return e;
}

double best_seconds(const RecExpr<Op>& e, int reps) {
  double best = 1e30;
  for (int r = 0; r < reps; ++r) {
    const auto start = std::chrono::steady_clock::now();
    const auto out = kestrel::optimize_expr(e);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    best = std::min(best, took.count());
    if (out.empty()) std::puts("empty result");
  }
  return best;
}

}  // namespace

int main() {
  std::puts("chains (random over h s sdg t tdg x z cx):");
  for (std::size_t n : {1'000u, 10'000u, 100'000u, 1'000'000u}) {
    const auto e = random_chain(n, 42, false);
    const double s = best_seconds(e, n >= 1'000'000 ? 3 : 5);
    std::printf("  %8zu gates  %9.2f ms  %7.3f us/gate\n", n, s * 1e3, s * 1e6 / n);
  }
  std::puts("small T-heavy circuits (saturation and scheduling at work):");
  for (std::size_t n : {20u, 50u, 100u, 200u}) {
    const auto e = random_chain(n, 7, true);
    const double s = best_seconds(e, 5);
    const auto before = kestrel::wire_stats(e), after = kestrel::wire_stats(kestrel::optimize_expr(e));
    std::printf("  %8zu gates  %9.2f ms  %7.3f us/gate  T %llu -> %llu\n", n, s * 1e3,
                s * 1e6 / n, static_cast<unsigned long long>(before.t),
                static_cast<unsigned long long>(after.t));
  }
}
