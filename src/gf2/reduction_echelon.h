// The reduction's working state (src/gf2/reduction.h): the work it counts
// (Budget), the rows of L(A) (Monomials), and the columns of the table in
// slots with L(A) in echelon form over them, repaired move by move
// (Echelon). Included by the reduction's searches and passes only.
#pragma once

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "engine/fault.h"
#include "src/gf2/bits.h"
#include "src/gf2/parity_table.h"
#include "src/gf2/word_map.h"
#include "src/timing/deadline.h"

namespace kestrel {
namespace reduction_detail {

// The work a reduction has done, in units of about a machine word
// operation, and when it must stop: at the deadline, once the work reaches
// the limit (set for what follows the first kernel moves), or once it
// reaches the cap (set for all of it).
struct Budget {
  std::uint64_t work = 0;
  std::optional<std::uint64_t> limit;
  std::optional<std::uint64_t> cap;
  Deadline deadline;

  bool spent() const { return limit && work >= *limit; }
  bool capped() const { return cap && work >= *cap; }
  bool stop() const { return spent() || capped() || deadline.passed(); }
};

// The rows of L(A): row v for the variable v (the entries a_v), then row
// (u, v) for each pair u < v (the products a_u a_v), pairs in order.
class Monomials {
 public:
  explicit Monomials(std::uint32_t n) : n_(n) {
    first_.resize(rows());
    second_.resize(rows());
    for (std::uint32_t v = 0; v < n; ++v) first_[v] = second_[v] = v;
    for (std::uint32_t u = 0; u < n; ++u) {
      for (std::uint32_t v = u + 1; v < n; ++v) {
        first_[pair(u, v)] = u;
        second_[pair(u, v)] = v;
      }
    }
  }

  std::size_t rows() const { return n_ + std::size_t{n_} * (n_ == 0 ? 0 : n_ - 1) / 2; }
  std::size_t pair(std::uint32_t u, std::uint32_t v) const {
    return n_ + std::size_t{u} * (2 * std::size_t{n_} - u - 1) / 2 + (v - u - 1);
  }
  std::uint32_t first(std::size_t row) const { return first_[row]; }
  std::uint32_t second(std::size_t row) const { return second_[row]; }
  bool is_pair(std::size_t row) const { return row >= n_; }

  // Calls f(row) for every row where the column with these variables
  // (ascending) has a 1.
  template <class F>
  void for_each_row(const std::vector<std::uint32_t>& support, F&& f) const {
    for (std::size_t i = 0; i < support.size(); ++i) {
      f(std::size_t{support[i]});
      const std::size_t u = support[i];
      const std::size_t base = n_ + u * (2 * std::size_t{n_} - u - 1) / 2 - u - 1;
      for (std::size_t j = i + 1; j < support.size(); ++j) f(base + support[j]);
    }
  }

 private:
  std::uint32_t n_;
  std::vector<std::uint32_t> first_, second_;  // the variables of each row
};

inline void support_of(const std::uint64_t* value, std::size_t words, std::vector<std::uint32_t>& out) {
  out.clear();
  for_each_bit(value, words, [&](std::size_t v) { out.push_back(static_cast<std::uint32_t>(v)); });
}

// The columns of the table in slots, with L(A) in echelon form over them.
//
// The echelon form is a basis of the column space of L(A): vectors
// ("images") with one pivot row each, where no other image has a 1, each
// with the set of slots whose columns of L(A) sum to it (its "history").
// The histories lie on the pivot slots, one per image; every other live
// slot f is free, and its kernel vector is y_f = e_f + the histories of the
// images whose pivot row is a 1 of column f of L(A). The free slots' kernel
// vectors are a basis of the kernel of L(A).
//
// A move changes L(A) by a matrix of rank at most n + 1: column j of a moved
// slot gains l(z) + (0, a_j ^ z), where l(z) is z's own column of L(A) and
// a ^ z has a 1 in row (u, v) where a_u z_v + a_v z_u is odd; that is, every
// moved column gains l(z), and (0, e_u ^ z) for each variable u of a_j. The
// echelon form follows these n + 1 terms one at a time (update), each one
// the sum of a vector v over a set of slots c, however many columns the
// move changes.
class Echelon {
 public:
  enum State : std::uint8_t { kDead, kFree, kPivot };

  // An empty table of n variables with room for `slots` columns; the work
  // of its updates counts in `budget`.
  Echelon(std::uint32_t n, std::size_t slots, Budget& budget)
      : budget_(budget),
        n_(n),
        words_(parity_words(n)),
        monomials_(n),
        rows_(monomials_.rows()),
        row_words_(words_for(rows_)),
        slots_(slots),
        slot_words_(words_for(slots)),
        values_(slots * words_, 0),
        state_(slots, kDead),
        moving_(slots, 0),
        index_(words_, slots),
        owner_(rows_, kNone),
        residual_(row_words_),
        history_(slot_words_),
        mask_(row_words_),
        column_(row_words_),
        z_column_(row_words_),
        term_(row_words_),
        term_slots_(slot_words_),
        gamma_words_(words_for(std::size_t{n} + 1)),
        gamma_history_(gamma_words_),
        moving_bits_(slot_words_),
        supports_(slots) {}

  std::uint32_t variables() const { return n_; }
  std::size_t words() const { return words_; }
  std::size_t slots() const { return slots_; }
  std::size_t slot_words() const { return slot_words_; }
  std::size_t rank() const { return pivot_rows_.size(); }
  std::size_t live() const { return live_; }
  State state(std::size_t s) const { return state_[s]; }
  const std::uint64_t* value(std::size_t s) const { return &values_[s * words_]; }
  std::uint32_t slot_of(const std::uint64_t* value) const { return index_.find(value); }
  const Monomials& monomials() const { return monomials_; }
  std::size_t rows() const { return rows_; }
  std::size_t row_words() const { return row_words_; }
  std::uint32_t pivot_row(std::size_t b) const { return pivot_rows_[b]; }
  std::uint32_t owner(std::size_t row) const { return owner_[row]; }
  const std::uint64_t* basis_image(std::size_t b) const { return &images_[b * row_words_]; }
  const std::uint64_t* basis_history(std::size_t b) const { return &histories_[b * slot_words_]; }

  // Adds the column v (nonzero, not in the table yet) in the lowest dead
  // slot; returns the slot.
  std::uint32_t add_column(const std::uint64_t* v) {
    check(!zero_words(v, words_) && index_.find(v) == kNone, "distinct nonzero columns");
    return add(v);
  }

  // Writes y_f (slot_words() words) for the free slot f.
  void kernel_vector(std::size_t f, std::uint64_t* out) {
    std::fill(out, out + slot_words_, 0);
    flip_bit(out, f);
    for_each_pivot_row(f, [&](std::size_t b) { xor_words(out, history(b), slot_words_); });
  }

  // Applies the move (y, z): the columns of the slots in `y` become a + z,
  // z joins when |y| is odd, equal columns leave in pairs and zero columns
  // leave.
  void apply(const std::uint64_t* y, const std::uint64_t* z) {
    std::vector<std::uint32_t> moved;
    for_each_bit(y, slot_words_, [&](std::size_t j) {
      check(state_[j] != kDead, "a move changes live columns only");
      moved.push_back(static_cast<std::uint32_t>(j));
      index_.erase(value(j));
    });
    std::vector<std::uint64_t> next(moved.size() * words_);
    std::vector<std::uint32_t> gone;
    std::vector<std::uint32_t> kept;  // positions in `moved` whose column stays
    for (std::size_t i = 0; i < moved.size(); ++i) {
      std::uint64_t* v = &next[i * words_];
      for (std::size_t w = 0; w < words_; ++w) v[w] = value(moved[i])[w] ^ z[w];
      if (zero_words(v, words_)) {
        gone.push_back(moved[i]);
        continue;
      }
      const std::uint32_t k = index_.find(v);
      if (k != kNone) {
        gone.push_back(moved[i]);
        gone.push_back(k);
        index_.erase(v);
      } else {
        index_.at(v, moved[i]);
        kept.push_back(static_cast<std::uint32_t>(i));
      }
    }
    bool append = false;
    if (moved.size() % 2 == 1) {
      const std::uint32_t k = index_.find(z);
      if (k != kNone) {
        gone.push_back(k);
        index_.erase(z);
      } else {
        append = true;
      }
    }
    for (const std::uint32_t s : gone) remove(s);
    if (!kept.empty()) {
      shift(kept, moved, z);
      for (const std::uint32_t i : kept) {
        std::copy(&next[i * words_], &next[i * words_] + words_, &values_[moved[i] * words_]);
        support_of(value(moved[i]), words_, supports_[moved[i]]);
      }
    }
    if (append) add(z);
  }

  // Checks every invariant of the echelon form against L(A) computed from
  // the columns afresh; faults on the first that fails.
  void verify() {
    std::vector<std::uint64_t> sum(row_words_), column(row_words_);
    const auto column_of = [&](std::size_t s, std::uint64_t* out) {
      std::fill(out, out + row_words_, 0);
      support_of(value(s), words_, support_);
      monomials_.for_each_row(support_, [&](std::size_t row) { flip_bit(out, row); });
    };
    std::size_t live = 0, pivots = 0;
    for (std::size_t s = 0; s < slots_; ++s) {
      live += state_[s] != kDead;
      pivots += state_[s] == kPivot;
      check(state_[s] == kDead || index_.find(value(s)) == s, "the index finds every live column");
      check(state_[s] != kDead || zero_words(value(s), words_), "dead slots hold zero");
    }
    check(live == live_ && pivots == rank(), "one pivot slot per image");
    for (std::size_t b = 0; b < rank(); ++b) {
      check(owner_[pivot_rows_[b]] == b && test_bit(image(b), pivot_rows_[b]), "an image owns its pivot row");
      for (std::size_t c = 0; c < rank(); ++c) {
        check(c == b || !test_bit(image(c), pivot_rows_[b]), "no other image has a 1 in a pivot row");
      }
      std::fill(sum.begin(), sum.end(), 0);
      for_each_bit(history(b), slot_words_, [&](std::size_t s) {
        check(state_[s] == kPivot, "histories lie on pivot slots");
        column_of(s, column.data());
        xor_words(sum.data(), column.data(), row_words_);
      });
      check(equal_words(sum.data(), image(b), row_words_), "an image is the sum of its history's columns");
    }
    std::vector<std::uint64_t> y(slot_words_);
    for (std::size_t f = 0; f < slots_; ++f) {
      if (state_[f] != kFree) continue;
      kernel_vector(f, y.data());
      std::fill(sum.begin(), sum.end(), 0);
      for_each_bit(y.data(), slot_words_, [&](std::size_t s) {
        check(s == f || state_[s] == kPivot, "a kernel vector holds its free slot and pivot slots");
        column_of(s, column.data());
        xor_words(sum.data(), column.data(), row_words_);
      });
      check(zero_words(sum.data(), row_words_), "a free slot's kernel vector is in the kernel");
    }
  }

  // The live columns in slot order.
  ParityTable table() const {
    ParityTable out(n_);
    for (std::size_t s = 0; s < slots_; ++s) {
      if (state_[s] != kDead) out.push_back({value(s), words_});
    }
    return out;
  }

 private:
  std::uint64_t* image(std::size_t b) { return &images_[b * row_words_]; }
  std::uint64_t* history(std::size_t b) { return &histories_[b * slot_words_]; }
  std::uint64_t* gamma(std::size_t b) { return &gammas_[b * gamma_words_]; }

  // Writes slot s's column of L(A) as it stands, mid-move for a moving slot:
  // l(a), plus l(z) and (0, e_u ^ z) for the variables u of a below
  // `applied_` once those terms are in.
  void column(std::size_t s, std::uint64_t* out) {
    std::fill(out, out + row_words_, 0);
    monomials_.for_each_row(supports_[s], [&](std::size_t row) { flip_bit(out, row); });
    if (!moving_[s] || !z_term_in_) return;
    xor_words(out, z_column_.data(), row_words_);
    for (const std::uint32_t u : supports_[s]) {
      if (u >= applied_) break;
      for (const std::uint32_t v : z_support_) {
        if (v != u) flip_bit(out, u < v ? monomials_.pair(u, v) : monomials_.pair(v, u));
      }
    }
  }

  // Calls f(b) for every image b whose pivot row is a 1 of slot s's column.
  template <class F>
  void for_each_pivot_row(std::size_t s, F&& f) {
    if (!moving_[s]) {
      monomials_.for_each_row(supports_[s], [&](std::size_t row) {
        if (owner_[row] != kNone) f(owner_[row]);
      });
      return;
    }
    column(s, column_.data());
    for_each_bit(column_.data(), row_words_, [&](std::size_t row) {
      if (owner_[row] != kNone) f(owner_[row]);
    });
  }

  // The parity of slot s's column of L(A) on the rows of `mask`.
  bool column_parity(std::size_t s, const std::uint64_t* mask) {
    bool odd = false;
    if (!moving_[s]) {
      const std::vector<std::uint32_t>& on = supports_[s];
      for (std::size_t i = 0; i < on.size(); ++i) {
        odd ^= test_bit(mask, on[i]);
        const std::size_t u = on[i];
        const std::size_t base = n_ + u * (2 * std::size_t{n_} - u - 1) / 2 - u - 1;
        for (std::size_t j = i + 1; j < on.size(); ++j) odd ^= test_bit(mask, base + on[j]);
      }
      return odd;
    }
    column(s, column_.data());
    std::uint64_t bits = 0;
    for (std::size_t w = 0; w < row_words_; ++w) bits ^= column_[w] & mask[w];
    return std::popcount(bits) % 2 == 1;
  }

  // The lowest free slot whose kernel vector meets `c` oddly, given `mask`,
  // the pivot rows of the images whose histories do: y_f . c is f's bit of
  // c plus the parity of f's column on those rows. kNone if none.
  std::size_t free_meeting(const std::uint64_t* c, const std::uint64_t* mask) {
    for (std::size_t f = 0; f < slots_; ++f) {
      if (state_[f] != kFree) continue;
      budget_.work += 16;
      if (test_bit(c, f) != column_parity(f, mask)) return f;
    }
    return kNone;
  }

  // Puts `v` in the lowest dead slot; returns the slot.
  std::uint32_t add(const std::uint64_t* v) {
    std::size_t s = 0;
    while (s < slots_ && state_[s] != kDead) ++s;
    check(s < slots_, "a dead slot for a new column");
    std::copy(v, v + words_, &values_[s * words_]);
    support_of(v, words_, supports_[s]);
    index_.at(v, static_cast<std::uint32_t>(s));
    ++live_;
    std::fill(residual_.begin(), residual_.end(), 0);
    monomials_.for_each_row(supports_[s], [&](std::size_t row) { flip_bit(residual_.data(), row); });
    std::fill(history_.begin(), history_.end(), 0);
    flip_bit(history_.data(), s);
    state_[s] = insert() ? kPivot : kFree;
    return static_cast<std::uint32_t>(s);
  }

  // Takes slot s out of the table (its value is already out of the index).
  void remove(std::size_t s) {
    if (state_[s] == kPivot) release(s);
    state_[s] = kDead;
    std::fill(&values_[s * words_], &values_[s * words_] + words_, 0);
    supports_[s].clear();
    --live_;
  }

  // Reduces residual_ (a vector of L(A)'s column space, the sum of the
  // columns of the slots in history_) against the images. A nonzero residual
  // joins them, with its lowest 1 as pivot row, cleared from the other
  // images; returns whether it did. A zero one leaves history_ a kernel
  // vector.
  bool insert() {
    std::vector<std::uint32_t> hit;
    for_each_bit(residual_.data(), row_words_, [&](std::size_t row) {
      if (owner_[row] != kNone) hit.push_back(owner_[row]);
    });
    for (const std::uint32_t b : hit) {
      xor_words(residual_.data(), image(b), row_words_);
      xor_words(history_.data(), history(b), slot_words_);
      if (tracking_) xor_words(gamma_history_.data(), gamma(b), gamma_words_);
    }
    std::size_t pivot = 0;
    while (pivot < row_words_ && residual_[pivot] == 0) ++pivot;
    if (pivot == row_words_) return false;
    pivot = pivot * 64 + static_cast<std::size_t>(std::countr_zero(residual_[pivot]));
    budget_.work += rank();
    for (std::size_t b = 0; b < rank(); ++b) {
      if (test_bit(image(b), pivot)) {
        budget_.work += row_words_ + slot_words_;
        xor_words(image(b), residual_.data(), row_words_);
        xor_words(history(b), history_.data(), slot_words_);
        if (tracking_) xor_words(gamma(b), gamma_history_.data(), gamma_words_);
      }
    }
    owner_[pivot] = static_cast<std::uint32_t>(rank());
    pivot_rows_.push_back(static_cast<std::uint32_t>(pivot));
    images_.insert(images_.end(), residual_.begin(), residual_.end());
    histories_.insert(histories_.end(), history_.begin(), history_.end());
    if (tracking_) gammas_.insert(gammas_.end(), gamma_history_.begin(), gamma_history_.end());
    return true;
  }

  // Drops image b, moving the last image into its place.
  void drop(std::size_t b) {
    owner_[pivot_rows_[b]] = kNone;
    const std::size_t last = rank() - 1;
    if (b != last) {
      std::copy(image(last), image(last) + row_words_, image(b));
      std::copy(history(last), history(last) + slot_words_, history(b));
      if (tracking_) std::copy(gamma(last), gamma(last) + gamma_words_, gamma(b));
      pivot_rows_[b] = pivot_rows_[last];
      owner_[pivot_rows_[b]] = static_cast<std::uint32_t>(b);
    }
    pivot_rows_.pop_back();
    images_.resize(pivot_rows_.size() * row_words_);
    histories_.resize(pivot_rows_.size() * slot_words_);
    if (tracking_) gammas_.resize(pivot_rows_.size() * gamma_words_);
  }

  // Mid-move: the sum over the moving slots of `h` of their columns, each
  // with a 1 appended (bit n), into `out`; bit u of gamma(b) says whether
  // image b's history meets the slots of the term for variable u oddly, and
  // bit n the same for the l(z) term.
  void gamma_of(const std::uint64_t* h, std::uint64_t* out) {
    std::fill(out, out + gamma_words_, 0);
    for (std::size_t w = 0; w < slot_words_; ++w) {
      for (std::uint64_t x = h[w] & moving_bits_[w]; x != 0; x &= x - 1) {
        const std::size_t s = w * 64 + static_cast<std::size_t>(std::countr_zero(x));
        xor_words(out, value(s), words_);
        flip_bit(out, n_);
      }
    }
  }

  // Makes the pivot slot s free. If some free slot's kernel vector holds s,
  // the lowest such slot f takes its place (y_f joins every history holding
  // s; the images stay); otherwise one image holding s in its history leaves
  // and the rank drops.
  void release(std::size_t s) {
    std::fill(history_.begin(), history_.end(), 0);
    flip_bit(history_.data(), s);
    std::vector<std::uint32_t> holding;
    std::fill(mask_.begin(), mask_.end(), 0);
    for (std::size_t b = 0; b < rank(); ++b) {
      if (test_bit(history(b), s)) {
        holding.push_back(static_cast<std::uint32_t>(b));
        flip_bit(mask_.data(), pivot_rows_[b]);
      }
    }
    check(!holding.empty(), "a pivot slot lies in some history");
    budget_.work += rank() + holding.size() * (slot_words_ + row_words_);
    const std::size_t f = free_meeting(history_.data(), mask_.data());
    if (f != kNone) {
      kernel_vector(f, history_.data());
      for (const std::uint32_t b : holding) xor_words(history(b), history_.data(), slot_words_);
      state_[f] = kPivot;
      state_[s] = kFree;
      return;
    }
    const std::uint32_t gone = holding.front();
    for (std::size_t i = 1; i < holding.size(); ++i) {
      xor_words(image(holding[i]), image(gone), row_words_);
      xor_words(history(holding[i]), history(gone), slot_words_);
    }
    drop(gone);
    state_[s] = kFree;
  }

  // L(A) gains the vector term_ in the columns of the slots in term_slots_.
  //
  // Histories h with h . c odd see their image change by term_. If a free
  // slot f's kernel vector y is one, y joins the others (their images stay)
  // and is placed with image term_, f becoming a pivot slot. Otherwise one
  // image's history joins the others, and that image plus term_ is placed
  // again. A vector placed that reduces to zero leaves a kernel vector: it
  // joins every history holding f (if it holds f) or its lowest slot, which
  // becomes free.
  void update() {
    const std::uint64_t* c = term_slots_.data();
    std::vector<std::uint32_t> holding;
    std::fill(mask_.begin(), mask_.end(), 0);
    for (std::size_t b = 0; b < rank(); ++b) {
      if (test_bit(gamma(b), term_bit_)) {
        holding.push_back(static_cast<std::uint32_t>(b));
        flip_bit(mask_.data(), pivot_rows_[b]);
      }
    }
    const std::size_t f = free_meeting(c, mask_.data());
    budget_.work += rank() + holding.size() * (slot_words_ + row_words_);
    if (f != kNone) {
      kernel_vector(f, history_.data());
      gamma_of(history_.data(), gamma_history_.data());
      for (const std::uint32_t b : holding) {
        xor_words(history(b), history_.data(), slot_words_);
        xor_words(gamma(b), gamma_history_.data(), gamma_words_);
      }
      std::copy(term_.begin(), term_.end(), residual_.begin());
    } else if (!holding.empty()) {
      const std::uint32_t first = holding.front();
      for (std::size_t i = 1; i < holding.size(); ++i) {
        xor_words(image(holding[i]), image(first), row_words_);
        xor_words(history(holding[i]), history(first), slot_words_);
        xor_words(gamma(holding[i]), gamma(first), gamma_words_);
      }
      for (std::size_t w = 0; w < row_words_; ++w) residual_[w] = image(first)[w] ^ term_[w];
      std::copy(history(first), history(first) + slot_words_, history_.begin());
      std::copy(gamma(first), gamma(first) + gamma_words_, gamma_history_.begin());
      drop(first);
    } else {
      return;
    }
    if (insert()) {
      if (f != kNone) state_[f] = kPivot;
      return;
    }
    // history_ is not zero: the histories are independent, and y holds f,
    // which no history did.
    check(!zero_words(history_.data(), slot_words_), "a kernel vector left by an update");
    std::size_t q = f;
    if (f == kNone || !test_bit(history_.data(), f)) {
      q = 0;
      while (!test_bit(history_.data(), q)) ++q;
    }
    for (std::size_t b = 0; b < rank(); ++b) {
      if (test_bit(history(b), q)) {
        xor_words(history(b), history_.data(), slot_words_);
        xor_words(gamma(b), gamma_history_.data(), gamma_words_);
      }
    }
    if (q != f) {
      state_[q] = kFree;
      if (f != kNone) state_[f] = kPivot;
    }
  }

  // Moves the kept slots of a move by z, term by term (see the class
  // comment); their values change after.
  void shift(const std::vector<std::uint32_t>& kept, const std::vector<std::uint32_t>& moved,
             const std::uint64_t* z) {
    std::fill(term_slots_.begin(), term_slots_.end(), 0);
    for (const std::uint32_t i : kept) {
      moving_[moved[i]] = 1;
      flip_bit(term_slots_.data(), moved[i]);
    }
    std::copy(term_slots_.begin(), term_slots_.end(), moving_bits_.begin());
    gammas_.assign(rank() * gamma_words_, 0);
    for (std::size_t b = 0; b < rank(); ++b) gamma_of(history(b), gamma(b));
    tracking_ = true;
    support_of(z, words_, z_support_);
    std::fill(z_column_.begin(), z_column_.end(), 0);
    monomials_.for_each_row(z_support_, [&](std::size_t row) { flip_bit(z_column_.data(), row); });
    applied_ = 0;
    z_term_in_ = false;
    std::copy(z_column_.begin(), z_column_.end(), term_.begin());
    term_bit_ = n_;
    update();
    z_term_in_ = true;
    for (std::uint32_t u = 0; u < n_; ++u) {
      std::fill(term_slots_.begin(), term_slots_.end(), 0);
      bool any = false;
      for (const std::uint32_t i : kept) {
        if (test_bit(value(moved[i]), u)) {
          flip_bit(term_slots_.data(), moved[i]);
          any = true;
        }
      }
      std::fill(term_.begin(), term_.end(), 0);
      for (const std::uint32_t v : z_support_) {
        if (v != u) flip_bit(term_.data(), u < v ? monomials_.pair(u, v) : monomials_.pair(v, u));
      }
      term_bit_ = u;
      if (any && !zero_words(term_.data(), row_words_)) update();
      applied_ = u + 1;
    }
    for (const std::uint32_t i : kept) moving_[moved[i]] = 0;
    tracking_ = false;
  }

  Budget& budget_;
  std::uint32_t n_;
  std::size_t words_;                      // words per column
  Monomials monomials_;
  std::size_t rows_;                       // rows of L(A)
  std::size_t row_words_;                  // words per image
  std::size_t slots_;                      // the most columns at once
  std::size_t slot_words_;                 // words per history or kernel vector
  std::size_t live_ = 0;                   // live slots
  std::vector<std::uint64_t> values_;      // each slot's column (zero when dead)
  std::vector<State> state_;               // each slot's state
  std::vector<std::uint8_t> moving_;       // 1 for the slots a move is shifting
  WordMap index_;                          // live column -> its slot
  std::vector<std::uint64_t> images_;      // the images, row_words_ words each
  std::vector<std::uint64_t> histories_;   // their histories, slot_words_ words each
  std::vector<std::uint32_t> pivot_rows_;  // each image's pivot row
  std::vector<std::uint32_t> owner_;       // each row: the image pivoting on it, or kNone
  std::size_t applied_ = 0;                // mid-move: the (0, e_u ^ z) terms in, u below this
  bool z_term_in_ = false;                 // mid-move: whether the l(z) term is in
  std::vector<std::uint32_t> z_support_;   // mid-move: z's variables
  std::vector<std::uint64_t> residual_;    // scratch: a vector to place
  std::vector<std::uint64_t> history_;     // scratch: its history
  std::vector<std::uint64_t> mask_;        // scratch: pivot rows of some images
  std::vector<std::uint64_t> column_;      // scratch: a column of L(A)
  std::vector<std::uint64_t> z_column_;    // mid-move: l(z)
  std::vector<std::uint64_t> term_;        // the vector of the term being applied
  std::vector<std::uint64_t> term_slots_;  // the slots it applies to
  std::vector<std::uint32_t> support_;     // scratch: a column's variables
  bool tracking_ = false;                  // mid-move: gammas_ follow the histories
  std::size_t gamma_words_;                // words per gamma: n + 1 bits
  std::vector<std::uint64_t> gammas_;      // mid-move: each image's gamma (gamma_of)
  std::vector<std::uint64_t> gamma_history_;  // scratch: gamma of history_
  std::vector<std::uint64_t> moving_bits_;  // mid-move: the moving slots
  std::size_t term_bit_ = 0;               // mid-move: the gamma bit of the term applied
  std::vector<std::vector<std::uint32_t>> supports_;  // each slot's column's variables
};

}  // namespace reduction_detail
}  // namespace kestrel
