// Runs the optimize_qasm pipeline (read, optimise, measure, write) on the
// QASM files named, each a given number of times, and prints each file's
// result size and best time. Meant for profilers such as callgrind, which
// then see the pipeline alone, without an interpreter around it.
//
//   files_bench [-n repetitions] file.qasm ...
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>

#include "src/saturation/optimize.h"
#include "src/text/qasm.h"

int main(int argc, char** argv) {
  int reps = 1;
  int first = 1;
  if (argc > 2 && std::string_view(argv[1]) == "-n") {
    reps = std::atoi(argv[2]);
    first = 3;
  }
  for (int a = first; a < argc; ++a) {
    std::ifstream in(argv[a], std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "cannot read %s\n", argv[a]);
      return 1;
    }
    std::stringstream buffer;
    buffer << in.rdbuf();
    const std::string text = buffer.str();
    double best = 1e30;
    std::size_t size = 0;
    for (int r = 0; r < reps; ++r) {
      const auto start = std::chrono::steady_clock::now();
      const auto expr = kestrel::parse_qasm(text);
      const auto result = kestrel::optimize_expr(expr);
      const auto before = kestrel::wire_stats(expr), after = kestrel::wire_stats(result);
      const std::string out = kestrel::print_qasm(result);
      const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
      best = std::min(best, took.count());
      size = out.size() + before.gates + after.gates;
    }
    std::printf("%s: %zu, %.3f ms\n", argv[a], size, best * 1e3);
  }
}
