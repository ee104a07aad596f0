#include "src/circuit/op.h"

#include <array>

namespace kestrel {
namespace {

constexpr std::array<std::string_view, Op::kNumKinds> kNames = {
    "I", "H", "S", "Sdg", "T", "Tdg", "X", "Z", "RZ1", "RZ2", "CNOT", "seq", "par"};

constexpr std::array<std::string_view, Op::kNumKinds> kDebugNames = {
    "I", "H", "S", "Sdg", "T", "Tdg", "X", "Z", "RZ1", "RZ2", "CNOT", "Seq", "Par"};

}  // namespace

std::string_view op_name(OpKind kind) { return kNames[static_cast<std::size_t>(kind)]; }

std::variant<Op, FromOpError> Op::from_op(std::string_view name, std::vector<Id> children) {
  for (std::size_t k = 0; k < kNames.size(); ++k) {
    if (kNames[k] != name) continue;
    const auto kind = static_cast<OpKind>(k);
    if (is_binary(kind) && children.size() == 2) return Op(kind, children[0], children[1]);
    if (!is_binary(kind) && children.empty()) return Op(kind);
    break;
  }
  return FromOpError(name, std::move(children));
}

std::string Op::debug() const {
  std::string out(kDebugNames[kind()]);
  if (!is_leaf()) {
    out += "([" + std::to_string(children_[0]) + ", " + std::to_string(children_[1]) + "])";
  }
  return out;
}

}  // namespace kestrel
