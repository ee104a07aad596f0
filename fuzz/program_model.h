// A model of whole programs, computed without the optimisers: the
// statistics as Qiskit counts them, and a state-vector simulation of
// programs of up to kModelQubits qubits. The fuzz targets of the
// whole-program methods check their results against both.
//
// The simulation gives every gate its matrix by definition, broadcast ones
// once per instance: the library's from the shared model
// (tests/model/matrices.h) with their parameters evaluated, a gate the
// program defines as the product of its body's matrices. A gate with no
// such matrix (opaque, or defined with a barrier in its body) stands for an
// unknown unitary: a pseudo-random one drawn from its statement's text and
// instance. A method keeps such a statement's text, so both sides apply the
// same matrix, and a method that moved anything across it would be caught
// as it would be on some real gate. A barrier is the identity; `if (c==n)`
// applies its gate when the bits of c read n. A run may replace statements
// by run gates or placed gates as a method's edits say; a program given as
// a gate list has no text, and its unknown gates are drawn from their
// places instead.
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

#include "src/circuit/circuit_stats.h"
#include "src/program/definitions.h"
#include "src/program/edits.h"
#include "src/program/expressions.h"
#include "src/program/program.h"
#include "tests/model/matrices.h"

namespace kestrel {

using model::Complex;
using Amplitudes = model::State;  // basis index: bit q is qubit q
using model::apply;

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

// A unitary of side 2^k drawn from `seed`: random columns made orthonormal.
inline model::Matrix random_unitary(std::size_t k, std::uint64_t seed) {
  Stream stream(seed);
  model::Matrix m{std::size_t{1} << k, {}};
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

// The matrices of gate applications by their definitions: library gates by
// the shared model, their parameters evaluated from the statement's text;
// gates the program defines as the products of their bodies. Nothing for
// what has no such matrix: an opaque gate, a body holding a barrier, a
// definition that would take more than kWork gate matrices to multiply out.
class GateMatrices {
 public:
  static constexpr std::size_t kWork = 20000;

  GateMatrices(std::string_view text, const QasmProgram& program) : text_(text), program_(program) {
    for (const Statement& st : program.statements) {
      const std::string_view body = text.substr(st.begin, st.end - st.begin);
      if (st.kind == StatementKind::Declaration &&
          (body.starts_with("gate ") || body.starts_with("opaque "))) {
        definitions_.compile(body, false);
      }
    }
  }

  std::optional<model::Matrix> of(const Statement& st) {
    if (text_.empty()) return model::library_matrix(st.library, {});
    Tokenizer tokens(text_.substr(st.begin, st.end - st.begin));
    tokens.advance();
    if (tokens.is_word("if")) {  // if (c == n): seven tokens to the gate's name
      for (int k = 0; k < 7; ++k) tokens.advance();
    }
    const std::string_view name = tokens.text();
    tokens.advance();
    std::vector<double> params;
    if (tokens.is(Tok::LParen)) {
      tokens.advance();
      while (!tokens.is(Tok::RParen)) {
        std::vector<ExprItem> items;
        if (!compile_expression(tokens, {}, items)) return std::nullopt;
        params.push_back(evaluate(items, {}, stack_));
        if (tokens.is(Tok::Comma)) tokens.advance();
      }
    }
    if (st.library != QasmGate::None) return model::library_matrix(st.library, params);
    const std::optional<std::uint32_t> k = definitions_.find(name);
    if (!k) return std::nullopt;
    work_ = 0;
    return defined(*k, params);
  }

 private:
  // The product of definition k's body with parameter values `params`.
  std::optional<model::Matrix> defined(std::uint32_t k, const std::vector<double>& params) {
    const CompiledGate& g = definitions_.gates[k];
    if (g.boundary) return std::nullopt;
    model::Matrix m = model::Matrix::identity(std::size_t{1} << g.qubits);
    for (std::uint32_t c = 0; c < g.calls; ++c) {
      if (++work_ > kWork) return std::nullopt;
      const BodyCall& call = definitions_.calls[g.first_call + c];
      const std::uint32_t callee_params =
          call.gate.defined ? definitions_.gates[call.gate.index].params
                            : library_info(static_cast<QasmGate>(call.gate.index)).params;
      const std::uint32_t callee_qubits =
          call.gate.defined ? definitions_.gates[call.gate.index].qubits
                            : library_info(static_cast<QasmGate>(call.gate.index)).qubits;
      std::vector<double> values;
      for (std::uint32_t p = 0; p < callee_params; ++p) {
        const ItemRange r = definitions_.params[call.first_param + p];
        values.push_back(evaluate(std::span(definitions_.items).subspan(r.begin, r.end - r.begin),
                                  params, stack_));
      }
      const std::optional<model::Matrix> callee =
          call.gate.defined ? defined(call.gate.index, values)
                            : model::library_matrix(static_cast<QasmGate>(call.gate.index), values);
      if (!callee) return std::nullopt;
      const std::span<const std::uint32_t> on(definitions_.qubits.data() + call.first_qubit, callee_qubits);
      m = model::times(model::on_operands(g.qubits, on, *callee), m);
    }
    return m;
  }

  std::string_view text_;
  const QasmProgram& program_;
  Definitions definitions_;
  std::vector<double> stack_;
  std::size_t work_ = 0;
};

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
    GateMatrices matrices(text_, program_);
    for (std::uint32_t s = 0; s < program_.statements.size(); ++s) {
      const Statement& st = program_.statements[s];
      if (const Edit* edit = cursor.at(s, st)) {
        const std::uint32_t q = operand_bit(program_, program_.operands[st.first_operand], 0);
        for (std::uint32_t k = 0; k < edit->count; ++k) {
          if (edit->kind == EditKind::Placed) {
            const PlacedGate g = cursor.placed(*edit, k);
            const std::array<std::uint32_t, 2> on = {g.a, g.b};
            apply(state, std::span(on.data(), elementary_info(g.gate).qubits),
                  model::elementary_matrix(g.gate));
          } else {
            apply(state, std::span(&q, 1), model::run_gate_matrix(cursor.gate(*edit, k)));
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
            apply(state, std::span(&q, 1), model::elementary_matrix(Elementary::X));
          }
          continue;
        }
        qubits.clear();
        for (Operand o : ops) qubits.push_back(operand_bit(program_, o, k));
        if (const std::optional<model::Matrix> m = matrices.of(st)) {
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
