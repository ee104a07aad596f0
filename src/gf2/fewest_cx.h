// The fewest cx gates on at most eight wires that bring given parities onto
// a wire, each at some point, and end at a given linear map, found by a
// best-first search.
//
// The wires start at x_0 .. x_{n-1}; a cx(c, t) adds wire c into wire t.
// The search's states are the wires' values (n rows of n bits) and which of
// the parities asked for some wire has held so far, taken in the order of
// the gates that reach them plus a lower bound on the gates still needed
// (a cx changes one wire, so it brings at most one wire to its row of the
// map and meets at most one parity, both only where that parity is the
// wire's row: the parities not met that are no row of a wire still off,
// plus the larger of the wires off and the unmet parities among their
// rows); the first state taken at the map with every parity met is
// reached by the fewest cx gates. For the map
// that is the identity on three wires and the parities x1 + x2, x0 + x1 +
// x2 and x0 + x1, four gates suffice where a Toffoli gate's usual network
// has six:
//
//   cx q[0],q[1]; (x0 + x1) cx q[2],q[1]; (x0 + x1 + x2) cx q[0],q[1]; (x1 + x2) cx q[2],q[1];
//
// Every search is bounded by the states it may visit; searches of the same
// question are answered from a cache. Both make the answer a function of
// the question and the bounds alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <utility>
#include <vector>

namespace kestrel {

// The largest number of wires searched.
inline constexpr std::uint32_t kFewestCxWires = 8;
// Searches on more wires than this draw on states of their own, so that
// their longer searches leave the narrow ones what they had.
inline constexpr std::uint32_t kFewestCxNarrow = 6;
// The largest number of distinct parities asked for.
inline constexpr std::size_t kFewestCxParities = 16;

struct FewestCxQuestion {
  std::uint32_t wires = 0;             // n, 1 to kFewestCxWires
  std::vector<std::uint8_t> map;       // per wire, the parity it must end at (bit k: x_k)
  std::vector<std::uint8_t> parities;  // the parities asked for, each nonzero
  std::size_t below = 0;               // only a circuit of fewer cx gates is an answer
};

struct FewestCxAnswer {
  std::vector<std::pair<std::uint8_t, std::uint8_t>> cx;  // (control, target), in order
  // Per parity asked for: after how many of the gates some wire first holds
  // it (0: at the start), and which wire.
  std::vector<std::pair<std::uint32_t, std::uint8_t>> met;
};

// Cached answers, and the states the searches may still visit in all.
struct FewestCxSearch {
  std::uint64_t states_left = std::uint64_t{1} << 21;  // by searches on up to kFewestCxNarrow wires
  std::uint64_t wide_states_left = std::uint64_t{1} << 17;  // by those on more
  // For callers that write larger stretches as parity networks: the work
  // (wires times terms) those may still take.
  std::uint64_t network_work_left = std::uint64_t{1} << 24;
  // The states one search may visit at most (kFewestCxStates unless lower).
  std::uint64_t states_per_search = std::uint64_t{1} << 17;
  std::map<std::vector<std::uint8_t>, std::optional<FewestCxAnswer>> cache;
};

// The fewest cx gates for `question`, where fewer than `question.below`
// do and the search finds them within `kFewestCxStates` states (and what
// `search` has left and allows one search); else nothing.
inline constexpr std::uint64_t kFewestCxStates = std::uint64_t{1} << 17;
std::optional<FewestCxAnswer> fewest_cx(const FewestCxQuestion& question, FewestCxSearch& search);

}  // namespace kestrel
