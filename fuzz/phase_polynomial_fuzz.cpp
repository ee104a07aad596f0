// Arbitrary bytes as a whole program through the phase-polynomial method,
// twice (three times, with both_ways, for a quarter of them). Without extra
// qubits, and with both_ways, checked as fuzz/program_check.h says (the
// same states up to exactly the reported global phase, on every branch
// followed). With up to kAncillas extra qubits for Hadamard gadgets, the
// output must read as the program's registers, in their order, plus one
// new quantum register of `extra_qubits` qubits (at most kAncillas) and one
// new one-bit classical register per measurement, all with new names, and
// hold no more T gates than the input. Where the input measures nothing and
// fits the model with the extra qubits, the output run from a random state
// of the program's qubits and |0> on the extra ones must end, whichever
// outcome each gadget's measurement gives, in the input's final state on
// the program's qubits times some state of the extra ones: for
// `h q[0]; t q[0]; h q[0];` written with a gadget, on both the likelier and
// the rarer outcome.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <variant>
#include <vector>

#include "fuzz/program_check.h"

namespace kestrel {
namespace {

constexpr std::size_t kAncillas = 2;
// Wider programs are left to the check without extra qubits: one gadget
// region of a wide program takes seconds here (adder_n433's takes 20 under
// the sanitisers), and the time limit does not cut a region once begun.
constexpr std::uint32_t kGadgetQubits = 64;

// The figure `name` of a result, or nothing.
std::optional<std::uint64_t> figure(const PipelineResult& result, std::string_view name) {
  for (const auto& [key, value] : result.figures) {
    if (key == name) return value;
  }
  return std::nullopt;
}

const Register* find_register(const QasmProgram& program, std::string_view name) {
  for (const Register& r : program.registers) {
    if (r.name == name) return &r;
  }
  return nullptr;
}

// Whether `out` ends as `in` on the program's qubits (the output's qubits
// in `place`) times some state of the other qubits, up to a global phase.
bool product_with(const Amplitudes& in, const Amplitudes& out,
                  const std::vector<std::uint32_t>& place) {
  const std::size_t n = place.size();
  std::uint64_t program_mask = 0;
  for (std::uint32_t q : place) program_mask |= std::uint64_t{1} << q;
  // out[rest | spread(i)] = extra[rest] * in[i]; extra[rest] = <in| out[rest, .]>.
  const auto spread = [&](std::size_t i) {
    std::size_t index = 0;
    for (std::size_t b = 0; b < n; ++b) index |= ((i >> b) & 1) << place[b];
    return index;
  };
  double distance = 0, weight = 0;
  for (std::size_t rest = 0; rest < out.size(); ++rest) {
    if ((rest & program_mask) != 0) continue;
    Complex extra = 0;
    for (std::size_t i = 0; i < in.size(); ++i) extra += std::conj(in[i]) * out[rest | spread(i)];
    weight += std::norm(extra);
    for (std::size_t i = 0; i < in.size(); ++i) distance += std::norm(out[rest | spread(i)] - extra * in[i]);
  }
  return std::sqrt(distance) < 1e-7 && std::abs(weight - 1) < 1e-7;
}

void check_gadgets(std::string_view text) {
  const auto read = read_program(text);
  if (const auto* program = std::get_if<QasmProgram>(&read);
      program != nullptr && program->qubits > kGadgetQubits) {
    return;
  }
  const PipelineOptions options{.method = Method::PhasePolynomial, .per_qubit = false,
                                .limits = {}, .phase = false, .ancillas = kAncillas};
  const PipelineResult result = run_pipeline(text, options);
  if (std::holds_alternative<InputError>(read) || result.error || result.refusal) {
    // Whether the text is read at all does not depend on the extra qubits.
    const PipelineResult plain = run_pipeline(text, {.method = Method::PhasePolynomial});
    require(plain.error == result.error && plain.refusal == result.refusal,
            "the same errors and refusals with extra qubits");
    return;
  }
  const QasmProgram& program = std::get<QasmProgram>(read);
  if (program.statements.empty()) {
    // A text with no statement comes back as the one-wire header.
    require(result.qasm == kQasmHeader, "a text with no statement gives the header");
    return;
  }
  const std::optional<std::uint64_t> extra = figure(result, "extra_qubits");
  const std::optional<std::uint64_t> measurements = figure(result, "measurements");
  require(extra && measurements, "extra_qubits and measurements reported");
  require(*extra <= kAncillas, "at most the extra qubits allowed");
  const auto again = read_program(result.qasm);
  require(std::holds_alternative<QasmProgram>(again), "the output reads as a program");
  const QasmProgram& written = std::get<QasmProgram>(again);
  require(written.qubits == program.qubits + *extra, "the program's qubits and the extra ones");
  require(written.clbits == program.clbits + *measurements, "a bit per measurement");

  // Every register of the input is there under its name and size, in the
  // same order; the others are new: a qreg of the extra qubits, cregs of one bit.
  std::vector<std::uint32_t> place(program.qubits);
  std::size_t old_registers = 0, new_qregs = 0;
  for (const Register& r : written.registers) {
    const Register* before = find_register(program, r.name);
    if (before != nullptr) {
      require(before == &program.registers[old_registers], "the registers in their order");
      require(before->size == r.size && before->quantum == r.quantum, "a register as declared");
      ++old_registers;
      if (r.quantum) {
        for (std::uint32_t k = 0; k < r.size; ++k) place[before->first + k] = r.first + k;
      }
    } else if (r.quantum) {
      require(r.size == *extra, "one register of the extra qubits");
      ++new_qregs;
    } else {
      require(r.size == 1, "a one-bit register per measurement");
    }
  }
  require(old_registers == program.registers.size(), "every register of the input");
  require(new_qregs == (*extra > 0 ? 1 : 0), "one new quantum register where qubits are added");
  require(content(written).t <= content(program).t, "the T count never grows");

  const ProgramModel in(text, program), out(result.qasm, written);
  if (!in.covered() || !out.covered()) return;
  for (const Statement& st : program.statements) {
    if (st.kind == StatementKind::Measure || st.kind == StatementKind::Reset) return;
  }
  const Amplitudes start = in.random_state(1);
  std::vector<Outcome> none;
  const Amplitudes a = *in.run(start, Pick::Likelier, none, false);
  Amplitudes wide(std::size_t{1} << written.qubits);
  for (std::size_t i = 0; i < start.size(); ++i) {
    std::size_t index = 0;
    for (std::size_t b = 0; b < place.size(); ++b) index |= ((i >> b) & 1) << place[b];
    wide[index] = start[i];
  }
  for (const Pick pick : {Pick::Likelier, Pick::Rarer}) {
    std::vector<Outcome> outcomes;
    const Amplitudes b = *out.run(wide, pick, outcomes, false);
    require(outcomes.size() == *measurements, "one outcome per measurement");
    require(product_with(a, b, place), "the input's state on the program's qubits");
  }
}

}  // namespace
}  // namespace kestrel

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kestrel;
  static constexpr PipelineOptions kOptions{
      .method = Method::PhasePolynomial, .per_qubit = false, .limits = {}, .phase = true};
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  check_program_method(text, kOptions);
  // With both_ways on a quarter of the inputs (by their size): the method
  // then runs up to ten times over, on the inverses of the program and of
  // its results, and that must keep the program too.
  static constexpr PipelineOptions kBothWays{.method = Method::PhasePolynomial, .per_qubit = false,
                                             .limits = {}, .phase = true, .both_ways = true};
  if (size % 4 == 0) check_program_method(text, kBothWays);
  check_gadgets(text);
  return 0;
}
