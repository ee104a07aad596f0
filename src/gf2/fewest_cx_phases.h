// The phase gates of a stretch of cx and phase gates on at most eight wires
// written on the fewest cx gates, their S powers taken as a whole.
//
// Within a stretch each phase gate puts e^(i r pi/4) (r its power: t 1,
// s 2, z 4, sdg -2, tdg -1) where its wire holds some parity p of the
// stretch's inputs x, so the stretch's phases make f(x) = sum_p c_p [p.x]
// (mod 8), c_p the powers on p added up. Asking the search of fewest_cx.h
// for every such parity, each gate written where its parity is first met,
// writes f as it is. But only the parities of odd c_p need a T-type gate:
// what is left is even, and 2 [p.x] = 2 sum_(i in p) x_i - 4 sum_(i<j in p)
// x_i x_j (mod 8), so the rest is S powers on single inputs (written on
// their wires before any cx) and a set of CZ pairs, which an S, or a T made
// a T-dagger (an S-dagger more), where a wire holds a parity q of two or
// more inputs writes for all of q's pairs at once. So where the search on
// the odd parities alone finds fewer cx gates, and the parities its gates
// visit have pairs that add up to the CZ pairs (over GF(2)), that is the
// writing. A Toffoli gate's network twice on the same target and one
// control, the other control's value changed between them, leaves an S on
// the target, an S on that control and an S-dagger on their sum: a CZ
// which the other T gates can write, and the stretch takes four cx gates
// where the phase gates as they are need six.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "src/gf2/fewest_cx.h"

namespace kestrel {

// A phase gate of a stretch: the parity its wire holds there (bit k: x_k)
// and its power of e^(i pi/4).
struct StretchPhase {
  std::uint8_t parity;
  std::int8_t power;
};

// A stretch written anew: its cx gates in order, and phase gates each
// written after `after` of them (0: before the first) on `wire`, as
// `phase_gates(power)` (src/circuit/elementary.h).
struct PhaseWriting {
  struct Phase {
    std::uint32_t after;
    std::uint8_t wire;
    std::int8_t power;
  };
  std::vector<std::pair<std::uint8_t, std::uint8_t>> cx;  // (control, target)
  std::vector<Phase> phases;                               // by `after`, then as given
};

// The gates a writing writes: its cx gates and its phase gates'.
std::size_t gates_in(const PhaseWriting& writing);

// The states the searches may visit: the phase gates as given draw on
// `given`, as they did before the odd part was tried, and the odd part on
// a pool of its own, so that trying it never leaves a later stretch fewer
// states for the search as given (hwb10 kept 15 two-qubit gates more with
// one pool: its later stretches' searches were cut short). Each search of
// the odd part visits at most 2^12 states: the stretches it pays on take
// few, and with the 2^17 of the search as given the method took 31% more
// work on hwb10 for 1 two-qubit gate less there (and 3 on qcla_mod_7).
struct PhaseSearches {
  FewestCxSearch given;
  FewestCxSearch odd = [] {
    FewestCxSearch search;
    search.states_per_search = std::uint64_t{1} << 12;
    return search;
  }();
};

// The writing of `phases` on `wires` wires (1 to kFewestCxWires) ending at
// `map` (per wire the parity it ends at) with fewer than `below` cx gates,
// if the search finds one: every phase gate where its parity is first met,
// in the order given; or the writing above, where it takes no more gates in
// all and fewer cx gates, or as many and fewer T gates (`t q[0]; tdg q[0];`
// on one parity writes none). Faults where fewest_cx does.
std::optional<PhaseWriting> write_on_fewest_cx(std::uint32_t wires, std::span<const std::uint8_t> map,
                                               std::span<const StretchPhase> phases, std::size_t below,
                                               PhaseSearches& searches);

}  // namespace kestrel
