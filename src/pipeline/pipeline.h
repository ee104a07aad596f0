// The pipeline that picks a method: `run_pipeline` reads a QASM text,
// optimises it, measures it and writes it; `optimize_segment` is the adapter
// through which the per-qubit pass calls the chosen method on each qubit's
// segment (src/per_qubit/per_qubit.h).
//
// This is what the Python module and the command line run. With the default
// options the text is read as one wire and optimised by equality saturation:
// two "t q[0];" lines come back as the header plus "s q[0];", with T 2 -> 0,
// depth 2 -> 1 and gates 2 -> 1. A text that is not one wire, or that holds
// lines the one-wire reader drops ("qreg q[3];", "measure q[0] -> c[0];"), is
// read per qubit instead, as `per_qubit` asks, so that the result is always a
// program equivalent to the one read; only a text that is no program either
// keeps the one-wire reading, with its finding. The options (src/pipeline/options.h) choose
// another method, keep a multi-qubit program whole, or set the saturation's
// limits. With `Method::NormalForm` the same two lines come back as
// "s q[0];" as well, by way of the normal form of
// src/normal_form/normal_form.h. In the per-qubit mode one time limit bounds
// the whole call: the segments share it, and a segment reached after it is
// written as it was. With `phase` set, every method reports the exact global
// phase between the text read and the text written: the whole-program
// methods record it, saturation's identities hold exactly (phase 0), and the
// normal form's is found by comparing each segment with its result
// (src/circuit/global_phase.h).
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "src/circuit/op.h"
#include "src/pipeline/options.h"
#include "src/saturation/optimize.h"
#include "src/text/qasm.h"
#include "src/program/edits.h"
#include "src/program/program.h"
#include "src/timing/deadline.h"

namespace kestrel {

// How a text was read.
enum class TextReading : std::uint8_t {
  OneWire,   // line by line, as one wire
  PerQubit,  // as a whole program, each qubit's runs optimised on their own
  Program,   // as a whole program, by a whole-program method
};

struct PipelineResult {
  std::string qasm;                  // the optimised program as QASM text
  CircuitStats before;               // the circuit read from the input
  CircuitStats after;                // the optimised circuit
  std::optional<InputError> error;   // per-qubit mode and rotation merging: why the text
                                     // could not be read; then nothing else is set
  std::optional<std::string> refusal;  // rotation merging: why a program read is too large
                                       // for it; then nothing else is set
  // The global phase by which the result differs, when `options.phase`
  // asked for it: the input equals
  // e^(i phase pi/8) times the result (0 to 15).
  std::optional<std::uint8_t> phase;
  // Where a whole-program method's global phase is no multiple of pi/8
  // (within kAngleTolerance), when `options.phase` asked for it: the input
  // equals e^(i phase_radians) times the result, in [0, 2 pi); `phase` is
  // then not set.
  std::optional<double> phase_radians;
  // With `options.epsilon`: the distance, up to a global phase (the one
  // reported), that the result may be off from the input by: the synthesised
  // sequences' distances and the roundings of merged angles, summed.
  std::optional<double> synthesis_error;
  // A text read as one wire: where that reading differs from the program
  // (src/text/wire_check.h), to be warned about; Kind::None otherwise.
  WireFinding wire;
  TextReading reading = TextReading::OneWire;  // how the text was read
  // Read per qubit by a one-wire method not asked to: where reading the text
  // as one wire would have parted from the program.
  WireFinding per_qubit_reason;
  // A method's own figures, in the order it reports them, after the common
  // ones: the whole-program methods' rotations of any angle before and
  // after, the phase-polynomial method's two-qubit gates before and after.
  std::vector<std::pair<std::string_view, std::uint64_t>> figures;
};

// What a method makes of a program already read (`optimize_program`).
struct ProgramEdits {
  Edits edits;                          // the statements replaced or removed
  std::optional<std::uint8_t> phase;    // as in PipelineResult
  std::optional<double> phase_radians;  // as in PipelineResult
  std::optional<std::string> refusal;   // as in PipelineResult; then nothing else is set
  std::vector<std::pair<std::string_view, std::uint64_t>> figures;  // as in PipelineResult
  double rounded = 0;  // the operator-norm distance the merging's roundings of angles add up to
};

// Reads `text`, optimises it as `options` say and writes it back. Only the
// per-qubit mode and the whole-program methods, which read the text as a
// program, reject a text (in `error`, or in `refusal` for a program too
// large for the method); the default reads any text. A report can be asked
// of one-wire saturation only, and is filled only when the text is read as
// one wire. With `epsilon`, a whole-program method's result is written in
// Clifford+T (src/clifford_t/clifford_t.h) and read by the method once more,
// the phase reported in radians; an epsilon below the synthesis's smallest
// is a refusal. Throws only `Fault` and `std::bad_alloc`.
PipelineResult run_pipeline(std::string_view text, const PipelineOptions& options = {},
                            ReportRequest request = {});

// `program` optimised by `options.method` without its text (`epsilon` only
// sets the merging's tolerance, min(kAngleTolerance, 2 epsilon); the text
// pipeline writes the rotations in Clifford+T): the
// whole-program methods over the whole program, saturation and the normal
// form on every qubit's segments (`per_qubit` is not read); the saturation time limit bounds
// the whole call, which ends by `deadline` (by default: the time limit from
// now). The text pipelines of whole programs and a program given as a gate
// list (src/program/gate_list.h) both come here.
ProgramEdits optimize_program(const QasmProgram& program, const PipelineOptions& options);
ProgramEdits optimize_program(const QasmProgram& program, const PipelineOptions& options,
                              const Deadline& deadline);

// One qubit's segment of one-qubit gates optimised by `options.method`,
// which must be a one-wire method (a fault otherwise): an equivalent gate
// list, first gate first; `per_qubit` is not read. An empty segment gives an
// empty list. Saturation sees the gates as the reader's chain would hold
// them, and stops at the time limit or at `deadline`, whichever comes first;
// a segment reached after the deadline comes back as it is. The normal form
// keeps each CNOT in place but for pairs that cancel.
std::vector<Op> optimize_segment(std::span<const Op> segment, const PipelineOptions& options,
                                 const Deadline* deadline = nullptr);

}  // namespace kestrel
