// Writing a program back with edits made (src/program/edits.h).
//
// Everything the edits do not name is copied byte for byte: other
// statements, comments, blanks. A replaced statement becomes its gates, one
// statement per line, the first where the statement stood and each further
// one on a line of its own with the statement's line's indent and the
// text's line ending (that of its first line). A removed statement is cut
// out with nothing in its place, and a line left holding nothing but blanks
// goes whole. With {0 -> []} and {1 -> [S]},
//
//   t q[0]; h q[1];
//     t q[0];
//
// is written " h q[1];\n  s q[0];\n". A placed gate names its qubits with
// the program's own registers, "cx q[1],anc[0];", each gate a statement
// "name operand;" or "name operand,operand;".
#pragma once

#include <string>
#include <string_view>

#include "src/program/edits.h"
#include "src/program/program.h"

namespace kestrel {

// `program` is what `read_program(text)` returned for `text`; `edits` must
// name its statements (faults otherwise).
std::string write_program(std::string_view text, const QasmProgram& program, const Edits& edits);

}  // namespace kestrel
