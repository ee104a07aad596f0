// The optimize_qasm pipeline without Python: read, optimise, measure, write,
// each phase timed, on a seeded random one-qubit text.
//
//   pipeline_bench [gates] [repetitions]   (defaults 1048576 and 3)
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "bench/measure.h"
#include "src/saturation/optimize.h"
#include "src/text/qasm.h"

using namespace kestrel::bench;

int main(int argc, char** argv) {
  const std::size_t gates = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1'048'576;
  const int reps = argc > 2 ? std::atoi(argv[2]) : 3;
  const char* lines[] = {"h q[0];\n", "s q[0];\n", "sdg q[0];\n", "t q[0];\n",
                         "tdg q[0];\n", "x q[0];\n", "z q[0];\n"};
  std::string text(kestrel::kQasmHeader);
  std::uint64_t state = 1;
  for (std::size_t i = 0; i < gates; ++i) {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    text += lines[(state >> 33) % 7];
  }
  const long base_kb = peak_rss_kb();
  double read = 1e30, optimise = 1e30, measure = 1e30, write = 1e30, total = 1e30;
  for (int r = 0; r < reps; ++r) {
    const auto t0 = Clock::now();
    auto start = t0;
    const auto expr = kestrel::parse_qasm(text);
    read = std::min(read, ms_since(start));
    start = Clock::now();
    const auto best = kestrel::optimize_expr(expr);
    optimise = std::min(optimise, ms_since(start));
    start = Clock::now();
    const auto before = kestrel::wire_stats(expr), after = kestrel::wire_stats(best);
    measure = std::min(measure, ms_since(start));
    start = Clock::now();
    const std::string out = kestrel::print_qasm(best);
    write = std::min(write, ms_since(start));
    total = std::min(total, ms_since(t0));
    if (out.size() < before.gates + after.gates) std::puts("unexpected");
  }
  std::printf("gates %zu: read %.1f ms, optimise %.1f ms, measure %.1f ms, write %.1f ms; "
              "total %.1f ms = %.3f us/gate; peak RSS above the text %.0f bytes/gate\n",
              gates, read, optimise, measure, write, total, total * 1e3 / gates,
              (peak_rss_kb() - base_kb) * 1024.0 / gates);
}
