// The two searches for a parity network, on one representation of the terms:
// each term written in the wires' present values, kept row by row (one row
// per wire, one bit per term), so that a cx costs a row addition of
// terms / 64 words whatever the number of terms it touches.
#include "src/phase_polynomial/parity_network.h"

#include <algorithm>
#include <bit>
#include <numeric>
#include <optional>

#include "engine/fault.h"

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

// What both searches share: the terms in the wires' present values (bit p of
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
// meanwhile may have changed their terms.
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

    if (target != kNone && count[target] != end - begin) {
      // cx gates written since this group was made took the target out of
      // some of its terms: those go on without a target.
      if (count[target] == 0) {
        target = kNone;
      } else {
        const std::uint32_t middle = partition(begin, end, target);
        push(begin, middle, kNone, usable);
        push(middle, end, target, usable);
        continue;
      }
    }
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
    if (split == kNone) {
      // The terms differ only on wires the split has used: each goes on alone.
      std::vector<std::uint64_t> none(qw, 0);
      for (std::uint32_t k = begin; k < end; ++k) {
        push(k, k + 1, target == kNone ? some_wire[pool[k]] : target, none);
      }
      continue;
    }
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

// The cx gates that bring the wires of `network` back to their inputs: the
// synthesis of the inverse map, or the network's cx gates backwards.
std::vector<PlacedGate> closing_gates(const OpenParityNetwork& network) {
  std::vector<PlacedGate> backwards;
  for (auto it = network.gates.rbegin(); it != network.gates.rend(); ++it) {
    if (it->gate == Elementary::CX) backwards.push_back(*it);
  }
  if (backwards.empty()) return backwards;
  const std::optional<BitMatrix> inverse = network.map.inverse();
  check(inverse.has_value(), "cx gates make an invertible map");
  std::vector<PlacedGate> synthesised = synthesise_linear(*inverse);
  return synthesised.size() < backwards.size() ? synthesised : backwards;
}

struct Candidate {
  OpenParityNetwork open;
  std::vector<PlacedGate> closing;
  std::size_t cx = 0;  // in both
};

Candidate best_network(std::uint32_t qubits, std::span<const std::uint64_t> columns,
                       std::span<const std::uint8_t> coefficients) {
  const Terms terms = merge_terms(qubits, columns, coefficients);
  std::optional<Candidate> best;
  for (auto search : {split_search, nearest_search}) {
    Candidate c{search(terms), {}, 0};
    c.closing = closing_gates(c.open);
    c.cx = cx_count(c.open.gates) + c.closing.size();
    if (!best || c.cx < best->cx) best = std::move(c);
  }
  return std::move(*best);
}

}  // namespace

std::vector<PlacedGate> synthesise_parity_network(std::uint32_t qubits,
                                                  std::span<const std::uint64_t> columns,
                                                  std::span<const std::uint8_t> coefficients) {
  Candidate best = best_network(qubits, columns, coefficients);
  std::vector<PlacedGate> gates = std::move(best.open.gates);
  gates.insert(gates.end(), best.closing.begin(), best.closing.end());
  return gates;
}

OpenParityNetwork synthesise_open_parity_network(std::uint32_t qubits,
                                                 std::span<const std::uint64_t> columns,
                                                 std::span<const std::uint8_t> coefficients) {
  return std::move(best_network(qubits, columns, coefficients).open);
}

}  // namespace kestrel
