// Whether the one-wire reading of a text is the program the text says: the
// check that runs beside the line reader (src/text/qasm.h) and finds the
// first line where the two part.
//
// The line reader takes every line that starts with a gate's name as that
// gate on the one wire, whatever its operands, and drops every other line.
// That is right for a text over one qubit that holds only those gates, and
// wrong otherwise. In
//
//   qreg q[3];         // line 3: more than one qubit declared
//   t q[0];
//   cx q[0],q[1];      // a qubit other than the first
//   rz(0.3) q[1];      // a gate with parameters, dropped
//
// the check stops at line 3 and reports it; a text whose lines are all the
// header, comments, declarations of one qubit in all, barriers and gates on
// that qubit gives no finding. Each line costs one comparison of its
// operands with those of the lines before ("q[0];"), so the check adds
// little to the reading; the rest is done for the few lines that differ.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "src/circuit/op.h"

namespace kestrel {

// The first line at which the one-wire reading of a text differs from the
// program, or why it is empty.
struct WireFinding {
  enum class Kind : std::uint8_t {
    None,             // the text is one wire and is read whole
    Qubits,           // a declaration brings the qubits declared above one
    OtherQubit,       // a gate line applies its gate to a qubit other than the wire
    InDefinition,     // a gate line in a gate definition's body, read as a gate of the wire
    Measurement,      // a measurement, dropped
    Reset,            // a reset, dropped
    Condition,        // a statement under `if`, dropped
    Parameters,       // a gate with parameters (rz(0.3) q[0];), dropped
    UnknownStatement, // a gate the reader does not know, or another statement it drops
    DroppedGate,      // a gate statement the reader drops: not its line's first, or
                      // written otherwise than "name operands" (s\tq[0];)
    NoGate,           // no gate and nothing else found: the result is the empty circuit
                      // (`no_gate` says the same beside another finding)
  };
  Kind kind = Kind::None;
  std::size_t line = 0;     // the line's number, from 1 (not for None and NoGate)
  std::string text;         // that line, trimmed and cut to kQuotedBytes (and "...")
  std::uint64_t qubits = 0; // Qubits: the qubits declared up to that line
  std::string wire;         // OtherQubit: the wire's qubit, as "q[0]"
  bool no_gate = false;     // no line was read as a gate: the result is the empty circuit
  // Why the text, read whole, is no program either (the program reader's
  // message), when that was tried; "" otherwise.
  std::string not_a_program;
};

// The most bytes of a line a finding quotes.
inline constexpr std::size_t kQuotedBytes = 80;

// Line `number` (from 1) of `text` as a finding quotes it: trimmed, cut to
// kQuotedBytes (and "..."), control characters as \xNN; "" past the end.
std::string quoted_line(std::string_view text, std::size_t number);

// Sees the lines of a text in order, as the line reader reads them, and
// keeps the first finding.
class WireCheck {
 public:
  // Whether `trimmed` is the usual line of `gate` (a run gate or cx): the
  // gate on the wire, written as "t q[0];" once the wire is q[0]. The reader
  // asks this first and, when it holds, takes the line as that gate with
  // nothing more to check.
  bool usual(OpKind gate, std::string_view trimmed) {
    if (!usual_ready_ || !usual_[static_cast<std::size_t>(gate)].matches(trimmed)) return false;
    any_gate_ = true;
    return true;
  }

  // Whether nothing the later lines hold can change the finding: a finding
  // is made and a gate was read.
  bool done() const { return settled_ && any_gate_; }

  // Any other line: line `number` (from 1), trimmed as the reader trims it,
  // which the reader read as `gate` (I for a line it drops).
  void line(std::size_t number, std::string_view trimmed, OpKind gate);

  // The finding once every line is seen: NoGate when nothing was found and
  // no line was read as a gate (a file name given for the text, say).
  WireFinding finish() &&;

 private:
  void examine(std::size_t number, std::string_view trimmed, std::size_t name_size);
  // Checks the operands of the gate statement a line was read as.
  void check_operands(std::string_view operands);
  // Checks a statement the reader does not read.
  void check_statement(std::string_view statement);
  // A register of `size` qubits declared.
  void declare(std::string_view name, std::uint64_t size);
  // The wire is qubit `index` of register `name`.
  void set_wire(std::string_view name, std::uint64_t index);
  // Keeps the finding `kind` at the line being examined; nothing more is seen.
  void found(WireFinding::Kind kind);

  bool settled_ = false;         // a finding is made: nothing more to see
  bool usual_ready_ = false;     // the usual line is known and may be taken as it is:
                                 // the wire is known, no finding, outside a definition
  bool any_gate_ = false;        // a gate line was read
  std::size_t depth_ = 0;        // open braces: inside a gate definition's body
  // A usual line, compared as two words that overlap where the text is
  // shorter than 16 bytes: "t q[0];", "cx q[0],q[0];".
  struct Usual {
    std::string text;         // "" until the wire is known, and for gates with no line
    std::size_t size = 0;     // text.size()
    std::size_t word = 0;     // 8, or 4 for a text shorter than 8 bytes
    std::uint64_t head = 0;   // the text's first `word` bytes
    std::uint64_t tail = 0;   // its last `word` bytes
    bool matches(std::string_view rest) const {
      if (rest.size() != size || size == 0) return false;
      if (size > 16) return rest == text;
      return load(rest.data(), word) == head && load(rest.data() + size - word, word) == tail;
    }
    // `size` (4 or 8) bytes at `at` as a word.
    static std::uint64_t load(const char* at, std::size_t size) {
      std::uint64_t word = 0;
      if (size == 8) {
        std::memcpy(&word, at, 8);
      } else {
        std::memcpy(&word, at, 4);
      }
      return word;
    }
  };
  Usual usual_[Op::kNumKinds];   // by gate
  bool wire_known_ = false;      // the wire is set: by the first declaration or gate
  std::string register_;         // the wire's register
  std::uint64_t index_ = 0;      // the wire's index in it
  std::uint64_t register_size_ = 0;  // the wire's register's size, 0 when not declared
  std::uint64_t declared_ = 0;   // the qubits declared so far
  std::size_t number_ = 0;       // the line being examined
  std::string_view current_;     // that line
  WireFinding finding_;          // the first finding
};

}  // namespace kestrel
