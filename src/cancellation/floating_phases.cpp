// The regions of cx, x and phase gates found in one walk, then in each the
// wires' parities by segments (a segment of a wire starts at each cx onto
// it and each x on it); a region written anew whole (the fewest-cx search
// on up to eight wires, else a parity network) where that takes fewer cx
// gates, else either its windows (stretch_windows.cpp) or its cx pairs
// removed where every phase gate's parity is still held by some segment,
// the phase gates whose segment changed moved to the first segment that
// holds their parity, whichever saves more.
#include "src/cancellation/floating_phases.h"

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <utility>

#include "engine/fault.h"
#include "engine/hashing.h"
#include "src/cancellation/stretch_windows.h"
#include "src/gf2/fewest_cx.h"
#include "src/gf2/linear_synthesis.h"
#include "src/gf2/parity_network.h"

namespace kestrel {
namespace {

constexpr std::int32_t kNone = -1;
// A region takes at most this many wires; a cx that would bring in more
// starts a region of its own.
constexpr std::uint32_t kMostWires = 512;
// A region of at most this many wires may be written as a parity network.
constexpr std::uint32_t kNetworkWires = 64;
// A region of at most this many cx gates, no two the same, is left as it is.
constexpr std::size_t kFewCx = 8;

bool is_phase(Elementary e) { return elementary_info(e).diagonal != kNotDiagonal; }

struct Region {
  std::int64_t first = 0;            // its first item
  bool lost = false;                 // a wire has left it
  bool merged = false;               // another region joined it: `items` are out of order
  std::int64_t after = -1;           // the last item outside it on a wire before the wire joined
  std::int64_t until = INT64_MAX;    // the first item outside it on a wire after the wire left
  std::vector<std::uint32_t> wires;  // its qubits, in the order they joined
  std::vector<std::uint32_t> items;  // its gates, in order
  // Per wire: the last item outside it on the wire before it joined (-1:
  // none), the first after it left (INT64_MAX: none).
  std::vector<std::int64_t> wire_after, wire_until;
};

// The walk that cuts the items into regions.
struct Regions {
  explicit Regions(std::uint32_t qubits) : of(qubits, kNone), slot(qubits, 0), last(qubits, -1) {}

  // Takes q out of its region at `item`.
  void leave(std::uint32_t q, std::int64_t item) {
    if (of[q] != kNone) {
      all[of[q]].lost = true;
      all[of[q]].until = std::min(all[of[q]].until, item);
      all[of[q]].wire_until[slot[q]] = item;
    }
    of[q] = kNone;
  }
  void outside(std::uint32_t q, std::int64_t item) {
    leave(q, item);
    last[q] = item;
  }
  std::int32_t open(std::int64_t item) {
    all.push_back({item, false, false, -1, INT64_MAX, {}, {}, {}, {}});
    return static_cast<std::int32_t>(all.size() - 1);
  }
  void join(std::int32_t r, std::uint32_t q) {
    of[q] = r;
    slot[q] = static_cast<std::uint32_t>(all[r].wires.size());
    all[r].wires.push_back(q);
    all[r].wire_after.push_back(last[q]);
    all[r].wire_until.push_back(INT64_MAX);
    all[r].after = std::max(all[r].after, last[q]);
  }
  // Whether q (in another region or none) may join region r at `item`:
  // every gate it has had precedes r's first.
  bool may_join(std::int32_t r, std::uint32_t q) const {
    return r != kNone && last[q] < all[r].first && all[r].wires.size() < kMostWires;
  }
  void add(std::int32_t r, std::uint32_t item, std::initializer_list<std::uint32_t> qubits) {
    all[r].items.push_back(item);
    for (std::uint32_t q : qubits) last[q] = item;
  }
  void one_qubit(std::uint32_t item, std::uint32_t q) {
    if (of[q] == kNone) join(open(item), q);
    add(of[q], item, {q});
  }
  void cx(std::uint32_t item, std::uint32_t c, std::uint32_t t) {
    const std::int32_t rc = of[c], rt = of[t];
    if (rc != kNone && rc == rt) return add(rc, item, {c, t});
    if (rc != kNone && rt != kNone && !all[rc].lost && !all[rt].lost &&
        all[rc].wires.size() + all[rt].wires.size() <= kMostWires) {
      // Neither region has a gate outside it after one of its own: they
      // are one region (the smaller joins the larger; the items are put in
      // order once the walk ends).
      const bool c_larger = all[rc].items.size() >= all[rt].items.size();
      const std::int32_t keep = c_larger ? rc : rt;
      Region& into = all[keep];
      Region& from = all[c_larger ? rt : rc];
      for (std::uint32_t q : from.wires) of[q] = keep, slot[q] += static_cast<std::uint32_t>(into.wires.size());
      into.wires.insert(into.wires.end(), from.wires.begin(), from.wires.end());
      into.wire_after.insert(into.wire_after.end(), from.wire_after.begin(), from.wire_after.end());
      into.wire_until.insert(into.wire_until.end(), from.wire_until.begin(), from.wire_until.end());
      into.items.insert(into.items.end(), from.items.begin(), from.items.end());
      into.first = std::min(into.first, from.first);
      into.after = std::max(into.after, from.after);
      into.merged = true;
      from = Region{};
      return add(keep, item, {c, t});
    }
    for (const auto& [q, r] : {std::pair(t, rc), std::pair(c, rt)}) {
      if (!may_join(r, q)) continue;
      leave(q, item);
      join(r, q);
      return add(r, item, {c, t});
    }
    leave(c, item);
    leave(t, item);
    const std::int32_t r = open(item);
    join(r, c);
    join(r, t);
    add(r, item, {c, t});
  }

  std::vector<std::int32_t> of;      // per qubit: its region, or kNone
  std::vector<std::uint32_t> slot;  // per qubit in a region: its place among the region's wires
  std::vector<std::int64_t> last;   // per qubit: its last item so far
  std::vector<Region> all;
};

struct ParityHash {
  std::size_t operator()(const std::vector<std::uint64_t>& p) const {
    std::uint64_t h = 0;
    for (std::uint64_t w : p) h = hash_combine(h, w);
    return static_cast<std::size_t>(h);
  }
};
using ParityCount = HashMap<std::vector<std::uint64_t>, std::uint32_t, ParityHash>;

struct Segment {
  std::uint32_t wire;
  std::int64_t after;  // a gate written after this item (a gate's) is in the segment; -1: nowhere
  std::uint32_t rank;  // its place among its wire's segments
};

// One region's pairs and moves.
class RegionPass {
 public:
  RegionPass(const Region& region, std::span<const CancelItem> items, const std::vector<Elementary>& now,
             std::vector<std::int32_t>& wire_of)
      : region_(region), items_(items), now_(now), wire_of_(wire_of) {
    for (std::uint32_t w = 0; w < region.wires.size(); ++w) wire_of_[region.wires[w]] = static_cast<std::int32_t>(w);
    words_ = (region.wires.size() + 1 + 63) / 64;  // the last bit: the constant
    read();
  }
  ~RegionPass() {
    for (std::uint32_t q : region_.wires) wire_of_[q] = kNone;
  }

  std::size_t run(std::vector<bool>& removed, std::vector<ItemAddition>& additions, PhaseSearches& search,
                  PhaseSearches& window_search, std::uint8_t* phase) {
    if (const std::size_t saved = rewrite_small(removed, additions, search, phase); saved > 0) return saved;
    if (const std::size_t saved = rewrite_by_network(removed, additions, search.given); saved > 0) return saved;
    // The windows that the search writes with fewer cx gates, and the cx
    // pairs that can go: whichever saves more (the pairs on a tie).
    std::vector<StretchGate> stretch;
    for (std::uint32_t g = 0; g < gates_.size(); ++g) {
      stretch.push_back({region_.items[g], now_[region_.items[g]], gates_[g].a, gates_[g].b});
    }
    std::vector<std::uint32_t> window_items;
    std::vector<ItemAddition> window_additions;
    const std::size_t by_windows =
        rewrite_windows(stretch, {region_.wires, region_.wire_after, region_.wire_until}, window_items,
                        window_additions, window_search);
    std::vector<bool> was_removed;
    for (std::uint32_t item : region_.items) was_removed.push_back(removed[item]);
    std::size_t gone = 0;
    for (std::uint32_t g = 0; g < gates_.size(); ++g) {
      if (gates_[g].cx && !removed[region_.items[g]]) gone += 2 * try_pair(g, removed);
    }
    if (gone > 0 && gone >= by_windows) {
      move_phases(removed, additions);
      return gone;
    }
    for (std::uint32_t g = 0; g < gates_.size(); ++g) removed[region_.items[g]] = was_removed[g];
    for (std::uint32_t item : window_items) removed[item] = true;
    additions.insert(additions.end(), window_additions.begin(), window_additions.end());
    return by_windows;
  }

 private:
  struct Gate {
    bool cx = false;
    std::uint32_t a = 0, b = 0;              // wires (b: a cx's target)
    std::uint32_t next_a = kEnd, next_b = kEnd;  // the next gate on each wire
    std::uint32_t segment = 0;               // a cx's or an x's segment on b (a), a phase gate's
    std::uint32_t control_segment = 0;       // a cx's control's segment
  };
  static constexpr std::uint32_t kEnd = 0xffffffffu;

  std::uint64_t* parity(std::uint32_t s) { return &parities_[s * words_]; }
  std::vector<std::uint64_t> key(std::uint32_t s) const {
    return {parities_.begin() + s * words_, parities_.begin() + (s + 1) * words_};
  }

  std::uint32_t new_segment(std::uint32_t w, std::int64_t after, const std::uint64_t* p) {
    const auto s = static_cast<std::uint32_t>(segments_.size());
    segments_.push_back({w, after, static_cast<std::uint32_t>(wire_segments_[w].size())});
    wire_segments_[w].push_back(s);
    parities_.insert(parities_.end(), p, p + words_);
    current_[w] = s;
    return s;
  }

  // The gates, the segments and what the phase gates need.
  void read() {
    const std::size_t n = region_.wires.size();
    wire_segments_.assign(n, {});
    current_.assign(n, kEnd);
    std::vector<std::uint32_t> last(n, kEnd);
    gates_.resize(region_.items.size());
    std::vector<std::uint64_t> p(words_);
    for (std::uint32_t g = 0; g < region_.items.size(); ++g) {
      const std::uint32_t item = region_.items[g];
      const PlacedGate& pg = items_[item].gate;
      Gate& gate = gates_[g];
      gate.cx = now_[item] == Elementary::CX;
      gate.a = static_cast<std::uint32_t>(wire_of_[pg.a]);
      gate.b = gate.cx ? static_cast<std::uint32_t>(wire_of_[pg.b]) : gate.a;
      for (std::uint32_t w : {gate.a, gate.b}) {
        if (current_[w] != kEnd) continue;
        std::fill(p.begin(), p.end(), 0);
        p[w / 64] |= std::uint64_t{1} << (w % 64);
        const std::int64_t before = static_cast<std::int64_t>(item) - 1;
        new_segment(w, gate_item(before) ? before : -1, p.data());
      }
      for (std::uint32_t w : {gate.a, gate.b}) {
        if (last[w] == kEnd) continue;
        Gate& before = gates_[last[w]];
        (before.a == w ? before.next_a : before.next_b) = g;
      }
      last[gate.a] = last[gate.b] = g;
      if (gate.cx) {
        gate.control_segment = current_[gate.a];
        std::copy_n(parity(current_[gate.b]), words_, p.begin());
        const std::uint64_t* c = parity(current_[gate.a]);
        for (std::size_t k = 0; k < words_; ++k) p[k] ^= c[k];
        gate.segment = new_segment(gate.b, item, p.data());
      } else if (now_[item] == Elementary::X) {
        std::copy_n(parity(current_[gate.a]), words_, p.begin());
        p[n / 64] ^= std::uint64_t{1} << (n % 64);
        gate.segment = new_segment(gate.a, item, p.data());
      } else {
        gate.segment = current_[gate.a];
        ++needed_[key(gate.segment)];
      }
    }
    original_ = parities_;
    for (std::uint32_t s = 0; s < segments_.size(); ++s) {
      if (segments_[s].after >= 0) ++held_[key(s)];
    }
  }

  // A region of at most eight wires (with x gates only where `phase` takes
  // what they move, see cancel_floating_pairs) written anew with the
  // fewest cx gates (src/gf2/fewest_cx.h) after the item where all its
  // wires have joined and none has left, where that takes fewer cx gates:
  // each phase gate where its parity is first met, or its odd parities
  // alone (src/gf2/fewest_cx_phases.h). Returns the cx saved.
  std::size_t rewrite_small(std::vector<bool>& removed, std::vector<ItemAddition>& additions,
                            PhaseSearches& search, std::uint8_t* phase) {
    const std::size_t n = region_.wires.size();
    if (n > kFewestCxWires) return 0;
    const std::optional<Writable> writable = writable_at(phase != nullptr);
    if (!writable) return 0;
    const auto [cx, at] = *writable;
    // A parity's bits below n are its linear part, bit n its constant.
    const std::uint64_t linear = (std::uint64_t{1} << n) - 1;
    std::vector<std::uint8_t> map;
    std::vector<std::uint32_t> x_at_end;
    for (std::uint32_t w = 0; w < n; ++w) {
      const std::uint64_t p = parities_[wire_segments_[w].back() * words_];
      map.push_back(static_cast<std::uint8_t>(p & linear));
      if ((p >> n) & 1) x_at_end.push_back(w);
    }
    std::vector<StretchPhase> phases;
    std::size_t gates = cx;  // the region's gates
    int constant = 0;        // the powers on parities with a constant, in eighths of 2 pi
    for (std::uint32_t g = 0; g < gates_.size(); ++g) {
      if (gates_[g].cx) continue;
      ++gates;
      if (now_[region_.items[g]] == Elementary::X) continue;
      const std::uint64_t p = original_[gates_[g].segment * words_];
      const int r = elementary_info(now_[region_.items[g]]).diagonal;
      const bool with_constant = (p >> n) & 1;
      if (with_constant) constant += r;
      phases.push_back({static_cast<std::uint8_t>(p & linear), static_cast<std::int8_t>(with_constant ? -r : r)});
    }
    const std::optional<PhaseWriting> writing =
        write_on_fewest_cx(static_cast<std::uint32_t>(n), map, phases, cx, search);
    if (!writing) return 0;
    if (gates_in(*writing) + x_at_end.size() > gates) return 0;
    for (std::uint32_t item : region_.items) removed[item] = true;
    write_stretch(*writing, static_cast<std::uint32_t>(at), region_.wires, additions);
    for (std::uint32_t w : x_at_end) {
      additions.push_back({static_cast<std::uint32_t>(at), {Elementary::X, region_.wires[w], 0}});
    }
    if (phase != nullptr) *phase = static_cast<std::uint8_t>((*phase + 2 * constant) & 15);
    return cx - writing->cx.size();
  }

  // A region (without x gates, unless `with_x`) that may be written anew
  // after one item (all its wires have joined it and none has left): its
  // cx gates and the item.
  struct Writable {
    std::size_t cx;
    std::int64_t at;
  };
  std::optional<Writable> writable_at(bool with_x = false) const {
    std::size_t cx = 0;
    for (std::uint32_t g = 0; g < gates_.size(); ++g) {
      if (now_[region_.items[g]] == Elementary::X && !with_x) return std::nullopt;
      cx += gates_[g].cx;
    }
    std::int64_t at = std::min(region_.until - 1, static_cast<std::int64_t>(region_.items.back()));
    while (at >= 0 && at >= region_.after && !gate_item(at)) --at;
    if (at < 0 || at < region_.after) return std::nullopt;
    return Writable{cx, at};
  }

  // A region of up to kNetworkWires wires and no x gate written anew
  // as the parity network of its phase polynomial, then the cx gates of its
  // linear map (src/gf2/parity_network.h, linear_synthesis.h), where that
  // takes fewer cx gates. Returns the cx saved.
  std::size_t rewrite_by_network(std::vector<bool>& removed, std::vector<ItemAddition>& additions,
                                 FewestCxSearch& search) {
    const auto n = static_cast<std::uint32_t>(region_.wires.size());
    if (n > kNetworkWires) return 0;
    const std::optional<Writable> writable = writable_at();
    if (!writable) return 0;
    const auto [cx, at] = *writable;
    // The polynomial: per distinct parity, the sum of its phase gates' powers.
    ParityCount column;
    std::vector<std::uint64_t> columns;
    std::vector<std::uint8_t> coefficients;
    for (std::uint32_t g = 0; g < gates_.size(); ++g) {
      if (gates_[g].cx) continue;
      std::vector<std::uint64_t> p(original_.begin() + gates_[g].segment * words_,
                                   original_.begin() + (gates_[g].segment + 1) * words_);
      const auto [it, added] = column.emplace(p, static_cast<std::uint32_t>(coefficients.size()));
      if (added) {
        columns.insert(columns.end(), p.begin(), p.end());
        coefficients.push_back(0);
      }
      coefficients[it->second] = static_cast<std::uint8_t>((coefficients[it->second] + 8 +
                                                              elementary_info(now_[region_.items[g]]).diagonal) % 8);
    }
    const std::uint64_t work = std::uint64_t{n} * coefficients.size();
    if (work > search.network_work_left) return 0;
    search.network_work_left -= work;
    BitMatrix map(n);
    for (std::uint32_t w = 0; w < n; ++w) {
      const std::uint64_t* p = parity(wire_segments_[w].back());
      for (std::uint32_t v = 0; v < n; ++v) map.set(w, v, (p[v / 64] >> (v % 64)) & 1);
    }
    // Each column padded to the network's words: the region's words hold the constant's bit too.
    const std::size_t net_words = (n + 63) / 64;
    std::vector<std::uint64_t> packed;
    for (std::size_t j = 0; j < coefficients.size(); ++j) {
      packed.insert(packed.end(), columns.begin() + j * words_, columns.begin() + j * words_ + net_words);
    }
    // The network back at the inputs, then the map; or the open network,
    // then what takes its map to the region's (M A^-1 after A is M).
    std::vector<PlacedGate> network = synthesise_parity_network(n, packed, coefficients);
    const auto cx_of = [](const std::vector<PlacedGate>& gates) {
      return static_cast<std::size_t>(std::count_if(gates.begin(), gates.end(),
                                                    [](const PlacedGate& g) { return g.gate == Elementary::CX; }));
    };
    std::size_t network_cx = cx_of(network);
    std::optional<std::vector<PlacedGate>> linear;
    if (network_cx < cx) linear = synthesise_linear_within(map, cx - network_cx);
    OpenParityNetwork open = synthesise_open_parity_network(n, packed, coefficients);
    const std::size_t open_cx = cx_of(open.gates);
    const std::size_t best = linear ? network_cx + linear->size() : cx;
    if (open_cx < best) {
      const std::optional<BitMatrix> undo = open.map.inverse();
      check(undo.has_value(), "an open network's map is invertible");
      BitMatrix rest(n);
      for (std::uint32_t i = 0; i < n; ++i) {
        for (std::uint32_t j = 0; j < n; ++j) {
          if (!map.get(i, j)) continue;
          for (std::size_t k = 0; k < rest.words(); ++k) rest.row(i)[k] ^= undo->row(j)[k];
        }
      }
      std::optional<std::vector<PlacedGate>> after = synthesise_linear_within(rest, best - open_cx);
      if (after) {
        network = std::move(open.gates);
        network_cx = open_cx;
        linear = std::move(after);
      }
    }
    if (!linear) return 0;
    for (std::uint32_t item : region_.items) removed[item] = true;
    const auto item = static_cast<std::uint32_t>(at);
    const auto write = [&](const std::vector<PlacedGate>& gates) {
      for (const PlacedGate& g : gates) {
        additions.push_back({item, {g.gate, region_.wires[g.a], g.gate == Elementary::CX ? region_.wires[g.b] : 0}});
      }
    };
    write(network);
    write(*linear);
    return cx - network_cx - linear->size();
  }

  // Whether gates may be written after item k: a gate's, whose statement
  // can be written anew (not a boundary's: a measurement, a conditioned gate).
  bool gate_item(std::int64_t k) const { return k >= 0 && items_[static_cast<std::size_t>(k)].count == 0; }

  std::uint32_t next_on(std::uint32_t g, std::uint32_t w) const {
    return gates_[g].a == w ? gates_[g].next_a : gates_[g].next_b;
  }

  // The copy of cx g that it meets, or kEnd.
  std::uint32_t copy_of(std::uint32_t g, const std::vector<bool>& removed) const {
    const std::uint32_t c = gates_[g].a, t = gates_[g].b;
    std::uint32_t on_c = next_on(g, c), on_t = next_on(g, t);
    std::size_t passed = 0;
    while (on_c != kEnd || on_t != kEnd) {
      const std::uint32_t h = std::min(on_c, on_t);
      const Gate& gate = gates_[h];
      const bool gone = removed[region_.items[h]];
      if (!gone && ++passed > kCancelReach) return kEnd;
      if (on_c == on_t) {  // a cx on both wires
        if (!gone) {
          if (gate.a == c) return h;
          return kEnd;
        }
      } else if (!gone && gate.cx) {
        // On c alone it must share the control; on t alone, the target.
        if (h == on_c ? gate.a != c : gate.b != t) return kEnd;
      } else if (!gone && h == on_c && now_[region_.items[h]] == Elementary::X) {
        return kEnd;
      }
      if (h == on_c) on_c = next_on(h, c);
      if (h == on_t) on_t = next_on(h, t);
    }
    return kEnd;
  }

  void count(std::uint32_t s, int by) {
    if (segments_[s].after < 0) return;
    auto it = held_.find(key(s));
    if (by > 0) {
      if (it == held_.end()) held_.emplace(key(s), 1);
      else ++it->second;
    } else {
      check(it != held_.end() && it->second > 0, "a segment counted once");
      --it->second;
    }
  }
  bool needs(std::uint32_t s) const {
    if (segments_[s].after < 0) return false;
    const std::vector<std::uint64_t> k = key(s);
    const auto held = held_.find(k);
    if (held != held_.end() && held->second > 0) return false;
    const auto need = needed_.find(k);
    return need != needed_.end() && need->second > 0;
  }

  // Removes cx g with its copy where every phase gate keeps a place.
  bool try_pair(std::uint32_t g, std::vector<bool>& removed) {
    const std::uint32_t j = copy_of(g, removed);
    if (j == kEnd) return false;
    const std::uint32_t t = gates_[g].b;
    const std::vector<std::uint64_t> c = key(gates_[g].control_segment);
    const std::vector<std::uint32_t>& on_t = wire_segments_[t];
    const std::uint32_t from = segments_[gates_[g].segment].rank, to = segments_[gates_[j].segment].rank;
    const auto flip = [&] {
      for (std::uint32_t r = from; r < to; ++r) {
        count(on_t[r], -1);
        std::uint64_t* p = parity(on_t[r]);
        for (std::size_t k = 0; k < words_; ++k) p[k] ^= c[k];
        count(on_t[r], +1);
      }
    };
    flip();
    // What the flipped segments held before is now c away from it.
    bool kept = true;
    std::vector<std::uint64_t> before(words_);
    for (std::uint32_t r = from; r < to && kept; ++r) {
      const std::uint32_t s = on_t[r];
      if (segments_[s].after < 0) continue;
      for (std::size_t k = 0; k < words_; ++k) before[k] = parities_[s * words_ + k] ^ c[k];
      const auto held = held_.find(before);
      const auto need = needed_.find(before);
      kept = (held != held_.end() && held->second > 0) || need == needed_.end() || need->second == 0;
    }
    if (!kept) {
      flip();
      return false;
    }
    removed[region_.items[g]] = removed[region_.items[j]] = true;
    return true;
  }

  // Each phase gate whose segment no longer holds its parity goes to the
  // first segment that does.
  void move_phases(std::vector<bool>& removed, std::vector<ItemAddition>& additions) {
    ParityCount first;  // parity -> segment + 1, the first placeable one
    std::vector<std::uint32_t> order(segments_.size());
    for (std::uint32_t s = 0; s < order.size(); ++s) order[s] = s;
    std::stable_sort(order.begin(), order.end(),
                     [&](std::uint32_t x, std::uint32_t y) { return segments_[x].after < segments_[y].after; });
    for (std::uint32_t s : order) {
      if (segments_[s].after >= 0) first.emplace(key(s), s + 1);
    }
    for (std::uint32_t g = 0; g < gates_.size(); ++g) {
      const std::uint32_t item = region_.items[g];
      if (gates_[g].cx || now_[item] == Elementary::X || removed[item]) continue;
      const std::uint32_t s = gates_[g].segment;
      const auto begin = original_.begin() + s * words_;
      if (std::equal(begin, begin + words_, parities_.begin() + s * words_)) continue;
      const auto to = first.find(std::vector<std::uint64_t>(begin, begin + words_));
      check(to != first.end(), "a moved phase gate finds its parity");
      const Segment& home = segments_[to->second - 1];
      removed[item] = true;
      additions.push_back({static_cast<std::uint32_t>(home.after), {now_[item], region_.wires[home.wire], 0}});
    }
  }

  const Region& region_;
  std::span<const CancelItem> items_;
  const std::vector<Elementary>& now_;
  std::vector<std::int32_t>& wire_of_;
  std::size_t words_ = 1;
  std::vector<Gate> gates_;
  std::vector<Segment> segments_;
  std::vector<std::vector<std::uint32_t>> wire_segments_;  // per wire, its segments in order
  std::vector<std::uint32_t> current_;                     // per wire, while reading: its last segment
  std::vector<std::uint64_t> parities_, original_;         // per segment, words_ words: now and as read
  ParityCount needed_;                                     // the phase gates' parities, as read
  ParityCount held_;                                       // the placeable segments' parities, now
};

}  // namespace

std::size_t cancel_floating_pairs(std::uint32_t qubits, std::span<const CancelItem> items,
                                  std::span<const std::uint32_t> barrier_qubits, std::vector<bool>& removed,
                                  const std::vector<Elementary>& now, std::vector<ItemAddition>& additions,
                                  const Deadline& deadline, std::uint8_t* phase, FloatingSearches* searches) {
  check(removed.size() == items.size() && now.size() == items.size(), "a flag and a gate per item");
  Regions regions(qubits);
  for (std::uint32_t i = 0; i < items.size(); ++i) {
    const CancelItem& item = items[i];
    if (item.count != 0) {
      check(std::size_t{item.first} + item.count <= barrier_qubits.size(), "a barrier's qubits are given");
      for (std::uint32_t k = 0; k < item.count; ++k) {
        const std::uint32_t q = barrier_qubits[item.first + k];
        check(q < qubits, "a barrier's qubit is in the program");
        regions.outside(q, i);
      }
      continue;
    }
    if (removed[i]) continue;
    const PlacedGate& g = item.gate;
    const ElementaryInfo& info = elementary_info(now[i]);
    check(g.a < qubits && (info.qubits == 1 || g.b < qubits), "a gate's qubits are in the program");
    if (now[i] == Elementary::CX) {
      regions.cx(i, g.a, g.b);
    } else if (info.qubits == 1 && (now[i] == Elementary::X || is_phase(now[i]))) {
      regions.one_qubit(i, g.a);
    } else {
      regions.outside(g.a, i);
      if (info.qubits == 2) regions.outside(g.b, i);
    }
  }
  std::vector<std::int32_t> wire_of(qubits, kNone);
  FloatingSearches own;
  PhaseSearches& search = (searches != nullptr ? *searches : own).whole;
  PhaseSearches& window_search = (searches != nullptr ? *searches : own).windows;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> pairs;
  std::size_t gone = 0;
  std::vector<ItemAddition> moved;
  for (std::uint32_t r = 0; r < regions.all.size(); ++r) {
    if ((r % 256) == 0 && deadline.passed()) break;
    Region& region = regions.all[r];
    if (region.merged) std::sort(region.items.begin(), region.items.end());
    // A region of a few cx gates, no two of them the same, has little to
    // gain that is worth the search: the pairs need a copy, and a shorter
    // writing nearly always does too. Most regions of a program of random
    // Clifford gates are such.
    pairs.clear();
    for (std::uint32_t item : region.items) {
      if (now[item] == Elementary::CX) pairs.emplace_back(items[item].gate.a, items[item].gate.b);
    }
    if (pairs.size() < 2) continue;
    std::sort(pairs.begin(), pairs.end());
    if (pairs.size() <= kFewCx && std::adjacent_find(pairs.begin(), pairs.end()) == pairs.end()) continue;
    RegionPass pass(region, items, now, wire_of);
    gone += pass.run(removed, moved, search, window_search, phase);
  }
  std::stable_sort(moved.begin(), moved.end(),
                   [](const ItemAddition& x, const ItemAddition& y) { return x.item < y.item; });
  additions.insert(additions.end(), moved.begin(), moved.end());
  return gone;
}

}  // namespace kestrel
