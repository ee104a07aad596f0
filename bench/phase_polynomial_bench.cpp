// The phase-polynomial method without Python, on program files: per file
// its T count before, after rotation merging and after the method, its
// two-qubit gates before and after, and the method's time (reading to
// writing, the median of the repetitions). With an output folder, each
// result is written there under the input's name.
//
//   phase_polynomial_bench [--time-limit SECONDS] [--repeat N] [--out DIR]
//                          [--ancillas K] [--two-qubit-cost C] [--every-block] FILE...
//
// --every-block writes every block anew, gain or not (to check the writing).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <variant>
#include <vector>

#include "src/phase_polynomial/phase_polynomial.h"
#include "src/gf2/reduction.h"
#include "src/program/program.h"
#include "src/program/program_stats.h"
#include "src/program/writer.h"
#include "src/rotation_merging/rotation_merging.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string slurp(const char* path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

int main(int argc, char** argv) {
  double limit = 5;
  bool every_block = false;
  std::uint32_t ancillas = 0;
  double two_qubit_cost = kestrel::kDefaultTwoQubitCost;
  int repeat = 1;
  std::string out_dir;
  std::vector<const char*> files;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--time-limit") == 0 && i + 1 < argc) {
      limit = std::atof(argv[++i]);
    } else if (std::strcmp(argv[i], "--repeat") == 0 && i + 1 < argc) {
      repeat = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--two-qubit-cost") == 0 && i + 1 < argc) {
      two_qubit_cost = std::atof(argv[++i]);
    } else if (std::strcmp(argv[i], "--ancillas") == 0 && i + 1 < argc) {
      ancillas = static_cast<std::uint32_t>(std::atoi(argv[++i]));
    } else if (std::strcmp(argv[i], "--every-block") == 0) {
      every_block = true;
    } else if (std::strcmp(argv[i], "--out") == 0 && i + 1 < argc) {
      out_dir = argv[++i];
    } else {
      files.push_back(argv[i]);
    }
  }
  std::printf("%-24s %7s %7s %7s %8s %8s %6s %10s\n", "program", "T", "merged", "after", "2q",
              "2q after", "extra", "seconds");
  for (const char* path : files) {
    const std::string text = slurp(path);
    auto read = kestrel::read_program(text);
    if (auto* error = std::get_if<kestrel::InputError>(&read)) {
      std::printf("%s: %s\n", path, error->text().c_str());
      continue;
    }
    const kestrel::QasmProgram& program = std::get<kestrel::QasmProgram>(read);
    const auto merged = kestrel::merge_rotations(program);
    const auto merged_stats = kestrel::program_stats(program, merged.edits);
    std::vector<double> times;
    std::string written;
    kestrel::ProgramStats stats;
    std::uint32_t extra = 0;
    for (int r = 0; r < repeat; ++r) {
      const auto start = Clock::now();
      kestrel::PhasePolynomialOptions options;
      options.deadline = kestrel::Deadline(
          std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::duration<double>(limit)), start);
      options.every_block = every_block;
      options.ancillas = ancillas;
      options.two_qubit_cost = two_qubit_cost;
      options.effort = kestrel::reduction_effort(std::chrono::duration<double>(limit));
      options.cap = kestrel::reduction_cap(std::chrono::duration<double>(limit));
      const auto result = kestrel::reduce_phase_polynomials(program, options);
      stats = kestrel::program_stats(program, result.edits);
      extra = result.extra_qubits;
      written = kestrel::write_program(text, program, result.edits);
      times.push_back(std::chrono::duration<double>(Clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    std::string name = path;
    name = name.substr(name.find_last_of('/') + 1);
    std::printf("%-24s %7llu %7llu %7llu %8llu %8llu %6u %10.4f\n", name.c_str(),
                static_cast<unsigned long long>(stats.before.t),
                static_cast<unsigned long long>(merged_stats.after.t),
                static_cast<unsigned long long>(stats.after.t),
                static_cast<unsigned long long>(stats.two_qubit_before),
                static_cast<unsigned long long>(stats.two_qubit_after), extra,
                times[times.size() / 2]);
    if (!out_dir.empty()) {
      std::ofstream(out_dir + "/" + name, std::ios::binary) << written;
    }
  }
}
