// The split search for a parity network (GraySynth): terms split by one
// wire's bit at a time, depth first (parity_network_terms.h).
#include <algorithm>
#include <bit>
#include <limits>
#include <numeric>
#include <optional>
#include <vector>

#include "engine/fault.h"
#include "src/gf2/bits.h"
#include "src/gf2/parity_network_terms.h"

namespace kestrel {
namespace network_detail {

namespace {

class SplitSearch {
 public:
  explicit SplitSearch(const Terms& terms)
      : net_(terms), n_(net_.wires()), m_(net_.terms()), qw_(words_for(n_)), pool_(m_), usable_(qw_, 0),
        count_(n_), weight_(m_), some_wire_(m_), columns_(terms.columns) {
    check(terms.words == qw_, "a column per term, a bit per wire");
    std::iota(pool_.begin(), pool_.end(), 0u);
    for (std::uint32_t j = 0; j < n_; ++j) set_bit(usable_.data(), j);
    push(0, static_cast<std::uint32_t>(m_), kNone);
  }

  OpenParityNetwork run() {
    while (!stack_.empty()) {
      if (!take_group()) continue;
      count_wires();
      write_units(kNone);
      if (begin_ == end_) continue;
      check(target_ == kNone || count_[target_] == end_ - begin_, "a group's terms all hold its target");
      gather();
      if (begin_ == end_) continue;
      split();
    }
    return net_.take();
  }

 private:
  struct Group {
    std::uint32_t begin, end;  // its terms: pool_[begin, end)
    std::uint32_t target;      // a wire or kNone
  };

  bool usable(std::uint32_t j) const { return test_bit(usable_.data(), j); }
  void drop(std::uint32_t j) { usable_[j / 64] &= ~(std::uint64_t{1} << (j % 64)); }

  // Puts a group on the stack with the wires usable now.
  void push(std::uint32_t begin, std::uint32_t end, std::uint32_t target) {
    if (begin == end) return;
    stack_.push_back({begin, end, target});
    usable_stack_.insert(usable_stack_.end(), usable_.begin(), usable_.end());
  }

  // Takes the group on top of the stack, its terms written meanwhile left
  // out; false when none is left.
  bool take_group() {
    const Group group = stack_.back();
    stack_.pop_back();
    std::copy(usable_stack_.end() - static_cast<std::ptrdiff_t>(qw_), usable_stack_.end(), usable_.begin());
    usable_stack_.resize(usable_stack_.size() - qw_);
    begin_ = group.begin;
    end_ = group.begin;
    target_ = group.target;
    for (std::uint32_t k = group.begin; k < group.end; ++k) {
      if (net_.live(pool_[k])) pool_[end_++] = pool_[k];
    }
    return begin_ != end_;
  }

  // Each term's weight and the number of terms including each wire, read
  // from the group's own columns, so that the work goes with the group's
  // bits rather than with wires times terms; some_wire_ is a term's last wire.
  void count_wires() {
    std::fill(count_.begin(), count_.end(), 0u);
    for (std::uint32_t k = begin_; k < end_; ++k) {
      const std::uint32_t p = pool_[k];
      std::uint32_t weight = 0;
      for_each_bit(column(p), qw_, [&](std::size_t j) {
        ++count_[j];
        ++weight;
        some_wire_[p] = static_cast<std::uint32_t>(j);
      });
      weight_[p] = weight;
    }
  }

  // cx(control, target) on the network and on the terms' columns: every
  // term that includes the target gains or loses the control.
  void cx(std::uint32_t control, std::uint32_t target) {
    for_each_bit(net_.row(target), net_.row_words(), [&](std::size_t p) {
      flip_bit(columns_.data() + p * qw_, control);
    });
    net_.cx(control, target);
  }

  std::uint64_t* column(std::uint32_t p) { return columns_.data() + std::size_t{p} * qw_; }

  // Drops the terms written; a term of weight one is on `wire_or_none`, or
  // on some_wire_ with none.
  void write_units(std::uint32_t wire_or_none) {
    std::uint32_t out = begin_;
    for (std::uint32_t k = begin_; k < end_; ++k) {
      const std::uint32_t p = pool_[k];
      if (weight_[p] == 1) {
        const std::uint32_t wire = wire_or_none == kNone ? some_wire_[p] : wire_or_none;
        net_.realise(p, wire);
        --count_[wire];
      } else {
        pool_[out++] = p;
      }
    }
    end_ = out;
  }

  // While some wire is in every term of the group, a cx from it onto the
  // target (a wire in every term becomes the target when there is none).
  void gather() {
    for (;;) {
      if (target_ != kNone) {
        // A term written may leave a wire in all the others: scan again
        // after each cx.
        for (std::uint32_t j = 0; j < n_ && begin_ != end_;) {
          if (j == target_ || count_[j] != end_ - begin_) {
            ++j;
            continue;
          }
          cx(j, target_);
          count_[j] = 0;
          for (std::uint32_t k = begin_; k < end_; ++k) --weight_[pool_[k]];
          write_units(target_);
          j = 0;
        }
        if (begin_ == end_) return;
      }
      for (std::uint32_t j = 0; j < n_; ++j) {
        if (usable(j) && count_[j] == 0) drop(j);
      }
      if (target_ == kNone) {
        std::uint32_t all = kNone;
        for (std::uint32_t j = 0; j < n_ && all == kNone; ++j) {
          if (usable(j) && count_[j] == end_ - begin_) all = j;
        }
        if (all != kNone) {
          target_ = all;
          drop(all);
          continue;
        }
      }
      return;
    }
  }

  // Splits the group by the usable wire whose bit is most uneven, the side
  // with the bit set on top of the stack.
  void split() {
    std::uint32_t wire = kNone, best = 0;
    const std::uint32_t size = end_ - begin_;
    for (std::uint32_t j = 0; j < n_; ++j) {
      if (!usable(j) || count_[j] == 0 || count_[j] == size) continue;
      const std::uint32_t larger = std::max(count_[j], size - count_[j]);
      if (larger > best) {
        best = larger;
        wire = j;
      }
    }
    check(wire != kNone, "distinct terms differ on a wire left to split on");
    const std::uint32_t middle = partition(wire);
    drop(wire);
    push(begin_, middle, target_);
    push(middle, end_, target_ == kNone ? wire : target_);
  }

  // Moves the group's terms without wire j to the front, keeping their
  // order; returns where the others start.
  std::uint32_t partition(std::uint32_t j) {
    scratch_.clear();
    std::uint32_t out = begin_;
    for (std::uint32_t k = begin_; k < end_; ++k) {
      if (net_.bit(j, pool_[k])) {
        scratch_.push_back(pool_[k]);
      } else {
        pool_[out++] = pool_[k];
      }
    }
    std::copy(scratch_.begin(), scratch_.end(), pool_.begin() + out);
    return out;
  }

  Network net_;
  std::uint32_t n_;
  std::size_t m_, qw_;
  std::vector<std::uint32_t> pool_;          // the terms, groups as ranges of it
  std::vector<Group> stack_;
  std::vector<std::uint64_t> usable_stack_;  // per group on the stack, qw_ words
  std::vector<std::uint64_t> usable_;        // the wires the group at hand may split on
  std::vector<std::uint32_t> count_, weight_, some_wire_, scratch_;
  std::vector<std::uint64_t> columns_;       // per term, qw_ words: the wires it includes now
  std::uint32_t begin_ = 0, end_ = 0, target_ = kNone;  // the group at hand
};

}  // namespace

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
OpenParityNetwork split_search(const Terms& terms) { return SplitSearch(terms).run(); }

}  // namespace network_detail
}  // namespace kestrel
