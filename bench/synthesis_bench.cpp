// The synthesis units of the phase-polynomial method, timed and counted:
// parity networks, linear maps and the diagonalising Clifford circuits.
//
//   synthesis_bench [tcount-folder] [repetitions] [tables]
//
// (defaults examples/tcount, run from the top of the repository, 3 and slp: s synthetic, l linear, p programs)
//
// Three tables, in Markdown:
// 1. Sums of doubly controlled Z gates (seven parities each) on random
//    qubits and in the multiplier's pattern ccz(a_i, b_j, c_(i+j mod n)),
//    and random tables: the cx gates of each search and of the network
//    (the best, as the method gets it), per term, and the time. Searches
//    other than the star are left out ("-") on tables of more than 2^20
//    wire-term bits, where they take seconds to minutes.
// 2. Linear synthesis of random invertible matrices: gates against
//    n^2 / log2 n, and time.
// 3. Each T-count program read as rotations (a T gate behind the Clifford C
//    is the rotation about C^-1 Z_q C), grouped into blocks of commuting
//    rotations (each joins the block after the last one holding a rotation
//    it anticommutes with), each block diagonalised and its terms written as
//    a parity network: the two-qubit gates of E and E^-1, of each search
//    summed over the blocks and of the network (the best per block), beside
//    the program's own two-qubit gates; and the times of the diagonalisation
//    and of the network. No reduction runs here: the tables are those of the
//    rotations as read.
// Times are the best of the repetitions, in wall-clock milliseconds (the
// machine is shared: compare within one run).
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "bench/measure.h"
#include "src/pauli/pauli.h"
#include "src/pauli/tableau.h"
#include "src/phase_polynomial/diagonalise.h"
#include "src/gf2/linear_synthesis.h"
#include "src/gf2/parity_network.h"

using namespace kestrel;
using namespace kestrel::bench;

namespace {

struct Gate {
  std::string name;
  std::uint32_t a = 0, b = 0;
};

// The gates of a one-register program over h, s, sdg, t, tdg, x, y, z, cx,
// cz and swap; false if it holds anything else.
bool read_program(const std::string& path, std::uint32_t& qubits, std::vector<Gate>& gates) {
  std::ifstream in(path);
  std::string line;
  qubits = 0;
  while (std::getline(in, line)) {
    if (line.empty() || line.rfind("OPENQASM", 0) == 0 || line.rfind("include", 0) == 0 ||
        line.rfind("//", 0) == 0) {
      continue;
    }
    if (line.rfind("qreg", 0) == 0) {
      qubits = static_cast<std::uint32_t>(std::stoul(line.substr(line.find('[') + 1)));
      continue;
    }
    Gate g;
    g.name = line.substr(0, line.find(' '));
    const std::size_t first = line.find('[');
    if (first == std::string::npos) return false;
    g.a = static_cast<std::uint32_t>(std::stoul(line.substr(first + 1)));
    const std::size_t second = line.find('[', first + 1);
    if (second != std::string::npos) g.b = static_cast<std::uint32_t>(std::stoul(line.substr(second + 1)));
    gates.push_back(g);
  }
  return qubits > 0;
}

struct Rotation {
  std::vector<std::uint64_t> row;  // 2 * words
  std::uint8_t phase;
  int angle;  // +1 for t, -1 for tdg
};

// A block of commuting rotations and a basis of the span of their products
// (symplectic vectors, echelon form keyed by the lowest set bit).
struct Block {
  std::vector<std::size_t> rotations;
  std::vector<std::vector<std::uint64_t>> basis;
};

bool anticommutes_with_block(const Block& block, const std::uint64_t* row, std::size_t words) {
  for (const auto& b : block.basis) {
    if (anticommute(row, b.data(), words)) return true;
  }
  return false;
}

void add_to_span(Block& block, const std::uint64_t* row, std::size_t words) {
  std::vector<std::uint64_t> v(row, row + 2 * words);
  for (const auto& b : block.basis) {
    std::size_t w = 0;
    while (b[w] == 0) ++w;
    const std::uint64_t low = b[w] & (~b[w] + 1);
    if (v[w] & low) {
      for (std::size_t u = 0; u < 2 * words; ++u) v[u] ^= b[u];
    }
  }
  if (std::all_of(v.begin(), v.end(), [](std::uint64_t w) { return w == 0; })) return;
  block.basis.push_back(std::move(v));
}

struct ProgramTables {
  std::uint32_t qubits = 0;
  std::size_t two_qubit_in = 0, rotations = 0;
  std::vector<Rotation> all;
  std::vector<Block> blocks;
};

ProgramTables tables_of(std::uint32_t qubits, const std::vector<Gate>& gates) {
  ProgramTables t;
  t.qubits = qubits;
  const std::size_t words = pauli_words(qubits);
  Tableau frame(qubits);
  const std::map<std::string, CliffordGate> cliffords = {
      {"h", CliffordGate::H},   {"s", CliffordGate::S},   {"sdg", CliffordGate::Sdg},
      {"x", CliffordGate::X},   {"y", CliffordGate::Y},   {"z", CliffordGate::Z},
      {"cx", CliffordGate::CX}, {"cz", CliffordGate::CZ}, {"swap", CliffordGate::Swap}};
  for (const Gate& g : gates) {
    if (g.name == "t" || g.name == "tdg") {
      const std::uint64_t* z = frame.z_row(g.a);
      t.all.push_back({std::vector<std::uint64_t>(z, z + 2 * words), frame.z_phase(g.a),
                       g.name == "t" ? 1 : -1});
      continue;
    }
    const auto it = cliffords.find(g.name);
    if (it == cliffords.end()) {
      std::fprintf(stderr, "unknown gate %s\n", g.name.c_str());
      std::exit(1);
    }
    if (g.name == "cx" || g.name == "cz" || g.name == "swap") ++t.two_qubit_in;
    frame.apply(it->second, g.a, g.b);
  }
  t.rotations = t.all.size();
  for (std::size_t r = 0; r < t.all.size(); ++r) {
    const std::uint64_t* row = t.all[r].row.data();
    std::size_t after = 0;
    for (std::size_t b = t.blocks.size(); b > 0; --b) {
      if (anticommutes_with_block(t.blocks[b - 1], row, words)) {
        after = b;
        break;
      }
    }
    if (after == t.blocks.size()) t.blocks.emplace_back();
    t.blocks[after].rotations.push_back(r);
    add_to_span(t.blocks[after], row, words);
  }
  return t;
}

std::size_t count_two_qubit(const std::vector<PlacedGate>& gates) {
  return std::count_if(gates.begin(), gates.end(), [](const PlacedGate& g) {
    return g.gate == Elementary::CX || g.gate == Elementary::CZ || g.gate == Elementary::Swap;
  });
}

// The terms of a diagonalised block: columns and coefficients.
struct Terms {
  std::vector<std::uint64_t> columns;
  std::vector<std::uint8_t> coefficients;
  std::size_t odd = 0;  // distinct parities with an odd coefficient
};

Terms terms_of(const ProgramTables& t, const Block& block, const Diagonalisation& d) {
  Terms out;
  const std::size_t words = pauli_words(t.qubits);
  std::map<std::vector<std::uint64_t>, int> merged;
  for (std::size_t k = 0; k < block.rotations.size(); ++k) {
    const int c = ((d.signs[k] * t.all[block.rotations[k]].angle) % 8 + 8) % 8;
    const std::vector<std::uint64_t> a(d.z_bits.begin() + k * words, d.z_bits.begin() + (k + 1) * words);
    out.columns.insert(out.columns.end(), a.begin(), a.end());
    out.coefficients.push_back(static_cast<std::uint8_t>(c));
    merged[a] = (merged[a] + c) % 8;
  }
  for (const auto& [a, c] : merged) {
    out.odd += c % 2 == 1 && std::any_of(a.begin(), a.end(), [](std::uint64_t w) { return w != 0; });
  }
  return out;
}

// The two-qubit gates of a network: its cx gates and the cz gates of its
// Clifford terms.
std::size_t cx_of(const std::vector<PlacedGate>& gates) { return count_two_qubit(gates); }

void programs_table(const std::string& folder, int reps) {
  std::vector<std::filesystem::path> paths;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    if (entry.path().extension() == ".qasm") paths.push_back(entry.path());
  }
  std::sort(paths.begin(), paths.end(), [](const auto& a, const auto& b) {
    return std::filesystem::file_size(a) < std::filesystem::file_size(b);
  });
  std::printf("\n## Programs: rotations in blocks, each block diagonalised and written as a parity network\n\n");
  std::printf("| program | qubits | 2q gates in | rotations | blocks | T | largest block (terms) | E 2q | "
              "star cx | split cx | nearest cx | rebased cx | network cx | cx per T | diagonalise ms | network ms |\n");
  std::printf("|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
  for (const auto& path : paths) {
    std::uint32_t qubits = 0;
    std::vector<Gate> gates;
    if (!read_program(path.string(), qubits, gates)) continue;
    const ProgramTables t = tables_of(qubits, gates);
    std::size_t odd = 0, e_two = 0, star = 0, split = 0, nearest = 0, rebased = 0, best = 0, largest = 0;
    double t_diag = 1e30, t_net = 1e30;
    bool each_search = true;
    for (int rep = 0; rep < reps; ++rep) {
      double diag_ms = 0, net_ms = 0;
      odd = e_two = star = split = nearest = rebased = best = largest = 0;
      for (const Block& block : t.blocks) {
        std::vector<std::uint64_t> rows;
        std::vector<std::uint8_t> phases;
        for (std::size_t r : block.rotations) {
          rows.insert(rows.end(), t.all[r].row.begin(), t.all[r].row.end());
          phases.push_back(t.all[r].phase);
        }
        Clock::time_point at = Clock::now();
        const Diagonalisation d = diagonalise(qubits, rows, phases);
        diag_ms += ms_since(at);
        e_two += 2 * count_two_qubit(d.gates);
        const Terms terms = terms_of(t, block, d);
        odd += terms.odd;
        largest = std::max(largest, terms.coefficients.size());
        at = Clock::now();
        best += cx_of(synthesise_parity_network(qubits, terms.columns, terms.coefficients));
        net_ms += ms_since(at);
        if (rep == 0) {
          star += cx_of(synthesise_parity_network(qubits, terms.columns, terms.coefficients, NetworkSearch::Star));
          if (std::size_t{qubits} * terms.coefficients.size() > (std::size_t{1} << 20)) {
            each_search = false;  // seconds to minutes: see the synthetic table
          } else {
            split += cx_of(synthesise_parity_network(qubits, terms.columns, terms.coefficients, NetworkSearch::Split));
            nearest += cx_of(synthesise_parity_network(qubits, terms.columns, terms.coefficients, NetworkSearch::Nearest));
            rebased += cx_of(synthesise_parity_network(qubits, terms.columns, terms.coefficients, NetworkSearch::Rebased));
          }
        }
      }
      t_diag = std::min(t_diag, diag_ms);
      t_net = std::min(t_net, net_ms);
      if (rep == 0) {
        const auto sum = [&](std::size_t v) { return each_search ? std::to_string(v) : std::string("-"); };
        std::printf("| %s | %u | %zu | %zu | %zu | %zu | %zu | %zu | %zu | %s | %s | %s | %zu | %.2f |",
                    path.stem().c_str(), qubits, t.two_qubit_in, t.rotations, t.blocks.size(), odd,
                    largest, e_two, star, sum(split).c_str(), sum(nearest).c_str(), sum(rebased).c_str(),
                    best, odd ? double(best) / double(odd) : 0.0);
      }
    }
    std::printf(" %.2f | %.2f |\n", t_diag, t_net);
    std::fflush(stdout);
  }
}

struct Synthetic {
  std::string name;
  std::uint32_t n;
  std::vector<std::uint64_t> columns;
  std::vector<std::uint8_t> coefficients;

  std::size_t words() const { return (n + 63) / 64; }
  void add(std::initializer_list<std::uint32_t> qubits, std::uint8_t c) {
    const std::size_t at = columns.size();
    columns.resize(at + words(), 0);
    for (std::uint32_t q : qubits) columns[at + q / 64] ^= std::uint64_t{1} << (q % 64);
    coefficients.push_back(c);
  }
  void add_ccz(std::uint32_t i, std::uint32_t j, std::uint32_t k) {
    add({i}, 1), add({j}, 1), add({k}, 1), add({i, j}, 7), add({i, k}, 7), add({j, k}, 7);
    add({i, j, k}, 1);
  }
};

std::size_t distinct_terms(const Synthetic& s) {
  std::map<std::vector<std::uint64_t>, int> merged;
  for (std::size_t p = 0; p < s.coefficients.size(); ++p) {
    std::vector<std::uint64_t> a(s.columns.begin() + p * s.words(), s.columns.begin() + (p + 1) * s.words());
    merged[a] = (merged[a] + s.coefficients[p]) % 8;
  }
  std::size_t count = 0;
  for (const auto& [a, c] : merged) count += c != 0;
  return count;
}

void synthetic_table(int reps) {
  std::vector<Synthetic> cases;
  std::mt19937_64 rng(1);
  for (auto [n, cczs] : {std::pair{16u, 150u}, {50u, 600u}, {100u, 600u}, {100u, 2400u}, {385u, 9300u}}) {
    Synthetic s{"random ccz sum", n, {}, {}};
    for (std::uint32_t k = 0; k < cczs; ++k) {
      const std::uint32_t i = rng() % n;
      std::uint32_t j = rng() % n, l = rng() % n;
      while (j == i) j = rng() % n;
      while (l == i || l == j) l = rng() % n;
      s.add_ccz(i, j, l);
    }
    cases.push_back(std::move(s));
  }
  for (std::uint32_t bits : {8u, 16u, 32u, 64u, 128u}) {
    Synthetic s{"multiplier ccz pattern", 3 * bits, {}, {}};
    for (std::uint32_t i = 0; i < bits; ++i) {
      for (std::uint32_t j = 0; j < bits; ++j) s.add_ccz(i, bits + j, 2 * bits + (i + j) % bits);
    }
    cases.push_back(std::move(s));
  }
  for (auto [n, m, weight] : {std::tuple{20u, 400u, 3u}, {100u, 4000u, 3u}, {100u, 4000u, 50u}, {385u, 20000u, 190u}}) {
    Synthetic s{"random weight " + std::to_string(weight), n, {}, {}};
    for (std::uint32_t k = 0; k < m; ++k) {
      const std::size_t at = s.columns.size();
      s.columns.resize(at + s.words(), 0);
      for (std::uint32_t b = 0; b < weight; ++b) {
        const std::uint32_t q = rng() % n;
        s.columns[at + q / 64] |= std::uint64_t{1} << (q % 64);
      }
      s.coefficients.push_back(1 + 2 * (rng() % 4));
    }
    cases.push_back(std::move(s));
  }
  std::printf("\n## Synthetic tables\n\n");
  std::printf("| table | qubits | terms | star cx | split cx | nearest cx | rebased cx | network cx | cx per term | star ms | network ms |\n");
  std::printf("|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
  for (const Synthetic& s : cases) {
    const std::size_t terms = distinct_terms(s);
    const NetworkSearch searches[5] = {NetworkSearch::Star, NetworkSearch::Split, NetworkSearch::Nearest,
                                       NetworkSearch::Rebased, NetworkSearch::Best};
    std::string cx[5];
    std::size_t best_cx = 0;
    double ms[5] = {1e30, 1e30, 1e30, 1e30, 1e30};
    const bool large = std::size_t{s.n} * terms > (std::size_t{1} << 20);
    for (int k = 0; k < 5; ++k) {
      if (large && k != 0 && k != 4) {
        cx[k] = "-";
        continue;
      }
      for (int rep = 0; rep < reps; ++rep) {
        const Clock::time_point at = Clock::now();
        const std::size_t count = cx_of(synthesise_parity_network(s.n, s.columns, s.coefficients, searches[k]));
        ms[k] = std::min(ms[k], ms_since(at));
        cx[k] = std::to_string(count);
        if (k == 4) best_cx = count;
      }
    }
    std::printf("| %s | %u | %zu | %s | %s | %s | %s | %s | %.2f | %.1f | %.1f |\n", s.name.c_str(), s.n, terms,
                cx[0].c_str(), cx[1].c_str(), cx[2].c_str(), cx[3].c_str(), cx[4].c_str(),
                double(best_cx) / double(terms), ms[0], ms[4]);
    std::fflush(stdout);
  }
}

void linear_table(int reps) {
  std::printf("\n## Linear synthesis of random invertible matrices\n\n");
  std::printf("| n | gates | n^2 / log2 n | ms |\n|---:|---:|---:|---:|\n");
  std::mt19937_64 rng(2);
  for (std::uint32_t n : {16u, 64u, 128u, 256u, 385u}) {
    // A random invertible matrix: many random row additions from the identity.
    BitMatrix m = BitMatrix::identity(n);
    for (std::size_t k = 0; k < std::size_t{n} * n; ++k) {
      const std::uint32_t a = rng() % n, b = rng() % n;
      if (a != b) m.add_row(a, b);
    }
    std::size_t gates = 0;
    double best = 1e30;
    for (int rep = 0; rep < reps; ++rep) {
      const Clock::time_point at = Clock::now();
      gates = synthesise_linear(m).size();
      best = std::min(best, ms_since(at));
    }
    std::printf("| %u | %zu | %.0f | %.2f |\n", n, gates, double(n) * n / std::log2(double(n)), best);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const std::string folder = argc > 1 ? argv[1] : "examples/tcount";
  const int reps = argc > 2 ? std::atoi(argv[2]) : 3;
  const std::string tables = argc > 3 ? argv[3] : "slp";
  if (tables.find('s') != std::string::npos) synthetic_table(reps);
  if (tables.find('l') != std::string::npos) linear_table(reps);
  if (tables.find('p') != std::string::npos) programs_table(folder, reps);
  return 0;
}
