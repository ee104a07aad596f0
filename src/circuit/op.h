// The gate language: one node of a one-qubit circuit, and the one table of
// its gates.
//
// A circuit is a `RecExpr<Op>`: leaves are gates (H, T, CNOT, ...) and the two
// inner variants combine two sub-circuits, `Seq` one after the other and `Par`
// side by side. Reading "h q[0];" then twice "t q[0];" gives
// [H, T, Seq(0, 1), T, Seq(2, 3)]: the left-leaning chain Seq(Seq(H, T), T).
//
// `kKinds` says, per variant, its names and what it is: the seven one-qubit
// gates h, s, sdg, t, tdg, x and z that every method optimises (the "run
// gates", OpKind::H to OpKind::Z), which of them are T gates, and how each
// leaf is written in OpenQASM 2.0. Every reader, writer and method takes
// these facts from here.
#pragma once

#include <array>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

#include "engine/hashing.h"
#include "engine/language.h"

namespace kestrel {

// The thirteen variants, in the order that sorts nodes.
enum class OpKind : std::uint32_t {
  I,     // identity: the empty circuit
  H,     // Hadamard
  S,     // phase gate
  Sdg,   // S-dagger
  T,     // T gate
  Tdg,   // T-dagger
  X,     // Pauli X
  Z,     // Pauli Z
  RZ1,   // Z rotation by pi/2
  RZ2,   // Z rotation by pi/4
  CNOT,  // controlled NOT, an operand-free leaf
  Seq,   // first child, then second child
  Par,   // first and second child side by side
};

class Op {
 public:
  static constexpr std::size_t kNumKinds = 13;
  static constexpr bool kMatchesByKind = true;  // `matches` compares the variant only

  constexpr Op() = default;
  // A leaf; faults if `kind` is `Seq` or `Par`.
  constexpr explicit Op(OpKind kind) : kind_(kind) {
    if (is_binary(kind)) fault("internal error: entered unreachable code");
  }
  static constexpr Op seq(Id first, Id second) { return Op(OpKind::Seq, first, second); }
  static constexpr Op par(Id first, Id second) { return Op(OpKind::Par, first, second); }

  // Builds a node from its operator name ("H", "seq", ...) and children.
  static std::variant<Op, FromOpError> from_op(std::string_view name, std::vector<Id> children);

  constexpr OpKind op() const noexcept { return kind_; }
  constexpr bool is_leaf() const noexcept { return !is_binary(kind_); }

  std::span<const Id> children() const noexcept { return {children_.data(), arity()}; }
  std::span<Id> children_mut() noexcept { return {children_.data(), arity()}; }
  constexpr bool matches(const Op& other) const noexcept { return kind_ == other.kind_; }
  constexpr std::size_t kind() const noexcept { return static_cast<std::size_t>(kind_); }

  constexpr std::uint64_t hash() const noexcept {
    return mix64((static_cast<std::uint64_t>(kind_) << 59) ^
                 (static_cast<std::uint64_t>(children_[0]) << 29) ^ children_[1]);
  }

  // Leaves keep both child slots at 0, so comparing all three words
  // compares the variant and, for Seq and Par, the children in order.
  // Written out word by word: these run on every hash-cons probe.
  constexpr bool operator==(const Op& o) const noexcept {
    return kind_ == o.kind_ && children_[0] == o.children_[0] && children_[1] == o.children_[1];
  }
  constexpr std::strong_ordering operator<=>(const Op& o) const noexcept {
    if (kind_ != o.kind_) return kind_ <=> o.kind_;
    if (children_[0] != o.children_[0]) return children_[0] <=> o.children_[0];
    return children_[1] <=> o.children_[1];
  }

  // The debug form used in fault messages: "T", "Seq([3, 4])".
  std::string debug() const;

 private:
  constexpr Op(OpKind kind, Id first, Id second) : kind_(kind), children_{first, second} {}
  static constexpr bool is_binary(OpKind kind) noexcept {
    return kind == OpKind::Seq || kind == OpKind::Par;
  }
  constexpr std::size_t arity() const noexcept { return is_binary(kind_) ? 2 : 0; }

  OpKind kind_ = OpKind::I;        // the variant
  std::array<Id, 2> children_{};   // first and second child; both 0 for a leaf
};

static_assert(std::is_trivially_copyable_v<Op>);
static_assert(sizeof(Op) == 12);
static_assert(Language<Op>);

// What a variant is and how it is named.
struct KindInfo {
  std::string_view op_name;     // as `from_op` and patterns take it ("seq" in lower case)
  std::string_view debug_name;  // as fault messages show it ("Seq")
  std::string_view qasm_name;   // the OpenQASM 2.0 gate it is written as, or "" for none
  bool run_gate;                // one of the seven one-qubit gates every method optimises
  bool t;                       // a T or T-dagger gate
};

inline constexpr std::array<KindInfo, Op::kNumKinds> kKinds = {{
    {"I", "I", "", false, false},
    {"H", "H", "h", true, false},
    {"S", "S", "s", true, false},
    {"Sdg", "Sdg", "sdg", true, false},
    {"T", "T", "t", true, true},
    {"Tdg", "Tdg", "tdg", true, true},
    {"X", "X", "x", true, false},
    {"Z", "Z", "z", true, false},
    {"RZ1", "RZ1", "rz(pi/2)", false, false},
    {"RZ2", "RZ2", "rz(pi/4)", false, false},
    {"CNOT", "CNOT", "cx", false, false},
    {"seq", "Seq", "", false, false},
    {"par", "Par", "", false, false},
}};

constexpr const KindInfo& kind_info(OpKind kind) { return kKinds[static_cast<std::size_t>(kind)]; }
constexpr bool is_run_gate(OpKind kind) { return kind_info(kind).run_gate; }
constexpr bool is_t(OpKind kind) { return kind_info(kind).t; }

// The name of a variant as `from_op` accepts it ("seq", "par" in lower case).
constexpr std::string_view op_name(OpKind kind) { return kind_info(kind).op_name; }

}  // namespace kestrel
