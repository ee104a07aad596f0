// The edit cursor's fault, out of line.
#include "src/program/edits.h"

#include "engine/fault.h"

namespace kestrel {

void EditCursor::bad_edit() {
  fault("an edit names no RunGate statement in order, or no run gates within its list");
}

}  // namespace kestrel
