// The region's blocks diagonalised in a chain, cut where the gadget budget
// runs out; each stretch's sum over paths made and its polynomial reduced,
// all of them first; then, unless the caller turns the region down by
// then, each stretch written: the extra qubits prepared, the reduced
// polynomial with its Clifford difference, the wires brought to their
// final functions, then the measurements with their corrections.
#include "src/phase_polynomial/gadgets.h"

#include <algorithm>
#include <bit>
#include <deque>
#include <optional>

#include "engine/fault.h"
#include "src/pauli/inverse_tableau.h"
#include "src/pauli/pauli.h"
#include "src/phase_polynomial/diagonalise.h"
#include "src/gf2/linear_synthesis.h"
#include "src/phase_polynomial/path_sum.h"
#include "src/phase_polynomial/polynomial_mod8.h"

namespace kestrel {
namespace {

constexpr std::uint64_t kStretchCost = std::uint64_t{1} << 27;

std::size_t hadamards(const std::vector<PlacedGate>& gates) {
  return static_cast<std::size_t>(std::count_if(
      gates.begin(), gates.end(), [](const PlacedGate& g) { return g.gate == Elementary::H; }));
}

bool bit(const std::uint64_t* bits, std::size_t i) { return (bits[i / 64] >> (i % 64)) & 1; }

// A stretch with its polynomial reduced, not yet written.
struct ReducedStretch {
  ReducedStretch(std::size_t from, std::uint32_t extra_before, std::uint32_t wires)
      : first(from), extra_before(extra_before), sum(wires), final_map(wires) {}

  std::size_t first;           // its first block, whose diagonalising gates come before it
  std::uint32_t extra_before;  // the extra qubits the stretches before it used
  PathSum sum;
  BitMatrix final_map;                      // the wires' final functions M v + c, by M
  std::vector<std::uint32_t> extras;        // the gadgets' extra wires, in order
  std::vector<PlacedOperation> corrections; // the measurements and their corrections
  ReducedTables tables;
};

class RegionWriter {
 public:
  RegionWriter(std::uint32_t qubits, std::span<const RegionBlock> blocks, std::uint32_t budget,
               std::uint32_t first_extra, ReductionAllowance& allowance)
      : n_(qubits), blocks_(blocks), budget_(budget), first_extra_(first_extra),
        allowance_(allowance), words_(pauli_words(qubits)) {}

  RegionCircuit write(const MayPay& may_pay);

 private:
  bool reduce_stretch(std::size_t first, std::size_t end, std::deque<ReducedStretch>& out);
  int add_paths(PathSum& sum, std::size_t first, std::size_t end, std::vector<std::uint32_t>& extras) const;
  bool write_polynomial(ReducedStretch& stretch);
  bool measure(const PathSum& sum, const BitMatrix& final_map, const std::vector<std::uint32_t>& extras,
               std::vector<PlacedOperation>& ops) const;
  void gate(Elementary g, std::uint32_t a, std::uint32_t b = 0) { out_.ops.push_back({OperationKind::Gate, {g, a, b}, 0}); }
  // The program qubit or extra qubit of a wire of the stretch at hand.
  std::uint32_t qubit_of_wire(std::uint32_t w) const {
    return w < local_.size() ? local_[w] : n_ + first_extra_ + stretch_extra_ + (w - static_cast<std::uint32_t>(local_.size()));
  }

  std::uint32_t n_;
  std::span<const RegionBlock> blocks_;
  std::uint32_t budget_;
  std::uint32_t first_extra_;
  ReductionAllowance& allowance_;            // shared with the rest of the rewrite
  std::size_t words_;
  std::vector<Diagonalisation> diagonal_;   // per block, in the frame of the blocks before
  std::vector<std::uint32_t> local_;        // wire -> program qubit, for the qubits the region touches
  std::vector<std::uint32_t> wire_of_;      // program qubit -> wire
  std::uint32_t stretch_extra_ = 0;         // extra qubits used before the stretch at hand
  RegionCircuit out_;
};

RegionCircuit RegionWriter::write(const MayPay& may_pay) {
  // The chain of frames.
  InverseTableau chain(n_);
  std::vector<std::uint64_t> rows;
  std::vector<std::uint64_t> used(words_, 0);
  for (const RegionBlock& block : blocks_) {
    if (allowance_.deadline.passed()) return RegionCircuit{};
    const std::size_t count = block.phases.size();
    rows.assign(count * 2 * words_, 0);
    std::vector<std::uint8_t> phases(count);
    for (std::size_t j = 0; j < count; ++j) {
      phases[j] = chain.image(block.rows.data() + j * 2 * words_, block.phases[j],
                              rows.data() + j * 2 * words_);
    }
    diagonal_.push_back(diagonalise(n_, rows, phases));
    for (const PlacedGate& g : diagonal_.back().gates) {
      chain.apply(g.gate, g.a, g.b);
      used[g.a / 64] |= std::uint64_t{1} << (g.a % 64);
      if (elementary_info(g.gate).qubits == 2) used[g.b / 64] |= std::uint64_t{1} << (g.b % 64);
    }
    for (std::size_t w = 0; w < diagonal_.back().z_bits.size(); ++w) used[w % words_] |= diagonal_.back().z_bits[w];
  }
  wire_of_.assign(n_, 0);
  for (std::uint32_t q = 0; q < n_; ++q) {
    if (bit(used.data(), q)) {
      wire_of_[q] = static_cast<std::uint32_t>(local_.size());
      local_.push_back(q);
    }
  }
  // The stretches: a block whose Hadamard gates would pass the budget
  // starts a new one.
  // A stretch also stays within kStretchCost of rotations times variables
  // squared: writing its polynomial's quadratic terms and its Clifford
  // difference costs about that.
  std::vector<std::size_t> starts = {0};
  std::size_t spent = 0;
  std::uint64_t gadgets = 0;
  std::uint64_t rotations = blocks_[0].degrees.size();
  const auto cost = [&](std::uint64_t g, std::uint64_t r) {
    const std::uint64_t variables = local_.size() + g;
    return r * variables * variables;
  };
  for (std::size_t k = 1; k < diagonal_.size(); ++k) {
    const std::size_t h = hadamards(diagonal_[k].gates);
    const std::uint64_t r = blocks_[k].degrees.size();
    if (spent + h <= budget_ && cost(gadgets + h, rotations + r) <= kStretchCost) {
      spent += h;
      gadgets += h;
      rotations += r;
    } else {
      starts.push_back(k);
      gadgets = 0;
      rotations = r;
    }
  }
  starts.push_back(diagonal_.size());
  // Once the cap is spent, each block left is a stretch of its own, with no
  // gadget: the cheapest way to finish writing the region. Once the
  // deadline has passed, the region is given up.
  std::deque<ReducedStretch> stretches;
  for (std::size_t s = 0; s + 1 < starts.size(); ++s) {
    const bool late = allowance_.exhausted();
    for (std::size_t k = starts[s]; k < starts[s + 1]; k = late ? k + 1 : starts[s + 1]) {
      if (allowance_.deadline.passed() || !reduce_stretch(k, late ? k + 1 : starts[s + 1], stretches)) {
        return RegionCircuit{};
      }
    }
  }
  // The gates written whatever the networks: the diagonalising gates
  // before each stretch, the corrections, the inverse of them all at the end.
  std::vector<PlacedGate> all;
  for (const Diagonalisation& d : diagonal_) all.insert(all.end(), d.gates.begin(), d.gates.end());
  const std::vector<PlacedGate> undo = inverse_gates(all);
  const auto two_qubit_of = [](std::span<const PlacedGate> gates) {
    return static_cast<std::uint64_t>(std::count_if(gates.begin(), gates.end(), [](const PlacedGate& g) {
      return elementary_info(g.gate).qubits == 2;
    }));
  };
  std::uint64_t surely = two_qubit_of(undo);
  for (const ReducedStretch& stretch : stretches) {
    surely += two_qubit_of(diagonal_[stretch.first].gates) + two_qubit_gates(stretch.corrections);
  }
  if (may_pay && !may_pay(out_.t, surely)) {
    out_.written = false;
    return std::move(out_);
  }
  for (ReducedStretch& stretch : stretches) {
    for (const PlacedGate& g : diagonal_[stretch.first].gates) out_.ops.push_back({OperationKind::Gate, g, 0});
    if (allowance_.deadline.passed() || !write_polynomial(stretch)) return RegionCircuit{};
    out_.ops.insert(out_.ops.end(), stretch.corrections.begin(), stretch.corrections.end());
  }
  for (const PlacedGate& g : undo) out_.ops.push_back({OperationKind::Gate, g, 0});
  return std::move(out_);
}

// Adds the stretch's rotations and gadgets to `sum`, the gadgets' extra
// wires to `extras` in order; returns the phase, in eighths of pi.
int RegionWriter::add_paths(PathSum& sum, std::size_t first, std::size_t end,
                            std::vector<std::uint32_t>& extras) const {
  const auto n_local = static_cast<std::uint32_t>(local_.size());
  std::vector<std::uint64_t> function(sum.words());
  int phase = 0;  // eighths of pi
  const auto terms = [&](std::size_t k) {
    const Diagonalisation& d = diagonal_[k];
    const RegionBlock& block = blocks_[k];
    for (std::size_t j = 0; j < block.degrees.size(); ++j) {
      std::fill(function.begin(), function.end(), 0);
      bool constant = false;
      for (std::size_t w = 0; w < words_; ++w) {
        for (std::uint64_t b = d.z_bits[j * words_ + w]; b != 0; b &= b - 1) {
          const std::uint32_t wire = wire_of_[64 * w + static_cast<std::size_t>(std::countr_zero(b))];
          const std::uint64_t* f = sum.wire(wire);
          for (std::size_t v = 0; v < sum.words(); ++v) function[v] ^= f[v];
          constant = constant != sum.constant(wire);
        }
      }
      const int degree = block.degrees[j];
      const bool negative = d.signs[j] < 0;
      // T = e^(i pi/8) exp(-i pi/8 Z), exp(-i pi/8 s Z^a) = e^(-i s pi/8) w^(s a.x).
      if (negative) phase += 2 * degree;
      sum.add_term(static_cast<std::uint8_t>((negative ? -degree : degree) & 7), function.data(), constant);
    }
  };
  terms(first);
  for (std::size_t k = first + 1; k < end; ++k) {
    for (const PlacedGate& g : diagonal_[k].gates) {
      if (g.gate == Elementary::H) {
        const std::uint32_t extra = n_local + static_cast<std::uint32_t>(extras.size());
        sum.gadget(wire_of_[g.a], extra);
        extras.push_back(extra);
      } else {
        sum.apply(g.gate, wire_of_[g.a], elementary_info(g.gate).qubits == 2 ? wire_of_[g.b] : 0);
      }
    }
    terms(k);
  }
  phase += 2 * sum.phase();
  return phase;
}

// Writes the prepared extra qubits, the reduced polynomial with its
// Clifford difference, and the wires brought to their final functions
// (their linear part `final_map`); false past the deadline.
bool RegionWriter::write_polynomial(ReducedStretch& stretch) {
  stretch_extra_ = stretch.extra_before;
  const PathSum& sum = stretch.sum;
  const BitMatrix& final_map = stretch.final_map;
  const std::uint32_t wires = sum.wires();
  // The reduced polynomial and its Clifford difference.
  const PhasePolynomial& f = sum.polynomial();
  const std::size_t t = stretch.tables.t(f.words());
  const std::optional<WrittenPolynomial> reduced_or_late =
      write_tables(f, std::move(stretch.tables), allowance_.deadline, true, nullptr);
  if (!reduced_or_late) return false;
  const WrittenPolynomial& reduced = *reduced_or_late;
  check(reduced.t == t, "a stretch is written with the T gates its tables counted");
  const OpenParityNetwork& network = reduced.network;
  const auto on_wires = [&](const PlacedGate& g) {
    gate(g.gate, qubit_of_wire(g.a), elementary_info(g.gate).qubits == 2 ? qubit_of_wire(g.b) : 0);
  };
  for (std::uint32_t extra : stretch.extras) gate(Elementary::H, qubit_of_wire(extra));
  for (const PlacedGate& g : reduced.clifford) on_wires(g);
  for (const PlacedGate& g : network.gates) on_wires(g);
  // The wires from the network's map to their final functions M v + c.
  const std::optional<BitMatrix> undo = network.map.inverse();
  check(undo.has_value(), "a parity network leaves an invertible map");
  // M N^-1: row w is the combination of the network's rows that gives M's row w.
  BitMatrix step(wires);
  for (std::uint32_t w = 0; w < wires; ++w) {
    std::uint64_t* row = step.row(w);
    for (std::uint32_t k = 0; k < wires; ++k) {
      if (bit(final_map.row(w), k)) {
        const std::uint64_t* u = undo->row(k);
        for (std::size_t x = 0; x < step.words(); ++x) row[x] ^= u[x];
      }
    }
  }
  for (const PlacedGate& g : synthesise_linear(step)) gate(g.gate, qubit_of_wire(g.a), qubit_of_wire(g.b));
  for (std::uint32_t w = 0; w < wires; ++w) {
    if (sum.constant(w)) gate(Elementary::X, qubit_of_wire(w));
  }
  return true;
}

// The measurements of the extra qubits and their corrections, in the order
// the gadgets came, into `ops`; false once the deadline has passed (read
// before each gadget's correction).
bool RegionWriter::measure(const PathSum& sum, const BitMatrix& final_map,
                           const std::vector<std::uint32_t>& extras, std::vector<PlacedOperation>& ops) const {
  const std::uint32_t wires = sum.wires();
  const PhasePolynomial& f = sum.polynomial();
  const std::optional<BitMatrix> inverse = final_map.inverse();
  check(inverse.has_value(), "a region's wires end in an invertible map");
  std::vector<std::uint64_t> q(sum.words());
  const auto in_wires = [&](const std::uint64_t* linear, bool constant) {
    // p.v with v = M^-1 (u + c): the row p M^-1 and its constant.
    std::fill(q.begin(), q.end(), 0);
    for (std::uint32_t j = 0; j < wires; ++j) {
      if (!bit(linear, j)) continue;
      const std::uint64_t* r = inverse->row(j);
      for (std::size_t x = 0; x < q.size(); ++x) q[x] ^= r[x];
    }
    for (std::uint32_t w = 0; w < wires; ++w) {
      if (bit(q.data(), w) && sum.constant(w)) constant = !constant;
    }
    return constant;
  };
  for (std::size_t t = 0; t < extras.size(); ++t) {
    if (allowance_.deadline.passed()) return false;
    const std::uint32_t extra = extras[t];
    const std::uint32_t measured = stretch_extra_ + static_cast<std::uint32_t>(t) + first_extra_;
    ops.push_back({OperationKind::Gate, {Elementary::H, qubit_of_wire(extra), 0}, 0});
    ops.push_back({OperationKind::Measure, {}, measured});
    const auto conditioned = [&](Elementary g, std::uint32_t a, std::uint32_t b = 0) {
      ops.push_back({OperationKind::Conditioned, {g, a, b}, measured});
    };
    // The wires the gadget's variable reaches.
    for (std::uint32_t w = 0; w < wires; ++w) {
      if (bit(sum.wire(w), extra)) conditioned(Elementary::X, qubit_of_wire(w));
    }
    // Delta = F(v + e) - F(v) - 4 l(v), in the wires' values.
    PhasePolynomial delta(wires);
    for (std::size_t j = 0; j < f.terms(); ++j) {
      if (!bit(f.parity(j), extra)) continue;
      const std::uint8_t c = static_cast<std::uint8_t>((8 - 2 * f.coefficient(j)) & 7);
      const bool constant = in_wires(f.parity(j), false);
      if (std::any_of(q.begin(), q.end(), [](std::uint64_t x) { return x != 0; }) && c != 0) {
        delta.add(q.data(), static_cast<std::uint8_t>(constant ? (8 - c) & 7 : c));
      }
    }
    in_wires(sum.wire(extra), sum.constant(extra));
    if (std::any_of(q.begin(), q.end(), [](std::uint64_t x) { return x != 0; })) delta.add(q.data(), 4);
    const DiagonalClifford d = clifford_difference(delta, {});
    for (std::size_t u = 0; u <= t; ++u) {
      check(d.s_powers[extras[u]] == 0, "a correction spares the extra qubits measured");
      for (const auto& [a, b] : d.cz) {
        check(a != extras[u] && b != extras[u], "a correction spares the extra qubits measured");
      }
    }
    for (std::uint32_t v = 0; v < wires; ++v) {
      const std::uint8_t s = static_cast<std::uint8_t>((4 - d.s_powers[v]) & 3);
      if (s != 0) conditioned(s_power_gate(s), qubit_of_wire(v));
    }
    for (const auto& [a, b] : d.cz) conditioned(Elementary::CZ, qubit_of_wire(a), qubit_of_wire(b));
  }
  return true;
}

// Makes the stretch's sum over paths, its measurements and corrections, and
// reduces its polynomial, appending it to `out`; false past the deadline.
bool RegionWriter::reduce_stretch(std::size_t first, std::size_t end, std::deque<ReducedStretch>& out) {
  const auto n_local = static_cast<std::uint32_t>(local_.size());
  std::uint32_t gadgets = 0;
  for (std::size_t k = first + 1; k < end; ++k) gadgets += static_cast<std::uint32_t>(hadamards(diagonal_[k].gates));
  ReducedStretch& stretch = out.emplace_back(first, stretch_extra_, n_local + gadgets);
  PathSum& sum = stretch.sum;
  const int phase = add_paths(sum, first, end, stretch.extras);
  for (std::uint32_t w = 0; w < sum.wires(); ++w) {
    std::copy(sum.wire(w), sum.wire(w) + sum.words(), stretch.final_map.row(w));
  }
  // The measurements and corrections depend on the sum alone: made before
  // the reduction, so that the reduction, which leaves the network its
  // share of the time left, is the last long step before the deadline.
  if (!measure(sum, stretch.final_map, stretch.extras, stretch.corrections)) return false;
  stretch.tables = reduce_tables(sum.polynomial(), allowance_, nullptr, false);
  out_.t += stretch.tables.t(sum.polynomial().words());
  stretch_extra_ += gadgets;
  out_.gadgets += gadgets;
  out_.phase = static_cast<std::uint8_t>((out_.phase + phase) & 15);
  return true;
}

}  // namespace

std::uint64_t two_qubit_gates(std::span<const PlacedOperation> ops) {
  std::uint64_t n = 0;
  for (const PlacedOperation& op : ops) {
    n += op.kind != OperationKind::Measure && elementary_info(op.gate.gate).qubits == 2;
  }
  return n;
}

RegionCircuit write_region(std::uint32_t qubits, std::span<const RegionBlock> blocks,
                           std::uint32_t budget, std::uint32_t first_extra,
                           ReductionAllowance& allowance, const MayPay& may_pay) {
  check(!blocks.empty(), "a region holds a block");
  return RegionWriter(qubits, blocks, budget, first_extra, allowance).write(may_pay);
}

}  // namespace kestrel
