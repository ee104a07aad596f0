// The per-qubit mode without Python and without a method: reading the
// statements, the per-qubit pass and writing, timed on a seeded random
// program over 100 qubits, with a run optimiser that returns each run as it
// is. What it measures is every cost of the mode but the method's own, which
// is then paid once per distinct run (the count is printed).
//
//   per_qubit_bench [statements] [repetitions]   (defaults 1000000 and 5)
//
// The program draws each statement like bench/circuits.py's per-qubit
// family: h, s, sdg, t, tdg, x or z on a random qubit, or with probability
// 0.15 a cx between two distinct random qubits.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <variant>

#include "bench/measure.h"
#include "src/per_qubit/per_qubit.h"
#include "src/program/program.h"
#include "src/program/program_stats.h"
#include "src/program/writer.h"

using namespace kestrel::bench;

namespace {

std::string program(std::size_t statements) {
  const char* names[] = {"h", "s", "sdg", "t", "tdg", "x", "z"};
  std::string text = "OPENQASM 2.0;\ninclude \"qelib1.inc\";\nqreg q[100];\n";
  std::uint64_t state = 1;
  const auto next = [&] {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return state >> 33;
  };
  for (std::size_t i = 0; i < statements; ++i) {
    if (next() % 100 < 15) {
      const std::uint64_t a = next() % 100;
      std::uint64_t b = next() % 99;
      b += b >= a;
      text += "cx q[" + std::to_string(a) + "],q[" + std::to_string(b) + "];\n";
    } else {
      text += std::string(names[next() % 7]) + " q[" + std::to_string(next() % 100) + "];\n";
    }
  }
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  const std::size_t statements = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1'000'000;
  const int reps = argc > 2 ? std::atoi(argv[2]) : 5;
  const std::string text = program(statements);
  std::size_t runs = 0;
  const kestrel::SegmentOptimizer unchanged = [&](std::span<const kestrel::Op> run) {
    ++runs;
    return std::vector<kestrel::Op>(run.begin(), run.end());
  };
  double read = 1e30, pass = 1e30, total = 1e30;
  std::size_t out_size = 0;
  std::uint64_t gates_after = 0;
  for (int r = 0; r < reps; ++r) {
    runs = 0;
    const auto t0 = Clock::now();
    auto got = kestrel::read_program(text);
    read = std::min(read, ms_since(t0));
    if (!std::holds_alternative<kestrel::QasmProgram>(got)) {
      std::puts("the program did not read");
      return 1;
    }
    const auto t1 = Clock::now();
    const auto& program = std::get<kestrel::QasmProgram>(got);
    const kestrel::Edits edits = kestrel::per_qubit_edits(program, unchanged, false).edits;
    const kestrel::ProgramStats stats = kestrel::program_stats(program, edits);
    const std::string qasm = kestrel::write_program(text, program, edits);
    pass = std::min(pass, ms_since(t1));
    total = std::min(total, ms_since(t0));
    out_size = qasm.size();
    gates_after = stats.after.gates;
  }
  std::printf("statements %zu (%zu bytes): read %.1f ms, pass and write %.1f ms; total %.1f ms = "
              "%.3f us/statement; %zu distinct runs; output %zu bytes, %llu gates\n",
              statements, text.size(), read, pass, total, total * 1e3 / statements, runs, out_size,
              static_cast<unsigned long long>(gates_after));
}
