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
#include "src/phase_polynomial/diagonalise.h"
#include "src/phase_polynomial/parity_network.h"
#include "src/phase_polynomial/polynomial.h"
#include "src/phase_polynomial/reduction.h"

namespace kestrel {
namespace {

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
  const Diagonalisation diagonal = diagonalise(n, rows, phases);

  // The variables: the qubits the diagonal products touch, renumbered.
  std::vector<std::uint64_t> used(words, 0);
  for (std::size_t j = 0; j < count; ++j) {
    for (std::size_t w = 0; w < words; ++w) used[w] |= diagonal.z_bits[j * words + w];
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
    std::fill(parity.begin(), parity.end(), 0);
    for (std::size_t w = 0; w < words; ++w) {
      for (std::uint64_t b = diagonal.z_bits[j * words + w]; b != 0; b &= b - 1) {
        const std::uint32_t v = variable_of[64 * w + static_cast<std::size_t>(std::countr_zero(b))];
        parity[v / 64] |= std::uint64_t{1} << (v % 64);
      }
    }
    const bool negative = diagonal.signs[j] < 0;
    const Step& step = program_.steps[blocks_.rotations[block.members[j]]];
    const int d = step.gate.gate == Elementary::T ? 1 : -1;
    // T = e^(i pi/8) exp(-i pi/8 Z) and exp(-i pi/8 s Z^a) = e^(-i s pi/8) w^(s a.x).
    const int c = negative ? -d : d;
    if (negative) phase += 2 * d;
    f.add(parity.data(), static_cast<std::uint8_t>(c & 7));
  }

  ParityTable table(f.variables());
  table.bits = f.odd_parities();
  std::vector<std::uint64_t> reduced = table.bits;
  if (reduction_fits(table.variables, table.columns())) {
    ReductionOptions reduction;
    reduction.deadline = options_.deadline;
    reduced = reduce_parity_table(table, reduction).table.bits;
  }
  const std::size_t kept = reduced.size() / std::max<std::size_t>(f.words(), 1);
  if (kept >= count && !options_.every_block) return;

  // The reduced polynomial with its Clifford difference: the difference's
  // S powers and CZ gates, then a T gate on each new parity.
  const DiagonalClifford correction = clifford_difference(f, reduced);
  std::vector<std::uint64_t> columns = reduced;
  std::vector<std::uint8_t> coefficients(kept, 1);
  const std::uint32_t variables = f.variables();
  std::vector<PlacedGate> network = synthesise_parity_network(variables, columns, coefficients);
  Insertion insertion;
  insertion.step = block.anchor;
  std::vector<PlacedGate>& gates = insertion.gates;
  gates = diagonal.gates;
  for (std::uint32_t v = 0; v < correction.s_powers.size(); ++v) {
    static constexpr Elementary kPowers[4] = {Elementary::Z, Elementary::S, Elementary::Z,
                                              Elementary::Sdg};
    if (correction.s_powers[v] != 0) gates.push_back({kPowers[correction.s_powers[v]], qubit_of[v], 0});
  }
  for (const auto& [i, k] : correction.cz) gates.push_back({Elementary::CZ, qubit_of[i], qubit_of[k]});
  for (const PlacedGate& g : network) {
    const bool two = elementary_info(g.gate).qubits == 2;
    gates.push_back({g.gate, qubit_of[g.a], two ? qubit_of[g.b] : 0});
  }
  const std::vector<PlacedGate> undo = inverse_gates(diagonal.gates);
  gates.insert(gates.end(), undo.begin(), undo.end());
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
