// A model of whole programs, computed without the optimisers: the
// statistics as Qiskit counts them, and a state-vector simulation of
// programs of up to kModelQubits qubits. The fuzz targets of the
// whole-program methods check their results against both.
//
// The simulation gives the gates of the Clifford+T set their exact
// matrices (id, x, y, z, h, s, sdg, t, tdg, sx, sxdg, cx, CX, cy, cz, swap,
// ch, ccx, cswap), broadcast ones once per instance. Every other gate (one
// with parameters, one the program defines or declares opaque, the rest of
// qelib1) stands for an unknown unitary: a pseudo-random one drawn from its
// statement's text and instance. A method keeps such a statement's text, so
// both sides apply the same matrix, and a method that moved anything across
// it would be caught as it would be on some real gate. A barrier is the
// identity; `if (c==n)` applies its gate when the bits of c read n. A run
// may replace statements by run gates or placed gates as a method's edits
// say; a program given as a gate list has no text, and its unknown gates are
// drawn from their places instead.
//
// A measurement or a reset projects the state on one outcome, which a run
// picks (the likelier one, or the rarer one while it has any weight),
// records with its weight, and a second run over another program replays:
// both runs then follow the same branch and are scaled by the same factor,
// so the result of a method equals the input's up to one global phase on
// every branch. For `h q[0]; measure q[0] -> c[0]; if (c==1) x q[0];` from
// |0>, the likelier pick takes outcome 0 with weight 1/2 and ends in |0>.
#pragma once

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <numbers>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "src/circuit/stats.h"
#include "src/program/edits.h"
#include "src/program/program.h"

namespace kestrel {

using Complex = std::complex<double>;
using Amplitudes = std::vector<Complex>;  // basis index: bit q is qubit q

inline constexpr std::uint32_t kModelQubits = 6;

inline std::span<const Operand> operands_of(const QasmProgram& program, const Statement& st) {
  return std::span(program.operands).subspan(st.first_operand, st.operand_count);
}

// The qubits of a barrier: all it names, or every qubit when it names none.
inline std::vector<std::uint32_t> barrier_qubits(const QasmProgram& program, const Statement& st) {
  std::vector<std::uint32_t> qubits;
  for (Operand o : operands_of(program, st)) {
    const Register& r = program.registers[o.reg];
    if (o.index != kWholeRegister) {
      qubits.push_back(r.first + o.index);
    } else {
      for (std::uint32_t k = 0; k < r.size; ++k) qubits.push_back(r.first + k);
    }
  }
  if (st.operand_count == 0) {
    for (std::uint32_t q = 0; q < program.qubits; ++q) qubits.push_back(q);
  }
  return qubits;
}

// The statistics counted statement by statement: T and Tdg applications,
// gate applications (each instance, conditional ones too), and the depth,
// in which an operation takes one level on each of its qubits, its
// measurement's clbit and every bit of its condition's register, and a
// barrier aligns its qubits without a level of its own.
inline CircuitStats program_counts(const QasmProgram& program) {
  CircuitStats stats;
  std::vector<std::uint64_t> qubit_level(program.qubits), clbit_level(program.clbits);
  for (const Statement& st : program.statements) {
    if (st.kind == StatementKind::Declaration) continue;
    if (st.kind == StatementKind::Barrier) {
      const std::vector<std::uint32_t> qubits = barrier_qubits(program, st);
      std::uint64_t level = 0;
      for (std::uint32_t q : qubits) level = std::max(level, qubit_level[q]);
      for (std::uint32_t q : qubits) qubit_level[q] = level;
      continue;
    }
    const std::span<const Operand> ops = operands_of(program, st);
    const std::size_t quantum = st.kind == StatementKind::Measure ? ops.size() - 1 : ops.size();
    for (std::uint32_t k = 0, n = statement_instances(program, st); k < n; ++k) {
      std::uint64_t level = 0;
      for (std::size_t i = 0; i < quantum; ++i) {
        level = std::max(level, qubit_level[operand_bit(program, ops[i], k)]);
      }
      if (st.kind == StatementKind::Measure) {
        level = std::max(level, clbit_level[operand_bit(program, ops.back(), k)]);
      }
      const Register* condition =
          st.condition == kNoCondition ? nullptr : &program.registers[st.condition];
      if (condition != nullptr) {
        for (std::uint32_t b = 0; b < condition->size; ++b) {
          level = std::max(level, clbit_level[condition->first + b]);
        }
      }
      level += 1;
      for (std::size_t i = 0; i < quantum; ++i) qubit_level[operand_bit(program, ops[i], k)] = level;
      if (st.kind == StatementKind::Measure) clbit_level[operand_bit(program, ops.back(), k)] = level;
      if (condition != nullptr) {
        for (std::uint32_t b = 0; b < condition->size; ++b) clbit_level[condition->first + b] = level;
      }
      if (st.kind == StatementKind::Gate || st.kind == StatementKind::RunGate) {
        stats.gates += 1;
        stats.t += st.library == QasmGate::t || st.library == QasmGate::tdg;
      }
    }
  }
  for (std::uint64_t level : qubit_level) stats.depth = std::max(stats.depth, level);
  for (std::uint64_t level : clbit_level) stats.depth = std::max(stats.depth, level);
  return stats;
}

// A pseudo-random number stream (splitmix64).
class Stream {
 public:
  explicit Stream(std::uint64_t seed) : state_(seed) {}
  std::uint64_t next() {
    std::uint64_t z = (state_ += 0x9e3779b97f4a7c15u);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9u;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebu;
    return z ^ (z >> 31);
  }
  double uniform() { return static_cast<double>(next() >> 11) * 0x1.0p-52 - 1; }  // in [-1, 1)

 private:
  std::uint64_t state_;
};

inline std::uint64_t text_hash(std::string_view text) {
  std::uint64_t h = 0xcbf29ce484222325u;  // FNV-1a
  for (char c : text) h = (h ^ static_cast<unsigned char>(c)) * 0x100000001b3u;
  return h;
}

// A square matrix of side 2^k, row-major; operand m is bit m of an index.
struct GateMatrix {
  std::size_t side = 0;
  std::vector<Complex> entries;
  Complex& at(std::size_t row, std::size_t col) { return entries[row * side + col]; }
  Complex at(std::size_t row, std::size_t col) const { return entries[row * side + col]; }
};

// A unitary of side 2^k drawn from `seed`: random columns made orthonormal.
inline GateMatrix random_unitary(std::size_t k, std::uint64_t seed) {
  Stream stream(seed);
  GateMatrix m{std::size_t{1} << k, {}};
  m.entries.resize(m.side * m.side);
  for (std::size_t col = 0; col < m.side; ++col) {
    for (std::size_t row = 0; row < m.side; ++row) m.at(row, col) = {stream.uniform(), stream.uniform()};
    for (std::size_t prev = 0; prev < col; ++prev) {
      Complex dot = 0;
      for (std::size_t row = 0; row < m.side; ++row) dot += std::conj(m.at(row, prev)) * m.at(row, col);
      for (std::size_t row = 0; row < m.side; ++row) m.at(row, col) -= dot * m.at(row, prev);
    }
    double norm = 0;
    for (std::size_t row = 0; row < m.side; ++row) norm += std::norm(m.at(row, col));
    norm = std::sqrt(norm);
    for (std::size_t row = 0; row < m.side; ++row) m.at(row, col) /= norm;
  }
  return m;
}

// The one-qubit matrix of a gate of the Clifford+T set, row-major, or none.
inline std::optional<std::array<Complex, 4>> one_qubit_matrix(QasmGate gate) {
  const double r = 1 / std::sqrt(2.0);
  const Complex i(0, 1), t = std::polar(1.0, std::numbers::pi / 4);
  const Complex p = (1.0 + i) / 2.0, m = (1.0 - i) / 2.0;
  switch (gate) {
    case QasmGate::id: return std::array<Complex, 4>{1, 0, 0, 1};
    case QasmGate::x: return std::array<Complex, 4>{0, 1, 1, 0};
    case QasmGate::y: return std::array<Complex, 4>{0, -i, i, 0};
    case QasmGate::z: return std::array<Complex, 4>{1, 0, 0, -1};
    case QasmGate::h: return std::array<Complex, 4>{r, r, r, -r};
    case QasmGate::s: return std::array<Complex, 4>{1, 0, 0, i};
    case QasmGate::sdg: return std::array<Complex, 4>{1, 0, 0, -i};
    case QasmGate::t: return std::array<Complex, 4>{1, 0, 0, t};
    case QasmGate::tdg: return std::array<Complex, 4>{1, 0, 0, std::conj(t)};
    case QasmGate::sx: return std::array<Complex, 4>{p, m, m, p};
    case QasmGate::sxdg: return std::array<Complex, 4>{m, p, p, m};
    default: return std::nullopt;
  }
}

// The library gate of a run gate.
inline QasmGate run_gate(OpKind gate) {
  switch (gate) {
    case OpKind::H: return QasmGate::h;
    case OpKind::S: return QasmGate::s;
    case OpKind::Sdg: return QasmGate::sdg;
    case OpKind::T: return QasmGate::t;
    case OpKind::Tdg: return QasmGate::tdg;
    case OpKind::X: return QasmGate::x;
    case OpKind::Z: return QasmGate::z;
    default: return QasmGate::None;
  }
}

// The matrix of a gate of the Clifford+T set on its operands, or none: a
// controlled gate has its controls first (cx: control 0, target 1).
inline std::optional<GateMatrix> known_matrix(QasmGate gate) {
  // `u` on operand `target` when every operand before it is 1.
  const auto controlled = [](std::size_t target, std::array<Complex, 4> u) {
    GateMatrix m{std::size_t{1} << (target + 1), {}};
    m.entries.resize(m.side * m.side);
    const std::size_t controls = (std::size_t{1} << target) - 1;
    for (std::size_t col = 0; col < m.side; ++col) {
      if ((col & controls) != controls) {
        m.at(col, col) = 1;
        continue;
      }
      const std::size_t in = col >> target;  // the target's bit
      for (std::size_t out = 0; out < 2; ++out) m.at(controls | (out << target), col) = u[out * 2 + in];
    }
    return m;
  };
  const std::array<Complex, 4> x{0, 1, 1, 0};
  switch (gate) {
    case QasmGate::cx: case QasmGate::CX: return controlled(1, x);
    case QasmGate::cy: return controlled(1, *one_qubit_matrix(QasmGate::y));
    case QasmGate::cz: return controlled(1, *one_qubit_matrix(QasmGate::z));
    case QasmGate::ch: return controlled(1, *one_qubit_matrix(QasmGate::h));
    case QasmGate::ccx: return controlled(2, x);
    case QasmGate::swap: case QasmGate::cswap: {
      // Exchanges the last two operands (when the control, if any, is 1).
      const std::size_t k = gate == QasmGate::swap ? 2 : 3, a = k - 2, b = k - 1;
      GateMatrix m{std::size_t{1} << k, {}};
      m.entries.resize(m.side * m.side);
      for (std::size_t col = 0; col < m.side; ++col) {
        const bool on = gate == QasmGate::swap || (col & 1) != 0;
        const std::size_t bit_a = (col >> a) & 1, bit_b = (col >> b) & 1;
        const std::size_t row =
            on ? (col & ~((std::size_t{1} << a) | (std::size_t{1} << b))) | (bit_a << b) | (bit_b << a)
               : col;
        m.at(row, col) = 1;
      }
      return m;
    }
    default: break;
  }
  if (const auto u = one_qubit_matrix(gate)) return controlled(0, *u);
  return std::nullopt;
}

// Applies `m` to `qubits` of `state` (operand j of the matrix is qubits[j]).
inline void apply(Amplitudes& state, std::span<const std::uint32_t> qubits, const GateMatrix& m) {
  std::size_t mask = 0;
  std::vector<std::size_t> offset(m.side, 0);
  for (std::size_t j = 0; j < qubits.size(); ++j) mask |= std::size_t{1} << qubits[j];
  for (std::size_t index = 0; index < m.side; ++index) {
    for (std::size_t j = 0; j < qubits.size(); ++j) {
      if ((index >> j) & 1) offset[index] |= std::size_t{1} << qubits[j];
    }
  }
  std::vector<Complex> in(m.side);
  for (std::size_t base = 0; base < state.size(); ++base) {
    if ((base & mask) != 0) continue;
    for (std::size_t c = 0; c < m.side; ++c) in[c] = state[base + offset[c]];
    for (std::size_t r = 0; r < m.side; ++r) {
      Complex sum = 0;
      for (std::size_t c = 0; c < m.side; ++c) sum += m.at(r, c) * in[c];
      state[base + offset[r]] = sum;
    }
  }
}

// The n of `if (c==n)` at the start of `text`, or none past 64 bits.
inline std::optional<std::uint64_t> condition_value(std::string_view text) {
  std::size_t at = text.find("==");  // the register's name and '(' hold no '='
  const auto skip = [&] {
    while (at < text.size()) {
      if (text[at] == ' ' || text[at] == '\t' || text[at] == '\r' || text[at] == '\n') {
        ++at;
      } else if (text.substr(at, 2) == "//") {
        at = std::min(text.size(), text.find('\n', at));
      } else {
        break;
      }
    }
  };
  at += 2;
  skip();
  std::uint64_t value = 0;
  for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
    const std::uint64_t digit = static_cast<std::uint64_t>(text[at] - '0');
    if (value > (UINT64_MAX - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

// How a run picks the outcome of a measurement or reset.
enum class Pick { Likelier, Rarer };

// One outcome a run took, and the norm of its branch then.
struct Outcome {
  std::uint8_t bit;
  double norm;
};

// Whether `out` = `phase` times `in`, for states of norm 1.
inline bool same_states(const Amplitudes& in, const Amplitudes& out, Complex phase) {
  double distance = 0;
  for (std::size_t k = 0; k < in.size(); ++k) distance += std::norm(phase * in[k] - out[k]);
  return std::sqrt(distance) < 1e-7;
}

class ProgramModel {
 public:
  ProgramModel(std::string_view text, const QasmProgram& program) : text_(text), program_(program) {}

  // Whether the model covers the program: at most kModelQubits qubits, and
  // conditions on values of at most 64 bits.
  bool covered() const {
    if (program_.qubits > kModelQubits) return false;
    for (const Statement& st : program_.statements) {
      if (st.condition != kNoCondition && !condition_value(statement_text(st))) return false;
    }
    return true;
  }

  // Runs the program on `state`. With `replay` false, picks each outcome as
  // `pick` says and appends it to `outcomes`; with `replay` true, takes the
  // outcomes from there in order. Nothing when a replay runs out of
  // outcomes or leaves some over: the programs measure differently.
  // With `edits`, each statement they name is replaced by its run gates.
  std::optional<Amplitudes> run(Amplitudes state, Pick pick, std::vector<Outcome>& outcomes,
                                bool replay, const Edits* edits = nullptr) const {
    std::vector<std::uint8_t> clbits(program_.clbits, 0);
    std::size_t next = 0;
    std::vector<std::uint32_t> qubits;
    const Edits none;
    EditCursor cursor(edits != nullptr ? *edits : none, program_.qubits);
    for (std::uint32_t s = 0; s < program_.statements.size(); ++s) {
      const Statement& st = program_.statements[s];
      if (const Edit* edit = cursor.at(s, st)) {
        const std::uint32_t q = operand_bit(program_, program_.operands[st.first_operand], 0);
        for (std::uint32_t k = 0; k < edit->count; ++k) {
          if (edit->kind == EditKind::Placed) {
            const PlacedGate g = cursor.placed(*edit, k);
            const std::array<std::uint32_t, 2> on = {g.a, g.b};
            apply(state, std::span(on.data(), elementary_info(g.gate).qubits),
                  *known_matrix(library_gate(g.gate)));
          } else {
            apply(state, std::span(&q, 1), *known_matrix(run_gate(cursor.gate(*edit, k))));
          }
        }
        continue;
      }
      if (st.kind == StatementKind::Declaration || st.kind == StatementKind::Barrier) continue;
      if (st.condition != kNoCondition && !holds(st, clbits)) continue;
      const std::span<const Operand> ops = operands_of(program_, st);
      for (std::uint32_t k = 0, n = statement_instances(program_, st); k < n; ++k) {
        if (st.kind == StatementKind::Measure || st.kind == StatementKind::Reset) {
          const std::uint32_t q = operand_bit(program_, ops[0], k);
          if (replay && next == outcomes.size()) return std::nullopt;
          const Outcome o = replay ? outcomes[next++] : choose(state, q, pick);
          if (!replay) outcomes.push_back(o);
          project(state, q, o);
          if (st.kind == StatementKind::Measure) {
            clbits[operand_bit(program_, ops[1], k)] = o.bit;
          } else if (o.bit == 1) {
            apply(state, std::span(&q, 1), *known_matrix(QasmGate::x));
          }
          continue;
        }
        qubits.clear();
        for (Operand o : ops) qubits.push_back(operand_bit(program_, o, k));
        if (const std::optional<GateMatrix> m = known_matrix(st.library)) {
          apply(state, qubits, *m);
        } else {
          // A program without text (a gate list) keeps its statements' places.
          const std::uint64_t seed = (text_.empty() ? s : text_hash(statement_text(st))) ^
                                     (k * 0x9e3779b97f4a7c15u);
          apply(state, qubits, random_unitary(qubits.size(), seed));
        }
      }
    }
    cursor.finish();
    if (replay && next != outcomes.size()) return std::nullopt;
    return state;
  }

  // A pseudo-random state of the program's qubits, of norm 1.
  Amplitudes random_state(std::uint64_t seed) const {
    Stream stream(seed);
    Amplitudes state(std::size_t{1} << program_.qubits);
    double norm = 0;
    for (Complex& a : state) {
      a = {stream.uniform(), stream.uniform()};
      norm += std::norm(a);
    }
    for (Complex& a : state) a /= std::sqrt(norm);
    return state;
  }

 private:
  std::string_view statement_text(const Statement& st) const {
    return text_.substr(st.begin, st.end - st.begin);
  }

  bool holds(const Statement& st, const std::vector<std::uint8_t>& clbits) const {
    const Register& r = program_.registers[st.condition];
    const std::uint64_t value = *condition_value(statement_text(st));
    for (std::uint32_t b = 0; b < r.size; ++b) {
      const std::uint64_t want = b < 64 ? (value >> b) & 1 : 0;
      if (clbits[r.first + b] != want) return false;
    }
    return r.size >= 64 || (value >> r.size) == 0;
  }

  static Outcome choose(const Amplitudes& state, std::uint32_t q, Pick pick) {
    double one = 0, all = 0;
    for (std::size_t index = 0; index < state.size(); ++index) {
      all += std::norm(state[index]);
      if ((index >> q) & 1) one += std::norm(state[index]);
    }
    const double zero = all - one;
    std::uint8_t bit = one > zero;
    if (pick == Pick::Rarer && std::min(one, zero) > 1e-6 * all) bit = !bit;
    return {bit, std::sqrt(bit ? one : zero)};
  }

  static void project(Amplitudes& state, std::uint32_t q, Outcome o) {
    for (std::size_t index = 0; index < state.size(); ++index) {
      state[index] = ((index >> q) & 1) == o.bit ? state[index] / o.norm : Complex(0);
    }
  }

  std::string_view text_;
  const QasmProgram& program_;
};

}  // namespace kestrel
