// The per-qubit pass reads the statements once, in order. Each qubit collects
// its pending run as a string of gate codes; a statement that names the
// qubit otherwise ends the run, which is then looked up among the runs
// already optimised in this call (real programs repeat their runs) and
// optimised only when new. The depth is counted as it goes, per bit, before
// and after. A second pass writes the text. The working class is private to
// this file.
#include "src/per_qubit/per_qubit.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <limits>

#include "engine/fault.h"
#include "engine/hashing.h"

namespace kestrel {
namespace {

constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();

struct TextHash {
  using is_avalanching = void;  // hash_bytes mixes its result
  std::size_t operator()(std::string_view text) const noexcept { return hash_bytes(text); }
};

bool is_run_gate(OpKind gate) {
  switch (gate) {
    case OpKind::H:
    case OpKind::S:
    case OpKind::Sdg:
    case OpKind::T:
    case OpKind::Tdg:
    case OpKind::X:
    case OpKind::Z: return true;
    default: return false;
  }
}

bool is_t(OpKind gate) { return gate == OpKind::T || gate == OpKind::Tdg; }

std::string_view gate_name(OpKind gate) {
  switch (gate) {
    case OpKind::H: return "h";
    case OpKind::S: return "s";
    case OpKind::Sdg: return "sdg";
    case OpKind::T: return "t";
    case OpKind::Tdg: return "tdg";
    case OpKind::X: return "x";
    case OpKind::Z: return "z";
    default: break;
  }
  fault("internal error: entered unreachable code");
}

// A distinct run's optimised gates.
struct RunResult {
  std::string gates;  // one OpKind code per gate, first to last
  std::uint64_t t;    // its T and T-dagger gates
};

class PerQubit {
 public:
  PerQubit(std::string_view text, const QasmProgram& program, const RunOptimizer& optimize)
      : text_(text), program_(program), optimize_(optimize) {}
  PerQubit(const PerQubit&) = delete;
  PerQubit& operator=(const PerQubit&) = delete;

  PerQubitResult run();

 private:
  struct Wire {
    std::string run;           // the pending run's gate codes
    std::uint32_t last = 0;    // the statement of its last gate
  };

  void measure();
  void instance(const Statement& st, std::uint32_t i);
  void barrier(const Statement& st);
  void boundary(bool adds_level);
  void begin_condition(const Statement& st);
  void end_condition();
  void end_run(std::uint32_t qubit);
  std::uint32_t bit(const Operand& op, std::uint32_t i) const;
  std::string write() const;

  std::string_view text_;                 // the program's text
  const QasmProgram& program_;                // its statements, read from `text_`
  const RunOptimizer& optimize_;          // the method
  std::vector<Wire> wires_;               // per qubit
  std::vector<std::uint64_t> before_;     // per qubit, then per clbit: its depth before
  std::vector<std::uint64_t> after_;      // the same after
  std::vector<std::uint32_t> placed_;     // per statement: the result written there, or kNone
  HashMap<std::string, std::uint32_t, TextHash> known_;  // run codes -> position in results_
  std::vector<RunResult> results_;        // the distinct runs' results
  std::vector<std::uint32_t> touched_;    // the bits of the operation at hand
  struct Condition {
    std::uint32_t first = 0;                // the condition register's bits: [first, end)
    std::uint32_t end = 0;                  // equal to `first` when there is none
    std::array<std::uint64_t, 2> level{};   // where they all stand, before and after
  } condition_;                             // of the conditional statement at hand
  CircuitStats stats_before_;             // counted as the statements are read
  CircuitStats stats_after_;              // likewise
};

std::uint32_t PerQubit::bit(const Operand& op, std::uint32_t i) const {
  const Register& reg = program_.registers[checked_index(program_.registers.size(), op.reg)];
  const std::uint32_t index = op.index == kWholeRegister ? i : op.index;
  return (reg.quantum ? 0 : program_.qubits) + reg.first + index;
}

PerQubitResult PerQubit::run() {
  const std::size_t bits = std::size_t{program_.qubits} + program_.clbits;
  wires_.resize(program_.qubits);
  before_.assign(bits, 0);
  after_.assign(bits, 0);
  placed_.assign(program_.statements.size(), kNone);

  const auto& statements = program_.statements;
  for (std::uint32_t s = 0; s < statements.size(); ++s) {
    const Statement& st = statements[s];
    if (st.kind == StatementKind::RunGate) {
      const std::uint32_t q = bit(program_.operands[st.first_operand], 0);
      Wire& wire = wires_[checked_index(wires_.size(), q)];
      wire.run.push_back(static_cast<char>(st.gate));
      wire.last = s;
      before_[q] += 1;
      stats_before_.gates += 1;
      stats_before_.t += is_t(st.gate);
      continue;
    }
    switch (st.kind) {
      case StatementKind::RunGate:
      case StatementKind::Declaration: break;
      case StatementKind::Barrier: barrier(st); break;
      case StatementKind::Gate:
      case StatementKind::Measure:
      case StatementKind::Reset: {
        // Every whole-register operand has the same size (the reader checked).
        std::uint32_t instances = 1;
        for (std::uint32_t k = 0; k < st.operand_count; ++k) {
          const Operand& op = program_.operands[st.first_operand + k];
          if (op.index == kWholeRegister) instances = program_.registers[op.reg].size;
        }
        begin_condition(st);
        for (std::uint32_t i = 0; i < instances; ++i) instance(st, i);
        end_condition();
        break;
      }
    }
  }
  for (std::uint32_t q = 0; q < program_.qubits; ++q) end_run(q);

  const auto deepest = [](const std::vector<std::uint64_t>& levels) {
    return levels.empty() ? 0 : *std::max_element(levels.begin(), levels.end());
  };
  stats_before_.depth = deepest(before_);
  stats_after_.depth = deepest(after_);
  return {write(), stats_before_, stats_after_};
}

// One broadcast instance `i` of a gate, measurement or reset.
void PerQubit::instance(const Statement& st, std::uint32_t i) {
  touched_.clear();
  for (std::uint32_t k = 0; k < st.operand_count; ++k) {
    touched_.push_back(bit(program_.operands[st.first_operand + k], i));
  }
  boundary(true);
  if (st.kind == StatementKind::Gate) {
    for (CircuitStats* stats : {&stats_before_, &stats_after_}) {
      stats->gates += 1;
      stats->t += is_t(st.gate);
    }
  }
}

// A barrier over its operands (the reader gives `barrier;` every quantum
// register declared before it).
void PerQubit::barrier(const Statement& st) {
  touched_.clear();
  for (std::uint32_t k = 0; k < st.operand_count; ++k) {
    const Operand& op = program_.operands[st.first_operand + k];
    const std::uint32_t count = op.index == kWholeRegister ? program_.registers[op.reg].size : 1;
    for (std::uint32_t i = 0; i < count; ++i) touched_.push_back(bit(op, i));
  }
  boundary(false);
}

// An `if (c==n)` takes every bit of c in each broadcast instance, so between
// instances all of them stand at one level: that level is kept as one
// number per side while the instances go, and written to the bits at the
// end. An instance then costs its operands, not the register's size.
void PerQubit::begin_condition(const Statement& st) {
  condition_ = {};
  if (st.condition == kNoCondition) return;
  const Register& reg = program_.registers[checked_index(program_.registers.size(), st.condition)];
  if (reg.size == 0) return;
  condition_.first = program_.qubits + reg.first;
  condition_.end = condition_.first + reg.size;
  for (std::size_t side = 0; side < 2; ++side) {
    const std::vector<std::uint64_t>& levels = side == 0 ? before_ : after_;
    condition_.level[side] = *std::max_element(levels.begin() + condition_.first,
                                               levels.begin() + condition_.end);
  }
}

void PerQubit::end_condition() {
  if (condition_.first == condition_.end) return;
  std::fill(before_.begin() + condition_.first, before_.begin() + condition_.end,
            condition_.level[0]);
  std::fill(after_.begin() + condition_.first, after_.begin() + condition_.end,
            condition_.level[1]);
  condition_ = {};
}

// Ends the runs of the touched qubits, then moves every touched bit (and the
// condition's register) to one level past the deepest of them (to the
// deepest, for a barrier).
void PerQubit::boundary(bool adds_level) {
  for (std::uint32_t b : touched_) {
    if (b < program_.qubits) end_run(b);
  }
  const bool conditioned = condition_.first != condition_.end;
  const auto in_condition = [&](std::uint32_t b) {
    return b >= condition_.first && b < condition_.end;
  };
  for (std::size_t side = 0; side < 2; ++side) {
    std::vector<std::uint64_t>& levels = side == 0 ? before_ : after_;
    std::uint64_t level = conditioned ? condition_.level[side] : 0;
    for (std::uint32_t b : touched_) {
      if (!in_condition(b)) level = std::max(level, levels[checked_index(levels.size(), b)]);
    }
    level += adds_level;
    for (std::uint32_t b : touched_) levels[b] = level;
    if (conditioned) condition_.level[side] = level;
  }
}

// Optimises qubit `q`'s pending run, once per distinct run, and places the
// result at the run's last gate.
void PerQubit::end_run(std::uint32_t q) {
  Wire& wire = wires_[q];
  if (wire.run.empty()) return;
  auto it = known_.find(wire.run);
  if (it == known_.end()) {
    std::vector<Op> gates;
    gates.reserve(wire.run.size());
    for (char code : wire.run) gates.push_back(Op(static_cast<OpKind>(code)));
    const std::vector<Op> best = optimize_(gates);
    RunResult result{{}, 0};
    result.gates.reserve(best.size());
    for (Op gate : best) {
      if (!is_run_gate(gate.op())) {
        fault("a run's result holds a gate other than h, s, sdg, t, tdg, x and z: " + gate.debug());
      }
      result.gates.push_back(static_cast<char>(gate.op()));
      result.t += is_t(gate.op());
    }
    it = known_.emplace(wire.run, static_cast<std::uint32_t>(results_.size())).first;
    results_.push_back(std::move(result));
  }
  const RunResult& result = results_[it->second];
  placed_[wire.last] = it->second;
  after_[q] += result.gates.size();
  stats_after_.gates += result.gates.size();
  stats_after_.t += result.t;
  wire.run.clear();
}

// Where a removed or replaced statement sits on its line: `line_start` and
// `line_end` bound its whole line (line end included) when nothing but
// blanks shares the line with it, else both are kNone.
struct Line {
  std::size_t start = kNone;  // the offset after the previous line end
  std::size_t end = kNone;    // the offset after its own line end
};

Line own_line(std::string_view text, const Statement& st) {
  std::size_t start = st.begin;
  while (start > 0 && (text[start - 1] == ' ' || text[start - 1] == '\t')) --start;
  if (start > 0 && text[start - 1] != '\n') return {};
  std::size_t end = st.end;
  while (end < text.size() && (text[end] == ' ' || text[end] == '\t' || text[end] == '\r')) ++end;
  if (end < text.size() && text[end] != '\n') return {};
  return {start, end < text.size() ? end + 1 : end};
}

std::string PerQubit::write() const {
  const std::size_t first_line_end = text_.find('\n');
  const std::string_view newline = first_line_end != std::string_view::npos &&
                                           first_line_end > 0 && text_[first_line_end - 1] == '\r'
                                       ? "\r\n"
                                       : "\n";
  // Written through a cursor into a buffer sized ahead: pieces are a few
  // bytes each, and a million appends with their checks would cost more
  // than the copying itself.
  std::string out(text_.size() + 64, '\0');
  std::size_t used = 0;
  const auto room = [&](std::size_t n) {
    if (used + n > out.size()) out.resize(std::max(2 * out.size(), used + n));
    return out.data() + used;
  };
  const auto copy = [&](std::string_view piece) {
    if (piece.empty()) return;  // an empty view may have no data pointer
    std::memcpy(room(piece.size()), piece.data(), piece.size());
    used += piece.size();
  };
  std::string operand;      // " q[3];" for the run at hand
  std::size_t copied = 0;   // the text before this offset is written or dropped
  const auto& statements = program_.statements;
  for (std::uint32_t s = 0; s < statements.size(); ++s) {
    const Statement& st = statements[s];
    if (st.kind != StatementKind::RunGate) continue;
    const Line line = own_line(text_, st);
    const RunResult* result = placed_[s] == kNone ? nullptr : &results_[placed_[s]];
    if (result == nullptr || result->gates.empty()) {
      const bool whole_line = line.start != kNone;
      copy(text_.substr(copied, (whole_line ? line.start : st.begin) - copied));
      copied = whole_line ? line.end : st.end;
      continue;
    }
    copy(text_.substr(copied, st.begin - copied));
    copied = st.end;
    const Operand& op = program_.operands[st.first_operand];
    char digits[16];  // the index in decimal; an index has at most 7 digits
    const auto digits_end = std::to_chars(digits, digits + sizeof digits, op.index).ptr;
    operand.assign(" ");
    operand += program_.registers[op.reg].name;
    operand += '[';
    operand.append(digits, digits_end);
    operand += "];";
    const std::string_view indent =
        line.start == kNone ? std::string_view() : text_.substr(line.start, st.begin - line.start);
    for (std::size_t k = 0; k < result->gates.size(); ++k) {
      if (k > 0) {
        copy(newline);
        copy(indent);
      }
      const std::string_view name = gate_name(static_cast<OpKind>(result->gates[k]));
      char* at = room(name.size() + operand.size());
      for (char c : name) *at++ = c;
      std::memcpy(at, operand.data(), operand.size());
      used += name.size() + operand.size();
    }
  }
  copy(text_.substr(copied));
  out.resize(used);
  return out;
}

}  // namespace

PerQubitResult optimize_per_qubit(std::string_view text, const QasmProgram& program,
                                  const RunOptimizer& optimize) {
  return PerQubit(text, program, optimize).run();
}

}  // namespace kestrel
