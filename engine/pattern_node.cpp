// Reading a pattern variable from text, and the debug form of a node error.
#include "engine/pattern_node.h"

namespace kestrel {

std::variant<Var, std::string> Var::from_str(std::string_view text) {
  if (!is_var_name(text)) return std::string(text);
  return Var(GlobalSymbol(text));
}

std::string debug_string(const FromOpError& error) {
  std::string out = "FromOpError { op: " + quote_text(error.op) + ", children: [";
  for (std::size_t k = 0; k < error.children.size(); ++k) {
    if (k > 0) out += ", ";
    out += std::to_string(error.children[k]);
  }
  return out + "] }";
}

}  // namespace kestrel
