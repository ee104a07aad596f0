// Raising a Fault with its fixed message and the place of the broken invariant.
#include "engine/fault.h"

namespace kestrel {

void fault(std::string message, std::source_location where) {
  throw Fault(std::move(message), where);
}

void fault_index(std::size_t len, std::size_t index, std::source_location where) {
  fault("index out of bounds: the len is " + std::to_string(len) + " but the index is " +
            std::to_string(index),
        where);
}

}  // namespace kestrel
