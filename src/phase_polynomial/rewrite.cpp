// A second walk over the steps with the frame read backwards: at a block's
// anchor its products are moved there, diagonalised, summed into a
// polynomial, reduced and, when that pays, written anew.
#include "src/phase_polynomial/rewrite.h"

#include <algorithm>
#include <bit>

#include "engine/fault.h"
#include "src/pauli/inverse_tableau.h"
#include "src/pauli/pauli.h"
#include "src/phase_polynomial/blocks.h"
#include "src/phase_polynomial/polynomial.h"

namespace kestrel {
namespace {

// --- interim pieces, to be replaced by the synthesis and reduction units ---

// G R G^-1 for one row (pauli.h's layout), returning the new phase.
std::uint8_t conjugate(std::uint64_t* row, std::uint8_t k, std::size_t words, Elementary g,
                       std::uint32_t a, std::uint32_t b) {
  const auto get = [&](std::size_t half, std::uint32_t q) -> bool {
    return (row[half * words + q / 64] >> (q % 64)) & 1;
  };
  const auto flip = [&](std::size_t half, std::uint32_t q) {
    row[half * words + q / 64] ^= std::uint64_t{1} << (q % 64);
  };
  const bool xa = get(0, a), za = get(1, a);
  switch (g) {
    case Elementary::H:
      if (xa && za) k += 2;
      if (xa != za) {
        flip(0, a);
        flip(1, a);
      }
      break;
    case Elementary::S:
      if (xa) {
        k += 1;
        flip(1, a);
      }
      break;
    case Elementary::Sdg:
      if (xa) {
        k += 3;
        flip(1, a);
      }
      break;
    case Elementary::X: if (za) k += 2; break;
    case Elementary::Y: if (xa != za) k += 2; break;
    case Elementary::Z: if (xa) k += 2; break;
    case Elementary::CX:
      if (xa) flip(0, b);
      if (get(1, b)) flip(1, a);
      break;
    case Elementary::CZ: {
      const bool xb = get(0, b);
      if (xb) flip(1, a);
      if (xa) flip(1, b);
      if (xa && xb) k += 2;
      break;
    }
    case Elementary::Swap: {
      const bool xb = get(0, b), zb = get(1, b);
      if (xa != xb) {
        flip(0, a);
        flip(0, b);
      }
      if (za != zb) {
        flip(1, a);
        flip(1, b);
      }
      break;
    }
    default: fault("internal error: entered unreachable code");
  }
  return k & 3;
}

// E with E P_j E^-1 = +-Z^(a_j): rows are made Z-type one at a time.
std::vector<PlacedGate> diagonalise_rows(std::vector<std::uint64_t>& rows,
                                         std::vector<std::uint8_t>& phases, std::size_t words,
                                         std::uint32_t qubits) {
  std::vector<PlacedGate> gates;
  const std::size_t count = phases.size();
  const auto apply = [&](Elementary g, std::uint32_t a, std::uint32_t b) {
    gates.push_back({g, a, b});
    for (std::size_t j = 0; j < count; ++j) {
      phases[j] = conjugate(rows.data() + j * 2 * words, phases[j], words, g, a, b);
    }
  };
  for (std::size_t j = 0; j < count; ++j) {
    std::uint64_t* row = rows.data() + j * 2 * words;
    std::size_t w = 0;
    while (w < words && row[w] == 0) ++w;
    if (w == words) continue;
    const auto p = static_cast<std::uint32_t>(64 * w + std::countr_zero(row[w]));
    for (std::uint32_t c = 0; c < qubits; ++c) {
      if (c != p && ((row[c / 64] >> (c % 64)) & 1)) apply(Elementary::CX, p, c);
    }
    if ((row[words + p / 64] >> (p % 64)) & 1) apply(Elementary::S, p, 0);
    apply(Elementary::H, p, 0);
  }
  return gates;
}

Elementary inverse(Elementary g) {
  switch (g) {
    case Elementary::S: return Elementary::Sdg;
    case Elementary::Sdg: return Elementary::S;
    case Elementary::T: return Elementary::Tdg;
    case Elementary::Tdg: return Elementary::T;
    default: return g;
  }
}

// w^(c (a.x)) as a ladder of CX gates onto a's last variable.
void write_term(const std::uint64_t* parity, std::size_t words, std::uint8_t c,
                const std::vector<std::uint32_t>& qubit_of, std::vector<PlacedGate>& out) {
  std::vector<std::uint32_t> bits;
  for (std::size_t w = 0; w < words; ++w) {
    for (std::uint64_t b = parity[w]; b != 0; b &= b - 1) {
      bits.push_back(qubit_of[64 * w + static_cast<std::size_t>(std::countr_zero(b))]);
    }
  }
  check(!bits.empty(), "a term has a parity");
  const std::uint32_t target = bits.back();
  for (std::size_t i = 0; i + 1 < bits.size(); ++i) out.push_back({Elementary::CX, bits[i], target});
  static constexpr Elementary kGates[8][2] = {
      {Elementary::T, Elementary::T},     {Elementary::T, Elementary::T},
      {Elementary::S, Elementary::S},     {Elementary::S, Elementary::T},
      {Elementary::Z, Elementary::Z},     {Elementary::Z, Elementary::T},
      {Elementary::Sdg, Elementary::Sdg}, {Elementary::Tdg, Elementary::Tdg}};
  c &= 7;
  if (c != 0) {
    out.push_back({kGates[c][0], target, 0});
    if (kGates[c][1] != kGates[c][0]) out.push_back({kGates[c][1], target, 0});
  }
  for (std::size_t i = bits.size() - 1; i-- > 0;) out.push_back({Elementary::CX, bits[i], target});
}

// --- the walk ---

class Rewriter {
 public:
  Rewriter(const ProgramSteps& program, const Blocks& blocks, const RewriteOptions& options)
      : program_(program), blocks_(blocks), options_(options), frame_(program.qubits) {}

  StepsRewrite run();

 private:
  void rewrite(const Block& block);

  const ProgramSteps& program_;
  const Blocks& blocks_;
  const RewriteOptions& options_;
  InverseTableau frame_;
  StepsRewrite out_;
};

StepsRewrite Rewriter::run() {
  out_.removed.assign(program_.steps.size(), false);
  out_.t_before = blocks_.rotations.size();
  std::size_t next = 0;  // the next block by anchor
  for (std::uint32_t s = 0; s < program_.steps.size(); ++s) {
    while (next < blocks_.blocks.size() && blocks_.blocks[next].anchor == s) {
      const Block& block = blocks_.blocks[next++];
      if (block.boundary || block.members.empty()) continue;
      if (options_.deadline && std::chrono::steady_clock::now() >= *options_.deadline) continue;
      rewrite(block);
    }
    const Step& step = program_.steps[s];
    if (step.kind == StepKind::Clifford) frame_.apply(step.gate.gate, step.gate.a, step.gate.b);
  }
  out_.t_after = out_.t_before;
  for (const Insertion& insertion : out_.insertions) {
    for (const PlacedGate& g : insertion.gates) out_.t_after += elementary_info(g.gate).t;
  }
  for (std::size_t s = 0; s < out_.removed.size(); ++s) out_.t_after -= out_.removed[s];
  return std::move(out_);
}

void Rewriter::rewrite(const Block& block) {
  const std::size_t words = blocks_.words;
  const std::uint32_t n = program_.qubits;
  const std::size_t count = block.members.size();
  std::vector<std::uint64_t> rows(count * 2 * words);
  std::vector<std::uint8_t> phases(count);
  for (std::size_t j = 0; j < count; ++j) {
    const std::uint32_t r = block.members[j];
    phases[j] = frame_.image(blocks_.products.data() + std::size_t{r} * 2 * words,
                             blocks_.phases[r], rows.data() + j * 2 * words);
  }
  const std::vector<PlacedGate> e = diagonalise_rows(rows, phases, words, n);

  // The variables: the qubits the diagonal products touch, renumbered.
  std::vector<std::uint64_t> used(words, 0);
  for (std::size_t j = 0; j < count; ++j) {
    for (std::size_t w = 0; w < words; ++w) used[w] |= rows[j * 2 * words + words + w];
  }
  std::vector<std::uint32_t> qubit_of, variable_of(n, 0);
  for (std::uint32_t q = 0; q < n; ++q) {
    if ((used[q / 64] >> (q % 64)) & 1) {
      variable_of[q] = static_cast<std::uint32_t>(qubit_of.size());
      qubit_of.push_back(q);
    }
  }
  PhasePolynomial f(static_cast<std::uint32_t>(qubit_of.size()));
  std::vector<std::uint64_t> parity(f.words());
  int phase = 0;  // eighths of pi
  for (std::size_t j = 0; j < count; ++j) {
    const std::uint64_t* row = rows.data() + j * 2 * words;
    for (std::size_t w = 0; w < words; ++w) check(row[w] == 0, "a diagonalised product is Z-type");
    std::fill(parity.begin(), parity.end(), 0);
    for (std::size_t w = 0; w < words; ++w) {
      for (std::uint64_t b = row[words + w]; b != 0; b &= b - 1) {
        const std::uint32_t v = variable_of[64 * w + static_cast<std::size_t>(std::countr_zero(b))];
        parity[v / 64] |= std::uint64_t{1} << (v % 64);
      }
    }
    check(phases[j] % 2 == 0, "a Z-type Hermitian product has a real sign");
    const bool negative = phases[j] == 2;
    const Step& step = program_.steps[blocks_.rotations[block.members[j]]];
    const int d = step.gate.gate == Elementary::T ? 1 : -1;
    // T = e^(i pi/8) exp(-i pi/8 Z) and exp(-i pi/8 s Z^a) = e^(-i s pi/8) w^(s a.x).
    const int c = negative ? -d : d;
    if (negative) phase += 2 * d;
    f.add(parity.data(), static_cast<std::uint8_t>(c & 7));
  }

  const std::size_t odd = f.odd_terms();
  std::vector<std::uint64_t> reduced = f.odd_parities();  // interim: no reduction yet
  const std::size_t kept = reduced.size() / std::max<std::size_t>(f.words(), 1);
  if (kept >= count && !options_.every_block) return;

  Insertion insertion;
  insertion.step = block.anchor;
  std::vector<PlacedGate>& gates = insertion.gates;
  gates = e;
  const DiagonalClifford correction = clifford_difference(f, reduced);
  for (std::uint32_t v = 0; v < correction.s_powers.size(); ++v) {
    static constexpr Elementary kPowers[4] = {Elementary::Z, Elementary::S, Elementary::Z,
                                              Elementary::Sdg};
    if (correction.s_powers[v] != 0) gates.push_back({kPowers[correction.s_powers[v]], qubit_of[v], 0});
  }
  for (const auto& [i, k] : correction.cz) gates.push_back({Elementary::CZ, qubit_of[i], qubit_of[k]});
  for (std::size_t at = 0; at < reduced.size(); at += f.words()) {
    write_term(reduced.data() + at, f.words(), 1, qubit_of, gates);
  }
  for (std::size_t g = e.size(); g-- > 0;) gates.push_back({inverse(e[g].gate), e[g].a, e[g].b});
  (void)odd;
  for (std::uint32_t r : block.members) out_.removed[blocks_.rotations[r]] = true;
  out_.phase = static_cast<std::uint8_t>((out_.phase + phase) & 15);
  out_.insertions.push_back(std::move(insertion));
}

}  // namespace

StepsRewrite rewrite_blocks(const ProgramSteps& program, const RewriteOptions& options) {
  const Blocks blocks = cut_into_blocks(program);
  return Rewriter(program, blocks, options).run();
}

}  // namespace kestrel
