// Reading a node from its operator name, and its debug form.
#include "src/circuit/op.h"

namespace kestrel {

std::variant<Op, FromOpError> Op::from_op(std::string_view name, std::vector<Id> children) {
  for (std::size_t k = 0; k < kKinds.size(); ++k) {
    if (kKinds[k].op_name != name) continue;
    const auto kind = static_cast<OpKind>(k);
    if (is_binary(kind) && children.size() == 2) return Op(kind, children[0], children[1]);
    if (!is_binary(kind) && children.empty()) return Op(kind);
    break;
  }
  return FromOpError(name, std::move(children));
}

std::string Op::debug() const {
  std::string out(kKinds[kind()].debug_name);
  if (!is_leaf()) {
    out += "([" + std::to_string(children_[0]) + ", " + std::to_string(children_[1]) + "])";
  }
  return out;
}

}  // namespace kestrel
