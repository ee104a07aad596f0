// Arbitrary bytes through the statement reader and the per-qubit pass.
//
// A text is either an input error, with a position inside the text and a
// message saying what was expected, or a program. For a program the pass
// runs with a small peephole optimiser (T·T is S, X·X and S·Sdg vanish),
// which shortens, empties and keeps runs; then the output must read again
// as a program whose statements other than run gates are those of the input,
// byte for byte and in order, and whose statistics, read back, are the
// "after" statistics of the first pass. Written with no edits, the text
// comes back as it is.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "src/per_qubit/per_qubit.h"
#include "src/program/program.h"
#include "src/program/writer.h"

namespace kestrel {
namespace {

void require(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "per_qubit_fuzz: broken invariant: %s\n", what);
  std::abort();
}

std::vector<Op> peephole(std::span<const Op> run) {
  std::vector<Op> out;
  for (Op gate : run) {
    const OpKind top = out.empty() ? OpKind::I : out.back().op();
    const OpKind g = gate.op();
    if (top == OpKind::T && g == OpKind::T) {
      out.back() = Op(OpKind::S);
    } else if ((top == OpKind::X && g == OpKind::X) || (top == OpKind::S && g == OpKind::Sdg)) {
      out.pop_back();
    } else {
      out.push_back(gate);
    }
  }
  return out;
}

std::vector<Op> unchanged(std::span<const Op> run) { return {run.begin(), run.end()}; }

// The texts of the statements that are no run gates, in order.
std::vector<std::string_view> kept(std::string_view text, const QasmProgram& program) {
  std::vector<std::string_view> out;
  for (const Statement& st : program.statements) {
    if (st.kind != StatementKind::RunGate) out.push_back(text.substr(st.begin, st.end - st.begin));
  }
  return out;
}

void run_one(std::string_view text) {
  auto read = read_program(text);
  if (const auto* error = std::get_if<InputError>(&read)) {
    require(error->line >= 1 && error->column >= 1, "an error position is 1-based");
    require(error->message.starts_with("expected "), "an error says what was expected");
    return;
  }
  const QasmProgram& program = std::get<QasmProgram>(read);
  require(write_program(text, program, Edits{}) == text, "no edits write the text as it is");
  const PerQubitResult first = optimize_per_qubit(text, program, peephole);
  require(first.after.gates <= first.before.gates, "the peephole never adds gates");

  auto again = read_program(first.qasm);
  require(std::holds_alternative<QasmProgram>(again), "the output reads as a program");
  const QasmProgram& written = std::get<QasmProgram>(again);
  require(kept(text, program) == kept(first.qasm, written),
          "the statements that are no run gates are kept, in order");
  const PerQubitResult second = optimize_per_qubit(first.qasm, written, unchanged);
  require(second.before == first.after, "the output's statistics read back");
  require(second.after == second.before, "unchanged runs leave the statistics unchanged");
}

}  // namespace
}  // namespace kestrel

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kestrel::run_one(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
