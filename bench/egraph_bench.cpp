// Loads a chain of gates into an e-graph and rebuilds it; prints the time per
// gate and the resident memory per e-graph node.
//
//   egraph_bench [gates]   (default 1000000)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "engine/egraph.h"
#include "src/circuit/op.h"

namespace {

// Resident set size of this process in bytes, from /proc/self/statm.
long resident_bytes() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * 4096;
}

kestrel::RecExpr<kestrel::Op> chain(std::size_t gates) {
  using kestrel::Op;
  using kestrel::OpKind;
  const OpKind kinds[] = {OpKind::H, OpKind::S, OpKind::Sdg, OpKind::T,
                          OpKind::Tdg, OpKind::X, OpKind::Z, OpKind::CNOT};
  kestrel::RecExpr<Op> e;
  e.reserve(2 * gates);
  std::uint64_t state = 0x9e3779b97f4a7c15ULL;
  kestrel::Id root = 0;
  for (std::size_t i = 0; i < gates; ++i) {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    const kestrel::Id leaf = e.add(Op(kinds[(state >> 33) % 8]));
    root = i == 0 ? leaf : e.add(Op::seq(root, leaf));
  }
  return e;
}

}  // namespace

int main(int argc, char** argv) {
  const std::size_t gates = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1'000'000;
  const auto expr = chain(gates);
  double best = 1e30;
  long bytes = 0;
  std::size_t nodes = 0;
  for (int rep = 0; rep < 5; ++rep) {
    const long before = resident_bytes();
    const auto start = std::chrono::steady_clock::now();
    kestrel::EGraph<kestrel::Op> g;
    g.add_expr_internal(expr);
    g.rebuild();
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    best = std::min(best, took.count());
    bytes = std::max(bytes, resident_bytes() - before);
    nodes = g.node_count();
  }
  std::printf("gates %zu  e-nodes %zu  load+rebuild %.1f ms  %.1f ns/gate  ~%.0f bytes/e-node\n",
              gates, nodes, best * 1e3, best * 1e9 / static_cast<double>(gates),
              static_cast<double>(bytes) / static_cast<double>(nodes));
}
