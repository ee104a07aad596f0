// The register look-up with its one-entry cache.
#include "src/program/scopes.h"

namespace kestrel {

std::uint32_t Scopes::find_register(std::string_view name, const std::vector<Register>& registers) {
  if (last_register_ < registers.size() && registers[last_register_].name == name) {
    return last_register_;
  }
  const Symbol* symbol = find(name);
  if (symbol == nullptr || !symbol->is_register) return kNotFound;
  last_register_ = symbol->reg;
  return last_register_;
}

}  // namespace kestrel
