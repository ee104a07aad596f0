// The cut into blocks. Each block keeps the span of its products
// (src/pauli/span.h), which tells whether a product commutes with all of
// them.
#include "src/phase_polynomial/blocks.h"

#include <algorithm>
#include <bit>
#include <span>

#include "engine/fault.h"
#include "src/pauli/pauli.h"
#include "src/pauli/span.h"
#include "src/pauli/tableau.h"

namespace kestrel {
namespace {

// How many rotations are cut between two looks at the clock.
constexpr std::size_t kRotationsPerLook = 256;

// A product's qubits in one word of the support.
struct Touched {
  std::size_t word;
  std::uint64_t bits;
};

// The qubits of `row` (pauli.h's layout) by word, the words it has none in
// left out, in `touched`.
std::span<const Touched> qubits_of(const std::uint64_t* row, std::size_t words,
                                   std::vector<Touched>& touched) {
  touched.clear();
  for (std::size_t w = 0; w < words; ++w) {
    if (const std::uint64_t bits = row[w] | row[words + w]; bits != 0) touched.push_back({w, bits});
  }
  return touched;
}

// Whether `row`, on the qubits `touched`, anticommutes with some product of
// `span`: a span that touches none of them (as most a rotation passes)
// is passed by reading those words of its support alone.
bool anticommutes(const PauliSpan& span, const std::uint64_t* row, std::span<const Touched> touched) {
  const bool meets = std::any_of(touched.begin(), touched.end(),
                                 [&](const Touched& t) { return (span.support()[t.word] & t.bits) != 0; });
  return meets && span.anticommutes(row);
}

}  // namespace

Blocks cut_into_blocks(const ProgramSteps& program, const Deadline& deadline) {
  const std::uint32_t n = program.qubits;
  Blocks out;
  out.words = pauli_words(n);
  const std::size_t words = out.words;
  Tableau frame(n);
  std::vector<PauliSpan> spans;
  std::size_t wall = 0;  // the newest boundary on every qubit, which stops every search
  std::vector<Touched> touched;
  for (std::uint32_t s = 0; s < program.steps.size(); ++s) {
    const Step& step = program.steps[s];
    if (step.kind == StepKind::Clifford) {
      frame.apply(step.gate.gate, step.gate.a, step.gate.b);
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
    if (out.rotations.size() % kRotationsPerLook == kRotationsPerLook - 1 && deadline.passed()) {
      return Blocks{words, {}, {}, {}, {}};
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
    const std::span<const Touched> on = qubits_of(row, words, touched);
    while (target > floor && !anticommutes(spans[target - 1], row, on)) --target;
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
