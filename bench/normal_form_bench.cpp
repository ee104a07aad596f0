// The normal-form pipeline without Python, on a seeded random one-qubit
// text: reading the lines into the wire, writing the runs' normal forms, and
// printing them, each timed, then the whole of run_pipeline.
//
//   normal_form_bench [gates] [repetitions] [t-optimal]   (defaults 1048576, 5, 0)
//
// With a third argument of 1 the text is T gates each followed by h or by s,
// h at random: no T gate of it can go, so the stack and the writer see every
// gate.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "bench/measure.h"
#include "src/normal_form/normal_form.h"
#include "src/pipeline/pipeline.h"
#include "src/text/qasm.h"

using namespace kestrel::bench;

int main(int argc, char** argv) {
  const std::size_t gates = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1'048'576;
  const int reps = argc > 2 ? std::atoi(argv[2]) : 5;
  const bool t_optimal = argc > 3 && std::atoi(argv[3]) == 1;
  const char* lines[] = {"h q[0];\n", "s q[0];\n", "sdg q[0];\n", "t q[0];\n",
                         "tdg q[0];\n", "x q[0];\n", "z q[0];\n"};
  std::string text(kestrel::kQasmHeader);
  std::uint64_t state = 1;
  for (std::size_t i = 0; i < gates; ++i) {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    if (t_optimal) {
      text += (state >> 40) % 2 ? "t q[0];\nh q[0];\n" : "t q[0];\ns q[0];\nh q[0];\n";
      i += (state >> 40) % 2 ? 1 : 2;
    } else {
      text += lines[(state >> 33) % 7];
    }
  }
  const long base_kb = peak_rss_kb();
  double read = 1e30, form = 1e30, print = 1e30, pipeline = 1e30;
  std::size_t written = 0;
  for (int r = 0; r < reps; ++r) {
    auto start = Clock::now();
    kestrel::NormalFormWire wire;
    kestrel::for_each_gate_line(text, [&](kestrel::OpKind g) { wire.add(g); });
    read = std::min(read, ms_since(start));
    start = Clock::now();
    std::vector<kestrel::OpKind> out;
    wire.write(out);
    form = std::min(form, ms_since(start));
    start = Clock::now();
    const std::string qasm = kestrel::print_qasm(out);
    print = std::min(print, ms_since(start));
    written = out.size();
    start = Clock::now();
    kestrel::PipelineOptions options;
    options.method = kestrel::Method::NormalForm;
    options.per_qubit = false;
    const auto result = kestrel::run_pipeline(text, options);
    pipeline = std::min(pipeline, ms_since(start));
    if (result.qasm != qasm) std::puts("unexpected");
  }
  std::printf("gates %zu -> %zu: read %.1f ms, write the forms %.1f ms, print %.1f ms; "
              "run_pipeline %.1f ms = %.4f us/gate; peak RSS above the text %.1f bytes/gate\n",
              gates, written, read, form, print, pipeline, pipeline * 1e3 / gates,
              (peak_rss_kb() - base_kb) * 1024.0 / gates);
}
