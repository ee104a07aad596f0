// Exact one-qubit synthesis: the reduction by H·T^j and the normal form.
#include "src/synthesis/exact_synthesis.h"

#include <utility>

#include "engine/fault.h"
#include "src/normal_form/normal_form.h"

namespace kestrel::synthesis {

ExactMatrix ExactMatrix::reduced() const {
  ExactMatrix out = *this;
  while (out.k > 0) {
    for (const ZOmega& x : out.e) {
      if (!x.divisible_by_root2()) return out;
    }
    for (ZOmega& x : out.e) x = x.divide_by_root2();
    --out.k;
  }
  // A negative power (entries over √2^-1) only comes from gate products that
  // cannot occur; k stays at 0 or above for unitary inputs.
  return out;
}

ExactMatrix operator*(const ExactMatrix& a, const ExactMatrix& b) {
  ExactMatrix out;
  out.e[0] = a.e[0] * b.e[0] + a.e[1] * b.e[2];
  out.e[1] = a.e[0] * b.e[1] + a.e[1] * b.e[3];
  out.e[2] = a.e[2] * b.e[0] + a.e[3] * b.e[2];
  out.e[3] = a.e[2] * b.e[1] + a.e[3] * b.e[3];
  out.k = a.k + b.k;
  return out.reduced();
}

ExactMatrix identity_matrix() {
  return {{ZOmega::omega_power(0), ZOmega{}, ZOmega{}, ZOmega::omega_power(0)}, 0};
}

namespace {

ExactMatrix diagonal(int power) {
  return {{ZOmega::omega_power(0), ZOmega{}, ZOmega{}, ZOmega::omega_power(power)}, 0};
}

// Appends T^m (m taken modulo 8) as T gates; the normal form tidies them.
void append_t_power(int m, std::vector<OpKind>& gates) {
  for (int i = 0; i < ((m % 8) + 8) % 8; ++i) gates.push_back(OpKind::T);
}

}  // namespace

ExactMatrix gate_matrix(OpKind gate) {
  const ZOmega one = ZOmega::omega_power(0);
  switch (gate) {
    case OpKind::H:
      return {{one, one, one, -one}, 1};
    case OpKind::S:
      return diagonal(2);
    case OpKind::Sdg:
      return diagonal(6);
    case OpKind::T:
      return diagonal(1);
    case OpKind::Tdg:
      return diagonal(7);
    case OpKind::X:
      return {{ZOmega{}, one, one, ZOmega{}}, 0};
    case OpKind::Z:
      return diagonal(4);
    default:
      fault("internal error: exact synthesis reads h, s, sdg, t, tdg, x and z only");
  }
}

namespace {

// x·ω^m: a rotation of the coordinates (ω·(a, b, c, d) = (-d, a, b, c)).
ZOmega times_omega_power(const ZOmega& x, int m) {
  ZOmega out = x;
  for (int i = 0; i < ((m % 8) + 8) % 8; ++i) out = {{-out.c[3], out.c[0], out.c[1], out.c[2]}};
  return out;
}

// H·T^j·m, reduced: additions and rotations only.
ExactMatrix h_t_step(const ExactMatrix& m, int j) {
  const ZOmega w2 = times_omega_power(m.e[2], j), w3 = times_omega_power(m.e[3], j);
  ExactMatrix out{{m.e[0] + w2, m.e[1] + w3, m.e[0] - w2, m.e[1] - w3}, m.k + 1};
  return out.reduced();
}

}  // namespace

ExactMatrix circuit_matrix(std::span<const OpKind> gates) {
  ExactMatrix out = identity_matrix();
  for (OpKind gate : gates) {
    switch (gate) {
      case OpKind::H:
        out = h_t_step(out, 0);
        break;
      case OpKind::X:
        std::swap(out.e[0], out.e[2]);
        std::swap(out.e[1], out.e[3]);
        break;
      default: {  // a diagonal gate diag(1, ω^p) turns the second row
        const int p = gate == OpKind::T     ? 1
                      : gate == OpKind::S   ? 2
                      : gate == OpKind::Z   ? 4
                      : gate == OpKind::Sdg ? 6
                      : gate == OpKind::Tdg ? 7
                                            : (fault("internal error: exact synthesis reads h, s, sdg, t, tdg, x and z only"), 0);
        out.e[2] = times_omega_power(out.e[2], p);
        out.e[3] = times_omega_power(out.e[3], p);
      }
    }
  }
  return out;
}

bool equal_up_to_phase(const ExactMatrix& a, const ExactMatrix& b) {
  const ExactMatrix ra = a.reduced(), rb = b.reduced();
  if (ra.k != rb.k) return false;
  for (int m = 0; m < 8; ++m) {
    const ZOmega phase = ZOmega::omega_power(m);
    bool same = true;
    for (int j = 0; j < 4 && same; ++j) same = ra.e[j] == phase * rb.e[j];
    if (same) return true;
  }
  return false;
}

std::vector<OpKind> synthesize_exact(const ExactMatrix& u) {
  ExactMatrix rest = u.reduced();
  std::vector<int> steps;  // the j of each H·T^j applied, in turn
  while (rest.k > 0) {
    // One step H·T^j lowers k when k is large; near the end it may take up
    // to kMaxSteps, tried shortest first (each step is additions only).
    constexpr int kMaxSteps = 4;
    bool lowered = false;
    // The step with T^j lowers k only if (0,0) + ω^j·(1,0) has even
    // coordinates: compare parities (a rotation by ω shifts them cyclically).
    auto parity = [](const ZOmega& x) {
      unsigned bits = 0;
      for (int c = 0; c < 4; ++c) bits |= static_cast<unsigned>(x.c[c] & 1) << c;
      return bits;
    };
    const unsigned p0 = parity(rest.e[0]);
    unsigned p2 = parity(rest.e[2]);
    for (int j = 0; j < 4 && !lowered; ++j, p2 = ((p2 << 1) | (p2 >> 3)) & 15) {
      if (p0 != p2) continue;
      ExactMatrix next = h_t_step(rest, j);
      if (next.k < rest.k) {
        rest = std::move(next);
        steps.push_back(j);
        lowered = true;
      }
    }
    for (int depth = 2; depth <= kMaxSteps && !lowered; ++depth) {
      for (int code = 0; code < (1 << (2 * depth)) && !lowered; ++code) {
        ExactMatrix next = rest;
        for (int s = 0; s < depth; ++s) next = h_t_step(next, (code >> (2 * s)) & 3);
        if (next.k < rest.k) {
          rest = std::move(next);
          for (int s = 0; s < depth; ++s) steps.push_back((code >> (2 * s)) & 3);
          lowered = true;
        }
      }
    }
    check(lowered, "a unitary over Z[1/sqrt2, i] has steps H T^j that lower its denominator");
  }
  // rest is ω^a·T^(b-a) or X·ω^b·T^(a-b), with entries ±ω powers.
  std::vector<OpKind> gates;
  auto power_of = [](const ZOmega& x) {
    for (int m = 0; m < 8; ++m) {
      if (x == ZOmega::omega_power(m)) return m;
    }
    fault("internal error: a unitary over Z[omega] has entries that are powers of omega");
  };
  if (rest.e[1].is_zero() && rest.e[2].is_zero()) {
    append_t_power(power_of(rest.e[3]) - power_of(rest.e[0]), gates);
  } else {
    check(rest.e[0].is_zero() && rest.e[3].is_zero(), "a unitary over Z[omega] is monomial");
    append_t_power(power_of(rest.e[1]) - power_of(rest.e[2]), gates);
    gates.push_back(OpKind::X);
  }
  // u = T^-j1 H T^-j2 H ... T^-jn H rest: after rest's gates come H, T^-jn, ..., H, T^-j1.
  for (auto j = steps.rbegin(); j != steps.rend(); ++j) {
    gates.push_back(OpKind::H);
    append_t_power(-*j, gates);
  }
  NormalFormWire wire;
  for (OpKind gate : gates) wire.add(gate);
  std::vector<OpKind> out;
  wire.write(out);
  return out;
}

}  // namespace kestrel::synthesis
