// Tests of the QASM reader, the writer and the circuit statistics.
//
// The reader cases are tables of single lines and what they read as; the
// writer and the statistics are checked on expressions built by hand, with a
// plain recursive walk as the model of the gate order.
#include "src/qasm.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <cstdint>
#include <exception>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "engine/fault.h"
#include "src/lang.h"

namespace kestrel {
namespace {

const Op kH(OpKind::H);
const Op kS(OpKind::S);
const Op kT(OpKind::T);
const Op kTdg(OpKind::Tdg);
const Op kX(OpKind::X);
const Op kZ(OpKind::Z);
const Op kI(OpKind::I);

// The gate list of `expr` from its root.
std::vector<Op> gates_of(const RecExpr<Op>& expr) {
  std::vector<Op> gates;
  emit(expr.root(), expr, gates);
  return gates;
}

// What a text consisting of `line` alone reads as: the gate, or nothing when
// the reader falls back to the identity.
std::optional<OpKind> read_line(std::string_view line) {
  const RecExpr<Op> expr = parse_qasm(line);
  EXPECT_EQ(expr.size(), 1u) << "one line adds at most one gate";
  if (expr[expr.root()] == kI) return std::nullopt;
  return expr[expr.root()].op();
}

std::string show(std::optional<OpKind> gate) {
  return gate ? Op(*gate).debug() : std::string("nothing");
}

struct LineCase {
  std::string_view line;
  std::optional<OpKind> gate;  // nothing when the line is ignored
};

void expect_lines(std::initializer_list<LineCase> cases) {
  for (const LineCase& c : cases) {
    SCOPED_TRACE(::testing::Message() << "line \"" << c.line << "\"");
    EXPECT_EQ(show(read_line(c.line)), show(c.gate));
  }
}

// ---------------------------------------------------------------- reader

TEST(QasmReader, HeaderThenThreeGatesGiveLeftLeaningChain) {
  const std::string text = std::string(kQasmHeader) + "h q[0];\nt q[0];\nt q[0];\n";
  const RecExpr<Op> expected({kH, kT, Op::seq(0, 1), kT, Op::seq(2, 3)});
  EXPECT_EQ(parse_qasm(text), expected);
}

TEST(QasmReader, GatelessTextReadsAsIdentity) {
  for (std::string_view text :
       {std::string_view(""), std::string_view("\n"), std::string_view("\n\n\r\n \t\n"),
        kQasmHeader, std::string_view("creg c[1];\nmeasure q[0] -> c[0];\nbarrier q[0];\n"),
        std::string_view("rz(pi/2) q[0];\nrz(pi/4) q[0];")}) {
    SCOPED_TRACE(::testing::Message() << "text \"" << text << "\"");
    const RecExpr<Op> expr = parse_qasm(text);
    EXPECT_EQ(expr, RecExpr<Op>({kI}));
    EXPECT_EQ(stats(expr), CircuitStats{});
    EXPECT_EQ(print_qasm(expr), kQasmHeader);
  }
}

TEST(QasmReader, GatePrefixes) {
  expect_lines({
      {"h q[0];", OpKind::H},
      {"s q[0];", OpKind::S},
      {"sdg q[0];", OpKind::Sdg},
      {"t q[0];", OpKind::T},
      {"tdg q[0];", OpKind::Tdg},
      {"x q[0];", OpKind::X},
      {"z q[0];", OpKind::Z},
      {"cx q[0],q[1];", OpKind::CNOT},
      // The rest of the line is not examined.
      {"cx q[0],q[0];", OpKind::CNOT},
      {"h q[7]", OpKind::H},
      {"h  q[0];", OpKind::H},
      {"t anything at all", OpKind::T},
      {"s \x01", OpKind::S},
      // The shortest recognised lines: name and a blank, then one more byte.
      {"h ;", OpKind::H},
      {"x  ", std::nullopt},  // trimmed to "x"
  });
}

TEST(QasmReader, NameMustBeFollowedByBlank) {
  expect_lines({
      // Run together with the operand.
      {"hq[0];", std::nullopt},
      {"sq[0];", std::nullopt},
      {"sdgq[0];", std::nullopt},
      {"tdgq[0];", std::nullopt},
      {"cxq[0],q[1];", std::nullopt},
      // Longer names that begin with a gate's letters.
      {"sx q[0];", std::nullopt},
      {"tdag q[0];", std::nullopt},
      {"hh q[0];", std::nullopt},
      {"zz q[0];", std::nullopt},
      {"cz q[0],q[1];", std::nullopt},
      {"ccx q[0],q[1],q[2];", std::nullopt},
      {"sdg", std::nullopt},
      {"cx", std::nullopt},
      // A no-break space is trimmed at the ends but is not the blank after a name.
      {"s\u00A0q[0];", std::nullopt},
  });
}

TEST(QasmReader, OnlyHAcceptsTabAfterName) {
  expect_lines({
      {"h\tq[0];", OpKind::H},
      {"h\t\tq[0];", OpKind::H},
      {"s\tq[0];", std::nullopt},
      {"sdg\tq[0];", std::nullopt},
      {"t\tq[0];", std::nullopt},
      {"tdg\tq[0];", std::nullopt},
      {"x\tq[0];", std::nullopt},
      {"z\tq[0];", std::nullopt},
      {"cx\tq[0],q[1];", std::nullopt},
      // A tab as the only thing after the name is trimmed away.
      {"h\t", std::nullopt},
      // Other control characters are not a tab.
      {"h\vq[0];", std::nullopt},
      {"h\fq[0];", std::nullopt},
  });
}

TEST(QasmReader, CaseSensitive) {
  expect_lines({
      {"H q[0];", std::nullopt},
      {"T q[0];", std::nullopt},
      {"Sdg q[0];", std::nullopt},
      {"SDG q[0];", std::nullopt},
      {"CX q[0],q[1];", std::nullopt},
      {"X q[0];", std::nullopt},
  });
}

TEST(QasmReader, IgnoredLines) {
  expect_lines({
      // Gates outside the table and other statements.
      {"y q[0];", std::nullopt},
      {"id q[0];", std::nullopt},
      {"u1(pi) q[0];", std::nullopt},
      {"rz(pi/2) q[0];", std::nullopt},
      {"rz(pi/4) q[0];", std::nullopt},
      {"measure q[0] -> c[0];", std::nullopt},
      {"creg c[1];", std::nullopt},
      {"barrier q[0];", std::nullopt},
      {"reset q[0];", std::nullopt},
      // Header lines.
      {"OPENQASM 2.0;", std::nullopt},
      {"include \"qelib1.inc\";", std::nullopt},
      {"qreg q[1];", std::nullopt},
      // Comments, even when a gate follows the slashes.
      {"// h q[0];", std::nullopt},
      {"//t q[0];", std::nullopt},
      {"//", std::nullopt},
      // One-byte lines.
      {"h", std::nullopt},
      {"x", std::nullopt},
      {"t", std::nullopt},
      {";", std::nullopt},
      {"   z   ", std::nullopt},
  });
}

TEST(QasmReader, OneGatePerLine) {
  expect_lines({
      {"h q[0]; t q[0];", OpKind::H},
      {"t q[0];h q[0];", OpKind::T},
      {"t q[0]; // then a comment", OpKind::T},
      {"cx q[0],q[1]; x q[0];", OpKind::CNOT},
  });
}

TEST(QasmReader, TrimsUnicodeWhiteSpaceAtBothEnds) {
  // Every White_Space character but the line feed, which ends a line instead.
  for (std::string_view space :
       {" ", "\t", "\v", "\f", "\r", "\u0085", "\u00A0", "\u1680", "\u2000", "\u2005",
        "\u200A", "\u2028", "\u2029", "\u202F", "\u205F", "\u3000"}) {
    SCOPED_TRACE(::testing::Message() << "space \"" << space << "\"");
    const std::string s(space);
    EXPECT_EQ(show(read_line(s + s + "x q[0];" + s)), show(OpKind::X));
    // Trailing space is trimmed too: "h " followed by it is the one-byte "h".
    EXPECT_EQ(show(read_line("h " + s)), "nothing");
  }
  expect_lines({
      {"   x q[0];", OpKind::X},
      {"\t\f\v\r t q[0];", OpKind::T},
      {"\u00A0\u3000\u2028tdg q[0];\u00A0", OpKind::Tdg},
      {"\u3000h\u3000", std::nullopt},
      {" \t // comment", std::nullopt},
      {"\u00A0OPENQASM 2.0;", std::nullopt},
  });
}

TEST(QasmReader, DoesNotTrimOtherCharacters) {
  expect_lines({
      // Separators outside White_Space: information separators, zero-width
      // space, byte order mark, Mongolian vowel separator.
      {"\x1Ch q[0];", std::nullopt},
      {"\x1Fh q[0];", std::nullopt},
      {"\u200Bh q[0];", std::nullopt},
      {"\uFEFFh q[0];", std::nullopt},
      {"\u180Eh q[0];", std::nullopt},
      {"\x00h q[0];", std::nullopt},
      // Not trimmed at the end either, so the blank after the name stays.
      {"h \u200B", OpKind::H},
      {"h \uFEFF", OpKind::H},
      {"h \x1C", OpKind::H},
      // U+2000..U+200A end at U+200A; the next code point is not white space.
      {"\u200Bx q[0];", std::nullopt},
      {"x \u200C", OpKind::X},
  });
  // An embedded NUL is part of the line.
  EXPECT_EQ(show(read_line(std::string_view("\0x q[0];", 8))), "nothing");
  EXPECT_EQ(show(read_line(std::string_view("x \0", 3))), show(OpKind::X));
}

TEST(QasmReader, LineEnds) {
  const RecExpr<Op> lf = parse_qasm(std::string(kQasmHeader) + "h q[0];\nt q[0];\nt q[0];\n");
  // Carriage return plus line feed reads like a line feed.
  EXPECT_EQ(parse_qasm("OPENQASM 2.0;\r\ninclude \"qelib1.inc\";\r\nqreg q[1];\r\n"
                       "h q[0];\r\nt q[0];\r\nt q[0];\r\n"),
            lf);
  // A final line without a line feed counts; blank lines in between do not.
  EXPECT_EQ(parse_qasm("\n\nh q[0];\n\n\r\nt q[0];\n\n\nt q[0];"), lf);
  // A carriage return alone does not end a line.
  EXPECT_EQ(parse_qasm("h q[0];\rt q[0];\n"), RecExpr<Op>({kH}));
  // A line that is only "x" and a carriage return is a one-byte line.
  EXPECT_EQ(parse_qasm("x\r\nz q[0];\r\n"), RecExpr<Op>({kZ}));
  // Form feeds and vertical tabs do not end lines either.
  EXPECT_EQ(parse_qasm("h q[0];\ft q[0];\vx q[0];"), RecExpr<Op>({kH}));
}

// ---------------------------------------------------------------- writer

TEST(QasmWriter, LineForEachGate) {
  // Seq over every leaf, built by hand, with I in the middle.
  RecExpr<Op> expr;
  std::optional<Id> root;
  for (OpKind kind : {OpKind::H, OpKind::S, OpKind::Sdg, OpKind::T, OpKind::Tdg, OpKind::I,
                      OpKind::X, OpKind::Z, OpKind::RZ1, OpKind::RZ2, OpKind::CNOT}) {
    const Id leaf = expr.add(Op(kind));
    root = root ? expr.add(Op::seq(*root, leaf)) : leaf;
  }
  EXPECT_EQ(print_qasm(expr), std::string(kQasmHeader) +
                                  "h q[0];\n"
                                  "s q[0];\n"
                                  "sdg q[0];\n"
                                  "t q[0];\n"
                                  "tdg q[0];\n"
                                  "x q[0];\n"
                                  "z q[0];\n"
                                  "rz(pi/2) q[0];\n"
                                  "rz(pi/4) q[0];\n"
                                  "cx q[0],q[0];\n");
  // RZ2 is not a T gate; I is not a gate at all.
  EXPECT_EQ(stats(expr), (CircuitStats{.t = 2, .gates = 10, .depth = 10}));
}

TEST(QasmWriter, ReaderChainRoundTrips) {
  const std::string text = std::string(kQasmHeader) + "h q[0];\nt q[0];\nt q[0];\n";
  const RecExpr<Op> expr = parse_qasm(text);
  EXPECT_EQ(print_qasm(expr), text);
  EXPECT_EQ(stats(expr), (CircuitStats{.t = 2, .gates = 3, .depth = 3}));
}

TEST(QasmWriter, ParIsWrittenFirstSideThenSecond) {
  // Par(Seq(X, Z), Seq(Z, H)).
  const RecExpr<Op> expr({kX, kZ, Op::seq(0, 1), kZ, kH, Op::seq(3, 4), Op::par(2, 5)});
  EXPECT_EQ(print_qasm(expr), std::string(kQasmHeader) + "x q[0];\nz q[0];\nz q[0];\nh q[0];\n");
  // The depth counted here is the list length, not the larger side plus one.
  EXPECT_EQ(stats(expr), (CircuitStats{.t = 0, .gates = 4, .depth = 4}));
}

TEST(QasmWriter, RotationsAndCnotAreGatesButNotTGates) {
  // Seq(Par(RZ1, RZ2), CNOT).
  const RecExpr<Op> expr({Op(OpKind::RZ1), Op(OpKind::RZ2), Op::par(0, 1), Op(OpKind::CNOT),
                          Op::seq(2, 3)});
  EXPECT_EQ(stats(expr), (CircuitStats{.t = 0, .gates = 3, .depth = 3}));
  const std::string text = print_qasm(expr);
  EXPECT_EQ(text, std::string(kQasmHeader) + "rz(pi/2) q[0];\nrz(pi/4) q[0];\ncx q[0],q[0];\n");
  // Read back, the rotations are dropped and CNOT stays.
  EXPECT_EQ(parse_qasm(text), RecExpr<Op>({Op(OpKind::CNOT)}));
}

TEST(QasmWriter, SharedNodeIsWrittenAtEachUse) {
  // Seq(#1, #1) with #1 = Seq(T, S): the gates of #1 twice.
  const RecExpr<Op> expr({kT, kS, Op::seq(0, 1), Op::seq(2, 2)});
  EXPECT_EQ(print_qasm(expr), std::string(kQasmHeader) + "t q[0];\ns q[0];\nt q[0];\ns q[0];\n");
  EXPECT_EQ(stats(expr), (CircuitStats{.t = 2, .gates = 4, .depth = 4}));
}

TEST(QasmWriter, RegroupingGivesSameTextAndStats) {
  // T, H, Tdg, X grouped ((T H) Tdg) X, T (H (Tdg X)) and (T H) (Tdg X).
  const RecExpr<Op> left({kT, kH, Op::seq(0, 1), kTdg, Op::seq(2, 3), kX, Op::seq(4, 5)});
  const RecExpr<Op> right({kX, kTdg, Op::seq(1, 0), kH, Op::seq(3, 2), kT, Op::seq(5, 4)});
  const RecExpr<Op> balanced({kT, kH, Op::seq(0, 1), kTdg, kX, Op::seq(3, 4), Op::seq(2, 5)});
  const std::string text =
      std::string(kQasmHeader) + "t q[0];\nh q[0];\ntdg q[0];\nx q[0];\n";
  for (const RecExpr<Op>* expr : {&left, &right, &balanced}) {
    EXPECT_EQ(print_qasm(*expr), text);
    EXPECT_EQ(stats(*expr), (CircuitStats{.t = 2, .gates = 4, .depth = 4}));
  }
}

TEST(QasmWriter, ChildPastTheEndFaults) {
  const RecExpr<Op> expr({kT, Op::seq(0, 5)});
  try {
    (void)print_qasm(expr);
    ADD_FAILURE() << "no fault for child 5 of a two-node expression";
  } catch (const Fault& f) {
    EXPECT_EQ(f.message(), "index out of bounds: the len is 2 but the index is 5");
  }
  EXPECT_THROW((void)stats(expr), Fault);
}

// The line of each leaf, indexed by variant (I has none).
constexpr std::string_view kLines[] = {"",        "h q[0];", "s q[0];",        "sdg q[0];",
                                       "t q[0];", "tdg q[0];", "x q[0];",      "z q[0];",
                                       "rz(pi/2) q[0];", "rz(pi/4) q[0];", "cx q[0],q[0];"};

// The gate order by plain recursion, as the model of `emit`.
void model_emit(const RecExpr<Op>& expr, Id id, std::vector<Op>& out) {
  const Op node = expr[id];
  if (!node.is_leaf()) {
    for (Id child : node.children()) model_emit(expr, child, out);
  } else if (node != kI) {
    out.push_back(node);
  }
}

TEST(QasmWriter, EmitAgreesWithRecursiveModelOnRandomTrees) {
  std::mt19937 rng(20240611);
  for (int round = 0; round < 300; ++round) {
    // Random nodes whose children point anywhere earlier, so subterms are shared.
    RecExpr<Op> expr;
    const int size = 1 + static_cast<int>(rng() % 40);
    for (int k = 0; k < size; ++k) {
      if (k == 0 || rng() % 3 == 0) {
        expr.add(Op(static_cast<OpKind>(rng() % 11)));
      } else {
        const Id a = rng() % k, b = rng() % k;
        expr.add(rng() % 2 ? Op::seq(a, b) : Op::par(a, b));
      }
    }
    std::vector<Op> expected;
    model_emit(expr, expr.root(), expected);
    SCOPED_TRACE(round);
    ASSERT_EQ(gates_of(expr), expected);

    std::uint64_t t = 0;
    std::string text(kQasmHeader);
    for (Op g : expected) {
      t += g.op() == OpKind::T || g.op() == OpKind::Tdg;
      text += kLines[static_cast<std::size_t>(g.op())];
      text += '\n';
    }
    ASSERT_EQ(stats(expr), (CircuitStats{.t = t, .gates = expected.size(),
                                         .depth = expected.size()}));
    ASSERT_EQ(print_qasm(expr), text);
  }
}

// ---------------------------------------------------------------- long input

// Runs `work` on a thread with a small stack, so that a walk recursing once
// per gate fails here whatever the process's own stack limit is.
void run_on_small_stack(void (*work)(void*), void* arg) {
  struct Call {
    void (*work)(void*);
    void* arg;
    std::exception_ptr error;
  } call{work, arg, nullptr};
  pthread_attr_t attr;
  ASSERT_EQ(pthread_attr_init(&attr), 0);
  ASSERT_EQ(pthread_attr_setstacksize(&attr, 256 * 1024), 0);
  pthread_t thread;
  const int created = pthread_create(
      &thread, &attr,
      [](void* p) -> void* {
        auto* c = static_cast<Call*>(p);
        try {
          c->work(c->arg);
        } catch (...) {
          c->error = std::current_exception();
        }
        return nullptr;
      },
      &call);
  pthread_attr_destroy(&attr);
  ASSERT_EQ(created, 0);
  ASSERT_EQ(pthread_join(thread, nullptr), 0);
  if (call.error) std::rethrow_exception(call.error);
}

TEST(QasmLongInput, MillionGateChainNeedsNoCallStack) {
  constexpr std::size_t kGates = 1'000'000;
  struct Work {
    std::string text;
    std::size_t nodes = 0;
    Op root;
    CircuitStats measured;
    std::string written;
  } work;
  work.text = kQasmHeader;
  work.text.reserve(kQasmHeader.size() + 10 * kGates);
  std::uint64_t t = 0;
  for (std::size_t k = 0; k < kGates; ++k) {
    switch (k % 5) {
      case 0: work.text += "h q[0];\n"; break;
      case 1: work.text += "t q[0];\n"; ++t; break;
      case 2: work.text += "sdg q[0];\n"; break;
      case 3: work.text += "tdg q[0];\n"; ++t; break;
      case 4: work.text += "cx q[0],q[0];\n"; break;
    }
  }
  run_on_small_stack(
      [](void* p) {
        auto& w = *static_cast<Work*>(p);
        const RecExpr<Op> expr = parse_qasm(w.text);
        w.nodes = expr.size();
        w.root = expr[expr.root()];
        w.measured = stats(expr);
        w.written = print_qasm(expr);
      },
      &work);
  EXPECT_EQ(work.nodes, 2 * kGates - 1);
  EXPECT_EQ(work.root, Op::seq(2 * kGates - 4, 2 * kGates - 3));
  EXPECT_EQ(work.measured, (CircuitStats{.t = t, .gates = kGates, .depth = kGates}));
  EXPECT_TRUE(work.written == work.text) << "written text differs from the text read";
}

}  // namespace
}  // namespace kestrel
