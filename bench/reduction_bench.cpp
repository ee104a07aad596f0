// The T-count reduction of parity tables on its own: per program the
// variables (the largest block's), the columns before, after the kernel
// moves alone and after the whole reduction, with the seconds of each, and
// on request the callgrind instruction count of the whole reduction.
//
//   reduction_bench [--tables DIR] [--limit SECONDS] [--callgrind] [name ...]
//
// With --tables, each name's blocks are read from DIR/<name>.txt, a file of
// `block <i> n <n> m <m>` lines each followed by m lines of n characters
// '0'/'1' (character q: variable q), every block reduced on its own.
// Without, the name is one of the T-count suite's multipliers over GF(2^n),
// whose gates are only h, cx, t and tdg and whose rotations all commute:
// its table is read from the program (KESTREL_TCOUNT_DIR, default
// /work/shared/data/tcount), one variable per qubit. --limit gives each
// reduction a deadline and the effort reduction_effort maps it to (each
// block of a program gets a share of the effort by its columns). With
// --callgrind the bench runs itself under valgrind once per program of at
// most 500 columns and prints the instructions counted.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "bench/measure.h"
#include "src/gf2/parity_table.h"
#include "src/gf2/reduction.h"

using namespace kestrel::bench;

namespace {

// The parities with odd count of the program's T and T-dagger gates, each
// the Z row of its qubit in the frame of the h and cx gates read before it
// (signs do not change which counts are odd). Every rotation must be
// diagonal in one frame: a product holding Y stops the bench.
std::vector<kestrel::ParityTable> read_program(const std::string& path) {
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
    } else if (std::sscanf(line.c_str(), "cx q[%u], q[%u];", &a, &b) == 2) {
      for (std::size_t w = 0; w < 2 * words; ++w) {
        zr[b * 2 * words + w] ^= zr[a * 2 * words + w];
        xr[a * 2 * words + w] ^= xr[b * 2 * words + w];
      }
    } else if (std::sscanf(line.c_str(), "%15[a-z] q[%u];", name, &a) == 2) {
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
      std::vector<std::uint64_t> column(words);
      for (std::size_t w = 0; w < words; ++w) {
        if (rotations[i][w] & rotations[i][words + w]) {
          std::fprintf(stderr, "%s: a rotation holds Y\n", path.c_str());
          std::exit(2);
        }
        column[w] = rotations[i][w] | rotations[i][words + w];
      }
      table.push_back(column);
    }
    i = j;
  }
  return {table};
}

std::vector<kestrel::ParityTable> read_blocks(const std::string& path) {
  std::ifstream in(path);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", path.c_str());
    std::exit(2);
  }
  std::vector<kestrel::ParityTable> out;
  std::string line;
  while (std::getline(in, line)) {
    unsigned index = 0, n = 0;
    std::size_t m = 0;
    if (std::sscanf(line.c_str(), "block %u n %u m %zu", &index, &n, &m) != 3) continue;
    kestrel::ParityTable t(n);
    std::vector<std::uint64_t> column(t.words);
    for (std::size_t j = 0; j < m && std::getline(in, line); ++j) {
      std::fill(column.begin(), column.end(), 0);
      for (unsigned q = 0; q < n && q < line.size(); ++q) {
        if (line[q] == '1') column[q / 64] |= std::uint64_t{1} << (q % 64);
      }
      t.push_back(column);
    }
    out.push_back(std::move(t));
  }
  return out;
}

struct Run {
  std::size_t after = 0;  // columns after, summed over the blocks
  double seconds = 0;
  kestrel::ReductionStats stats;  // summed over the blocks
};

Run reduce_all(const std::vector<kestrel::ParityTable>& blocks, bool widened, double limit) {
  std::size_t total = 0;
  for (const kestrel::ParityTable& t : blocks) total += t.columns();
  Run run;
  for (const kestrel::ParityTable& t : blocks) {
    const Clock::time_point start = Clock::now();
    kestrel::ReductionOptions options;
    options.widened = widened;
    if (limit > 0) {
      options.deadline = kestrel::Deadline(
          std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::duration<double>(limit)), start);
      const double share = total == 0 ? 0 : static_cast<double>(t.columns()) / static_cast<double>(total);
      options.effort = static_cast<std::uint64_t>(
          share * static_cast<double>(kestrel::reduction_effort(std::chrono::duration<double>(limit))));
    }
    const kestrel::Reduction r = kestrel::reduce_parity_table(t, options);
    run.seconds += ms_since(start) / 1000;
    run.after += r.table.columns();
    run.stats.kernel_moves += r.stats.kernel_moves;
    run.stats.widened_moves += r.stats.widened_moves;
    run.stats.work += r.stats.work;
    run.stats.orders = std::max(run.stats.orders, r.stats.orders);
    run.stats.chunk_passes = std::max(run.stats.chunk_passes, r.stats.chunk_passes);
    run.stats.cut |= r.stats.cut;
  }
  return run;
}

// The instructions callgrind counts for `--once name` of this program.
long long callgrind_count(const std::string& self, const std::string& name, const std::string& tables, double limit) {
  std::string command = "valgrind --tool=callgrind --callgrind-out-file=/dev/null " + self + " --once";
  if (!tables.empty()) command += " --tables '" + tables + "'";
  if (limit > 0) command += " --limit " + std::to_string(limit);
  command += " '" + name + "' 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return -1;
  char line[512];
  long long count = -1;
  while (std::fgets(line, sizeof line, pipe) != nullptr) {
    const char* at = std::strstr(line, "Collected : ");
    if (at != nullptr) count = std::atoll(at + 12);
  }
  pclose(pipe);
  return count;
}

}  // namespace

int main(int argc, char** argv) {
  std::string tables;
  double limit = 0;
  bool callgrind = false, once = false;
  std::vector<std::string> names;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--tables" && i + 1 < argc) {
      tables = argv[++i];
    } else if (arg == "--limit" && i + 1 < argc) {
      limit = std::atof(argv[++i]);
    } else if (arg == "--callgrind") {
      callgrind = true;
    } else if (arg == "--once") {
      once = true;
    } else {
      names.push_back(arg);
    }
  }
  if (names.empty() && tables.empty()) {
    names = {"gf2^4_mult", "gf2^5_mult", "gf2^6_mult", "gf2^7_mult", "gf2^8_mult", "gf2^10_mult", "gf2^16_mult"};
  } else if (names.empty()) {
    names = {"mod5_4",     "tof_3",       "tof_4",        "tof_10",        "barenco_tof_3",  "barenco_tof_4",
             "barenco_tof_10", "vbe_adder_3", "rc_adder_6", "mod_red_21",  "hwb6",           "qft_4",
             "fprenorm",   "grover_5",    "ham15-low",    "ham15-med",     "csla_mux_3",     "adder_8",
             "qcla_adder_10", "qcla_mod_7", "mod_adder_1024", "hwb10",     "gf2^4_mult",     "gf2^5_mult",
             "gf2^6_mult", "gf2^7_mult",  "gf2^8_mult",   "gf2^10_mult",   "gf2^16_mult",    "gf2^32_mult"};
  }
  const char* dir = std::getenv("KESTREL_TCOUNT_DIR");
  const std::string programs = dir ? dir : "/work/shared/data/tcount";
  const auto load = [&](const std::string& name) {
    return tables.empty() ? read_program(programs + "/" + name + ".qasm") : read_blocks(tables + "/" + name + ".txt");
  };
  if (once) {
    for (const std::string& name : names) reduce_all(load(name), true, limit);
    return 0;
  }
  std::printf("%-15s %4s %6s %7s %8s %7s %8s %6s %6s %8s%s\n", "program", "n", "m", "kernel", "seconds", "after",
              "seconds", "moves", "orders", "work", callgrind ? " instructions" : "");
  for (const std::string& name : names) {
    const std::vector<kestrel::ParityTable> blocks = load(name);
    std::size_t before = 0;
    std::uint32_t n = 0;
    for (const kestrel::ParityTable& t : blocks) {
      before += t.columns();
      n = std::max(n, t.variables);
    }
    const Run kernel = reduce_all(blocks, false, limit);
    const Run full = reduce_all(blocks, true, limit);
    std::printf("%-15s %4u %6zu %7zu %8.3f %7zu %8.3f %3zu+%-2zu %6zu %7.1fM", name.c_str(), n, before, kernel.after,
                kernel.seconds, full.after, full.seconds, full.stats.kernel_moves, full.stats.widened_moves,
                full.stats.orders, static_cast<double>(full.stats.work) / 1e6);
    if (full.stats.chunk_passes > 0) std::printf(" (%zu chunk passes)", full.stats.chunk_passes);
    if (full.stats.cut) std::printf(" (cut)");
    if (callgrind && before <= 500) std::printf(" %lld", callgrind_count(argv[0], name, tables, limit));
    std::printf("\n");
    std::fflush(stdout);
  }
}
