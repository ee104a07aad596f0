// One pass over the items in order, each qubit holding the run of phase
// gates open on it; a gate that is not diagonal on a qubit, or a barrier,
// closes the qubit's run. Linear in the items.
#include "src/cancellation/phase_joining.h"

#include "engine/fault.h"

namespace kestrel {
namespace {

class Joiner {
 public:
  Joiner(std::uint32_t qubits, std::vector<bool>& removed, std::vector<Elementary>& now)
      : removed_(removed), now_(now), runs_(qubits), powers_(qubits, 0) {}

  void add_phase(std::uint32_t q, std::uint32_t item) {
    runs_[q].push_back(item);
    powers_[q] = (powers_[q] + elementary_info(now_[item]).diagonal) & 7;
  }

  // Writes q's run as the fewest phase gates, where that is fewer.
  void close(std::uint32_t q) {
    std::vector<std::uint32_t>& run = runs_[q];
    const PhaseGates& fewest = phase_gates(powers_[q]);
    if (run.size() > fewest.count) {
      for (std::size_t k = 0; k < run.size(); ++k) {
        if (k < fewest.count) {
          now_[run[k]] = fewest.gates[k];
        } else {
          removed_[run[k]] = true;
          ++gone_;
        }
      }
    }
    run.clear();
    powers_[q] = 0;
  }

  std::size_t gone() const { return gone_; }

 private:
  std::vector<bool>& removed_;
  std::vector<Elementary>& now_;
  std::vector<std::vector<std::uint32_t>> runs_;  // per qubit, the run's items in order
  std::vector<int> powers_;                       // per qubit, the run's power r mod 8
  std::size_t gone_ = 0;
};

// Whether a gate other than a one-qubit phase leaves a run on q open.
bool diagonal_on(Elementary gate, const PlacedGate& placed, std::uint32_t q) {
  switch (gate) {
    case Elementary::CZ: case Elementary::Rz: return true;
    case Elementary::CX: return placed.a == q;
    default: return false;
  }
}

}  // namespace

std::size_t join_phase_runs(std::uint32_t qubits, std::span<const CancelItem> items,
                            std::span<const std::uint32_t> barrier_qubits, std::vector<bool>& removed,
                            std::vector<Elementary>& now) {
  check(removed.size() == items.size() && now.size() == items.size(), "a flag and a gate per item");
  Joiner joiner(qubits, removed, now);
  for (std::uint32_t i = 0; i < items.size(); ++i) {
    if (removed[i]) continue;
    const CancelItem& item = items[i];
    if (item.count != 0) {
      check(std::size_t{item.first} + item.count <= barrier_qubits.size(), "a barrier's qubits");
      for (std::uint32_t k = 0; k < item.count; ++k) {
        joiner.close(static_cast<std::uint32_t>(checked_index(qubits, barrier_qubits[item.first + k])));
      }
      continue;
    }
    const Elementary gate = now[i];
    const ElementaryInfo& info = elementary_info(gate);
    const auto a = static_cast<std::uint32_t>(checked_index(qubits, item.gate.a));
    if (info.qubits == 1 && info.diagonal != kNotDiagonal) {
      joiner.add_phase(a, i);
      continue;
    }
    if (!diagonal_on(gate, item.gate, a)) joiner.close(a);
    if (info.qubits == 2) {
      const auto b = static_cast<std::uint32_t>(checked_index(qubits, item.gate.b));
      if (!diagonal_on(gate, item.gate, b)) joiner.close(b);
    }
  }
  for (std::uint32_t q = 0; q < qubits; ++q) joiner.close(q);
  return joiner.gone();
}

}  // namespace kestrel
