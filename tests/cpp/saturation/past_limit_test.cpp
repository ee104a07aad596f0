// Circuits past the node limit: the pipeline writes the gates it read
// straight back (the gate list is read as the term is: qasm_test.cpp), and
// it tests the limit on their count, which must be the loaded e-graph's.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "engine/egraph.h"
#include "src/saturation/optimize.h"
#include "src/text/qasm.h"
#include "tests/cpp/helpers.h"

namespace kestrel {
namespace {

// Chains around the limit, over one to eight gate kinds: the test says past
// the limit exactly when the loaded e-graph holds more nodes.
TEST(PastNodeLimit, AgreesWithTheLoadedEGraph) {
  const char* lines[] = {"h q[0];\n", "t q[0];\n", "s q[0];\n", "x q[0];\n",
                         "cx q[0],q[1];\n", "sdg q[0];\n", "tdg q[0];\n", "z q[0];\n"};
  constexpr std::size_t kLimit = 10'000;
  Lcg draw{1};
  for (std::size_t kinds = 1; kinds <= 8; ++kinds) {
    for (std::size_t n = kLimit - 8; n <= kLimit + 2; ++n) {
      std::string text(kQasmHeader);
      for (std::size_t k = 0; k < n; ++k) text += lines[k < kinds ? k : draw(kinds)];
      EGraph<Op> g;
      g.add_expr_internal(parse_qasm(text));
      const WireGates read = read_wire(text);
      EXPECT_EQ(past_node_limit(read.gates.size() - 1, read.kinds, kLimit), g.node_count() > kLimit)
          << kinds << " kinds, " << n << " gates";
    }
  }
}

}  // namespace
}  // namespace kestrel
