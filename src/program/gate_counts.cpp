// The count of a gate application walks its bodies with a stack of frames,
// as the expansion does, and remembers what each body with its parameter
// values holds, so that a gate applied many times, or nested definitions
// that call one gate many times, are walked once. The walk's working class
// is private to this file.
#include "src/program/gate_counts.h"

#include <array>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "engine/fault.h"
#include "engine/hashing.h"
#include "src/program/expansion.h"
#include "src/program/tokenizer.h"

namespace kestrel {
namespace {

struct BytesHash {
  std::size_t operator()(const std::string& key) const noexcept { return hash_bytes(key); }
};

}  // namespace

class GateCounter::Walk {
 public:
  explicit Walk(const QasmProgram& program) : program_(program) {}

  GateCounts statement(std::uint32_t s);
  // Nothing once the work bound is passed.
  std::optional<GateCounts> gate(const Definitions* program, GateRef gate,
                                 std::span<const double> params);

 private:
  // A body being counted: its definitions, its gate there, the next of its
  // calls, where its parameter values start, and what its calls held so far.
  struct Frame {
    const Definitions* definitions;
    std::uint32_t gate;
    std::uint32_t next_call;
    std::uint32_t values_at;
    GateCounts sum;
  };

  bool enter(const Definitions* definitions, GateRef gate, std::uint32_t values_at,
             GateCounts& out);
  GateCounts leaf(QasmGate gate, std::span<const double> angles);
  std::string key(const Definitions* owner, std::uint32_t gate, std::uint32_t values_at,
                  std::uint32_t params) const;
  bool read_statement(const Statement& st, GateRef& gate);

  const QasmProgram& program_;
  bool compiled_ = false;      // whether `defined_` holds the program's gates
  Definitions defined_;        // the gates the program defines
  Expander leaves_{nullptr};   // library gates without a body, exactly
  std::vector<Frame> frames_;  // the bodies being counted, outermost first
  std::vector<double> values_;  // the frames' parameter values
  std::vector<double> stack_;   // expression evaluation
  std::vector<PlacedGate> gates_;  // a leaf's expansion
  HashMap<std::string, GateCounts, BytesHash> known_;  // body and values -> its counts
  std::uint64_t work_ = 0;     // body calls walked
  std::uint32_t last_ = std::numeric_limits<std::uint32_t>::max();  // the statement counted last
  GateCounts last_counts_;     // and its counts
  // Per library gate without parameters: what it holds, once counted.
  std::array<std::optional<GateCounts>, std::size_t{1} << (8 * sizeof(QasmGate))> plain_;
};

GateCounter::GateCounter(const QasmProgram& program) : walk_(std::make_unique<Walk>(program)) {}
GateCounter::~GateCounter() = default;

GateCounts GateCounter::statement(std::uint32_t s) { return walk_->statement(s); }

GateCounts GateCounter::gate(const Definitions* program, GateRef gate,
                             std::span<const double> params) {
  return walk_->gate(program, gate, params).value_or(GateCounts{});
}

GateCounts GateCounter::Walk::statement(std::uint32_t s) {
  if (s == last_) return last_counts_;  // the next instance of a broadcast statement
  const Statement& st = program_.statements[checked_index(program_.statements.size(), s)];
  // A library gate without parameters holds the same wherever it stands.
  const bool plain = st.library != QasmGate::None && library_info(st.library).params == 0;
  std::optional<GateCounts>& known = plain_[static_cast<std::size_t>(st.library)];
  if (plain && known) {
    last_ = s;
    last_counts_ = *known;
    return *known;
  }
  // Past the work bound, or where the gate cannot be read back: the gate
  // the statement names alone.
  GateCounts counts{is_t(st.gate) ? 1u : 0u, st.operand_count >= 2 ? 1u : 0u};
  GateRef gate{static_cast<std::uint32_t>(st.library), false};
  if (read_statement(st, gate)) {
    if (auto inside = this->gate(&defined_, gate, values_)) counts = *inside;
  }
  last_ = s;
  last_counts_ = counts;
  if (plain) known = counts;
  return counts;
}

// The gate statement `st` applies, in `gate`, and its parameter values, in
// `values_`; false for a program without text that needs them.
bool GateCounter::Walk::read_statement(const Statement& st, GateRef& gate) {
  values_.clear();
  const bool library = st.library != QasmGate::None;
  if (program_.text.empty()) return library && library_info(st.library).params == 0;
  if (!library && !compiled_) {
    compiled_ = true;
    for (const Statement& other : program_.statements) {
      if (other.kind != StatementKind::Declaration) continue;
      const std::string_view text = program_.text.substr(other.begin, other.end - other.begin);
      const bool gate_word = text.starts_with("gate") && text.size() > 4 && !is_word_char(text[4]);
      const bool opaque = text.starts_with("opaque") && text.size() > 6 && !is_word_char(text[6]);
      if (gate_word || opaque) defined_.compile(text, false);
    }
  }
  if (!library) {
    Tokenizer tokens(program_.text.substr(st.begin, st.end - st.begin));
    tokens.advance();
    if (tokens.is_word("if")) {  // if ( c == n ) gate ...
      while (!tokens.is(Tok::RParen) && !tokens.is(Tok::End)) tokens.advance();
      tokens.advance();
    }
    const std::optional<std::uint32_t> k = defined_.find(tokens.text());
    check(k.has_value(), "a statement applies a gate the program defines");
    gate = {*k, true};
  }
  // The values as the reader evaluated them.
  const std::uint32_t params =
      library ? library_info(st.library).params : defined_.gates[gate.index].params;
  check(st.first_value <= program_.values.size() &&
            params <= program_.values.size() - st.first_value,
        "a gate statement's parameter values were read with it");
  values_.assign(program_.values.begin() + st.first_value,
                 program_.values.begin() + st.first_value + params);
  return true;
}

std::optional<GateCounts> GateCounter::Walk::gate(const Definitions* program, GateRef gate,
                                                  std::span<const double> params) {
  if (params.data() != values_.data() || params.size() != values_.size()) {
    std::vector<double> values(params.begin(), params.end());  // `params` may lie in `values_`
    values_ = std::move(values);
  }
  frames_.clear();
  GateCounts result;
  if (!enter(program, gate, 0, result)) return result;
  while (!frames_.empty()) {
    if (work_ > kMaxCountedCalls) return std::nullopt;
    const Frame f = frames_.back();
    const CompiledGate& body = f.definitions->gates[f.gate];
    if (f.next_call == body.calls) {
      known_.emplace(key(f.definitions, f.gate, f.values_at, body.params), f.sum);
      values_.resize(f.values_at);
      frames_.pop_back();
      (frames_.empty() ? result : frames_.back().sum) += f.sum;
      continue;
    }
    ++frames_.back().next_call;
    ++work_;
    const BodyCall& call = f.definitions->calls[body.first_call + f.next_call];
    const auto values_at = static_cast<std::uint32_t>(values_.size());
    const std::uint32_t callee_params =
        call.gate.defined ? f.definitions->gates[call.gate.index].params
                          : library_info(static_cast<QasmGate>(call.gate.index)).params;
    for (std::uint32_t p = 0; p < callee_params; ++p) {
      const ItemRange range = f.definitions->params[call.first_param + p];
      values_.push_back(evaluate(
          std::span(f.definitions->items).subspan(range.begin, range.end - range.begin),
          std::span(values_).subspan(f.values_at, body.params), stack_));
    }
    GateCounts counted;
    if (!enter(f.definitions, call.gate, values_at, counted)) {
      frames_.back().sum += counted;
      values_.resize(values_at);
    }
  }
  return result;
}

// Starts gate `gate` (of `definitions` when defined there), its parameter
// values on the stack from `values_at`: a leaf, an opaque gate or a body
// counted before is added to `out` at once (false), any other body gets a
// frame (true).
bool GateCounter::Walk::enter(const Definitions* definitions, GateRef gate,
                              std::uint32_t values_at, GateCounts& out) {
  const Definitions* owner = definitions;
  std::uint32_t index = gate.index;
  if (!gate.defined) {
    const auto library = static_cast<QasmGate>(gate.index);
    const std::optional<std::uint32_t> body = library_body(library);
    if (!body) {
      out += leaf(library, std::span(values_).subspan(values_at));
      return false;
    }
    owner = &library_definitions();
    index = *body;
  }
  check(owner != nullptr, "a defined gate comes with the program's definitions");
  const CompiledGate& compiled = owner->gates[checked_index(owner->gates.size(), index)];
  if (compiled.boundary && compiled.calls == 0) {  // opaque: one gate, seen from outside
    out.two_qubit += compiled.qubits >= 2;
    return false;
  }
  const auto found = known_.find(key(owner, index, values_at, compiled.params));
  if (found != known_.end()) {
    out += found->second;
    return false;
  }
  frames_.push_back({owner, index, 0, values_at, {}});
  return true;
}

// A library gate without a body: elementary, or an angle gate counted as
// its exact expansion, or per angle where one is no multiple of pi/4.
GateCounts GateCounter::Walk::leaf(QasmGate gate, std::span<const double> angles) {
  GateCounts counts;
  gates_.clear();
  std::uint8_t phase = 0;
  if (leaves_.expand({static_cast<std::uint32_t>(gate), false}, angles, gates_, phase)) {
    for (const PlacedGate& g : gates_) {
      counts.t += elementary_info(g.gate).t;
      counts.two_qubit += elementary_info(g.gate).qubits == 2;
    }
    return counts;
  }
  for (std::uint32_t p = 0; p < library_info(gate).params && p < angles.size(); ++p) {
    const std::optional<std::uint8_t> k = quarter_turns(angles[p]);
    counts.t += k && *k % 2 == 1;
    counts.rotations += !k;
  }
  return counts;
}

// What `known_` files a body under: its definitions, its gate there and the
// bits of its parameter values.
std::string GateCounter::Walk::key(const Definitions* owner, std::uint32_t gate,
                                   std::uint32_t values_at, std::uint32_t params) const {
  std::string out(sizeof owner + sizeof gate + params * sizeof(double), '\0');
  char* at = out.data();
  std::memcpy(at, &owner, sizeof owner);
  std::memcpy(at + sizeof owner, &gate, sizeof gate);
  if (params > 0) {
    std::memcpy(at + sizeof owner + sizeof gate, values_.data() + values_at,
                params * sizeof(double));
  }
  return out;
}

}  // namespace kestrel
