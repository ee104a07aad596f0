// The edit cursor's fault, out of line.
#include "src/program/edits.h"

#include "engine/fault.h"

namespace kestrel {

void EditCursor::bad_edit() {
  fault("an edit names a statement its kind cannot replace, comes out of order, or holds a gate "
        "its kind does not allow");
}

}  // namespace kestrel
