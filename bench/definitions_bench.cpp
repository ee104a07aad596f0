// Times the statement reader on programs of many one-line gate definitions,
// 16,000 and 64,000 of them, best of several runs. Reading is linear in the
// text, so four times the definitions take about four times as long:
//
//   definitions_bench [repetitions]   (default 5)
//
// Each definition is "gate g<k>(theta) a { rz(theta) a; }", then one
// application of the last one.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <variant>

#include "bench/measure.h"
#include "src/program/program.h"

using namespace kestrel::bench;

namespace {

std::string program(std::size_t definitions) {
  std::string text = "OPENQASM 2.0;\ninclude \"qelib1.inc\";\nqreg q[1];\n";
  for (std::size_t k = 0; k < definitions; ++k) {
    text += "gate g" + std::to_string(k) + "(theta) a { rz(theta) a; }\n";
  }
  text += "g" + std::to_string(definitions - 1) + "(pi) q[0];\n";
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  const int reps = argc > 1 ? std::atoi(argv[1]) : 5;
  double previous = 0;
  for (const std::size_t definitions : {16'000, 64'000}) {
    const std::string text = program(definitions);
    double best = 1e30;
    for (int r = 0; r < reps; ++r) {
      const auto start = Clock::now();
      const auto read = kestrel::read_program(text);
      best = std::min(best, ms_since(start));
      if (!std::holds_alternative<kestrel::QasmProgram>(read)) {
        std::puts("the program did not read");
        return 1;
      }
    }
    std::printf("%zu definitions (%zu bytes): read in %.1f ms", definitions, text.size(), best);
    if (previous > 0) std::printf(", %.1f times the time of a quarter as many", best / previous);
    std::printf("\n");
    previous = best;
  }
}
