// Rotation merging without Python: reading the statements, merging, counting
// and writing, each timed (the best of the repetitions), on seeded random
// programs of 64 qubits from 131,072 to 1,048,576 gates with the time ratio
// between the two sizes, and on the multipliers over GF(2^n) of the shared
// T-count programs for n = 32, 64 and 128 with the growth of the time from
// each to the next (four times the gates, twice the qubits).
//
//   rotation_merging_bench [family|all] [repetitions]   (defaults all and 5)
//
// The random families are those of bench/circuits.py's whole programs: h,
// s, sdg, t, tdg, x and z on a random qubit, or with probability 0.35 a cx
// between two distinct random qubits ("clifford_t_cx"); or only t, tdg and
// cx ("cx_t"), whose rotations all commute. The multipliers ("gf2") are read
// from the folder $KESTREL_TCOUNT names, else from shared/data/tcount in a
// folder above this file, and merged under the method's default time limit
// of 5 s, as a call without options would be.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <variant>

#include "bench/measure.h"
#include "src/program/program.h"
#include "src/program/program_stats.h"
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

// The folder of the shared T-count programs, or nothing.
std::optional<std::filesystem::path> tcount_folder() {
  if (const char* named = std::getenv("KESTREL_TCOUNT")) return std::filesystem::path(named);
  for (auto dir = std::filesystem::path(__FILE__).parent_path(); dir != dir.parent_path();
       dir = dir.parent_path()) {
    const auto folder = dir / "shared" / "data" / "tcount";
    if (std::filesystem::is_directory(folder)) return folder;
  }
  return std::nullopt;
}

struct Times {
  double read = 1e30, merge = 1e30, stats = 1e30, write = 1e30, total = 1e30;
  std::uint64_t t_after = 0;
};

Times measure(const std::string& text, int reps, std::optional<std::chrono::seconds> limit) {
  Times best;
  for (int r = 0; r < reps; ++r) {
    const Clock::time_point start = Clock::now();
    auto read = kestrel::read_program(text);
    const double t_read = ms_since(start);
    const auto& program = std::get<kestrel::QasmProgram>(read);
    Clock::time_point at = Clock::now();
    const kestrel::RotationMergingResult merged =
        limit ? kestrel::merge_rotations(program, kestrel::Deadline(*limit, at))
              : kestrel::merge_rotations(program);
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
    best.t_after = stats.after.t;
  }
  return best;
}

void print(const char* family, const std::string& size, const Times& t, double before,
           const char* change) {
  std::printf("%-14s %12s %9.2f %9.2f %9.2f %9.2f %9.2f %9llu", family, size.c_str(), t.read,
              t.merge, t.stats, t.write, t.total, static_cast<unsigned long long>(t.t_after));
  if (before > 0) std::printf("   %s %.2f", change, t.total / before);
  std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  const char* only = argc > 1 && std::strcmp(argv[1], "all") != 0 ? argv[1] : nullptr;
  const int reps = argc > 2 ? std::atoi(argv[2]) : 5;
  const auto wanted = [&](const char* family) {
    return only == nullptr || std::strcmp(only, family) == 0;
  };
  std::printf("%-14s %12s %9s %9s %9s %9s %9s %9s\n", "family", "size", "read ms", "merge ms",
              "stats ms", "write ms", "total ms", "T after");
  for (const char* family : {"clifford_t_cx", "cx_t"}) {
    if (!wanted(family)) continue;
    double first = 0;
    for (std::size_t gates : {std::size_t{131072}, std::size_t{1048576}}) {
      const Times t =
          measure(program(gates, std::strcmp(family, "cx_t") != 0), reps, std::nullopt);
      print(family, std::to_string(gates), t, first, "ratio");
      first = t.total;
    }
  }
  if (wanted("gf2")) {
    const auto folder = tcount_folder();
    double before = 0;
    for (int n : {32, 64, 128}) {
      const std::string name = "gf2^" + std::to_string(n) + "_mult";
      std::ifstream file(folder ? *folder / (name + ".qasm") : std::filesystem::path());
      if (!file) {
        std::printf("%-14s %12s not found (set KESTREL_TCOUNT)\n", "gf2", name.c_str());
        break;
      }
      std::stringstream text;
      text << file.rdbuf();
      const Times t = measure(text.str(), reps, std::chrono::seconds(5));
      print("gf2", name, t, before, "growth");
      before = t.total;
    }
  }
  std::printf("peak resident memory %ld KiB\n", peak_rss_kb());
}
