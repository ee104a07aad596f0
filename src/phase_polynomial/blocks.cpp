// The cut into blocks. Each block keeps a basis of the span of its
// products (their X and Z bits as one vector of 2n bits, reduced to
// distinct leading bits): a product commutes with every product of the
// block exactly when it commutes with every vector of that basis, since
// commuting is a bilinear test. Its support (the qubits any of its products
// touches) skips blocks a product cannot meet.
#include "src/phase_polynomial/blocks.h"

#include <algorithm>
#include <bit>

#include "engine/fault.h"
#include "src/pauli/pauli.h"
#include "src/pauli/tableau.h"

namespace kestrel {
namespace {

CliffordGate clifford_gate(Elementary gate) {
  switch (gate) {
    case Elementary::H: return CliffordGate::H;
    case Elementary::S: return CliffordGate::S;
    case Elementary::Sdg: return CliffordGate::Sdg;
    case Elementary::X: return CliffordGate::X;
    case Elementary::Y: return CliffordGate::Y;
    case Elementary::Z: return CliffordGate::Z;
    case Elementary::CX: return CliffordGate::CX;
    case Elementary::CZ: return CliffordGate::CZ;
    case Elementary::Swap: return CliffordGate::Swap;
    default: fault("internal error: entered unreachable code");
  }
}

// The highest set bit of a row of `size` words, or -1 when it is zero.
std::ptrdiff_t leading_bit(const std::uint64_t* row, std::size_t size) {
  for (std::size_t w = size; w-- > 0;) {
    if (row[w] != 0) return static_cast<std::ptrdiff_t>(64 * w + 63 - std::countl_zero(row[w]));
  }
  return -1;
}

// A block while the cut is made.
class Span {
 public:
  explicit Span(std::size_t words) : words_(words), support_(words, 0) {}

  // Whether `row` anticommutes with some product of the span.
  bool anticommutes(const std::uint64_t* row) const {
    bool meets = false;
    for (std::size_t w = 0; w < words_ && !meets; ++w) {
      meets = ((row[w] | row[words_ + w]) & support_[w]) != 0;
    }
    if (!meets) return false;
    for (std::size_t v = 0; v < leads_.size(); ++v) {
      if (anticommute(row, basis_.data() + v * 2 * words_, words_)) return true;
    }
    return false;
  }

  void add(const std::uint64_t* row) {
    for (std::size_t w = 0; w < words_; ++w) support_[w] |= row[w] | row[words_ + w];
    scratch_.assign(row, row + 2 * words_);
    // The basis is kept by decreasing leading bit, so one pass reduces.
    for (std::size_t v = 0; v < leads_.size(); ++v) {
      const std::size_t lead = static_cast<std::size_t>(leads_[v]);
      if ((scratch_[lead / 64] >> (lead % 64)) & 1) {
        const std::uint64_t* b = basis_.data() + v * 2 * words_;
        for (std::size_t w = 0; w < 2 * words_; ++w) scratch_[w] ^= b[w];
      }
    }
    const std::ptrdiff_t lead = leading_bit(scratch_.data(), 2 * words_);
    if (lead < 0) return;
    const std::size_t at = static_cast<std::size_t>(
        std::upper_bound(leads_.begin(), leads_.end(), lead, std::greater<>()) - leads_.begin());
    leads_.insert(leads_.begin() + static_cast<std::ptrdiff_t>(at), lead);
    basis_.insert(basis_.begin() + static_cast<std::ptrdiff_t>(at * 2 * words_), scratch_.begin(),
                  scratch_.end());
  }

 private:
  std::size_t words_;                     // words per half row
  std::vector<std::uint64_t> support_;    // qubits any product touches
  std::vector<std::uint64_t> basis_;      // the basis, 2 * words_ words a vector
  std::vector<std::ptrdiff_t> leads_;     // each basis vector's leading bit, decreasing
  std::vector<std::uint64_t> scratch_;    // the vector being reduced
};

}  // namespace

std::uint64_t block_bytes(std::uint32_t qubits, std::uint64_t rotations,
                          std::uint64_t boundary_qubits) {
  const std::uint64_t row = 16 * pauli_words(qubits);
  // A product and a step per rotation; two rows per boundary qubit and the
  // frame; each block's basis holds at most 2n rows but never more than its
  // products.
  return (rotations + 2 * boundary_qubits + 2 * std::uint64_t{qubits}) * (2 * row + 16);
}

Blocks cut_into_blocks(const ProgramSteps& program) {
  const std::uint32_t n = program.qubits;
  Blocks out;
  out.words = pauli_words(n);
  const std::size_t words = out.words;
  Tableau frame(n);
  std::vector<Span> spans;
  std::size_t wall = 0;  // the newest boundary on every qubit, which stops every search
  std::vector<std::uint64_t> boundary_row(2 * words);
  for (std::uint32_t s = 0; s < program.steps.size(); ++s) {
    const Step& step = program.steps[s];
    if (step.kind == StepKind::Clifford) {
      frame.apply(clifford_gate(step.gate.gate), step.gate.a, step.gate.b);
      continue;
    }
    if (step.kind == StepKind::Boundary) {
      Block block;
      block.boundary = true;
      block.anchor = s;
      out.blocks.push_back(std::move(block));
      spans.emplace_back(words);
      const auto qubits = program.qubits_of(step);
      std::vector<bool> named(n, false);
      std::uint32_t distinct = 0;
      for (std::uint32_t q : qubits) {
        checked_index(n, q);
        if (!named[q]) ++distinct;
        named[q] = true;
        spans.back().add(frame.x_row(q));
        spans.back().add(frame.z_row(q));
      }
      // Every product anticommutes with some row of a boundary on every qubit.
      if (distinct == n) wall = out.blocks.size() - 1;
      continue;
    }
    const std::uint32_t q = step.gate.a;
    checked_index(n, q);
    const std::uint64_t* row = frame.z_row(q);
    const auto rotation = static_cast<std::uint32_t>(out.rotations.size());
    out.rotations.push_back(s);
    out.products.insert(out.products.end(), row, row + 2 * words);
    out.phases.push_back(frame.z_phase(q));

    // The first block the rotation may join: past the newest block it
    // anticommutes with, or the oldest block the search reached.
    std::size_t target = out.blocks.size();
    const std::size_t floor =
        std::max(wall, out.blocks.size() > kSearchedBlocks ? out.blocks.size() - kSearchedBlocks
                                                           : std::size_t{0});
    while (target > floor && !spans[target - 1].anticommutes(row)) --target;
    while (target < out.blocks.size() && out.blocks[target].boundary) ++target;
    if (target == out.blocks.size()) {
      Block block;
      block.anchor = s;
      out.blocks.push_back(std::move(block));
      spans.emplace_back(words);
    }
    out.blocks[target].members.push_back(rotation);
    spans[target].add(row);
  }
  return out;
}

}  // namespace kestrel
