// 2x2 products of the one-qubit gates, and the phase between two of them.
#include "src/circuit/global_phase.h"

#include <cmath>
#include <numbers>

#include "engine/fault.h"

namespace kestrel {
namespace {

using Complex = std::complex<double>;

// e^(i k pi/8).
Complex eighth(int k) { return std::polar(1.0, k * std::numbers::pi / 8); }

}  // namespace

void GateProduct::add(OpKind gate) {
  auto diagonal = [&](Complex a, Complex b) {
    m_[0] *= a;
    m_[1] *= a;
    m_[2] *= b;
    m_[3] *= b;
  };
  switch (gate) {
    case OpKind::I: return;
    case OpKind::H: {
      const double r = 1 / std::numbers::sqrt2;
      m_ = {r * (m_[0] + m_[2]), r * (m_[1] + m_[3]), r * (m_[0] - m_[2]), r * (m_[1] - m_[3])};
      return;
    }
    case OpKind::X: m_ = {m_[2], m_[3], m_[0], m_[1]}; return;
    case OpKind::Z: return diagonal(1.0, -1.0);
    case OpKind::S: return diagonal(1.0, Complex(0, 1));
    case OpKind::Sdg: return diagonal(1.0, Complex(0, -1));
    case OpKind::T: return diagonal(1.0, eighth(2));
    case OpKind::Tdg: return diagonal(1.0, eighth(-2));
    default: fault("a gate product takes one-qubit gates only: " + Op(gate).debug());
  }
}

std::uint8_t phase_between(const GateProduct& before, const GateProduct& after) {
  // The ratio of the largest entry of `after` (at least 1/sqrt(2) in size,
  // the matrix being unitary) to the same entry of `before`.
  int best = 0;
  for (int k = 1; k < 4; ++k) {
    if (std::abs(after.at(k / 2, k % 2)) > std::abs(after.at(best / 2, best % 2))) best = k;
  }
  const Complex ratio = before.at(best / 2, best % 2) / after.at(best / 2, best % 2);
  const long eighths = std::lround(std::arg(ratio) / (std::numbers::pi / 8));
  const int k = static_cast<int>(((eighths % 16) + 16) % 16);
  const Complex phase = eighth(k);
  for (int r = 0; r < 2; ++r) {
    for (int c = 0; c < 2; ++c) {
      if (std::abs(before.at(r, c) - phase * after.at(r, c)) > 1e-3) {
        fault("two gate sequences differ by more than a global phase");
      }
    }
  }
  return static_cast<std::uint8_t>(k);
}

}  // namespace kestrel
