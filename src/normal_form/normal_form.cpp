// The normal form's tables, all computed by the compiler from the 24
// Clifford operators (products, inverses, shortest words, what each gate does
// to a segment, and the writer's shortest-path automaton), and the wire's
// reading and writing, which only look them up.
#include "src/normal_form/normal_form.h"

#include <algorithm>
#include <array>
#include <type_traits>

#include "engine/fault.h"

namespace kestrel {
namespace {

// Signed Pauli operators as 2 * axis + sign: 0 X, 1 -X, 2 Y, 3 -Y, 4 Z, 5 -Z.
using Pauli = std::uint8_t;
constexpr Pauli kX = 0, kY = 2, kZ = 4;
constexpr Pauli minus(Pauli p) { return p ^ 1; }
constexpr std::uint8_t axis_of(Pauli p) { return p >> 1; }

// A Clifford operator up to phase, as what conjugation by it (P -> C P C^-1)
// makes of X and of Z.
struct Tableau {
  Pauli x = kX;  // the image of X
  Pauli z = kZ;  // the image of Z
  constexpr bool operator==(const Tableau&) const = default;
};
static_assert(std::is_trivially_copyable_v<Tableau>);

// C P C^-1. Y = iXZ goes to i (C X C^-1)(C Z C^-1) = i s1 s2 P1 P2, and
// P1 P2 = i P3 when X, Y, Z lists P1 then P2 cyclically, else -i P3.
constexpr Pauli conjugate(Tableau c, Pauli p) {
  Pauli image = 0;
  if (axis_of(p) == 0) {
    image = c.x;
  } else if (axis_of(p) == 2) {
    image = c.z;
  } else {
    const int a1 = axis_of(c.x), a2 = axis_of(c.z);
    const int cyclic = a2 == (a1 + 1) % 3 ? 1 : 0;
    image = static_cast<Pauli>(2 * (3 - a1 - a2) + ((c.x ^ c.z ^ cyclic) & 1));
  }
  return image ^ (p & 1);
}

// The operator product a * b: b first, then a.
constexpr Tableau compose(Tableau a, Tableau b) { return {conjugate(a, b.x), conjugate(a, b.z)}; }

// The Clifford gates of the language, in the order that breaks ties between
// words of equal length.
struct Generator {
  OpKind gate;      // the gate
  Tableau tableau;  // its operator
};
constexpr std::array<Generator, 5> kGenerators = {{
    {OpKind::H, {kZ, kX}},
    {OpKind::S, {kY, kZ}},
    {OpKind::Sdg, {minus(kY), kZ}},
    {OpKind::X, {kX, minus(kZ)}},
    {OpKind::Z, {minus(kX), kZ}},
}};

// The rotations by +pi/2 and -pi/2 about X, Y and Z: b goes to +-(a x b).
constexpr std::array<Tableau, 3> kQuarter = {{{kX, minus(kY)}, {minus(kZ), kX}, {kY, kZ}}};
constexpr std::array<Tableau, 3> kQuarterBack = {{{kX, kY}, {kZ, minus(kX)}, {minus(kY), kZ}}};

constexpr std::size_t kCliffords = 24;
constexpr std::size_t kMaxWord = 3;  // the longest shortest word (checked below)

// A gate sequence in circuit order.
struct Word {
  std::array<OpKind, kMaxWord> gates{};  // the first `size` are used
  std::uint8_t size = 0;                 // its length
};
static_assert(std::is_trivially_copyable_v<Word>);

// The 24 Clifford operators, numbered in the order a breadth-first search
// from the identity meets them, so 0 is the identity and a lower number
// never has a longer word; and a shortest word for each.
struct Group {
  std::array<Tableau, kCliffords> element{};  // the operator of each number
  std::array<Word, kCliffords> word{};        // a shortest word for it
};

constexpr Group make_group() {
  Group g;
  std::size_t count = 1;  // element 0 is the identity, with the empty word
  for (std::size_t next = 0; next < count; ++next) {
    for (const Generator& gen : kGenerators) {
      const Tableau t = compose(gen.tableau, g.element[next]);
      bool known = false;
      for (std::size_t k = 0; k < count; ++k) known = known || g.element[k] == t;
      if (known) continue;
      if (count == kCliffords || g.word[next].size == kMaxWord) throw "bad Clifford group";
      g.element[count] = t;
      g.word[count] = g.word[next];
      g.word[count].gates[g.word[count].size++] = gen.gate;
      ++count;
    }
  }
  if (count != kCliffords) throw "bad Clifford group";
  return g;
}
constexpr Group kGroup = make_group();

constexpr std::uint8_t number(Tableau t) {
  for (std::size_t k = 0; k < kCliffords; ++k) {
    if (kGroup.element[k] == t) return static_cast<std::uint8_t>(k);
  }
  throw "not a Clifford operator";
}

constexpr std::uint8_t times(std::uint8_t a, std::uint8_t b) {
  return number(compose(kGroup.element[a], kGroup.element[b]));
}

constexpr std::uint8_t inverse(std::uint8_t a) {
  for (std::uint8_t b = 0; b < kCliffords; ++b) {
    if (times(a, b) == 0) return b;
  }
  throw "no inverse";
}

constexpr std::uint8_t word_size(std::uint8_t c) { return kGroup.word[c].size; }

using Table = std::array<std::array<std::uint8_t, kCliffords>, kCliffords>;

constexpr Table make_products() {
  Table t{};
  for (std::uint8_t a = 0; a < kCliffords; ++a) {
    for (std::uint8_t b = 0; b < kCliffords; ++b) t[a][b] = times(a, b);
  }
  return t;
}
constexpr Table kProduct = make_products();

constexpr std::array<std::uint8_t, kCliffords> make_inverses() {
  std::array<std::uint8_t, kCliffords> t{};
  for (std::uint8_t a = 0; a < kCliffords; ++a) t[a] = inverse(a);
  return t;
}
constexpr std::array<std::uint8_t, kCliffords> kInverse = make_inverses();

// ---------------------------------------------------------------------------
// Reading.

constexpr std::uint8_t kNoAxis = 3;

// What reading one gate does to a segment whose trailing Clifford is C.
struct Step {
  std::uint8_t axis = kNoAxis;  // the rotation it adds, or kNoAxis for a Clifford gate
  std::uint8_t pushed = 0;      // the new trailing Clifford when the rotation is pushed
  std::uint8_t folded = 0;      // the new trailing Clifford when it folds into the top
};
static_assert(std::is_trivially_copyable_v<Step>);

// A step table has a column per run gate, in the order of the variants.
constexpr std::size_t kColumns = 7;
constexpr std::size_t column(OpKind gate) {
  return static_cast<std::size_t>(gate) - static_cast<std::size_t>(OpKind::H);
}
static_assert(column(OpKind::Z) + 1 == kColumns && is_run_gate(OpKind::H) &&
              is_run_gate(OpKind::Z) && !is_run_gate(OpKind::I) && !is_run_gate(OpKind::RZ1));

// A Clifford gate G makes C into G C. A T gate after C is C (C^-1 T C), and
// C^-1 T C is the pi/4 rotation about P = C^-1 Z C. When P is -a, that is
// the rotation about a followed by the -pi/2 rotation about a, which joins C.
// Two pi/4 rotations about a are the pi/2 rotation, which joins C too. A
// T-dagger is the same with -P.
constexpr std::array<std::array<Step, kColumns>, kCliffords> make_steps() {
  std::array<std::array<Step, kColumns>, kCliffords> t{};
  for (std::uint8_t c = 0; c < kCliffords; ++c) {
    const Tableau tableau = kGroup.element[c];
    for (const Generator& gen : kGenerators) {
      const std::uint8_t next = number(compose(gen.tableau, tableau));
      t[c][column(gen.gate)] = {kNoAxis, next, next};
    }
    const Pauli p = conjugate(kGroup.element[kInverse[c]], kZ);
    for (const bool dagger : {false, true}) {
      const Pauli q = dagger ? minus(p) : p;
      const std::uint8_t a = axis_of(q);
      const bool negative = q & 1;
      const std::uint8_t pushed = negative ? number(compose(tableau, kQuarterBack[a])) : c;
      const std::uint8_t folded = negative ? c : number(compose(tableau, kQuarter[a]));
      t[c][column(dagger ? OpKind::Tdg : OpKind::T)] = {a, pushed, folded};
    }
  }
  return t;
}
constexpr auto kStep = make_steps();

// ---------------------------------------------------------------------------
// Writing.
//
// A segment R_a1, ..., R_ak, C is written as W0, g1, W1, ..., gk, Wk, each g
// a T or a T-dagger and each W a Clifford word. Rotation i is written in a
// frame L, a Clifford with L Z L^-1 = +-a_i, as L g L^-1; the frame after it may
// differ from L by an S or S-dagger, which commutes with g, since T = S
// T-dagger: R = L for (+a, T) and (-a, T-dagger), L S for (+a, T-dagger),
// L S-dagger for (-a, T). Then W0 = L1^-1, Wi = L(i+1)^-1 Ri and Wk = C Rk.
// Eight frames fit each axis, and the fewest gates over all choices is a
// shortest path through eight frames per rotation.

constexpr std::size_t kFrames = 8;
using FrameList = std::array<std::uint8_t, kFrames>;

// The frames of each axis, in the group's order.
constexpr std::array<FrameList, 3> make_frames() {
  std::array<FrameList, 3> t{};
  std::array<std::size_t, 3> count{};
  for (std::uint8_t c = 0; c < kCliffords; ++c) {
    const std::uint8_t a = axis_of(conjugate(kGroup.element[c], kZ));
    if (count[a] == kFrames) throw "too many frames";
    t[a][count[a]++] = c;
  }
  return t;
}
constexpr std::array<FrameList, 3> kFrameOf = make_frames();

constexpr std::uint8_t frame_index(std::uint8_t axis, std::uint8_t c) {
  for (std::uint8_t j = 0; j < kFrames; ++j) {
    if (kFrameOf[axis][j] == c) return j;
  }
  throw "not a frame of the axis";
}

// For frame j of axis a and g (0 T, 1 T-dagger): the frame after the rotation.
constexpr auto make_turns() {
  std::array<std::array<std::array<std::uint8_t, 2>, kFrames>, 3> t{};
  const std::uint8_t s = number(kGenerators[1].tableau), sdg = number(kGenerators[2].tableau);
  for (std::uint8_t a = 0; a < 3; ++a) {
    for (std::uint8_t j = 0; j < kFrames; ++j) {
      const std::uint8_t l = kFrameOf[a][j];
      const bool negative = conjugate(kGroup.element[l], kZ) & 1;
      t[a][j][0] = frame_index(a, negative ? times(l, sdg) : l);
      t[a][j][1] = frame_index(a, negative ? l : times(l, s));
    }
  }
  return t;
}
constexpr auto kTurn = make_turns();

// Gates of W0 for frame j of axis a.
constexpr auto make_leads() {
  std::array<std::array<std::uint8_t, kFrames>, 3> t{};
  for (std::uint8_t a = 0; a < 3; ++a) {
    for (std::uint8_t j = 0; j < kFrames; ++j) t[a][j] = word_size(kInverse[kFrameOf[a][j]]);
  }
  return t;
}
constexpr auto kLead = make_leads();

// Gates between a rotation about a left in frame r and one about b entered
// in frame j.
constexpr auto make_between() {
  std::array<std::array<std::array<std::array<std::uint8_t, kFrames>, kFrames>, 3>, 3> t{};
  for (std::uint8_t a = 0; a < 3; ++a) {
    for (std::uint8_t b = 0; b < 3; ++b) {
      for (std::uint8_t r = 0; r < kFrames; ++r) {
        for (std::uint8_t j = 0; j < kFrames; ++j) {
          t[a][b][r][j] = word_size(times(kInverse[kFrameOf[b][j]], kFrameOf[a][r]));
        }
      }
    }
  }
  return t;
}
constexpr auto kBetween = make_between();

// Gates of Wk for trailing Clifford c after a rotation about a left in frame r.
constexpr auto make_trails() {
  std::array<std::array<std::array<std::uint8_t, kFrames>, 3>, kCliffords> t{};
  for (std::uint8_t c = 0; c < kCliffords; ++c) {
    for (std::uint8_t a = 0; a < 3; ++a) {
      for (std::uint8_t r = 0; r < kFrames; ++r) t[c][a][r] = word_size(times(c, kFrameOf[a][r]));
    }
  }
  return t;
}
constexpr auto kTrail = make_trails();

// The shortest path, as an automaton. After rotation i the path's state is
// its axis and, for each frame the rotation may be left in, the fewest
// gates so far, less their minimum. These differences stay small, so there
// are few such states (42), and a rotation about the next axis moves from
// one to the next by a table look-up. Going back from the end, each rotation's
// frames and gate come from its state and the previous one.

constexpr std::uint8_t kFar = 0xFF;
using Costs = std::array<std::uint8_t, kFrames>;

struct PathState {
  std::uint8_t axis = 0;  // the axis of the last rotation
  Costs left{};           // fewest gates up to leaving it in each frame, less their minimum
  constexpr bool operator==(const PathState&) const = default;
};
static_assert(std::is_trivially_copyable_v<PathState>);

// The fewest gates up to entering each frame of rotation `b` after `from`,
// or before it when it is the first (`from` null).
constexpr Costs entering(const PathState* from, std::uint8_t b) {
  if (from == nullptr) return kLead[b];
  Costs entered{};
  for (std::uint8_t j = 0; j < kFrames; ++j) {
    std::uint32_t best = kFar;
    for (std::uint8_t r = 0; r < kFrames; ++r) {
      best = std::min<std::uint32_t>(best, from->left[r] + kBetween[from->axis][b][r][j]);
    }
    entered[j] = static_cast<std::uint8_t>(best);
  }
  return entered;
}

// The state after rotation `b` entered at costs `entered`.
constexpr PathState leaving(std::uint8_t b, const Costs& entered) {
  PathState next{b, {}};
  next.left.fill(kFar);
  for (std::uint8_t j = 0; j < kFrames; ++j) {
    for (std::uint8_t g = 0; g < 2; ++g) {
      std::uint8_t& left = next.left[kTurn[b][j][g]];
      left = std::min(left, static_cast<std::uint8_t>(entered[j] + 1));
    }
  }
  const std::uint8_t least = *std::min_element(next.left.begin(), next.left.end());
  for (std::uint8_t& cost : next.left) cost = static_cast<std::uint8_t>(cost - least);
  return next;
}

constexpr std::size_t kMaxPathStates = 64;

struct Automaton {
  std::array<PathState, kMaxPathStates> state{};  // the states met, in order
  std::size_t size = 0;                            // how many there are
  std::array<std::uint8_t, 3> first{};             // the state after one rotation, per axis
  // The state after a rotation about each axis; unused for the state's own axis.
  std::array<std::array<std::uint8_t, 3>, kMaxPathStates> next{};
};

constexpr std::uint8_t find_or_add(Automaton& m, const PathState& s) {
  for (std::size_t k = 0; k < m.size; ++k) {
    if (m.state[k] == s) return static_cast<std::uint8_t>(k);
  }
  if (m.size == kMaxPathStates) throw "too many path states";
  m.state[m.size] = s;
  return static_cast<std::uint8_t>(m.size++);
}

constexpr Automaton make_automaton() {
  Automaton m;
  for (std::uint8_t a = 0; a < 3; ++a) {
    m.first[a] = find_or_add(m, leaving(a, entering(nullptr, a)));
  }
  for (std::size_t k = 0; k < m.size; ++k) {
    for (std::uint8_t b = 0; b < 3; ++b) {
      if (b == m.state[k].axis) continue;
      const PathState from = m.state[k];
      m.next[k][b] = find_or_add(m, leaving(b, entering(&from, b)));
    }
  }
  return m;
}
constexpr Automaton kPath = make_automaton();

// Per state, the frame the last rotation is left in before each trailing
// Clifford.
constexpr auto make_lasts() {
  std::array<std::array<std::uint8_t, kCliffords>, kMaxPathStates> t{};
  for (std::size_t k = 0; k < kPath.size; ++k) {
    const PathState& from = kPath.state[k];
    for (std::uint8_t c = 0; c < kCliffords; ++c) {
      std::uint32_t best = kFar;
      for (std::uint8_t f = 0; f < kFrames; ++f) {
        const std::uint32_t cost = from.left[f] + kTrail[c][from.axis][f];
        if (cost < best) {
          best = cost;
          t[k][c] = f;
        }
      }
    }
  }
  return t;
}
constexpr auto kLast = make_lasts();

// One step back from rotation `b` left in frame r, after `from` (null for
// the first rotation) and entered at costs `entered`: the frame j it was
// entered in and its gate g, as 2 j + g, and the frame the rotation before
// it is left in.
struct Back {
  std::uint8_t taken = 0;     // 2 j + g
  std::uint8_t previous = 0;  // the frame the rotation before is left in
};
static_assert(std::is_trivially_copyable_v<Back>);

constexpr Back back_step(const PathState* from, std::uint8_t b, const Costs& entered,
                         std::uint8_t r) {
  Back back;
  std::uint32_t best = kFar;
  for (std::uint8_t j = 0; j < kFrames; ++j) {
    for (std::uint8_t g = 0; g < 2; ++g) {
      if (kTurn[b][j][g] == r && entered[j] < best) {
        best = entered[j];
        back.taken = static_cast<std::uint8_t>(2 * j + g);
      }
    }
  }
  if (from == nullptr) return back;
  best = kFar;
  for (std::uint8_t f = 0; f < kFrames; ++f) {
    const std::uint32_t cost = from->left[f] + kBetween[from->axis][b][f][back.taken >> 1];
    if (cost < best) {
      best = cost;
      back.previous = f;
    }
  }
  return back;
}

using BackTable = std::array<std::array<Back, kFrames>, 3>;  // per axis and frame left

struct BackTables {
  BackTable first{};                               // from the first rotation
  std::array<BackTable, kMaxPathStates> after{};   // from a rotation after each state
};

// Per state and next axis, the fewest gates up to entering each frame.
constexpr auto make_entered() {
  std::array<std::array<Costs, 3>, kMaxPathStates> t{};
  for (std::size_t k = 0; k < kPath.size; ++k) {
    for (std::uint8_t b = 0; b < 3; ++b) {
      if (b != kPath.state[k].axis) t[k][b] = entering(&kPath.state[k], b);
    }
  }
  return t;
}
constexpr auto kEntered = make_entered();

constexpr BackTables make_backs() {
  BackTables t;
  for (std::uint8_t b = 0; b < 3; ++b) {
    const Costs entered = entering(nullptr, b);
    for (std::uint8_t r = 0; r < kFrames; ++r) t.first[b][r] = back_step(nullptr, b, entered, r);
  }
  for (std::size_t k = 0; k < kPath.size; ++k) {
    const PathState& from = kPath.state[k];
    for (std::uint8_t b = 0; b < 3; ++b) {
      if (b == from.axis) continue;
      for (std::uint8_t r = 0; r < kFrames; ++r) {
        t.after[k][b][r] = back_step(&from, b, kEntered[k][b], r);
      }
    }
  }
  return t;
}
constexpr BackTables kBack = make_backs();

void append_word(std::uint8_t c, std::vector<OpKind>& out) {
  const Word& w = kGroup.word[c];
  for (std::uint8_t k = 0; k < w.size; ++k) out.push_back(w.gates[k]);
}

// Appends the fewest-gate circuit for the rotations `axes` then Clifford
// `clifford`. `path` is scratch. Ties go to the lowest frame, and to T over
// T-dagger.
void write_form(std::span<const std::uint8_t> axes, std::uint8_t clifford,
                std::vector<std::uint8_t>& path, std::vector<OpKind>& out) {
  if (axes.empty()) {
    append_word(clifford, out);
    return;
  }
  const std::size_t k = axes.size();
  path.resize(k);
  std::uint8_t state = kPath.first[axes[0]];
  path[0] = state;
  for (std::size_t i = 1; i < k; ++i) {
    state = kPath.next[state][axes[i]];
    path[i] = state;
  }
  // Back from the end, rotation i leaves in frame r; path[i] becomes
  // 16 r + 2 j + g, j the frame it is entered in and g its gate.
  std::uint8_t r = kLast[state][clifford];
  for (std::size_t i = k; i-- > 0;) {
    const Back back = i > 0 ? kBack.after[path[i - 1]][axes[i]][r] : kBack.first[axes[0]][r];
    path[i] = static_cast<std::uint8_t>(16 * r + back.taken);
    r = back.previous;
  }
  out.reserve(out.size() + (kMaxWord + 1) * (k + 1));
  append_word(kInverse[kFrameOf[axes[0]][(path[0] & 15) >> 1]], out);
  for (std::size_t i = 0; i < k; ++i) {
    out.push_back(path[i] & 1 ? OpKind::Tdg : OpKind::T);
    const std::uint8_t leave = kFrameOf[axes[i]][path[i] >> 4];
    if (i + 1 < k) {
      const std::uint8_t enter = kFrameOf[axes[i + 1]][(path[i + 1] & 15) >> 1];
      append_word(kProduct[kInverse[enter]][leave], out);
    } else {
      append_word(kProduct[clifford][leave], out);
    }
  }
}

}  // namespace

void NormalFormWire::add(OpKind gate) {
  Segment& segment = segments_.back();
  switch (gate) {
    case OpKind::CNOT:
      if (segments_.size() > 1 && segment.clifford == 0 && axes_.size() == segment.axes_begin) {
        read_.resize(segment.read_begin);
        segments_.pop_back();
      } else {
        segments_.push_back(Segment{axes_.size(), read_.size(), 0, 0});
      }
      return;
    case OpKind::I: return;
    default:
      if (!is_run_gate(gate)) {
        fault("a wire reads the seven gates and cx only: " + Op(gate).debug());
      }
      break;
  }
  read_.push_back(static_cast<std::uint8_t>(gate));
  const Step step = kStep[segment.clifford][column(gate)];
  if (step.axis == kNoAxis) {
    segment.clifford = step.pushed;
    return;
  }
  ++segment.read_t;
  if (axes_.size() > segment.axes_begin && axes_.back() == step.axis) {
    axes_.pop_back();
    segment.clifford = step.folded;
  } else {
    axes_.push_back(step.axis);
    segment.clifford = step.pushed;
  }
}

void NormalFormWire::write(std::vector<OpKind>& out) const {
  std::vector<std::uint8_t> path;
  for (std::size_t k = 0; k < segments_.size(); ++k) {
    const Segment& segment = segments_[k];
    const bool last = k + 1 == segments_.size();
    const std::size_t axes_end = last ? axes_.size() : segments_[k + 1].axes_begin;
    const std::size_t read_end = last ? read_.size() : segments_[k + 1].read_begin;
    const std::span<const std::uint8_t> axes(axes_.data() + segment.axes_begin,
                                             axes_end - segment.axes_begin);
    const std::span<const std::uint8_t> read(read_.data() + segment.read_begin,
                                             read_end - segment.read_begin);
    if (k > 0) out.push_back(OpKind::CNOT);
    const std::size_t start = out.size();
    write_form(axes, segment.clifford, path, out);
    if (axes.size() == segment.read_t && out.size() - start > read.size()) {
      out.resize(start);
      for (std::uint8_t g : read) out.push_back(static_cast<OpKind>(g));
    }
  }
}

}  // namespace kestrel
