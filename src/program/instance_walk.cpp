// The walk's expansions: the words of gate statements, found once per
// library gate or definition without parameters and once per statement for
// the rest, with the parameter values the reader kept.
#include "src/program/instance_walk.h"

#include "src/program/definitions.h"
#include "src/program/expansion.h"
#include "src/program/tokenizer.h"

namespace kestrel {

class InstanceWalk::Expansions {
 public:
  Expansions(const QasmProgram& program, bool rotations, bool exact)
      : program_(program), expander_(&defined_, rotations, exact) {}

  // `limited`: whether the work on statements with parameters is bounded.
  std::optional<Word> word(std::uint32_t s, bool limited);

 private:
  // A word found for a gate without parameters.
  struct Found {
    std::uint32_t first = 0;  // its gates in `stored_`
    std::uint32_t size = 0;
    Phase phase;
    bool known = false;       // found yet
    bool exact = false;       // Clifford+T: a word, not a boundary
  };

  void compile_definitions();
  std::string_view statement_text(const Statement& st) const {
    return program_.text.substr(st.begin, st.end - st.begin);
  }
  std::span<const double> parameters(const Statement& st, std::uint32_t count) const;
  std::optional<Word> accept(std::span<const PlacedGate> gates, Phase phase) const;

  const QasmProgram& program_;
  bool compiled_ = false;                  // whether `defined_` holds the program's gates
  Definitions defined_;                    // the gates the program defines
  Expander expander_;
  std::array<Found, 256> library_{};       // per parameterless library gate
  std::vector<Found> definitions_;         // per parameterless definition
  std::vector<PlacedGate> stored_;         // the found words' gates
  std::vector<PlacedGate> scratch_;        // the word of a statement with parameters
  std::uint64_t work_ = 0;                 // gates expanded for statements with parameters
};

InstanceWalk::InstanceWalk(const QasmProgram& program, Sight sight)
    : program_(program), sight_(sight) {}

InstanceWalk::~InstanceWalk() = default;

std::optional<InstanceWalk::Word> InstanceWalk::word(std::uint32_t s, bool limited) {
  if (!expansions_) {
    expansions_ = std::make_unique<Expansions>(program_, sight_ == Sight::Rotations,
                                               sight_ == Sight::CliffordTExact);
  }
  return expansions_->word(s, limited);
}

bool InstanceWalk::within_budget(std::uint64_t instances, std::size_t size) {
  if (size <= 1) return true;
  const std::uint64_t gates = instances * size;
  if (gates > budget_) return false;
  budget_ -= gates;
  return true;
}

std::optional<Phase> InstanceWalk::gates_of(std::uint32_t s, std::vector<PlacedGate>& out) {
  const Statement& st = program_.statements[checked_index(program_.statements.size(), s)];
  if (st.kind == StatementKind::RunGate) {
    const Operand& op = program_.operands[st.first_operand];
    out.push_back({run_elementary(st.gate), operand_bit(program_, op, 0), 0});
    return Phase{};
  }
  if (st.kind != StatementKind::Gate || sight_ == Sight::RunGates ||
      st.condition != kNoCondition) {
    return std::nullopt;
  }
  // A statement seen through in `run` is seen through here, whatever work
  // was done since.
  const std::optional<Word> w = word(s, false);
  if (!w) return std::nullopt;
  struct Collect : InstanceVisitor {
    std::vector<PlacedGate>* out;
    Phase whole;
    void gate(PlacedGate g, std::uint32_t, std::uint32_t) { out->push_back(g); }
    void phase(std::uint32_t, std::uint8_t e) { whole.eighths = e; }
    void radians(std::uint32_t, double r) { whole.radians = r; }
  } visitor;
  visitor.out = &out;
  gates(s, st, *w, visitor);
  return visitor.whole;
}

void InstanceWalk::Expansions::compile_definitions() {
  compiled_ = true;
  for (const Statement& st : program_.statements) {
    if (st.kind != StatementKind::Declaration) continue;
    const std::string_view text = statement_text(st);
    const bool gate = text.starts_with("gate") && text.size() > 4 && !is_word_char(text[4]);
    const bool opaque = text.starts_with("opaque") && text.size() > 6 && !is_word_char(text[6]);
    if (gate || opaque) defined_.compile(text, false);
  }
  definitions_.assign(defined_.gates.size(), Found{});
}

// The `count` parameter values of gate statement `st`, as the reader
// evaluated them.
std::span<const double> InstanceWalk::Expansions::parameters(const Statement& st,
                                                             std::uint32_t count) const {
  check(st.first_value <= program_.values.size() &&
            count <= program_.values.size() - st.first_value,
        "a gate statement's parameter values were read with it");
  return std::span(program_.values).subspan(st.first_value, count);
}

// The word of `gates`, unless the program has no text and it holds a T
// gate that a placed edit would have to write.
std::optional<InstanceWalk::Word> InstanceWalk::Expansions::accept(
    std::span<const PlacedGate> gates, Phase phase) const {
  if (program_.text.empty()) {
    for (const PlacedGate& g : gates) {
      if (elementary_info(g.gate).t || is_rotation(g.gate)) return std::nullopt;
    }
  }
  return Word{gates, phase};
}

std::optional<InstanceWalk::Word> InstanceWalk::Expansions::word(std::uint32_t s, bool limited) {
  const Statement& st = program_.statements[s];
  GateRef gate{static_cast<std::uint32_t>(st.library), false};
  std::uint32_t params = 0;
  Found* found = nullptr;
  if (st.library != QasmGate::None) {
    params = library_info(st.library).params;
    found = &library_[static_cast<std::size_t>(st.library)];
  } else {
    // A gate list's operations of no library gate are boundaries.
    if (program_.text.empty()) return std::nullopt;
    if (!compiled_) compile_definitions();
    // The statement starts with the gate's name (it has no condition).
    Tokenizer tokens(statement_text(st));
    tokens.advance();
    const std::optional<std::uint32_t> k = defined_.find(tokens.text());
    check(k.has_value(), "a statement applies a gate the program defines");
    gate = {*k, true};
    params = defined_.gates[*k].params;
    found = &definitions_[*k];
  }
  if (params == 0) {
    if (!found->known) {
      const auto first = static_cast<std::uint32_t>(stored_.size());
      Phase phase;
      found->exact = expander_.expand(gate, {}, stored_, phase);
      if (!found->exact) stored_.resize(first);
      found->known = true;
      found->first = first;
      found->size = static_cast<std::uint32_t>(stored_.size()) - first;
      found->phase = phase;
    }
    if (!found->exact) return std::nullopt;
    return accept(std::span(stored_).subspan(found->first, found->size), found->phase);
  }
  // Statements with parameters are expanded one by one: their work is
  // bounded as the walk's gates are.
  if ((limited && work_ > kMaxWalkGates) || program_.text.empty()) return std::nullopt;
  scratch_.clear();
  Phase phase;
  const bool exact = expander_.expand(gate, parameters(st, params), scratch_, phase);
  work_ += scratch_.size();
  if (!exact) return std::nullopt;
  return accept(scratch_, phase);
}

}  // namespace kestrel
