// Writing a program's gates in Clifford+T: the rotation cache and the walk
// over the statements.
#include "src/clifford_t/clifford_t.h"

#include <cmath>
#include <iterator>
#include <limits>
#include <numbers>
#include <optional>

#include "engine/fault.h"
#include "src/program/instance_walk.h"
#include "src/synthesis/rz_synthesis.h"

namespace kestrel {
namespace {

constexpr double kPi = std::numbers::pi;

// Appends S^k (k mod 4) on qubit q: nothing, s, z or sdg.
void append_quarter_turns(long long k, std::uint32_t q, std::vector<PlacedGate>& out) {
  static constexpr Elementary kPowers[] = {Elementary::S, Elementary::Z, Elementary::Sdg};
  const auto power = static_cast<std::size_t>(((k % 4) + 4) % 4);
  if (power != 0) out.push_back({kPowers[power - 1], q, 0});
}

}  // namespace

RotationSynthesiser::RotationSynthesiser(double epsilon) : epsilon_(epsilon) {
  check(synthesis::valid_epsilon(epsilon), "a precision the synthesis takes");
}

RotationSynthesiser::Sequence RotationSynthesiser::synthesised(double angle, double epsilon) const {
  const synthesis::RzApproximation approximation = synthesis::synthesize_rz(angle, epsilon);
  Sequence sequence{{}, approximation.phase, approximation.distance};
  sequence.gates.reserve(approximation.gates.size());
  for (const OpKind gate : approximation.gates) sequence.gates.push_back(run_elementary(gate));
  return sequence;
}

const RotationSynthesiser::Sequence& RotationSynthesiser::sequence(double magnitude,
                                                                   double& off) {
  // The nearest cached angles, below and above, while they stay within epsilon.
  const auto above = cache_.lower_bound(magnitude);
  for (auto it : {above, above == cache_.begin() ? cache_.end() : std::prev(above)}) {
    if (it == cache_.end()) continue;
    off = 2 * std::sin(std::abs(it->first - magnitude) / 4);
    if (it->second.distance + off <= epsilon_) return it->second;
  }
  off = 0;
  return cache_.emplace(magnitude, synthesised(magnitude, epsilon_)).first->second;
}

double RotationSynthesiser::append(const PlacedGate& rotation, std::vector<PlacedGate>& out) {
  check(is_rotation(rotation.gate) && std::isfinite(rotation.angle), "a rotation of finite angle");
  const std::uint32_t q = rotation.a;
  // rz(t) = rz(r) e^(-i k pi/4) S^k with t = r + k pi/2; the double r is off
  // from the exact one by the roundings of k pi/2 and of the difference.
  const double k = std::nearbyint(rotation.angle / (kPi / 2));
  const double r = rotation.angle - k * (kPi / 2);
  const double off = (std::abs(k) + 1) * 4 * std::numeric_limits<double>::epsilon();
  double reused = 0;  // how far a cached sequence's angle is, as a distance
  const Sequence& s = sequence(std::abs(r), reused);
  // Conjugated into an x or y rotation: rx = H rz H, ry = S H rz H S^-1.
  if (rotation.gate == Elementary::Ry) out.push_back({Elementary::Sdg, q, 0});
  if (rotation.gate != Elementary::Rz) out.push_back({Elementary::H, q, 0});
  append_quarter_turns(static_cast<long long>(std::fmod(k, 4.0)), q, out);
  if (r >= 0) {
    for (const Elementary gate : s.gates) out.push_back({gate, q, 0});
  } else {
    // rz(-|r|) is rz(|r|)^-1: the gates reversed and inverted, the phase negated.
    for (auto it = s.gates.rbegin(); it != s.gates.rend(); ++it) {
      out.push_back({elementary_info(*it).inverse, q, 0});
    }
  }
  if (rotation.gate != Elementary::Rz) out.push_back({Elementary::H, q, 0});
  if (rotation.gate == Elementary::Ry) out.push_back({Elementary::S, q, 0});
  error_ += s.distance + reused + off / 2;  // an angle off by d moves a rotation by d/2 at most
  return (r >= 0 ? s.phase : -s.phase) + std::fmod(k, 8.0) * (kPi / 4);
}

bool written_as_clifford_t(const Statement& st) {
  switch (st.library) {
    case QasmGate::h: case QasmGate::s: case QasmGate::sdg: case QasmGate::t:
    case QasmGate::tdg: case QasmGate::x: case QasmGate::y: case QasmGate::z:
    case QasmGate::cx: case QasmGate::cz:
      return true;
    default:
      return false;
  }
}

CliffordTResult write_clifford_t(const QasmProgram& program, double epsilon) {
  RotationSynthesiser synthesiser(epsilon);
  InstanceWalk walk(program, Sight::Rotations);
  CliffordTResult result;
  int eighths = 0;
  std::vector<PlacedGate> expansion, written;
  for (std::uint32_t s = 0; s < program.statements.size(); ++s) {
    const Statement& st = program.statements[s];
    if (st.kind != StatementKind::Gate || written_as_clifford_t(st)) continue;
    expansion.clear();
    const std::optional<Phase> phase = walk.gates_of(s, expansion);
    if (!phase) continue;  // opaque, conditioned or not finite: a boundary, kept
    eighths += phase->eighths;
    result.phase.radians += phase->radians;
    written.clear();
    for (const PlacedGate& g : expansion) {
      if (is_rotation(g.gate)) {
        // The statement holds the rotation, e^(-i p) times the gates for it.
        result.phase.radians -= synthesiser.append(g, written);
        ++result.rotations;
      } else if (g.gate == Elementary::Swap) {
        written.push_back({Elementary::CX, g.a, g.b});
        written.push_back({Elementary::CX, g.b, g.a});
        written.push_back({Elementary::CX, g.a, g.b});
      } else {
        written.push_back(g);
      }
    }
    result.edits.place(s, written);
  }
  result.phase.add_eighths(eighths);
  result.error = synthesiser.error();
  result.distinct = synthesiser.distinct();
  return result;
}

}  // namespace kestrel
