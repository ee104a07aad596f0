// Times the QASM reader, the statistics and the writer on a million-gate
// program: each on its own and the three in a row, best of several runs,
// reported in nanoseconds per gate.
//
// The program is the writer's header followed by gate lines drawn from
// h, s, sdg, t, tdg, x, z and cx with a fixed seed, so every run reads the
// same text.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <random>
#include <string>
#include <string_view>

#include "src/text/qasm.h"

namespace {

constexpr std::size_t kGates = 1'000'000;
constexpr int kRepetitions = 7;

std::string make_program() {
  constexpr std::string_view kLines[] = {"h q[0];\n",   "s q[0];\n", "sdg q[0];\n",
                                         "t q[0];\n",   "tdg q[0];\n", "x q[0];\n",
                                         "z q[0];\n",   "cx q[0],q[1];\n"};
  std::mt19937_64 rng(0x6b657374726c);
  std::string text(kestrel::kQasmHeader);
  text.reserve(text.size() + 14 * kGates);
  for (std::size_t k = 0; k < kGates; ++k) text += kLines[rng() % std::size(kLines)];
  return text;
}

// Keeps results alive so the optimiser cannot drop the timed work.
volatile std::uint64_t g_sink;

// The fastest of `kRepetitions` runs of `work`, in nanoseconds per gate.
template <class F>
double best_ns_per_gate(F&& work) {
  double best = std::numeric_limits<double>::infinity();
  for (int r = 0; r < kRepetitions; ++r) {
    const auto start = std::chrono::steady_clock::now();
    g_sink = work();
    const auto stop = std::chrono::steady_clock::now();
    const double ns = std::chrono::duration<double, std::nano>(stop - start).count();
    best = std::min(best, ns / static_cast<double>(kGates));
  }
  return best;
}

}  // namespace

int main() {
  using namespace kestrel;
  const std::string text = make_program();
  const RecExpr<Op> expr = parse_qasm(text);
  const CircuitStats measured = wire_stats(expr);
  if (measured.gates != kGates || expr.size() != 2 * kGates - 1) {
    std::fprintf(stderr, "read %llu gates, expected %zu\n",
                 static_cast<unsigned long long>(measured.gates), kGates);
    return 1;
  }

  const double parse_ns = best_ns_per_gate([&] { return parse_qasm(text).size(); });
  const double stats_ns = best_ns_per_gate([&] { return wire_stats(expr).t; });
  const double print_ns = best_ns_per_gate([&] { return print_qasm(expr).size(); });
  const double all_ns = best_ns_per_gate([&] {
    const RecExpr<Op> read = parse_qasm(text);
    return wire_stats(read).t + print_qasm(read).size();
  });

  std::printf("program: %zu gates, %zu bytes, %llu T gates; best of %d runs\n", kGates,
              text.size(), static_cast<unsigned long long>(measured.t), kRepetitions);
  std::printf("parse_qasm              %8.2f ns/gate\n", parse_ns);
  std::printf("stats                   %8.2f ns/gate\n", stats_ns);
  std::printf("print_qasm              %8.2f ns/gate\n", print_ns);
  std::printf("parse + stats + print   %8.2f ns/gate\n", all_ns);
  return 0;
}
