// The expansion walks bodies with a stack of frames: each call of a body
// either enters another body (a frame on the stack) or is a leaf, written
// out at once.
#include "src/program/expansion.h"

#include <array>
#include <cmath>
#include <numbers>

#include "src/circuit/angle.h"

#include "engine/fault.h"

namespace kestrel {
namespace {

// The elementary gate a library gate is, if it is one.
std::optional<Elementary> elementary(QasmGate gate) {
  // Per library gate, its elementary gate plus one, or 0.
  static constexpr std::array<std::uint8_t, 256> kElementaryOf = [] {
    std::array<std::uint8_t, 256> table{};
    for (std::size_t k = 0; k < kElementary.size(); ++k) {
      if (is_rotation(static_cast<Elementary>(k))) continue;  // angle gates, below
      table[static_cast<std::size_t>(library_gate(static_cast<Elementary>(k)))] =
          static_cast<std::uint8_t>(k + 1);
    }
    table[static_cast<std::size_t>(QasmGate::CX)] = static_cast<std::uint8_t>(Elementary::CX) + 1;
    return table;
  }();
  const std::uint8_t e = kElementaryOf[static_cast<std::size_t>(gate)];
  if (e == 0) return std::nullopt;
  return static_cast<Elementary>(e - 1);
}

// Writes one-qubit angle gates on `qubit` as elementary gates, adding their
// global phase to `phase` (in eighths of a turn) and to `radians`.
struct LeafWriter {
  std::uint32_t qubit;
  std::vector<PlacedGate>& out;
  int& phase;
  double& radians;

  void put(Elementary e) { out.push_back({e, qubit, 0}); }

  void phase_gates_for(int r) {
    const PhaseGates& gates = phase_gates(r);
    for (std::size_t k = 0; k < gates.count; ++k) put(gates.gates[k]);
  }

  // ry(k pi/4), with its phase.
  void ry(int k) {
    switch (k % 8) {
      case 0: break;
      case 2: put(Elementary::Z); put(Elementary::H); break;  // H Z
      case 4: put(Elementary::Z); put(Elementary::X); break;  // X Z
      case 6: put(Elementary::H); put(Elementary::Z); break;  // Z H, times -1 for k = 6
      default:
        put(Elementary::Sdg);
        put(Elementary::H);
        phase_gates_for(k);
        put(Elementary::H);
        put(Elementary::S);
        phase -= k;
        return;
    }
    // ry(t + 2 pi) = -ry(t); ry(3 pi/2) = -Z H.
    if (k >= 8) phase += 8;
    if (k % 8 == 6) phase += 8;
  }

  // U(t, f, l) = p(f) ry(t) p(l), the Z and S gates at the ends of ry's
  // forms taken into the phase gates beside them.
  void u(int t, int f, int l) {
    switch (t % 8) {
      case 0: phase_gates_for(l + f); break;
      case 2: phase_gates_for(l + 4); put(Elementary::H); phase_gates_for(f); break;
      case 4: phase_gates_for(l + 4); put(Elementary::X); phase_gates_for(f); break;
      case 6: phase_gates_for(l); put(Elementary::H); phase_gates_for(f + 4); break;
      default:
        phase_gates_for(l - 2);
        put(Elementary::H);
        phase_gates_for(t);
        put(Elementary::H);
        phase_gates_for(f + 2);
        phase -= t;
        return;
    }
    if (t >= 8) phase += 8;
    if (t % 8 == 6) phase += 8;
  }

  // A rotation whose angle is no multiple of pi/4, where one is.
  bool rotation_gate(Elementary e, double angle) {
    out.push_back({e, qubit, 0, angle});
    return true;
  }

  // rz(t) for an angle read as `turns` quarter turns when it is a multiple.
  void rz(std::optional<std::uint8_t> turns, double angle) {
    if (!turns) {
      rotation_gate(Elementary::Rz, angle);
      return;
    }
    phase_gates_for(*turns);
    phase -= *turns;
  }

  // e^(i angle/2), exactly where angle is a multiple of pi/4.
  void half(std::optional<std::uint8_t> turns, double angle) {
    if (turns) {
      phase += *turns;
    } else {
      radians += large_angle_reduced(angle / 2);
    }
  }

  // U(t, f, l) = e^(i (f + l)/2) rz(f) ry(t) rz(l), rz(l) first.
  bool general_u(std::optional<std::uint8_t> t, double theta, std::optional<std::uint8_t> f,
                 double phi, std::optional<std::uint8_t> l, double lambda) {
    if (!std::isfinite(theta) || !std::isfinite(phi) || !std::isfinite(lambda)) return false;
    rz(l, lambda);
    if (t) {
      ry(*t);
    } else {
      rotation_gate(Elementary::Ry, theta);
    }
    rz(f, phi);
    half(f, phi);
    half(l, lambda);
    return true;
  }

  // With rotations read: `gate` with parameter values `v` (`k`: those that
  // are multiples of pi/4, in quarter turns) written with a rotation gate
  // where an angle is no such multiple; nothing when every angle is one.
  std::optional<bool> rotation(QasmGate gate, const std::optional<std::uint8_t> (&k)[3],
                               const double* v) {
    const auto finite = [&](std::uint32_t p) { return std::isfinite(v[p]); };
    switch (gate) {
      case QasmGate::u1:
      case QasmGate::p:
        if (k[0] || !finite(0)) break;
        half(k[0], v[0]);
        return rotation_gate(Elementary::Rz, v[0]);
      case QasmGate::rz:
        if (k[0] || !finite(0)) break;
        return rotation_gate(Elementary::Rz, v[0]);
      case QasmGate::rx:
        if (k[0] || !finite(0)) break;
        return rotation_gate(Elementary::Rx, v[0]);
      case QasmGate::ry:
        if (k[0] || !finite(0)) break;
        return rotation_gate(Elementary::Ry, v[0]);
      case QasmGate::U:
      case QasmGate::u3:
      case QasmGate::u:
        if (k[0] && k[1] && k[2]) break;
        return general_u(k[0], v[0], k[1], v[1], k[2], v[2]);
      case QasmGate::u2:
        if (k[0] && k[1]) break;
        return general_u(std::uint8_t{2}, std::numbers::pi / 2, k[0], v[0], k[1], v[1]);
      default: break;
    }
    return std::nullopt;
  }

  // `gate` whose angles are `k` quarter turns; false where one is not a
  // multiple of pi/4.
  bool quarter_turns(QasmGate gate, const std::optional<std::uint8_t> (&k)[3]) {
    switch (gate) {
      case QasmGate::id:
      case QasmGate::u0: return true;
      case QasmGate::u1:
      case QasmGate::p:
        if (!k[0]) return false;
        phase_gates_for(*k[0]);
        return true;
      case QasmGate::rz:
        if (!k[0]) return false;
        phase_gates_for(*k[0]);
        phase -= *k[0];
        return true;
      case QasmGate::rx:
        if (!k[0]) return false;
        if (*k[0] % 8 != 0) {
          put(Elementary::H);
          phase_gates_for(*k[0]);
          put(Elementary::H);
        }
        phase -= *k[0];
        return true;
      case QasmGate::ry:
        if (!k[0]) return false;
        ry(*k[0]);
        return true;
      case QasmGate::U:
      case QasmGate::u3:
      case QasmGate::u:
        if (!k[0] || !k[1] || !k[2]) return false;
        u(*k[0], *k[1], *k[2]);
        return true;
      case QasmGate::u2:
        if (!k[0] || !k[1]) return false;
        u(2, *k[0], *k[1]);
        return true;
      default: fault("a library gate without a body is elementary or an angle gate");
    }
  }
};

}  // namespace

bool Expander::expand(GateRef gate, std::span<const double> params, std::vector<PlacedGate>& out,
                      std::uint8_t& phase) {
  Phase whole{phase, 0};
  const bool exact = expand(gate, params, out, whole);
  check(whole.exact(), "an expansion without rotations has an exact phase");
  phase = whole.eighths;
  return exact;
}

bool Expander::expand(GateRef gate, std::span<const double> params, std::vector<PlacedGate>& out,
                      Phase& phase_out) {
  const std::uint8_t phase = phase_out.eighths;
  radians_ = phase_out.radians;
  frames_.clear();
  values_.assign(params.begin(), params.end());
  operands_.clear();
  const std::uint32_t qubits =
      gate.defined ? program_->gates[checked_index(program_->gates.size(), gate.index)].qubits
                   : library_info(static_cast<QasmGate>(gate.index)).qubits;
  for (std::uint32_t q = 0; q < qubits; ++q) operands_.push_back(q);
  const std::size_t start = out.size();
  int total = phase;
  bool exact = enter(program_, gate, 0, 0, out, total);
  while (exact && !frames_.empty()) {
    const Frame f = frames_.back();
    const CompiledGate& body = f.definitions->gates[f.gate];
    if (f.next_call == body.calls) {
      values_.resize(f.values_at);
      operands_.resize(f.operands_at);
      frames_.pop_back();
      continue;
    }
    ++frames_.back().next_call;
    const BodyCall& call = f.definitions->calls[body.first_call + f.next_call];
    const auto values_at = static_cast<std::uint32_t>(values_.size());
    const auto operands_at = static_cast<std::uint32_t>(operands_.size());
    const std::uint32_t callee_params =
        call.gate.defined ? f.definitions->gates[call.gate.index].params
                          : library_info(static_cast<QasmGate>(call.gate.index)).params;
    const std::uint32_t callee_qubits =
        call.gate.defined ? f.definitions->gates[call.gate.index].qubits
                          : library_info(static_cast<QasmGate>(call.gate.index)).qubits;
    for (std::uint32_t p = 0; p < callee_params; ++p) {
      const ItemRange range = f.definitions->params[call.first_param + p];
      const double value = evaluate(
          std::span(f.definitions->items).subspan(range.begin, range.end - range.begin),
          std::span(values_).subspan(f.values_at, body.params), stack_);
      values_.push_back(value);
    }
    for (std::uint32_t q = 0; q < callee_qubits; ++q) {
      operands_.push_back(operands_[f.operands_at + f.definitions->qubits[call.first_qubit + q]]);
    }
    exact = enter(f.definitions, call.gate, values_at, operands_at, out, total) &&
            out.size() - start <= kMaxExpansion;
  }
  phase_out.eighths = static_cast<std::uint8_t>(((total % 16) + 16) % 16);
  phase_out.radians = radians_;
  return exact;
}

// Starts gate `gate` (a gate of `definitions` when defined there), its
// parameter values and operands on the stacks from the given places: a
// leaf is written out, a body gets a frame.
bool Expander::enter(const Definitions* definitions, GateRef gate, std::uint32_t values_at,
                     std::uint32_t operands_at, std::vector<PlacedGate>& out, int& phase) {
  const Definitions* owner = definitions;
  std::uint32_t index = gate.index;
  if (!gate.defined) {
    const auto library = static_cast<QasmGate>(gate.index);
    const std::optional<std::uint32_t> body = library_body(library);
    if (!body) {
      const bool exact = leaf(library, values_at, operands_at, out, phase);
      values_.resize(values_at);
      operands_.resize(operands_at);
      return exact;
    }
    owner = &library_definitions();
    index = *body;
  }
  check(owner != nullptr, "a defined gate comes with the program's definitions");
  const CompiledGate& compiled = owner->gates[checked_index(owner->gates.size(), index)];
  if (compiled.boundary) return false;
  phase += compiled.phase;
  frames_.push_back({owner, index, 0, values_at, operands_at});
  return true;
}

// Writes out a library gate without a body: elementary, or an angle gate
// with angles that are multiples of pi/4.
bool Expander::leaf(QasmGate gate, std::uint32_t values_at, std::uint32_t operands_at,
                    std::vector<PlacedGate>& out, int& phase) {
  const std::uint32_t* on = operands_.data() + operands_at;
  if (const std::optional<Elementary> e = elementary(gate)) {
    out.push_back({*e, on[0], elementary_info(*e).qubits == 2 ? on[1] : 0});
    return true;
  }
  const double* v = values_.data() + values_at;
  std::optional<std::uint8_t> k[3];
  for (std::uint32_t p = 0; p < library_info(gate).params && p < 3; ++p) {
    // Read with rotations, an angle near a multiple of pi/4 but not on it
    // is a rotation of its own angle: only a written sum is rounded.
    k[p] = rotations_ || exact_ ? exact_quarter_turns(v[p]) : quarter_turns(v[p]);
  }
  LeafWriter writer{on[0], out, phase, radians_};
  if (rotations_) {
    if (const std::optional<bool> written = writer.rotation(gate, k, v)) return *written;
  }
  return writer.quarter_turns(gate, k);
}

}  // namespace kestrel
