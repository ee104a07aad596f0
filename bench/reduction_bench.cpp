// The T-count reduction of parity tables without the rest of the method:
// per table n, the columns before and after, and the seconds, for the
// kernel moves alone and with the widened moves.
//
//   reduction_bench [program ...]
//
// A program is a name of the T-count suite whose gates are only h, cx, t
// and tdg and whose rotations all commute (the multipliers over GF(2^n)):
// its table is read from the file, one variable per qubit.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bench/measure.h"
#include "src/phase_polynomial/parity_table.h"
#include "src/phase_polynomial/reduction.h"

using namespace kestrel::bench;

namespace {

// The parities with odd count of the program's T and T-dagger gates, each
// the Z row of its qubit in the frame of the h and cx gates read before it
// (signs do not change which counts are odd).
kestrel::ParityTable read_table(const std::string& path) {
  std::ifstream in(path);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", path.c_str());
    std::exit(2);
  }
  std::string line;
  std::uint32_t n = 0;
  std::size_t words = 0;
  std::vector<std::uint64_t> xr, zr;  // per qubit: X row and Z row, each x half then z half
  std::vector<std::vector<std::uint64_t>> rotations;
  while (std::getline(in, line)) {
    unsigned a = 0, b = 0;
    char name[16] = {0};
    if (std::sscanf(line.c_str(), "qreg q[%u];", &a) == 1) {
      n = a;
      words = kestrel::parity_words(n);
      xr.assign(n * 2 * words, 0);
      zr.assign(n * 2 * words, 0);
      for (std::uint32_t q = 0; q < n; ++q) {
        xr[q * 2 * words + q / 64] |= std::uint64_t{1} << (q % 64);
        zr[q * 2 * words + words + q / 64] |= std::uint64_t{1} << (q % 64);
      }
      continue;
    }
    if (std::sscanf(line.c_str(), "cx q[%u], q[%u];", &a, &b) == 2) {
      for (std::size_t w = 0; w < 2 * words; ++w) {
        zr[b * 2 * words + w] ^= zr[a * 2 * words + w];
        xr[a * 2 * words + w] ^= xr[b * 2 * words + w];
      }
      continue;
    }
    if (std::sscanf(line.c_str(), "%15[a-z] q[%u];", name, &a) == 2) {
      const std::string g = name;
      if (g == "h") {
        for (std::size_t w = 0; w < 2 * words; ++w) std::swap(xr[a * 2 * words + w], zr[a * 2 * words + w]);
      } else if (g == "t" || g == "tdg") {
        rotations.emplace_back(zr.begin() + a * 2 * words, zr.begin() + (a + 1) * 2 * words);
      } else {
        std::fprintf(stderr, "%s: gate %s not read\n", path.c_str(), name);
        std::exit(2);
      }
    }
  }
  std::sort(rotations.begin(), rotations.end());
  kestrel::ParityTable table(n);
  for (std::size_t i = 0; i < rotations.size();) {
    std::size_t j = i;
    while (j < rotations.size() && rotations[j] == rotations[i]) ++j;
    if ((j - i) % 2 == 1) {
      std::vector<std::uint64_t> col(words);
      for (std::size_t w = 0; w < words; ++w) {
        if (rotations[i][w] & rotations[i][words + w]) {
          std::fprintf(stderr, "%s: a rotation holds Y\n", path.c_str());
          std::exit(2);
        }
        col[w] = rotations[i][w] | rotations[i][words + w];
      }
      table.push_back(col);
    }
    i = j;
  }
  return table;
}

// The blocks' tables of a file in the format `block <i> n <n> m <m>`, then m
// lines of n characters '0'/'1' (character q = variable q).
std::vector<kestrel::ParityTable> read_blocks(const std::string& path) {
  std::ifstream in(path);
  std::vector<kestrel::ParityTable> out;
  std::string line;
  while (std::getline(in, line)) {
    unsigned index = 0, n = 0;
    std::size_t m = 0;
    if (std::sscanf(line.c_str(), "block %u n %u m %zu", &index, &n, &m) != 3) continue;
    kestrel::ParityTable t(n);
    std::vector<std::uint64_t> col(t.words);
    for (std::size_t j = 0; j < m && std::getline(in, line); ++j) {
      std::fill(col.begin(), col.end(), 0);
      for (unsigned q = 0; q < n && q < line.size(); ++q) {
        if (line[q] == '1') col[q / 64] |= std::uint64_t{1} << (q % 64);
      }
      t.push_back(col);
    }
    out.push_back(std::move(t));
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> names;
  for (int i = 1; i < argc; ++i) names.push_back(argv[i]);
  if (names.empty()) names = {"gf2^4_mult", "gf2^5_mult", "gf2^6_mult", "gf2^7_mult", "gf2^8_mult", "gf2^10_mult", "gf2^16_mult"};
  const char* dir = std::getenv("KESTREL_TCOUNT_DIR");
  const std::string base = dir ? dir : "/work/shared/data/tcount";
  std::printf("%-14s %5s %7s %8s %9s %8s %9s\n", "table", "n", "m", "kernel", "seconds", "widened", "seconds");
  const char* tables_dir = std::getenv("KESTREL_TABLES_DIR");
  for (const std::string& name : names) {
    std::vector<kestrel::ParityTable> blocks;
    if (tables_dir) {
      blocks = read_blocks(std::string(tables_dir) + "/" + name + ".txt");
      std::size_t before = 0, kernel_after = 0, both_after = 0, nmax = 0;
      double t1 = 0, t2 = 0;
      const char* limit = std::getenv("KESTREL_LIMIT");
      for (const kestrel::ParityTable& table : blocks) {
        Clock::time_point start = Clock::now();
        kestrel::ReductionOptions options;
        options.widened = false;
        if (limit) options.deadline = start + std::chrono::milliseconds(static_cast<long>(1000 * std::atof(limit)));
        const kestrel::Reduction k = kestrel::reduce_parity_table(table, options);
        kernel_after += k.table.columns();
        t1 += ms_since(start) / 1000;
        start = Clock::now();
        options.widened = true;
        if (limit) {
          options.deadline = start + std::chrono::milliseconds(static_cast<long>(1000 * std::atof(limit)));
          options.effort = kestrel::reduction_effort(std::chrono::duration<double>(std::atof(limit)));
        }
        const kestrel::Reduction b = kestrel::reduce_parity_table(table, options);
        both_after += b.table.columns();
        t2 += ms_since(start) / 1000;
        if (blocks.size() == 1) {
          std::printf("  chunk passes %zu cut %d/%d moves %zu+%zu orders %zu work %.1fM\n", b.stats.chunk_passes, k.stats.cut,
                      b.stats.cut, b.stats.kernel_moves, b.stats.widened_moves, b.stats.orders, b.stats.work / 1e6);
        }
        before += table.columns();
        nmax = std::max<std::size_t>(nmax, table.variables);
      }
      std::printf("%-14s %5zu %7zu %8zu %9.3f %8zu %9.3f  blocks %zu\n", name.c_str(), nmax, before, kernel_after, t1,
                  both_after, t2, blocks.size());
      std::fflush(stdout);
      continue;
    }
    const kestrel::ParityTable table = read_table(base + "/" + name + ".qasm");
    Clock::time_point start = Clock::now();
    kestrel::ReductionOptions options;
    options.widened = false;
    const kestrel::Reduction kernel = kestrel::reduce_parity_table(table, options);
    if (std::getenv("ONCE")) { std::printf("%s %zu\n", name.c_str(), kernel.table.columns()); continue; }
    const double t1 = ms_since(start) / 1000;
    start = Clock::now();
    const kestrel::Reduction both = kestrel::reduce_parity_table(table);
    const double t2 = ms_since(start) / 1000;
    std::printf("%-14s %5u %7zu %8zu %9.3f %8zu %9.3f  moves %zu %zu work %.1fM\n", name.c_str(), table.variables, table.columns(),
                kernel.table.columns(), t1, both.table.columns(), t2, both.stats.kernel_moves, both.stats.widened_moves, both.stats.work / 1e6);
    std::fflush(stdout);
  }
}
