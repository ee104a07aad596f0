// Rotation merging without Python: reading the statements, merging, counting
// and writing, each timed, on seeded random programs of 64 qubits from
// 131,072 to 1,048,576 gates, with the time ratio between the two sizes.
//
//   rotation_merging_bench [family] [repetitions]   (defaults both and 5)
//
// The families are those of bench/circuits.py's whole programs: h, s, sdg,
// t, tdg, x and z on a random qubit, or with probability 0.35 a cx between
// two distinct random qubits ("clifford_t_cx"); or only t, tdg and cx
// ("cx_t"), whose rotations all commute.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <variant>

#include "bench/measure.h"
#include "src/program/program.h"
#include "src/program/stats.h"
#include "src/program/writer.h"
#include "src/rotation_merging/rotation_merging.h"

using namespace kestrel::bench;

namespace {

std::string program(std::size_t gates, bool clifford) {
  const char* one[] = {"h", "s", "sdg", "t", "tdg", "x", "z"};
  const char* diagonal[] = {"t", "tdg"};
  std::string text = "OPENQASM 2.0;\ninclude \"qelib1.inc\";\nqreg q[64];\n";
  std::uint64_t state = 1;
  const auto next = [&] {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return state >> 33;
  };
  for (std::size_t i = 0; i < gates; ++i) {
    if (next() % 100 < 35) {
      const std::uint64_t a = next() % 64;
      std::uint64_t b = next() % 63;
      b += b >= a;
      text += "cx q[" + std::to_string(a) + "],q[" + std::to_string(b) + "];\n";
    } else {
      const char* name = clifford ? one[next() % 7] : diagonal[next() % 2];
      text += std::string(name) + " q[" + std::to_string(next() % 64) + "];\n";
    }
  }
  return text;
}

struct Times {
  double read = 1e30, merge = 1e30, stats = 1e30, write = 1e30, total = 1e30;
};

Times measure(const std::string& text, int reps) {
  Times best;
  for (int r = 0; r < reps; ++r) {
    const Clock::time_point start = Clock::now();
    auto read = kestrel::read_program(text);
    const double t_read = ms_since(start);
    const auto& program = std::get<kestrel::QasmProgram>(read);
    Clock::time_point at = Clock::now();
    const kestrel::RotationMergingResult merged = kestrel::merge_rotations(program);
    const double t_merge = ms_since(at);
    at = Clock::now();
    const kestrel::ProgramStats stats = kestrel::program_stats(program, merged.edits);
    const double t_stats = ms_since(at);
    at = Clock::now();
    const std::string out = kestrel::write_program(text, program, merged.edits);
    const double t_write = ms_since(at);
    const double total = ms_since(start);
    if (out.empty() || stats.after.t > stats.before.t) std::abort();
    best.read = std::min(best.read, t_read);
    best.merge = std::min(best.merge, t_merge);
    best.stats = std::min(best.stats, t_stats);
    best.write = std::min(best.write, t_write);
    best.total = std::min(best.total, total);
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  const char* only = argc > 1 ? argv[1] : nullptr;
  const int reps = argc > 2 ? std::atoi(argv[2]) : 5;
  std::printf("%-14s %9s %9s %9s %9s %9s %9s\n", "family", "gates", "read ms", "merge ms",
              "stats ms", "write ms", "total ms");
  for (const char* family : {"clifford_t_cx", "cx_t"}) {
    if (only != nullptr && std::strcmp(only, family) != 0) continue;
    double first = 0;
    for (std::size_t gates : {std::size_t{131072}, std::size_t{1048576}}) {
      const Times t = measure(program(gates, std::strcmp(family, "cx_t") != 0), reps);
      std::printf("%-14s %9zu %9.2f %9.2f %9.2f %9.2f %9.2f", family, gates, t.read, t.merge,
                  t.stats, t.write, t.total);
      if (first > 0) std::printf("   ratio %.2f", t.total / first);
      std::printf("\n");
      first = t.total;
    }
  }
  std::printf("peak resident memory %ld KiB\n", peak_rss_kb());
}
