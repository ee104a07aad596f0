// The searches for a parity network and the choice between them. The split
// and the nearest-term searches keep each term written in the wires' present
// values row by row (one row per wire, one bit per term), so that a cx costs
// a row addition of terms / 64 words whatever the number of terms it
// touches; the star keeps every wire but its target at its input and needs
// only each target's terms as sets of the other wires.
#include "src/phase_polynomial/parity_network.h"

#include <algorithm>
#include <bit>
#include <numeric>
#include <limits>
#include <optional>

#include "engine/fault.h"
#include "src/pauli/pauli.h"
#include "src/phase_polynomial/bits.h"

namespace kestrel {
namespace {

constexpr std::uint32_t kNone = 0xffffffffu;

std::size_t words_for(std::size_t bits) { return (bits + 63) / 64; }

void write_phase(std::vector<PlacedGate>& gates, std::uint8_t c, std::uint32_t wire) {
  const auto put = [&](Elementary g) { gates.push_back({g, wire, 0}); };
  switch (c & 7) {
    case 0: return;
    case 1: put(Elementary::T); return;
    case 2: put(Elementary::S); return;
    case 3: put(Elementary::S); put(Elementary::T); return;
    case 4: put(Elementary::Z); return;
    case 5: put(Elementary::Z); put(Elementary::T); return;
    case 6: put(Elementary::Sdg); return;
    default: put(Elementary::Tdg); return;
  }
}

// Terms with distinct nonzero parities and nonzero coefficients, in the order
// of their first appearance in the input.
struct Terms {
  std::uint32_t qubits = 0;
  std::size_t words = 0;                   // words per column
  std::vector<std::uint64_t> columns;      // words per term
  std::vector<std::uint8_t> coefficients;  // 1 to 7 per term

  std::size_t size() const { return coefficients.size(); }
  const std::uint64_t* column(std::size_t p) const { return columns.data() + p * words; }
};

Terms merge_terms(std::uint32_t qubits, std::span<const std::uint64_t> columns,
                  std::span<const std::uint8_t> coefficients) {
  Terms terms;
  terms.qubits = qubits;
  terms.words = words_for(qubits);
  const std::size_t words = terms.words, m = coefficients.size();
  check(columns.size() == m * words, "one column of (qubits + 63) / 64 words per coefficient");
  const std::uint64_t last_word_mask =
      qubits % 64 == 0 ? ~std::uint64_t{0} : (std::uint64_t{1} << (qubits % 64)) - 1;
  for (std::size_t p = 0; p < m; ++p) {
    check(coefficients[p] < 8, "a coefficient lies in 0 to 7");
    if (words > 0) {
      check((columns[p * words + words - 1] & ~last_word_mask) == 0,
            "a parity names only the qubits below the count");
    }
  }
  if (words == 0) return terms;
  const auto column = [&](std::size_t p) { return columns.subspan(p * words, words); };
  std::vector<std::uint32_t> order(m);
  std::iota(order.begin(), order.end(), 0u);
  std::stable_sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
    const auto ca = column(a), cb = column(b);
    return std::lexicographical_compare(ca.begin(), ca.end(), cb.begin(), cb.end());
  });
  std::vector<std::pair<std::uint32_t, std::uint8_t>> kept;  // first index, summed coefficient
  for (std::size_t k = 0; k < m;) {
    std::size_t end = k;
    unsigned sum = 0;
    while (end < m && std::ranges::equal(column(order[end]), column(order[k]))) {
      sum += coefficients[order[end]];
      ++end;
    }
    const auto c = column(order[k]);
    const bool zero = std::all_of(c.begin(), c.end(), [](std::uint64_t w) { return w == 0; });
    if (!zero && sum % 8 != 0) kept.push_back({order[k], static_cast<std::uint8_t>(sum % 8)});
    k = end;
  }
  std::sort(kept.begin(), kept.end());
  for (const auto& [first, c] : kept) {
    const auto col = column(first);
    terms.columns.insert(terms.columns.end(), col.begin(), col.end());
    terms.coefficients.push_back(c);
  }
  return terms;
}

// Takes the terms with coefficient 4 out of `terms` and returns them as z
// gates: omega^(4 (a . x)) = (-1)^(a . x) is z on each wire of a, where the
// network would spend cx gates to bring a onto one wire.
std::vector<PlacedGate> take_z_terms(Terms& terms) {
  const std::size_t words = terms.words;
  std::vector<std::uint64_t> flips(words, 0);
  std::size_t kept = 0;
  for (std::size_t p = 0; p < terms.size(); ++p) {
    const std::uint64_t* c = terms.column(p);
    if (terms.coefficients[p] == 4) {
      for (std::size_t w = 0; w < words; ++w) flips[w] ^= c[w];
      continue;
    }
    std::copy(c, c + words, terms.columns.begin() + static_cast<std::ptrdiff_t>(kept * words));
    terms.coefficients[kept++] = terms.coefficients[p];
  }
  terms.columns.resize(kept * words);
  terms.coefficients.resize(kept);
  std::vector<PlacedGate> gates;
  for (std::size_t w = 0; w < words; ++w) {
    for (std::uint64_t word = flips[w]; word != 0; word &= word - 1) {
      gates.push_back({Elementary::Z, static_cast<std::uint32_t>(64 * w + std::countr_zero(word)), 0});
    }
  }
  return gates;
}

// What the split and nearest-term searches share: the terms in the wires' present values (bit p of
// row j: term p includes wire j), which terms are still to be written, the
// gates so far and the wires' values as parities of the inputs.
class Network {
 public:
  explicit Network(const Terms& terms)
      : n_(terms.qubits),
        m_(terms.size()),
        row_words_(words_for(terms.size())),
        rows_(std::size_t{terms.qubits} * row_words_, 0),
        live_(row_words_, 0),
        coefficients_(terms.coefficients),
        map_(BitMatrix::identity(terms.qubits)) {
    for (std::size_t p = 0; p < m_; ++p) {
      live_[p / 64] |= std::uint64_t{1} << (p % 64);
      const std::uint64_t* c = terms.column(p);
      for (std::size_t w = 0; w < terms.words; ++w) {
        for (std::uint64_t word = c[w]; word != 0; word &= word - 1) {
          const std::size_t j = 64 * w + std::countr_zero(word);
          rows_[j * row_words_ + p / 64] |= std::uint64_t{1} << (p % 64);
        }
      }
    }
  }

  std::uint32_t wires() const { return n_; }
  std::size_t terms() const { return m_; }
  std::size_t row_words() const { return row_words_; }
  const std::uint64_t* row(std::uint32_t j) const { return rows_.data() + j * row_words_; }
  const std::uint64_t* live_words() const { return live_.data(); }
  bool bit(std::uint32_t j, std::size_t p) const { return (row(j)[p / 64] >> (p % 64)) & 1; }
  bool live(std::size_t p) const { return (live_[p / 64] >> (p % 64)) & 1; }
  const BitMatrix& map() const { return map_; }

  // cx(control, target): the target wire gains the control's value, so every
  // term that includes the target now includes the control the other way.
  void cx(std::uint32_t control, std::uint32_t target) {
    check(control != target && control < n_ && target < n_, "a cx names two wires");
    std::uint64_t* c = rows_.data() + control * row_words_;
    const std::uint64_t* t = row(target);
    for (std::size_t w = 0; w < row_words_; ++w) c[w] ^= t[w];
    map_.add_row(target, control);
    gates_.push_back({Elementary::CX, control, target});
    ++cx_count_;
  }

  // Writes term p's phase on `wire`, which holds it now.
  void realise(std::size_t p, std::uint32_t wire) {
    check(live(p), "a term is written once");
    live_[p / 64] &= ~(std::uint64_t{1} << (p % 64));
    write_phase(gates_, coefficients_[p], wire);
  }

  OpenParityNetwork take() { return {std::move(gates_), std::move(map_)}; }
  std::size_t cx_count() const { return cx_count_; }

 private:
  std::uint32_t n_;                                  // wires
  std::size_t m_;                                    // terms
  std::size_t row_words_;                            // words per row: one bit per term
  std::vector<std::uint64_t> rows_;                  // n_ rows of row_words_ words
  std::vector<std::uint64_t> live_;                  // the terms not yet written
  const std::vector<std::uint8_t>& coefficients_;    // per term
  BitMatrix map_;                                    // wire i holds row i of it times x
  std::vector<PlacedGate> gates_;                    // the network so far
  std::size_t cx_count_ = 0;                         // cx gates among them
};

// The split search. A group is a set of terms (a range of `pool`), the wires
// its split may still use, and its target wire: a wire every term of the
// group includes, or none. While some other wire is included in every term of
// the group, a cx from it onto the target removes it from all of them at
// once; a term left with the target alone is written there. Otherwise the
// group is split by the bit of the usable wire that is most uneven (the
// larger side as large as it can be), and the side with the bit set, which
// takes that wire as its target if it had none, is searched first. Groups
// left on the stack are brought up to date when taken: the cx gates written
// meanwhile may have changed their terms, but only alike. (A cx written for
// the side searched first has that side's target, which its sibling shares,
// or a target its sibling's terms all lack; so the sibling's terms keep their
// target and keep agreeing on every wire outside its usable ones, and two
// of them always differ on a usable wire.)
OpenParityNetwork split_search(const Terms& terms) {
  Network net(terms);
  const std::uint32_t n = net.wires();
  const std::size_t m = net.terms(), qw = words_for(n);
  struct Group {
    std::uint32_t begin, end;  // its terms: pool[begin, end)
    std::uint32_t target;      // a wire or kNone
  };
  std::vector<std::uint32_t> pool(m);
  std::iota(pool.begin(), pool.end(), 0u);
  std::vector<Group> stack;
  std::vector<std::uint64_t> usable_stack;  // per group on the stack, qw words
  std::vector<std::uint64_t> usable(qw, 0);
  for (std::uint32_t j = 0; j < n; ++j) usable[j / 64] |= std::uint64_t{1} << (j % 64);
  const auto push = [&](std::uint32_t begin, std::uint32_t end, std::uint32_t target,
                        const std::vector<std::uint64_t>& wires) {
    if (begin == end) return;
    stack.push_back({begin, end, target});
    usable_stack.insert(usable_stack.end(), wires.begin(), wires.end());
  };
  push(0, static_cast<std::uint32_t>(m), kNone, usable);

  std::vector<std::uint32_t> count(n), weight(m), some_wire(m), scratch;
  const auto has = [](const std::vector<std::uint64_t>& set, std::uint32_t j) {
    return (set[j / 64] >> (j % 64)) & 1;
  };
  // Moves the terms of [begin, end) without wire j to the front, keeping
  // their order; returns where the others start.
  const auto partition = [&](std::uint32_t begin, std::uint32_t end, std::uint32_t j) {
    scratch.clear();
    std::uint32_t out = begin;
    for (std::uint32_t k = begin; k < end; ++k) {
      if (net.bit(j, pool[k])) {
        scratch.push_back(pool[k]);
      } else {
        pool[out++] = pool[k];
      }
    }
    std::copy(scratch.begin(), scratch.end(), pool.begin() + out);
    return out;
  };

  while (!stack.empty()) {
    const Group group = stack.back();
    stack.pop_back();
    std::copy(usable_stack.end() - static_cast<std::ptrdiff_t>(qw), usable_stack.end(),
              usable.begin());
    usable_stack.resize(usable_stack.size() - qw);
    std::uint32_t begin = group.begin, end = group.begin, target = group.target;
    for (std::uint32_t k = group.begin; k < group.end; ++k) {
      if (net.live(pool[k])) pool[end++] = pool[k];
    }
    if (begin == end) continue;

    // Each term's weight and the number of terms including each wire.
    for (std::uint32_t k = begin; k < end; ++k) weight[pool[k]] = 0;
    for (std::uint32_t j = 0; j < n; ++j) {
      const std::uint64_t* row = net.row(j);
      std::uint32_t c = 0;
      for (std::uint32_t k = begin; k < end; ++k) {
        const std::uint32_t p = pool[k];
        const std::uint32_t b = (row[p / 64] >> (p % 64)) & 1;
        c += b;
        weight[p] += b;
        if (b) some_wire[p] = j;
      }
      count[j] = c;
    }
    // Drops the terms written; a term of weight one is on some_wire now.
    const auto write_units = [&](std::uint32_t wire_or_none) {
      std::uint32_t out = begin;
      for (std::uint32_t k = begin; k < end; ++k) {
        const std::uint32_t p = pool[k];
        if (weight[p] == 1) {
          const std::uint32_t wire = wire_or_none == kNone ? some_wire[p] : wire_or_none;
          net.realise(p, wire);
          --count[wire];
        } else {
          pool[out++] = p;
        }
      }
      end = out;
    };
    write_units(kNone);
    if (begin == end) continue;

    check(target == kNone || count[target] == end - begin, "a group's terms all hold its target");
    for (;;) {
      if (target != kNone) {
        // A term written may leave a wire in all the others: scan again
        // after each cx.
        for (std::uint32_t j = 0; j < n && begin != end;) {
          if (j == target || count[j] != end - begin) {
            ++j;
            continue;
          }
          net.cx(j, target);
          count[j] = 0;
          for (std::uint32_t k = begin; k < end; ++k) --weight[pool[k]];
          write_units(target);
          j = 0;
        }
        if (begin == end) break;
      }
      for (std::uint32_t j = 0; j < n; ++j) {
        if (has(usable, j) && count[j] == 0) usable[j / 64] &= ~(std::uint64_t{1} << (j % 64));
      }
      if (target == kNone) {
        std::uint32_t all = kNone;
        for (std::uint32_t j = 0; j < n && all == kNone; ++j) {
          if (has(usable, j) && count[j] == end - begin) all = j;
        }
        if (all != kNone) {
          target = all;
          usable[all / 64] &= ~(std::uint64_t{1} << (all % 64));
          continue;
        }
      }
      break;
    }
    if (begin == end) continue;

    std::uint32_t split = kNone, best = 0;
    const std::uint32_t size = end - begin;
    for (std::uint32_t j = 0; j < n; ++j) {
      if (!has(usable, j) || count[j] == 0 || count[j] == size) continue;
      const std::uint32_t larger = std::max(count[j], size - count[j]);
      if (larger > best) {
        best = larger;
        split = j;
      }
    }
    check(split != kNone, "distinct terms differ on a wire left to split on");
    const std::uint32_t middle = partition(begin, end, split);
    usable[split / 64] &= ~(std::uint64_t{1} << (split % 64));
    push(begin, middle, target, usable);
    push(middle, end, target == kNone ? split : target, usable);
  }
  return net.take();
}

// The nearest-term search: repeatedly the term with the fewest wires (in the
// wires' present values) is brought onto one of them by cx gates from the
// others, onto a wire that already holds something other than its input
// where there is one (so that fewer wires wander from their inputs). Every
// term that a cx leaves on its target alone is written on the spot. Terms
// sit in lists by weight, so the lightest is found at once and a cx moves
// only the terms that include its target.
OpenParityNetwork nearest_search(const Terms& terms) {
  Network net(terms);
  const std::uint32_t n = net.wires();
  const std::size_t m = net.terms();
  std::vector<std::uint32_t> weight(m, 0), next(m, kNone), prev(m, kNone), head(n + 1, kNone);
  std::uint32_t lightest = n + 1;
  const auto unlink = [&](std::uint32_t p) {
    if (prev[p] != kNone) {
      next[prev[p]] = next[p];
    } else {
      head[weight[p]] = next[p];
    }
    if (next[p] != kNone) prev[next[p]] = prev[p];
  };
  const auto link = [&](std::uint32_t p) {
    prev[p] = kNone;
    next[p] = head[weight[p]];
    if (next[p] != kNone) prev[next[p]] = p;
    head[weight[p]] = p;
    lightest = std::min(lightest, weight[p]);
  };
  for (std::uint32_t j = 0; j < n; ++j) {
    for (std::size_t p = 0; p < m; ++p) weight[p] += net.bit(j, p);
  }
  for (std::size_t p = 0; p < m; ++p) {
    if (weight[p] == 1) {
      std::uint32_t j = 0;
      while (!net.bit(j, p)) ++j;
      net.realise(p, j);
    } else {
      link(static_cast<std::uint32_t>(p));
    }
  }
  std::vector<bool> moved(n, false);  // wire j holds something other than x_j
  std::vector<std::uint32_t> support;
  const std::size_t row_words = net.row_words();
  for (;;) {
    while (lightest <= n && head[lightest] == kNone) ++lightest;
    if (lightest > n) break;
    const std::uint32_t p = head[lightest];
    support.clear();
    for (std::uint32_t j = 0; j < n; ++j) {
      if (net.bit(j, p)) support.push_back(j);
    }
    std::uint32_t target = support.front();
    for (std::uint32_t j : support) {
      if (moved[j]) {
        target = j;
        break;
      }
    }
    for (std::uint32_t control : support) {
      if (control == target) continue;
      net.cx(control, target);
      const BitMatrix& map = net.map();
      const std::uint64_t* row = map.row(target);
      bool at_input = true;
      for (std::size_t w = 0; w < map.words(); ++w) {
        const std::uint64_t unit = target / 64 == w ? std::uint64_t{1} << (target % 64) : 0;
        at_input = at_input && row[w] == unit;
      }
      moved[target] = !at_input;
      // The terms including the target gained or lost the control.
      const std::uint64_t* with_target = net.row(target);
      const std::uint64_t* with_control = net.row(control);
      const std::uint64_t* live = net.live_words();
      for (std::size_t w = 0; w < row_words; ++w) {
        for (std::uint64_t word = with_target[w] & live[w]; word != 0; word &= word - 1) {
          const std::uint32_t q = static_cast<std::uint32_t>(64 * w + std::countr_zero(word));
          unlink(q);
          if ((with_control[w] >> (q % 64)) & 1) {
            ++weight[q];
          } else {
            --weight[q];
          }
          if (weight[q] == 1) {
            net.realise(q, target);
          } else {
            link(q);
          }
        }
      }
    }
    check(!net.live(p), "the nearest term is written once its wires are gathered");
  }
  return net.take();
}

std::size_t cx_count(std::span<const PlacedGate> gates) {
  return static_cast<std::size_t>(
      std::count_if(gates.begin(), gates.end(), [](const PlacedGate& g) { return g.gate == Elementary::CX; }));
}

// The star search: every wire but one target keeps its input value, and each
// target visits its terms one after the other. A term goes to the wire of
// its parity that the most terms include; a term a with target t is then the
// set a \ {t} of the other wires, and holding the target at t + (the sum of a
// set) costs one cx per wire the set gains or loses from the last one. So
// each target walks from the empty set through its sets and back, and the
// network is the sum of these walks, with the wires at their inputs between
// them: no linear map is left to undo. A walk goes to a set one flip away
// when there is one (found by hash), else to the nearest of the next 64 sets
// in the order of the reflected binary Gray code (the wires in the most terms
// as the most significant bits), flipping first a wire that lands on another
// set still to visit; a walk that always takes the nearest of the 64 is
// tried as well, and each target keeps the shorter of its two walks.
OpenParityNetwork star_search(const Terms& terms) {
  const std::uint32_t n = terms.qubits;
  const std::size_t m = terms.size(), words = terms.words;
  constexpr std::size_t kWindow = 64;
  OpenParityNetwork out{{}, BitMatrix::identity(n)};
  std::vector<std::size_t> frequency(n, 0);
  for (std::size_t p = 0; p < m; ++p) {
    const std::uint64_t* c = terms.column(p);
    for (std::size_t w = 0; w < words; ++w) {
      for (std::uint64_t word = c[w]; word != 0; word &= word - 1) {
        ++frequency[64 * w + std::countr_zero(word)];
      }
    }
  }
  // Each term's target; a term of one wire is written on it at once.
  std::vector<std::uint32_t> target(m, kNone), per_target(n + 1, 0);
  for (std::size_t p = 0; p < m; ++p) {
    const std::uint64_t* c = terms.column(p);
    std::uint32_t best = kNone, weight = 0;
    for (std::size_t w = 0; w < words; ++w) {
      for (std::uint64_t word = c[w]; word != 0; word &= word - 1) {
        const std::uint32_t q = static_cast<std::uint32_t>(64 * w + std::countr_zero(word));
        ++weight;
        if (best == kNone || frequency[q] > frequency[best]) best = q;
      }
    }
    if (weight == 1) {
      write_phase(out.gates, terms.coefficients[p], best);
    } else {
      target[p] = best;
      ++per_target[best + 1];
    }
  }
  for (std::uint32_t t = 0; t < n; ++t) per_target[t + 1] += per_target[t];
  std::vector<std::uint32_t> by_target(per_target[n]);
  {
    std::vector<std::uint32_t> at(per_target.begin(), per_target.end() - 1);
    for (std::size_t p = 0; p < m; ++p) {
      if (target[p] != kNone) by_target[at[target[p]]++] = static_cast<std::uint32_t>(p);
    }
  }
  // The wires from the most significant: those in the most terms first.
  std::vector<std::uint32_t> significance(n);
  std::iota(significance.begin(), significance.end(), 0u);
  std::stable_sort(significance.begin(), significance.end(),
                   [&](std::uint32_t a, std::uint32_t b) { return frequency[a] > frequency[b]; });
  std::vector<std::uint32_t> position(n), positions;
  for (std::uint32_t i = 0; i < n; ++i) position[significance[i]] = i;

  std::vector<std::uint64_t> sets, ranks, current(words), hashes, keys(n);
  std::vector<std::uint32_t> walk_order, table;
  std::vector<bool> visited;
  std::vector<PlacedGate> walked[2];
  struct Below {
    std::uint64_t hash;  // of the set less `wire`
    std::uint32_t wire;
    std::uint32_t set;
    auto operator<=>(const Below&) const = default;
  };
  std::vector<Below> below;
  std::vector<std::uint32_t> held, set_weight;  // wires of the current set; weight per set
  const auto bit_of = [](const std::vector<std::uint64_t>& bits, std::uint32_t q) {
    return (bits[q / 64] >> (q % 64)) & 1;
  };
  for (std::uint32_t q = 0; q < n; ++q) {
    std::uint64_t z = 0x9e3779b97f4a7c15ULL * (q + 1);  // splitmix64
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    keys[q] = z ^ (z >> 31);
  }
  for (std::uint32_t t = 0; t < n; ++t) {
    const std::size_t k = per_target[t + 1] - per_target[t];
    if (k == 0) continue;
    const std::uint32_t* group = by_target.data() + per_target[t];
    sets.assign(k * words, 0);
    ranks.assign(k * words, 0);
    for (std::size_t s = 0; s < k; ++s) {
      std::uint64_t* set = sets.data() + s * words;
      std::copy(terms.column(group[s]), terms.column(group[s]) + words, set);
      set[t / 64] &= ~(std::uint64_t{1} << (t % 64));
      // Gray rank: bit i (from the top) is the parity of the set's first i + 1
      // wires in significance order, so ones run from the first wire of the
      // set to the second, from the third to the fourth, and so on.
      std::uint64_t* rank = ranks.data() + s * words;
      positions.clear();
      for (std::size_t w = 0; w < words; ++w) {
        for (std::uint64_t word = set[w]; word != 0; word &= word - 1) {
          positions.push_back(position[64 * w + std::countr_zero(word)]);
        }
      }
      std::sort(positions.begin(), positions.end());
      positions.push_back(n);
      for (std::size_t r = 0; r + 1 < positions.size(); r += 2) {
        for (std::uint32_t i = positions[r]; i < positions[r + 1]; ++i) {
          rank[i / 64] |= std::uint64_t{1} << (63 - i % 64);
        }
      }
    }
    const auto set_of = [&](std::uint32_t s) { return sets.data() + std::size_t{s} * words; };
    const auto less_words = [&](const std::uint64_t* a, const std::uint64_t* b) {
      return std::lexicographical_compare(a, a + words, b, b + words);
    };
    walk_order.resize(k);
    std::iota(walk_order.begin(), walk_order.end(), 0u);
    std::stable_sort(walk_order.begin(), walk_order.end(), [&](std::uint32_t a, std::uint32_t b) {
      return less_words(ranks.data() + std::size_t{a} * words, ranks.data() + std::size_t{b} * words);
    });
    // The sets by hash (the xor of a random key per wire), for finding the
    // set a flip lands on in constant time.
    std::size_t slots = 4;
    while (slots < 2 * k) slots *= 2;
    table.assign(slots, kNone);
    hashes.resize(k);
    set_weight.resize(k);
    for (std::uint32_t s = 0; s < k; ++s) {
      std::uint64_t h = 0;
      for (std::size_t w = 0; w < words; ++w) {
        for (std::uint64_t word = set_of(s)[w]; word != 0; word &= word - 1) {
          h ^= keys[64 * w + std::countr_zero(word)];
        }
      }
      hashes[s] = h;
      set_weight[s] = 0;
      for (std::size_t w = 0; w < words; ++w) set_weight[s] += count_ones(set_of(s)[w]);
      std::size_t slot = h & (slots - 1);
      while (table[slot] != kNone) slot = (slot + 1) & (slots - 1);
      table[slot] = s;
    }
    // Each set T under the hash of T less one of its wires q: the sets one
    // added wire away from a set are then found under its own hash.
    below.clear();
    for (std::uint32_t s = 0; s < k; ++s) {
      for (std::size_t w = 0; w < words; ++w) {
        for (std::uint64_t word = set_of(s)[w]; word != 0; word &= word - 1) {
          const std::uint32_t q = static_cast<std::uint32_t>(64 * w + std::countr_zero(word));
          below.push_back({hashes[s] ^ keys[q], q, s});
        }
      }
    }
    std::sort(below.begin(), below.end());
    // Walks the target through its sets and back; the walk that lands on a
    // set one flip away whenever there is one, and the one that keeps to
    // the window, are both tried and the shorter kept.
    const auto walk = [&](bool one_flip_first, std::vector<PlacedGate>& gates) {
      visited.assign(k, false);
      std::fill(current.begin(), current.end(), 0);
      std::uint64_t current_hash = 0;
      // The set still to visit that `current` with wire q flipped (none: as it
      // is) equals, or kNone.
      const auto unvisited_after = [&](std::uint32_t q) -> std::uint32_t {
        const std::uint64_t h = q == kNone ? current_hash : current_hash ^ keys[q];
        for (std::size_t slot = h & (slots - 1); table[slot] != kNone; slot = (slot + 1) & (slots - 1)) {
          const std::uint32_t s = table[slot];
          if (hashes[s] != h || visited[s]) continue;
          bool equal = true;
          for (std::size_t w = 0; w < words && equal; ++w) {
            const std::uint64_t flipped = q != kNone && q / 64 == w ? std::uint64_t{1} << (q % 64) : 0;
            equal = set_of(s)[w] == (current[w] ^ flipped);
          }
          if (equal) return s;
        }
        return kNone;
      };
      std::size_t cursor = 0, left = k;
      const auto flip = [&](std::uint32_t q) {
        current[q / 64] ^= std::uint64_t{1} << (q % 64);
        current_hash ^= keys[q];
        gates.push_back({Elementary::CX, q, t});
        const std::uint32_t s = unvisited_after(kNone);
        if (s != kNone) {
          visited[s] = true;
          --left;
          write_phase(gates, terms.coefficients[group[s]], t);
        }
      };
      while (left > 0) {
        // A set one flip away if there is one, else the nearest in the window.
        std::uint32_t step = kNone;
        if (one_flip_first) {
          for (std::size_t w = 0; w < words; ++w) {
            for (std::uint64_t word = current[w]; word != 0; word &= word - 1) {
              const std::uint32_t q = static_cast<std::uint32_t>(64 * w + std::countr_zero(word));
              if (q < step && unvisited_after(q) != kNone) step = q;
            }
          }
          const Below key{current_hash, 0, 0};
          for (auto it = std::lower_bound(below.begin(), below.end(), key);
               it != below.end() && it->hash == current_hash; ++it) {
            if (it->wire < step && !visited[it->set] && !bit_of(current, it->wire) &&
                unvisited_after(it->wire) == it->set) {
              step = it->wire;
            }
          }
        }
        if (step != kNone) {
          flip(step);
          continue;
        }
        while (visited[walk_order[cursor]]) ++cursor;
        std::uint32_t next = kNone;
        std::size_t nearest = 0;
        // |s xor current| = |s| + |current| - 2 |s and current|, the last
        // counted over current's wires when it has few.
        held.clear();
        for (std::size_t w = 0; w < words && held.size() <= words; ++w) {
          for (std::uint64_t word = current[w]; word != 0 && held.size() <= words; word &= word - 1) {
            held.push_back(static_cast<std::uint32_t>(64 * w + std::countr_zero(word)));
          }
        }
        const bool few = held.size() <= words;
        for (std::size_t i = cursor, seen = 0; i < k && seen < kWindow; ++i) {
          const std::uint32_t s = walk_order[i];
          if (visited[s]) continue;
          ++seen;
          std::size_t d = 0;
          if (few) {
            std::size_t both = 0;
            for (std::uint32_t q : held) both += (set_of(s)[q / 64] >> (q % 64)) & 1;
            d = set_weight[s] + held.size() - 2 * both;
          } else {
            for (std::size_t w = 0; w < words; ++w) d += count_ones(set_of(s)[w] ^ current[w]);
          }
          if (next == kNone || d < nearest) {
            next = s;
            nearest = d;
          }
        }
        while (!visited[next]) {
          // Of the wires to flip (the first 16), one that lands on a set still
          // to visit if any.
          std::uint32_t chosen = kNone;
          std::size_t tried = 0;
          for (std::size_t w = 0; w < words && tried < 16; ++w) {
            for (std::uint64_t diff = set_of(next)[w] ^ current[w]; diff != 0 && tried < 16; diff &= diff - 1) {
              const std::uint32_t q = static_cast<std::uint32_t>(64 * w + std::countr_zero(diff));
              if (chosen == kNone) chosen = q;
              ++tried;
              if (unvisited_after(q) != kNone) {
                chosen = q;
                tried = 16;
              }
            }
          }
          flip(chosen);
        }
      }
      for (std::size_t w = 0; w < words; ++w) {
        for (std::uint64_t word = current[w]; word != 0; word &= word - 1) {
          gates.push_back({Elementary::CX, static_cast<std::uint32_t>(64 * w + std::countr_zero(word)), t});
        }
      }
    };
    walked[0].clear();
    walked[1].clear();
    walk(false, walked[0]);
    walk(true, walked[1]);
    const std::vector<PlacedGate>& shorter =
        cx_count(walked[1]) < cx_count(walked[0]) ? walked[1] : walked[0];
    out.gates.insert(out.gates.end(), shorter.begin(), shorter.end());
  }
  return out;
}


// The cx gates that bring the wires of `network` back to their inputs, if
// fewer than `limit`: the synthesis of the inverse map, or the network's cx
// gates backwards, whichever is shorter.
std::optional<std::vector<PlacedGate>> closing_gates(const OpenParityNetwork& network,
                                                     std::size_t limit) {
  std::vector<PlacedGate> backwards;
  for (auto it = network.gates.rbegin(); it != network.gates.rend(); ++it) {
    if (it->gate == Elementary::CX) backwards.push_back(*it);
  }
  if (backwards.empty()) return backwards;
  const std::optional<BitMatrix> inverse = network.map.inverse();
  check(inverse.has_value(), "cx gates make an invertible map");
  std::optional<std::vector<PlacedGate>> synthesised =
      synthesise_linear_within(*inverse, std::min(backwards.size(), limit));
  if (synthesised) return synthesised;
  if (backwards.size() < limit) return backwards;
  return std::nullopt;
}

// The terms in a basis of their own span: independent terms, the lightest
// first, each put on a wire of its own (wire i then holds row i of `map`
// times the inputs; the others keep theirs), and every term written in the
// new wires' values. Three terms x0 + x1, x1 + x2 and x0 + x2 + x3, say,
// become single wires and a parity of those three. Nothing when the basis
// would be the inputs themselves.
struct Rebased {
  BitMatrix map;
  Terms terms;
};
std::optional<Rebased> in_own_basis(const Terms& terms) {
  const std::uint32_t n = terms.qubits;
  const std::size_t words = terms.words, m = terms.size();
  std::vector<std::uint32_t> order(m);
  std::iota(order.begin(), order.end(), 0u);
  const auto weight = [&](std::uint32_t p) {
    std::size_t w = 0;
    for (std::size_t i = 0; i < words; ++i) w += count_ones(terms.column(p)[i]);
    return w;
  };
  std::vector<std::size_t> weights(m);
  for (std::uint32_t p = 0; p < m; ++p) weights[p] = weight(p);
  std::stable_sort(order.begin(), order.end(),
                   [&](std::uint32_t a, std::uint32_t b) { return weights[a] < weights[b]; });
  BitMatrix map = BitMatrix::identity(n);
  std::vector<std::uint64_t> reduced;            // echelon rows, `words` each
  std::vector<std::uint32_t> row_of(n, kNone);   // per pivot wire
  std::vector<std::uint64_t> v(words);
  std::uint32_t rank = 0;
  bool moved = false;
  for (std::size_t k = 0; k < m && rank < n; ++k) {
    const std::uint64_t* a = terms.column(order[k]);
    std::copy(a, a + words, v.begin());
    std::uint32_t pivot = kNone;
    for (std::size_t w = 0; w < words && pivot == kNone;) {
      if (v[w] == 0) {
        ++w;
        continue;
      }
      const std::uint32_t q = static_cast<std::uint32_t>(64 * w + std::countr_zero(v[w]));
      if (row_of[q] == kNone) {
        pivot = q;
      } else {
        const std::uint64_t* r = reduced.data() + std::size_t{row_of[q]} * words;
        for (std::size_t i = 0; i < words; ++i) v[i] ^= r[i];
      }
    }
    if (pivot == kNone) continue;
    row_of[pivot] = rank++;
    reduced.insert(reduced.end(), v.begin(), v.end());
    std::copy(a, a + words, map.row(pivot));
    moved = moved || weights[order[k]] > 1;
  }
  if (!moved) return std::nullopt;
  const std::optional<BitMatrix> inverse = map.inverse();
  check(inverse.has_value(), "independent terms on their pivot wires make an invertible map");
  // Term a is a . x = c . (map x) for c = map^-T a.
  const BitMatrix to_new = inverse->transposed();
  Rebased out{std::move(map), Terms{n, words, std::vector<std::uint64_t>(m * words, 0), terms.coefficients}};
  for (std::size_t p = 0; p < m; ++p) {
    const std::uint64_t* a = terms.column(p);
    std::uint64_t* c = out.terms.columns.data() + p * words;
    for (std::uint32_t i = 0; i < n; ++i) {
      const std::uint64_t* r = to_new.row(i);
      std::uint64_t meet = 0;
      for (std::size_t w = 0; w < words; ++w) meet ^= r[w] & a[w];
      c[i / 64] |= std::uint64_t{static_cast<unsigned>(parity(meet))} << (i % 64);
    }
  }
  return out;
}

// Tables of at most this many wire-term bits (n times m) get every search.
constexpr std::size_t kSmallTable = std::size_t{1} << 16;

struct Candidate {
  OpenParityNetwork open;
  std::vector<PlacedGate> closing;
  std::size_t cx = 0;  // in both
};

Candidate best_network(std::uint32_t qubits, std::span<const std::uint64_t> columns,
                       std::span<const std::uint8_t> coefficients, NetworkSearch which) {
  Terms terms = merge_terms(qubits, columns, coefficients);
  const std::vector<PlacedGate> z_gates = take_z_terms(terms);
  // The star search runs on every table; the others, whose work grows
  // faster with the table and which win by a few percent on small blocks
  // only, where they are cheap.
  const bool small = std::size_t{qubits} * terms.size() <= kSmallTable;
  const auto runs = [&](NetworkSearch search) {
    return which == search || (which == NetworkSearch::Best && (search == NetworkSearch::Star || small));
  };
  std::optional<Candidate> best;
  for (NetworkSearch search : {NetworkSearch::Star, NetworkSearch::Split, NetworkSearch::Nearest}) {
    if (!runs(search)) continue;
    Candidate c{search == NetworkSearch::Star    ? star_search(terms)
                : search == NetworkSearch::Split ? split_search(terms)
                                                 : nearest_search(terms),
                {},
                0};
    c.cx = cx_count(c.open.gates);
    if (best && c.cx >= best->cx) continue;  // already no shorter
    std::optional<std::vector<PlacedGate>> closing =
        closing_gates(c.open, best ? best->cx - c.cx : std::numeric_limits<std::size_t>::max());
    if (!closing) continue;
    c.closing = std::move(*closing);
    c.cx += c.closing.size();
    best = std::move(c);
  }
  if (runs(NetworkSearch::Rebased)) {
    if (std::optional<Rebased> rebased = in_own_basis(terms)) {
      // The map there and back, around a network that leaves the new
      // wires as it found them: at least one cx per wire it moves, each way.
      Candidate c{star_search(rebased->terms), {}, 0};
      c.cx = cx_count(c.open.gates);
      if (!best || c.cx + 2 * rows_moved(rebased->map) < best->cx) {
        std::vector<PlacedGate> gates = synthesise_linear(rebased->map);
        c.closing.assign(gates.rbegin(), gates.rend());
        c.cx += 2 * gates.size();
        gates.insert(gates.end(), c.open.gates.begin(), c.open.gates.end());
        c.open = {std::move(gates), std::move(rebased->map)};
        if (!best || c.cx < best->cx) best = std::move(c);
      }
    }
  }
  if (!best) best = Candidate{star_search(terms), {}, 0};
  best->open.gates.insert(best->open.gates.begin(), z_gates.begin(), z_gates.end());
  return std::move(*best);
}

}  // namespace

std::vector<PlacedGate> synthesise_parity_network(std::uint32_t qubits,
                                                  std::span<const std::uint64_t> columns,
                                                  std::span<const std::uint8_t> coefficients,
                                                  NetworkSearch search) {
  Candidate best = best_network(qubits, columns, coefficients, search);
  std::vector<PlacedGate> gates = std::move(best.open.gates);
  gates.insert(gates.end(), best.closing.begin(), best.closing.end());
  return gates;
}

OpenParityNetwork synthesise_open_parity_network(std::uint32_t qubits,
                                                 std::span<const std::uint64_t> columns,
                                                 std::span<const std::uint8_t> coefficients,
                                                 NetworkSearch search) {
  return std::move(best_network(qubits, columns, coefficients, search).open);
}

}  // namespace kestrel
