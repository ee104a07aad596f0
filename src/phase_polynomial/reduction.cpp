// The reduction of a parity table, in four parts: the columns in slots with
// L(A) in echelon form over them, repaired move by move (Echelon); the
// search for the best kernel move (KernelSearch); the search for widened
// moves z by z (WidenedSearch, best_combination); and the passes that drive
// them (reduce_pass, in chunks for tables too large for one pass, in other
// column orders while the effort lasts).
//
// The work of every part is counted in word operations (Budget), so that an
// effort bounds it the same way on every machine.
#include "src/phase_polynomial/reduction.h"

#include <algorithm>
#include <bit>
#include <vector>

#include "engine/fault.h"

namespace kestrel {
namespace {

using Clock = std::chrono::steady_clock;
constexpr std::uint32_t kNone = 0xffffffffu;

inline bool test_bit(const std::uint64_t* v, std::size_t i) { return (v[i >> 6] >> (i & 63)) & 1; }
inline void flip_bit(std::uint64_t* v, std::size_t i) { v[i >> 6] ^= std::uint64_t{1} << (i & 63); }
inline std::size_t bit_words(std::size_t bits) { return (bits + 63) / 64; }

bool past(const std::optional<Clock::time_point>& deadline) {
  return deadline && Clock::now() >= *deadline;
}

// The work a reduction has done, in units of about a machine word
// operation, and when it must stop: at the deadline, or once the work
// reaches the limit (set for what follows the first kernel moves).
struct Budget {
  std::uint64_t work = 0;
  std::optional<std::uint64_t> limit;
  std::optional<Clock::time_point> deadline;

  bool spent() const { return limit && work >= *limit; }
  bool stop() const { return spent() || past(deadline); }
};

inline void xor_words(std::uint64_t* dst, const std::uint64_t* src, std::size_t words) {
  for (std::size_t w = 0; w < words; ++w) dst[w] ^= src[w];
}
inline bool zero_words(const std::uint64_t* v, std::size_t words) {
  for (std::size_t w = 0; w < words; ++w) {
    if (v[w] != 0) return false;
  }
  return true;
}
inline bool equal_words(const std::uint64_t* a, const std::uint64_t* b, std::size_t words) {
  for (std::size_t w = 0; w < words; ++w) {
    if (a[w] != b[w]) return false;
  }
  return true;
}
inline std::size_t count_bits(const std::uint64_t* v, std::size_t words) {
  std::size_t c = 0;
  for (std::size_t w = 0; w < words; ++w) c += static_cast<std::size_t>(std::popcount(v[w]));
  return c;
}
template <class F>
inline void for_each_bit(const std::uint64_t* v, std::size_t words, F&& f) {
  for (std::size_t w = 0; w < words; ++w) {
    for (std::uint64_t x = v[w]; x != 0; x &= x - 1) {
      f(w * 64 + static_cast<std::size_t>(std::countr_zero(x)));
    }
  }
}
inline std::uint64_t hash_words(const std::uint64_t* v, std::size_t words) {
  std::uint64_t h = 0x243f6a8885a308d3ULL;
  for (std::size_t w = 0; w < words; ++w) {
    h = (h ^ v[w]) * 0x9e3779b97f4a7c15ULL;
    h ^= h >> 31;
  }
  h *= 0xbf58476d1ce4e5b9ULL;
  return h ^ (h >> 29);
}

// An open-addressing map from word vectors to 32-bit payloads (kNone marks
// an empty place), with linear probing and deletion by backward shift.
class WordMap {
 public:
  WordMap(std::size_t words, std::size_t expected) : words_(words) {
    std::size_t capacity = 16;
    while (capacity < 2 * expected + 2) capacity <<= 1;
    mask_ = capacity - 1;
    keys_.assign(capacity * words, 0);
    payloads_.assign(capacity, kNone);
  }

  std::uint32_t find(const std::uint64_t* key) const {
    for (std::size_t i = hash_words(key, words_) & mask_;; i = (i + 1) & mask_) {
      if (payloads_[i] == kNone) return kNone;
      if (equal_words(&keys_[i * words_], key, words_)) return payloads_[i];
    }
  }

  // The payload of `key`, entered with `initial` if absent.
  std::uint32_t& at(const std::uint64_t* key, std::uint32_t initial) {
    std::size_t i = hash_words(key, words_) & mask_;
    for (; payloads_[i] != kNone; i = (i + 1) & mask_) {
      if (equal_words(&keys_[i * words_], key, words_)) return payloads_[i];
    }
    check(++size_ <= mask_ / 2, "word map within its capacity");
    std::copy(key, key + words_, &keys_[i * words_]);
    payloads_[i] = initial;
    return payloads_[i];
  }

  void erase(const std::uint64_t* key) {
    std::size_t i = hash_words(key, words_) & mask_;
    for (;; i = (i + 1) & mask_) {
      check(payloads_[i] != kNone, "erased key present");
      if (equal_words(&keys_[i * words_], key, words_)) break;
    }
    --size_;
    // Shift back every later entry of the run whose home lies at or before
    // the hole, so that lookups never stop early.
    for (std::size_t j = (i + 1) & mask_; payloads_[j] != kNone; j = (j + 1) & mask_) {
      const std::size_t home = hash_words(&keys_[j * words_], words_) & mask_;
      if (((j - home) & mask_) >= ((j - i) & mask_)) {
        std::copy(&keys_[j * words_], &keys_[j * words_] + words_, &keys_[i * words_]);
        payloads_[i] = payloads_[j];
        i = j;
      }
    }
    payloads_[i] = kNone;
  }

 private:
  std::size_t words_;
  std::size_t mask_ = 0;
  std::size_t size_ = 0;
  std::vector<std::uint64_t> keys_;
  std::vector<std::uint32_t> payloads_;
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

void support_of(const std::uint64_t* value, std::size_t words, std::vector<std::uint32_t>& out) {
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
        row_words_(bit_words(rows_)),
        slots_(slots),
        slot_words_(bit_words(slots)),
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
        gamma_words_(bit_words(std::size_t{n} + 1)),
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

// A move found by a search: the gain (columns fewer after it), the kernel
// vector's weight, the free slot whose kernel vector it is and z.
struct Move {
  long gain = 0;
  std::size_t weight = 0;
  std::uint32_t slot = kNone;
  std::vector<std::uint64_t> z;
};

// Linear fingerprints of columns: f(a) is the xor of a fixed pseudo-random
// word per variable of a, so f(a + b) = f(a) ^ f(b), and the fingerprint of
// the z two columns differ by costs one xor.
class Fingerprints {
 public:
  explicit Fingerprints(std::uint32_t n) : words_(n) {
    std::uint64_t state = 0x9e3779b97f4a7c15ULL;
    for (std::uint64_t& w : words_) {
      state += 0x9e3779b97f4a7c15ULL;
      std::uint64_t x = state;
      x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
      x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
      w = x ^ (x >> 31);
    }
  }
  std::uint64_t of(const std::uint64_t* value, std::size_t words) const {
    std::uint64_t f = 0;
    for_each_bit(value, words, [&](std::size_t v) { f ^= words_[v]; });
    return f;
  }

 private:
  std::vector<std::uint64_t> words_;
};

// The search for the best kernel move over the free slots' kernel vectors.
//
// A candidate z is scored for every kernel vector at once: the pairs of
// columns that differ by z (the zero column counted in, so that z itself
// pairs with it) each add the vector of kernel bits that split them (one
// column moved, the other not) to bit-sliced counters. The candidates are a
// pool of the z values most pairs differ by, found by counting pairs now
// and then (a sample of them when there are many), each with its list of
// pairs kept exact from move to move; they are tried in order of their
// pair counts while twice the count can still beat the best gain. When the
// pool gives nothing, the pairs of columns are tried in slot order.
class KernelSearch {
 public:
  KernelSearch(Echelon& echelon, Budget& budget)
      : e_(echelon),
        budget_(budget),
        fingerprints_(echelon.variables()),
        zero_row_(static_cast<std::uint32_t>(echelon.slots())),
        print_(echelon.slots(), 0),
        live_now_(echelon.slots(), 0),
        pool_index_(1, kPool),
        z_(echelon.words()) {}

  // The best move found, or one of no gain when none gains or the deadline
  // passed during the search (cut()).
  Move best() {
    Move best;
    sync();
    if (cut_) return best;
    build_rows();
    if (!splittable()) return best;
    bool refreshed = false;
    if (pool_.empty()) {
      refresh();
      refreshed = true;
    }
    try_pool(best);
    if (!refreshed && (best.gain <= 0 || 2 * best.gain < refresh_gain_)) {
      refresh();
      refreshed = true;
      best = Move{};
      try_pool(best);
    }
    if (cut_) return Move{};
    if (refreshed) refresh_gain_ = best.gain;
    if (best.gain <= 0) try_pairs(best);
    return best;
  }

  bool cut() const { return cut_; }

  // The kernel vector of the move's slot.
  void kernel_vector(const Move& move, std::vector<std::uint64_t>& y) {
    y.assign(e_.slot_words(), 0);
    e_.kernel_vector(move.slot, y.data());
  }

 private:
  using Pair = std::pair<std::uint32_t, std::uint32_t>;
  struct Candidate {
    std::vector<std::uint64_t> z;
    std::vector<Pair> pairs;  // the pairs of slots differing by z, (slot, zero_row_) for z itself
  };

  static constexpr std::size_t kPool = 4096;         // most candidates kept
  static constexpr std::size_t kPairCap = 1u << 21;  // most pairs counted to find candidates
  static constexpr std::size_t kPairTries = 64;      // z values tried pair by pair

  const std::uint64_t* row(std::size_t s) const { return &rows_[s * kw_]; }

  // Brings the slots' fingerprints up to date and the candidates' pairs
  // with them: pairs with a changed slot go, and each changed live slot is
  // paired anew with every live slot.
  void sync() {
    live_.clear();
    std::vector<std::uint32_t> changed;
    for (std::size_t s = 0; s < e_.slots(); ++s) {
      const bool live = e_.state(s) != Echelon::kDead;
      const std::uint64_t print = live ? fingerprints_.of(e_.value(s), e_.words()) : 0;
      if (live) live_.push_back(static_cast<std::uint32_t>(s));
      if (live != (live_now_[s] != 0) || print != print_[s]) changed.push_back(static_cast<std::uint32_t>(s));
      live_now_[s] = live;
      print_[s] = print;
    }
    if (pool_.empty() || changed.empty()) return;
    budget_.work += changed.size() * live_.size();
    std::vector<std::uint8_t> is_changed(e_.slots() + 1, 0);
    for (const std::uint32_t s : changed) is_changed[s] = 1;
    for (Candidate& c : pool_) {
      std::erase_if(c.pairs, [&](const Pair& p) { return is_changed[p.first] || is_changed[p.second]; });
    }
    for (std::size_t c = 0; c < changed.size(); ++c) {
      const std::uint32_t s = changed[c];
      if (c % 64 == 63 && stop()) return;
      if (!live_now_[s]) continue;
      pair_with_pool(s, zero_row_);
      const std::uint64_t print = print_[s];
      for (const std::uint32_t k : live_) {
        if (in_pool(print ^ print_[k]) && k != s && (!is_changed[k] || k > s)) pair_with_pool(s, k);
      }
    }
  }

  // Adds the pair (s, k) to the candidate whose z the two slots differ by
  // (k == zero_row_: the slot's own column), if there is one.
  inline void pair_with_pool(std::uint32_t s, std::uint32_t k) {
    const std::uint64_t print = k == zero_row_ ? print_[s] : print_[s] ^ print_[k];
    if (!in_pool(print)) return;
    const std::uint32_t c = pool_index_.find(&print);
    if (c == kNone) return;
    const std::uint64_t* z = pool_[c].z.data();
    for (std::size_t w = 0; w < e_.words(); ++w) {
      if ((e_.value(s)[w] ^ (k == zero_row_ ? 0 : e_.value(k)[w])) != z[w]) return;
    }
    pool_[c].pairs.push_back(k == zero_row_ || s < k ? Pair{s, k} : Pair{k, s});
  }

  // Whether the deadline passed; then the candidates go (their pairs may be
  // half updated) and the search gives no move from now on.
  bool stop() {
    if (!budget_.stop()) return false;
    cut_ = true;
    pool_.clear();
    return true;
  }

  // Whether a candidate may have this fingerprint (a bit per bucket of
  // fingerprints, set for the candidates').
  bool in_pool(std::uint64_t print) const {
    const std::uint64_t b = (print * 0x9e3779b97f4a7c15ULL) >> 48;
    return (pool_filter_[b / 64] >> (b % 64)) & 1;
  }

  // The kernel vectors' bits per slot: rows_[s] bit q is y_(free_[q]) at
  // slot s; the row of the virtual zero column holds each vector's parity.
  void build_rows() {
    free_.clear();
    for (const std::uint32_t s : live_) {
      if (e_.state(s) == Echelon::kFree) free_.push_back(s);
    }
    kw_ = bit_words(free_.size());
    rows_.assign((e_.slots() + 1) * kw_, 0);
    weights_.assign(free_.size(), 0);
    std::vector<std::uint64_t> y(e_.slot_words());
    budget_.work += rows_.size() + free_.size() * e_.slot_words() * 8;
    for (std::size_t q = 0; q < free_.size(); ++q) {
      e_.kernel_vector(free_[q], y.data());
      std::size_t weight = 0;
      for_each_bit(y.data(), y.size(), [&](std::size_t s) {
        flip_bit(&rows_[s * kw_], q);
        ++weight;
      });
      weights_[q] = weight;
      if (weight % 2 == 1) flip_bit(&rows_[zero_row_ * kw_], q);
    }
  }

  // Whether some kernel vector splits some pair: a live row differs from
  // the zero column's (then it differs from another live row or from the
  // zero column itself).
  bool splittable() const {
    if (free_.empty()) return false;
    for (const std::uint32_t s : live_) {
      if (!equal_words(row(s), row(zero_row_), kw_)) return true;
    }
    return false;
  }

  // Finds the z values most pairs differ by: counts the fingerprints of the
  // pairs (i, k > i) and (i, zero column), of every row i or of every
  // step-th when there are too many, sorted by bucket; keeps the kPool most
  // counted, then lists their pairs over all pairs.
  void refresh() {
    const std::size_t words = e_.words();
    const std::size_t m = live_.size();
    std::vector<std::uint64_t> key(m);
    for (std::size_t i = 0; i < m; ++i) key[i] = print_[live_[i]];
    std::size_t step = 1;
    while (m * (m + 1) / (2 * step) > kPairCap) ++step;
    std::size_t pairs = 0;
    for (std::size_t i = 0; i < m; i += step) pairs += m - i;
    budget_.work += 4 * pairs + m * m / 2;
    // The fingerprints, grouped by two rounds of counting sort on bits of a
    // mix of them (11 bits, then as many as leave about four a bucket), the
    // few in each final bucket then sorted by insertion.
    std::vector<std::uint64_t> sorted, spare;
    sorted.reserve(pairs);
    for (std::size_t i = 0; i < m; i += step) {
      if (i % 64 == 63 && stop()) return;
      const std::uint64_t a = key[i];
      sorted.push_back(a);
      for (std::size_t k = i + 1; k < m; ++k) sorted.push_back(a ^ key[k]);
    }
    spare.resize(sorted.size());
    constexpr unsigned kBits = 11;
    constexpr std::size_t kBuckets = std::size_t{1} << kBits;
    const unsigned inner_bits = std::clamp<unsigned>(std::bit_width(sorted.size() >> kBits), 3, kBits + 1) - 2;
    const auto counting_sort = [&](const std::uint64_t* from, std::uint64_t* to, std::size_t size, unsigned skip,
                                   unsigned bits, std::uint32_t* start) {
      const std::size_t buckets = std::size_t{1} << bits;
      const auto digit = [&](std::uint64_t k) {
        return ((k * 0x9e3779b97f4a7c15ULL) >> (64 - skip - bits)) & (buckets - 1);
      };
      std::fill(start, start + buckets + 1, 0);
      for (std::size_t i = 0; i < size; ++i) ++start[digit(from[i]) + 1];
      for (std::size_t d = 1; d <= buckets; ++d) start[d] += start[d - 1];
      std::uint32_t at[kBuckets];
      std::copy(start, start + buckets, at);
      for (std::size_t i = 0; i < size; ++i) to[at[digit(from[i])]++] = from[i];
    };
    std::vector<std::uint32_t> outer(kBuckets + 1), inner(kBuckets + 1);
    counting_sort(sorted.data(), spare.data(), sorted.size(), 0, kBits, outer.data());
    std::vector<std::pair<std::uint32_t, std::uint64_t>> runs;  // (count, fingerprint)
    for (std::size_t d = 0; d < kBuckets; ++d) {
      std::uint64_t* part = &sorted[outer[d]];
      const std::size_t size = outer[d + 1] - outer[d];
      counting_sort(&spare[outer[d]], part, size, kBits, inner_bits, inner.data());
      for (std::size_t e = 0; e < (std::size_t{1} << inner_bits); ++e) {
        const std::size_t first = inner[e], last = inner[e + 1];
        for (std::size_t i = first + 1; i < last; ++i) {
          const std::uint64_t v = part[i];
          std::size_t j = i;
          for (; j > first && part[j - 1] > v; --j) part[j] = part[j - 1];
          part[j] = v;
        }
        for (std::size_t i = first; i < last;) {
          std::size_t j = i + 1;
          while (j < last && part[j] == part[i]) ++j;
          if (j - i >= 2 && part[i] != 0) runs.push_back({static_cast<std::uint32_t>(j - i), part[i]});
          i = j;
        }
      }
    }
    const auto more = [](const auto& x, const auto& y) {
      return x.first != y.first ? x.first > y.first : x.second < y.second;
    };
    if (runs.size() > kPool) {
      std::nth_element(runs.begin(), runs.begin() + kPool, runs.end(), more);
      runs.resize(kPool);
    }
    std::sort(runs.begin(), runs.end(), more);
    pool_.assign(runs.size(), Candidate{});
    pool_index_ = WordMap(1, std::max<std::size_t>(runs.size(), 1));
    pool_filter_.assign(std::size_t{1} << 10, 0);
    for (std::size_t c = 0; c < runs.size(); ++c) {
      pool_index_.at(&runs[c].second, static_cast<std::uint32_t>(c));
      const std::uint64_t b = (runs[c].second * 0x9e3779b97f4a7c15ULL) >> 48;
      pool_filter_[b / 64] |= std::uint64_t{1} << (b % 64);
    }
    // The z of each candidate from its first pair, then every pair.
    for (std::size_t i = 0; i < m; ++i) {
      if (i % 64 == 63 && stop()) return;
      for (std::size_t k = i; k < m; ++k) {
        const std::uint64_t f = k == i ? key[i] : key[i] ^ key[k];
        if (!in_pool(f)) continue;
        const std::uint32_t c = pool_index_.find(&f);
        if (c == kNone) continue;
        std::vector<std::uint64_t>& z = pool_[c].z;
        if (z.empty()) {
          z.resize(words);
          for (std::size_t w = 0; w < words; ++w) {
            z[w] = e_.value(live_[i])[w] ^ (k == i ? 0 : e_.value(live_[k])[w]);
          }
        }
        pair_with_pool(live_[i], k == i ? zero_row_ : live_[k]);
      }
    }
  }

  // Tries the candidates, most pairs first, while twice their count can
  // beat the best gain.
  void try_pool(Move& best) {
    std::vector<std::uint32_t> order(pool_.size());
    for (std::uint32_t c = 0; c < order.size(); ++c) order[c] = c;
    std::stable_sort(order.begin(), order.end(), [&](std::uint32_t x, std::uint32_t y) {
      return pool_[x].pairs.size() > pool_[y].pairs.size();
    });
    for (const std::uint32_t c : order) {
      if (2 * static_cast<long>(pool_[c].pairs.size()) < best.gain || pool_[c].pairs.empty()) break;
      score(pool_[c].z.data(), pool_[c].pairs, best);
    }
  }

  // Tries the z of the pairs of columns some kernel vector splits, in slot
  // order, until kPairTries values were tried.
  void try_pairs(Move& best) {
    const std::size_t words = e_.words();
    std::size_t tries = 0;
    std::vector<std::uint64_t> z(words);
    for (std::size_t i = 0; i < live_.size() && tries < kPairTries; ++i) {
      const std::uint32_t s = live_[i];
      if (!equal_words(row(s), row(zero_row_), kw_)) {
        try_z(e_.value(s), best);
        ++tries;
      }
      for (std::size_t k = i + 1; k < live_.size() && tries < kPairTries; ++k) {
        if (equal_words(row(s), row(live_[k]), kw_)) continue;
        for (std::size_t w = 0; w < words; ++w) z[w] = e_.value(s)[w] ^ e_.value(live_[k])[w];
        try_z(z.data(), best);
        ++tries;
      }
    }
  }

  // Scores z, finding its pairs by looking up each column plus z.
  void try_z(const std::uint64_t* z, Move& best) {
    const std::size_t words = e_.words();
    pairs_.clear();
    for (const std::uint32_t i : live_) {
      for (std::size_t w = 0; w < words; ++w) z_[w] = e_.value(i)[w] ^ z[w];
      const std::uint32_t k = e_.slot_of(z_.data());
      if (k != kNone && k > i) pairs_.push_back({i, k});
    }
    const std::uint32_t column = e_.slot_of(z);
    if (column != kNone) pairs_.push_back({column, zero_row_});
    score(z, pairs_, best);
  }

  // Scores z, the pairs differing by it given, for every kernel vector.
  void score(const std::uint64_t* z, const std::vector<Pair>& pairs, Move& best) {
    if (pairs.empty()) return;
    std::uint32_t column = kNone;
    std::size_t planes = 1;
    while ((std::size_t{1} << planes) <= pairs.size()) ++planes;
    budget_.work += pairs.size() * kw_ * 2 + planes * kw_;
    planes_.assign(planes * kw_, 0);
    for (const auto& [i, k] : pairs) {
      if (k == zero_row_) column = i;
      const std::uint64_t* a = row(i);
      const std::uint64_t* b = row(k);
      for (std::size_t w = 0; w < kw_; ++w) {
        std::uint64_t carry = a[w] ^ b[w];
        for (std::size_t p = 0; carry != 0 && p < planes; ++p) {
          const std::uint64_t next = planes_[p * kw_ + w] & carry;
          planes_[p * kw_ + w] ^= carry;
          carry = next;
        }
      }
    }
    // The kernel vectors splitting the most pairs: from the top plane down,
    // keep those with a 1 wherever some kept one has.
    most_.assign(kw_, ~std::uint64_t{0});
    if (free_.size() % 64 != 0) most_[kw_ - 1] = (std::uint64_t{1} << (free_.size() % 64)) - 1;
    long split = 0;
    for (std::size_t p = planes; p-- > 0;) {
      bool any = false;
      for (std::size_t w = 0; w < kw_; ++w) any |= (most_[w] & planes_[p * kw_ + w]) != 0;
      if (!any) continue;
      split |= long{1} << p;
      for (std::size_t w = 0; w < kw_; ++w) most_[w] &= planes_[p * kw_ + w];
    }
    if (split == 0) return;
    // One zero column left after the move goes too: the moved column equal
    // to z or, when |y| is even, the virtual zero column.
    const std::uint64_t* zero = row(zero_row_);
    const auto odd = [&](std::size_t w) { return column != kNone ? row(column)[w] ^ zero[w] : zero[w]; };
    bool one_zero = false;
    for (std::size_t w = 0; w < kw_; ++w) one_zero |= (most_[w] & ~odd(w)) != 0;
    if (one_zero) {
      for (std::size_t w = 0; w < kw_; ++w) most_[w] &= ~odd(w);
    }
    const long gain = 2 * split - 1 + (one_zero ? 1 : 0);
    if (gain < best.gain) return;
    for_each_bit(most_.data(), kw_, [&](std::size_t q) {
      if (gain > best.gain || weights_[q] < best.weight) {
        best.gain = gain;
        best.weight = weights_[q];
        best.slot = free_[q];
        best.z.assign(z, z + e_.words());
      }
    });
  }

  Echelon& e_;
  Budget& budget_;
  bool cut_ = false;                      // the budget ran out during a search
  Fingerprints fingerprints_;
  std::uint32_t zero_row_;                // the virtual zero column's slot number
  std::vector<std::uint64_t> print_;      // each slot's column's fingerprint (0 when dead)
  std::vector<std::uint8_t> live_now_;    // each slot's liveness at the last sync
  std::vector<std::uint32_t> live_;       // the live slots, ascending
  std::vector<std::uint32_t> free_;       // the free slots, ascending
  std::size_t kw_ = 0;                    // words per row of kernel bits
  std::vector<std::uint64_t> rows_;       // kernel bits per slot, then the zero row
  std::vector<std::size_t> weights_;      // each kernel vector's weight
  std::vector<Candidate> pool_;           // the candidates
  WordMap pool_index_;                    // a candidate's fingerprint -> its place in pool_
  std::vector<std::uint64_t> pool_filter_ = std::vector<std::uint64_t>(std::size_t{1} << 10, 0);  // see in_pool
  long refresh_gain_ = 0;                 // the best gain right after the last count
  std::vector<Pair> pairs_;               // scratch: pairs differing by a z
  std::vector<std::uint64_t> planes_;     // scratch: bit-sliced split counts
  std::vector<std::uint64_t> most_;       // scratch: the kernel vectors splitting most pairs
  std::vector<std::uint64_t> z_;          // scratch: a partner column
};

// The search for widened moves, z by z.
//
// For z, the widened kernel holds the y with L(A) y = (0, z ^ w) for some
// w: the move (y, z) keeps S, since the terms that (0, z ^ w) leaves in the
// tensor cancel in pairs; with another z it need not. Such a y exists for
// w exactly when (0, z ^ w) lies in the column space of L(A): when its
// residual against the images vanishes on every row that no image pivots
// on. That residual on row r is w . (U_r z), where U_r is the symmetric
// matrix of the pair rows in {r} and the pivot rows of the images with a 1
// in row r (pair row (a, b) adds e_a e_b^T + e_b e_a^T). So the w are the
// vectors orthogonal to every U_r z; there are more than 0 and z exactly
// when the U_r z span less than the n - 1 dimensions z leaves them (each is
// orthogonal to z). Then y = the sum of the histories of the images whose
// pivot row is a 1 of (0, z ^ w), one for each w of a basis.
//
// The matrices U_r hold the echelon form as it stands; a move makes them
// stale (rebuild).
class WidenedSearch {
 public:
  WidenedSearch(Echelon& echelon, Budget& budget)
      : e_(echelon), words_(echelon.words()), budget_(budget) {}


  // Builds U_r for the rows r no image pivots on, and fixed pseudo-random
  // sums of them (the mixed rows), from the echelon form as it stands; then
  // the products of the mixed rows with every live column. False when the
  // deadline passed first.
  bool rebuild() {
    const std::uint32_t n = e_.variables();
    const Monomials& mono = e_.monomials();
    place_.assign(e_.rows(), kNone);
    std::size_t count = 0;
    for (std::size_t r = 0; r < e_.rows(); ++r) {
      if (e_.owner(r) == kNone) place_[r] = static_cast<std::uint32_t>(count++);
    }
    free_rows_ = count;
    const std::size_t block = n * words_;
    u_.assign(count * block, 0);
    const auto add_pair = [&](std::size_t at, std::size_t pair_row) {
      const std::uint32_t a = mono.first(pair_row), b = mono.second(pair_row);
      flip_bit(&u_[at * block + a * words_], b);
      flip_bit(&u_[at * block + b * words_], a);
    };
    for (std::size_t r = 0; r < e_.rows(); ++r) {
      if (place_[r] != kNone && mono.is_pair(r)) add_pair(place_[r], r);
    }
    for (std::size_t b = 0; b < e_.rank(); ++b) {
      const std::size_t pivot = e_.pivot_row(b);
      if (!mono.is_pair(pivot)) continue;
      for_each_bit(e_.basis_image(b), e_.row_words(), [&](std::size_t r) {
        if (place_[r] != kNone) add_pair(place_[r], pivot);
      });
    }
    forced_.assign(words_, 0);
    pivots_.assign(std::size_t{n} * words_, 0);
    pivot_bit_.assign(n, 0);
    // Bare rows: pair rows (a, b) no image has a 1 in, whose constraint
    // z_b w_a + z_a w_b = 0 is taken exactly (bare_[a] holds b, bare_[b]
    // holds a); the others, dense, are taken through the mixed rows.
    std::vector<std::uint32_t> terms(count, 0);
    for (std::size_t r = 0; r < e_.rows(); ++r) {
      if (place_[r] != kNone && mono.is_pair(r)) ++terms[place_[r]];
    }
    for (std::size_t b = 0; b < e_.rank(); ++b) {
      for_each_bit(e_.basis_image(b), e_.row_words(), [&](std::size_t r) {
        if (place_[r] != kNone) ++terms[place_[r]];
      });
    }
    bare_.assign(n * words_, 0);
    std::vector<std::uint32_t> dense;
    for (std::size_t r = 0; r < e_.rows(); ++r) {
      if (place_[r] == kNone) continue;
      if (mono.is_pair(r) && terms[place_[r]] == 1) {
        flip_bit(&bare_[mono.first(r) * words_], mono.second(r));
        flip_bit(&bare_[mono.second(r) * words_], mono.first(r));
      } else {
        dense.push_back(place_[r]);
      }
    }
    // The mixed rows: fixed pseudo-random sums of the dense rows. Their U z
    // span no more than the dense rows' do, and as much with all but tiny
    // chance, so that a z whose constraints they complete is surely without
    // widened vectors.
    mixed_ = std::min<std::size_t>(dense.size(), n + kSpare);
    block_.assign((std::size_t{n} * (n - 1) / 2 + mixed_ + 8) * words_, 0);
    // Each dense row joins a mixed row with chance 1/2, or about kTerms
    // of them when there are many (sparser sums lose nothing of soundness:
    // they only span less, and a z they leave undecided goes to the exact
    // test).
    mixed_u_.assign(mixed_ * block, 0);
    budget_.work += mixed_ * std::min<std::size_t>(dense.size(), kTerms) * block + count * block;
    const std::uint64_t cut_off = dense.size() <= 2 * kTerms
                                      ? std::uint64_t{1} << 63
                                      : (~std::uint64_t{0} / dense.size()) * kTerms;
    std::uint64_t state = 0x853c49e6748fea9bULL;
    for (std::size_t t = 0; t < mixed_; ++t) {
      if (budget_.stop()) return false;
      for (const std::uint32_t r : dense) {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        if (state < cut_off) xor_words(&mixed_u_[t * block], &u_[r * block], block);
      }
    }
    print_.assign(e_.slots(), 0);
    std::size_t live = 0;
    kernel_.clear();
    for (std::size_t s = 0; s < e_.slots(); ++s) {
      if (e_.state(s) == Echelon::kDead) continue;
      ++live;
      print_[s] = fingerprints_.of(e_.value(s), words_);
      if (e_.state(s) == Echelon::kFree) {
        kernel_.emplace_back(e_.slot_words());
        e_.kernel_vector(s, kernel_.back().data());
      }
    }
    const unsigned bits = std::bit_width(live) + 4;
    filter_shift_ = 64 - bits;
    filter_.assign(bit_words(std::size_t{1} << bits), 0);
    for (std::size_t s = 0; s < e_.slots(); ++s) {
      if (e_.state(s) == Echelon::kDead) continue;
      const std::size_t b = (print_[s] * 0x9e3779b97f4a7c15ULL) >> filter_shift_;
      filter_[b / 64] |= std::uint64_t{1} << (b % 64);
    }
    history_odd_.assign(e_.rank(), 0);
    h_.assign((e_.slots() + 1) * block, 0);
    budget_.work += e_.rank() * e_.slot_words() * 16 + h_.size();
    std::uint64_t* h_zero = &h_[e_.slots() * block];
    for (std::size_t b = 0; b < e_.rank(); ++b) {
      if (b % 256 == 255 && budget_.stop()) return false;
      history_odd_[b] = count_bits(e_.basis_history(b), e_.slot_words()) % 2;
      const std::size_t pivot = e_.pivot_row(b);
      if (!mono.is_pair(pivot)) continue;
      const std::uint32_t a = mono.first(pivot), c = mono.second(pivot);
      for_each_bit(e_.basis_history(b), e_.slot_words(), [&](std::size_t s) {
        flip_bit(&h_[s * block + a * words_], c);
        flip_bit(&h_[s * block + c * words_], a);
      });
      if (history_odd_[b]) {
        flip_bit(&h_zero[a * words_], c);
        flip_bit(&h_zero[c * words_], a);
      }
    }
    products_.clear();
    const std::size_t per_slot = mixed_ * words_;
    if (per_slot == 0 || per_slot * e_.slots() > kProductWords) return true;
    products_.assign(per_slot * e_.slots(), 0);
    budget_.work += products_.size() * 4;
    std::vector<std::uint32_t> support;
    for (std::size_t s = 0; s < e_.slots(); ++s) {
      if (s % 256 == 255 && budget_.stop()) return false;
      if (e_.state(s) == Echelon::kDead) continue;
      support_of(e_.value(s), words_, support);
      std::uint64_t* out = &products_[s * per_slot];
      for (std::size_t t = 0; t < mixed_; ++t) {
        for (const std::uint32_t a : support) xor_words(&out[t * words_], &mixed_u_[t * block + a * words_], words_);
      }
    }
    return true;
  }

  // Whether z = a_i + a_k (k == i: z = a_i) surely has no widened vectors:
  // the mixed rows' U z span the n - 1 dimensions orthogonal to z.
  bool surely_none(std::size_t i, std::size_t k, const std::uint64_t* z) {
    switch (words_) {
      case 1: return sweep<1>(i, k, z);
      case 2: return sweep<2>(i, k, z);
      case 3: return sweep<3>(i, k, z);
      case 4: return sweep<4>(i, k, z);
      default: return sweep<0>(i, k, z);
    }
  }

  // surely_none with W words a column (0: words_). The constraints are
  // rows, each pivot clearing its bit from the rows after it, so that a
  // row's turn finds it reduced: sweeps over independent rows rather than a
  // chain of xors on one. Rows come in chunks, enough for the rank still
  // missing plus a few, each chunk first swept by the pivots so far.
  template <std::size_t W>
  bool sweep(std::size_t i, std::size_t k, const std::uint64_t* z) {
    const std::size_t words = W != 0 ? W : words_;
    const std::uint32_t n = e_.variables();
    budget_.work += 4 * words + count_bits(z, words) * words;
    // w is 0 on `forced`; the constraints bear on the other coordinates,
    // of which z spans one dimension.
    std::uint64_t* forced = forced_.data();
    std::fill(forced, forced + words, 0);
    for_each_bit(z, words, [&](std::size_t a) {
      for (std::size_t w = 0; w < words; ++w) forced[w] |= bare_[a * words + w];
    });
    for (std::size_t w = 0; w < words; ++w) forced[w] &= ~z[w];
    const std::size_t target = n - count_bits(forced, words) - 1;
    if (target == 0) return true;
    std::uint64_t* rows = block_.data();
    std::size_t count = 0;
    // Bare rows inside z: w_a = w_b.
    for_each_bit(z, words, [&](std::size_t a) {
      for (std::size_t w = 0; w < words; ++w) {
        for (std::uint64_t x = bare_[a * words + w] & z[w]; x != 0; x &= x - 1) {
          const std::size_t b = w * 64 + static_cast<std::size_t>(std::countr_zero(x));
          if (b < a) continue;
          std::uint64_t* r = &rows[count++ * words];
          std::fill(r, r + words, 0);
          flip_bit(r, a);
          flip_bit(r, b);
        }
      }
    });
    const std::size_t per_slot = mixed_ * words;
    const std::size_t block = n * words;
    const bool cached = !products_.empty();
    if (!cached) support_of(z, words, z_support_);
    const auto load = [&](std::size_t t, std::uint64_t* r) {
      if (cached) {
        const std::uint64_t* a = &products_[i * per_slot + t * words];
        const std::uint64_t* b = &products_[k * per_slot + t * words];
        for (std::size_t w = 0; w < words; ++w) r[w] = (k == i ? a[w] : a[w] ^ b[w]) & ~forced[w];
      } else {
        std::fill(r, r + words, 0);
        for (const std::uint32_t a : z_support_) xor_words(r, &mixed_u_[t * block + a * words], words);
        for (std::size_t w = 0; w < words; ++w) r[w] &= ~forced[w];
      }
    };
    const auto bit_of = [&](const std::uint64_t* r, std::size_t bit) { return (r[bit >> 6] >> (bit & 63)) & 1; };
    const auto clear = [&](std::uint64_t* r, const std::uint64_t* pivot, std::size_t bit) {
      const std::uint64_t mask = 0 - bit_of(r, bit);
      for (std::size_t w = 0; w < words; ++w) r[w] ^= pivot[w] & mask;
    };
    std::uint64_t* pivots = pivots_.data();
    std::size_t rank = 0, next = 0, at = 0;
    while (true) {
      if (at == count) {
        if (next == mixed_) break;
        const std::size_t first = count;
        while (count - first < target - rank + 4 && next < mixed_) load(next++, &rows[count++ * words]);
        budget_.work += (rank + 1) * (count - first) * words;
        for (std::size_t p = 0; p < rank; ++p) {
          for (std::size_t t = first; t < count; ++t) clear(&rows[t * words], &pivots[p * words], pivot_bit_[p]);
        }
      }
      const std::uint64_t* r = &rows[at++ * words];
      std::size_t w0 = 0;
      while (w0 < words && r[w0] == 0) ++w0;
      if (w0 == words) continue;
      const std::size_t bit = w0 * 64 + static_cast<std::size_t>(std::countr_zero(r[w0]));
      budget_.work += (count - at + 1) * words;
      for (std::size_t t = at; t < count; ++t) clear(&rows[t * words], r, bit);
      std::copy(r, r + words, &pivots[rank * words]);
      pivot_bit_[rank++] = bit;
      if (rank >= target) return true;
    }
    // Not surely: the constraints for may_split and vectors, each free of
    // the other pivots' bits, the forced coordinates among them as units.
    for (std::size_t p = rank; p-- > 0;) {
      for (std::size_t q = 0; q < p; ++q) clear(&pivots[q * words], &pivots[p * words], pivot_bit_[p]);
    }
    lead_.assign(n, kNone);
    constraints_.assign(n * words, 0);
    std::size_t c = 0;
    for (std::size_t p = 0; p < rank; ++p, ++c) {
      lead_[pivot_bit_[p]] = static_cast<std::uint32_t>(c);
      std::copy(&pivots[p * words], &pivots[p * words] + words, &constraints_[c * words]);
    }
    for_each_bit(forced, words, [&](std::size_t b) {
      lead_[b] = static_cast<std::uint32_t>(c);
      flip_bit(&constraints_[c++ * words], b);
    });
    return false;
  }

  // After surely_none said no for z = a_i + a_k (k == i: z = a_i, paired
  // with the zero column): whether some vector of the widened kernel the
  // mixed rows leave, or of the kernel, splits that pair. y_w differs on
  // slots i and k by the sum, over the images b whose histories hold one
  // of them, of (z ^ w) at b's pivot row (a, c): z_a w_c + z_c w_a. That is
  // w . g with g = (H_i + H_k) z, H_s the sum of e_a e_c^T + e_c e_a^T over
  // the images whose history holds s (for the zero column, those whose
  // history has odd weight); some w of the space does it unless g lies in
  // the span of the constraints.
  bool may_split(std::size_t i, std::size_t k, const std::uint64_t* z) {
    const std::uint32_t n = e_.variables();
    const std::size_t other = k == i ? e_.slots() : k;
    budget_.work += (2 * count_bits(z, words_) + n) * words_ + kernel_.size() * e_.slot_words();
    for (const std::vector<std::uint64_t>& y : kernel_) {
      const bool at_other =
          k == i ? count_bits(y.data(), y.size()) % 2 == 1 : test_bit(y.data(), k);
      if (test_bit(y.data(), i) != at_other) return true;
    }
    std::vector<std::uint64_t>& g = scratch_;
    g.assign(words_, 0);
    const std::uint64_t* hi = &h_[i * n * words_];
    const std::uint64_t* hk = &h_[other * n * words_];
    for_each_bit(z, words_, [&](std::size_t a) {
      for (std::size_t w = 0; w < words_; ++w) g[w] ^= hi[a * words_ + w] ^ hk[a * words_ + w];
    });
    for (std::size_t bit = 0; bit < n; ++bit) {
      if (lead_[bit] != kNone && test_bit(g.data(), bit)) xor_words(g.data(), &constraints_[lead_[bit] * words_], words_);
    }
    return !zero_words(g.data(), words_);
  }

  // The vectors y_w of the widened kernel of z beyond L(A)'s own, one per w
  // of a basis of the w space (every row's constraint counted); empty when
  // z has none.
  void vectors(const std::uint64_t* z, std::vector<std::vector<std::uint64_t>>& out) {
    out.clear();
    const std::uint32_t n = e_.variables();
    const std::size_t block = n * words_;
    support_of(z, words_, z_support_);
    budget_.work += free_rows_ * (z_support_.size() + n) * words_;
    lead_.assign(n, kNone);
    constraints_.resize(n * words_);
    scratch_.resize(words_);
    std::uint64_t* v = scratch_.data();
    std::size_t rank = 0;
    for (std::size_t r = 0; r < free_rows_ && rank + 1 < n; ++r) {
      std::fill(v, v + words_, 0);
      for (const std::uint32_t a : z_support_) xor_words(v, &u_[r * block + a * words_], words_);
      reduce_into(v, rank);
    }
    if (rank + 1 >= n) return;
    reduce_constraints();
    // A basis of the w space: for each bit f that leads nothing, e_f plus
    // the leading bits of the constraints holding f; then y_w, the
    // histories of the images pivoting on a 1 of (0, z ^ w).
    const Monomials& mono = e_.monomials();
    std::vector<std::uint64_t> w(words_);
    for (std::size_t f = 0; f < n; ++f) {
      if (lead_[f] != kNone) continue;
      w_of(f, w.data());
      std::vector<std::uint64_t> y(e_.slot_words(), 0);
      bool any = false;
      budget_.work += e_.rank() * e_.slot_words();
      for (std::size_t b = 0; b < e_.rank(); ++b) {
        const std::size_t pivot = e_.pivot_row(b);
        if (!mono.is_pair(pivot)) continue;
        const std::uint32_t a = mono.first(pivot), c = mono.second(pivot);
        if ((test_bit(z, a) && test_bit(w.data(), c)) != (test_bit(z, c) && test_bit(w.data(), a))) {
          xor_words(y.data(), e_.basis_history(b), e_.slot_words());
          any = true;
        }
      }
      if (any) out.push_back(std::move(y));
    }
  }

 private:
  // Clears from each constraint the leading bits of the others.
  void reduce_constraints() {
    const std::uint32_t n = e_.variables();
    for (std::size_t bit = 0; bit < n; ++bit) {
      if (lead_[bit] == kNone) continue;
      const std::uint64_t* c = &constraints_[lead_[bit] * words_];
      for (std::size_t other = bit + 1; other < n; ++other) {
        if (lead_[other] == kNone) continue;
        std::uint64_t* d = &constraints_[lead_[other] * words_];
        if (test_bit(d, bit)) xor_words(d, c, words_);
      }
    }
  }

  // The w of the free bit f of the reduced constraints: e_f plus the
  // leading bits of the constraints holding f.
  void w_of(std::size_t f, std::uint64_t* w) const {
    std::fill(w, w + words_, 0);
    flip_bit(w, f);
    for (std::size_t bit = 0; bit < e_.variables(); ++bit) {
      if (lead_[bit] != kNone && test_bit(&constraints_[lead_[bit] * words_], f)) flip_bit(w, bit);
    }
  }

  // The pairs of live slots whose columns differ by z, and (slot, zero
  // column) when z is a column, into pairs_.
  void find_pairs(const std::uint64_t* z) {
    pairs_.clear();
    const std::uint64_t fz = fingerprints_.of(z, words_);
    partner_.resize(words_);
    for (std::size_t i = 0; i < e_.slots(); ++i) {
      if (e_.state(i) == Echelon::kDead) continue;
      const std::uint64_t b = ((print_[i] ^ fz) * 0x9e3779b97f4a7c15ULL) >> filter_shift_;
      if (!test_bit(filter_.data(), b)) continue;
      for (std::size_t w = 0; w < words_; ++w) partner_[w] = e_.value(i)[w] ^ z[w];
      const std::uint32_t k = e_.slot_of(partner_.data());
      if (k != kNone && k > i) pairs_.push_back({static_cast<std::uint32_t>(i), k});
    }
    const std::uint32_t column = e_.slot_of(z);
    if (column != kNone) pairs_.push_back({column, static_cast<std::uint32_t>(e_.slots())});
  }

  // Reduces v against the constraints; a nonzero rest joins them. Returns
  // whether it did.
  bool reduce_into(std::uint64_t* v, std::size_t& rank) {
    while (true) {
      std::size_t top = words_;
      while (top > 0 && v[top - 1] == 0) --top;
      if (top == 0) return false;
      const std::size_t bit = (top - 1) * 64 + 63 - static_cast<std::size_t>(std::countl_zero(v[top - 1]));
      if (lead_[bit] == kNone) {
        lead_[bit] = static_cast<std::uint32_t>(rank);
        std::copy(v, v + words_, &constraints_[rank * words_]);
        ++rank;
        return true;
      }
      xor_words(v, &constraints_[lead_[bit] * words_], words_);
    }
  }

  static constexpr std::size_t kSpare = 24;                            // mixed rows beyond n
  static constexpr std::size_t kTerms = 24;                            // dense rows a mixed row sums, about
  static constexpr std::size_t kProductWords = std::size_t{1} << 25;  // 256 MiB of products at most

  Echelon& e_;
  std::size_t words_;
  Budget& budget_;
  std::size_t free_rows_ = 0;                // rows no image pivots on
  std::vector<std::uint32_t> place_;         // each such row's number among them, else kNone
  std::vector<std::uint64_t> u_;             // U_r, n rows of words_ words each, per such row
  std::size_t mixed_ = 0;                    // mixed rows
  std::vector<std::uint64_t> mixed_u_;       // their matrices, as u_
  std::vector<std::uint64_t> products_;      // per live slot, each mixed row's matrix times its column
  std::vector<std::uint32_t> lead_;          // scratch: the constraint leading on each bit
  std::vector<std::uint64_t> constraints_;   // scratch: the constraints
  std::vector<std::uint32_t> z_support_;     // scratch: z's variables
  std::vector<std::uint64_t> scratch_;       // scratch: a constraint being reduced
  Fingerprints fingerprints_{e_.variables()};
  std::vector<std::uint64_t> print_;         // each live slot's column's fingerprint
  std::vector<std::uint64_t> filter_;        // a bit per fingerprint bucket holding a live column
  unsigned filter_shift_ = 63;               // 64 - the bits of a bucket number
  std::vector<std::uint8_t> history_odd_;    // each image's history's weight, mod 2
  std::vector<std::vector<std::uint64_t>> kernel_;  // the free slots' kernel vectors
  std::vector<std::pair<std::uint32_t, std::uint32_t>> pairs_;  // scratch: pairs differing by z
  std::vector<std::uint32_t> holding_;       // scratch: images whose histories sum to a y_w
  std::vector<std::uint64_t> partner_;       // scratch: a column plus z
  std::vector<std::uint64_t> bare_;          // per variable a, the b of the bare rows (a, b)
  std::vector<std::uint64_t> forced_;        // scratch: coordinates where w must be 0
  std::vector<std::uint64_t> h_;             // H_s per slot, then for the zero column (may_split)
  std::vector<std::uint64_t> block_;         // scratch: constraint rows
  std::vector<std::uint64_t> pivots_;        // scratch: pivot rows
  std::vector<std::size_t> pivot_bit_;       // scratch: each pivot's bit
};

// The best widened move with z over the vectors given (the widened ones and
// the kernel's): the combination that splits most pairs differing by z,
// found greedily (pairs in slot order, each kept split when the earlier
// choices allow), then scored exactly. Returns the gain; y gets the move.
long best_combination(Echelon& e, const std::uint64_t* z,
                      const std::vector<std::vector<std::uint64_t>>& basis, std::vector<std::uint64_t>& y) {
  const std::size_t words = e.words();
  const std::size_t k = basis.size();
  const std::size_t kw = bit_words(k);
  const std::uint32_t zero = static_cast<std::uint32_t>(e.slots());
  std::vector<std::pair<std::uint32_t, std::uint32_t>> pairs;
  std::vector<std::uint64_t> partner(words);
  for (std::size_t i = 0; i < e.slots(); ++i) {
    if (e.state(i) == Echelon::kDead) continue;
    for (std::size_t w = 0; w < words; ++w) partner[w] = e.value(i)[w] ^ z[w];
    const std::uint32_t j = e.slot_of(partner.data());
    if (j != kNone && j > i) pairs.push_back({static_cast<std::uint32_t>(i), j});
  }
  const std::uint32_t column = e.slot_of(z);
  if (column != kNone) pairs.push_back({column, zero});
  // Bit q of a slot's functional: basis[q] at the slot (the zero column:
  // basis[q]'s parity).
  const auto functional = [&](std::uint32_t s, std::uint64_t* out) {
    std::fill(out, out + kw, 0);
    for (std::size_t q = 0; q < k; ++q) {
      const bool bit = s == zero ? count_bits(basis[q].data(), basis[q].size()) % 2 == 1 : test_bit(basis[q].data(), s);
      if (bit) flip_bit(out, q);
    }
  };
  std::vector<std::uint64_t> rows;       // echelon of chosen functionals, kw words each, then target bit
  std::vector<std::uint32_t> lead(k, kNone);
  std::vector<std::uint8_t> target;
  std::vector<std::uint64_t> f(kw), g(kw);
  for (const auto& [i, j] : pairs) {
    functional(i, f.data());
    functional(j, g.data());
    xor_words(f.data(), g.data(), kw);
    std::uint8_t t = 1;
    while (true) {
      std::size_t top = kw;
      while (top > 0 && f[top - 1] == 0) --top;
      if (top == 0) break;
      const std::size_t bit = (top - 1) * 64 + 63 - static_cast<std::size_t>(std::countl_zero(f[top - 1]));
      if (lead[bit] == kNone) {
        lead[bit] = static_cast<std::uint32_t>(target.size());
        rows.insert(rows.end(), f.begin(), f.end());
        target.push_back(t);
        break;
      }
      xor_words(f.data(), &rows[lead[bit] * kw], kw);
      t ^= target[lead[bit]];
    }
  }
  // Solve for the coefficients, lowest leading bit first.
  std::vector<std::uint64_t> c(kw, 0);
  for (std::size_t bit = 0; bit < k; ++bit) {
    if (lead[bit] == kNone) continue;
    const std::uint64_t* r = &rows[lead[bit] * kw];
    std::uint64_t dot = 0;
    for (std::size_t w = 0; w < kw; ++w) dot ^= r[w] & c[w];
    if ((std::popcount(dot) % 2 == 1) != (target[lead[bit]] == 1)) flip_bit(c.data(), bit);
  }
  y.assign(e.slot_words(), 0);
  for (std::size_t q = 0; q < k; ++q) {
    if (test_bit(c.data(), q)) xor_words(y.data(), basis[q].data(), y.size());
  }
  const bool odd = count_bits(y.data(), y.size()) % 2 == 1;
  const auto at = [&](std::uint32_t s) { return s == zero ? odd : test_bit(y.data(), s); };
  long split = 0;
  bool zero_split = false;
  for (const auto& [i, j] : pairs) {
    if (at(i) != at(j)) {
      ++split;
      if (j == zero) zero_split = true;
    }
  }
  if (split == 0) return 0;
  const bool one_zero = column != kNone ? !zero_split : !odd;
  return 2 * split - 1 + (one_zero ? 1 : 0);
}

// Variants of the column order tried at most (reordered), and the work
// they take at most, in multiples of the first order's.
constexpr std::size_t kOrders = 64;
constexpr std::uint64_t kRestarts = 3;
// Tables with fewer columns are tried in their own order only: their few
// moves seldom depend on it, and their first order takes milliseconds.
constexpr std::size_t kReorderColumns = 128;
// Work units a machine like the project's does in a second of one core.
constexpr double kWorkPerSecond = 6e8;

std::size_t rows_of(std::uint32_t n) { return n + std::size_t{n} * (n == 0 ? 0 : n - 1) / 2; }

// The bytes one pass over m columns of n variables may take: the echelon
// form (at most min(rows, m + 1) images of rows and m + 1 bits each), the
// columns with their index and the kernel search's bits per slot and
// candidates; with the widened search, its matrices U_r, its H_s per slot
// and its products.
std::size_t pass_bytes(std::uint32_t n, std::size_t m, bool widened) {
  const std::size_t rows = rows_of(n);
  const std::size_t slots = m + 1;
  const std::size_t words = parity_words(n);
  const std::size_t images = std::min(rows, slots);
  const std::size_t echelon = 8 * images * (bit_words(rows) + bit_words(slots) + bit_words(n + 1)) + 16 * rows +
                              slots * (16 * words + 64) + 32 * slots * (words + 1);
  // Kernel bits per slot, the candidates with their pairs, the sorted
  // fingerprints of a count, fingerprints and scratch per slot.
  const std::size_t search = 8 * (slots + 1) * bit_words(slots) + 4096 * (8 * words + 64) +
                             8 * std::min(4096 * slots / 2, slots * slots / 2) + 8 * ((std::size_t{1} << 21) + slots) +
                             (std::size_t{1} << 20) + 16 * (slots + 1) * (1 + words);
  if (!widened) return echelon + search;
  const std::size_t block = 8 * std::size_t{n} * words;
  return echelon + search + block * (rows + n + 32 + slots + 1) + (std::size_t{1} << 28) + 8 * rows_of(n) * words;
}

// The most columns one pass takes at once for n variables: its working
// memory within the budget and L(A) within kPassCells cells, beyond which
// a pass's moves take too long to keep to a deadline. Larger tables go in
// chunks first.
constexpr std::size_t kPassCells = std::size_t{1} << 28;
// The fewest columns a pass takes: below that, chunks gain too little.
constexpr std::size_t kLeastPass = 64;
std::size_t pass_columns(std::uint32_t n, std::size_t budget) {
  std::size_t m = std::max<std::size_t>(1, kPassCells / std::max<std::size_t>(1, rows_of(n)));
  while (m > 1 && pass_bytes(n, m, false) > budget) m /= 2;
  return m;
}

// One pass of the reduction: kernel moves until none gains, then, with
// `widened`, widened moves (when their search fits the memory budget) until
// a cycle of z values passes without one, each followed by kernel moves
// again. The budget's limit, when set, starts to count after the first
// kernel moves when `first_free`. Adds to the statistics.
ParityTable reduce_pass(const ParityTable& table, const ReductionOptions& options, bool widened, bool first_free,
                        Budget& budget, ReductionStats& stats) {
  const std::optional<std::uint64_t> limit = budget.limit;
  if (first_free) budget.limit.reset();
  Echelon echelon(table.variables, table.columns() + 1, budget);
  for (std::size_t j = 0; j < table.columns(); ++j) {
    if (j % 256 == 255 && budget.stop()) {
      stats.cut |= !budget.spent();
      budget.limit = limit;
      return table;
    }
    echelon.add_column(table.column(j).data());
  }
  if (options.self_check) echelon.verify();
  KernelSearch search(echelon, budget);
  std::vector<std::uint64_t> y;
  // Applies the move (y, z), reporting it first when asked.
  const auto take = [&](const std::uint64_t* z, long gain, bool is_widened) {
    if (options.on_move) {
      ReductionMove report;
      report.before = echelon.table();
      std::size_t column = 0;
      for (std::size_t s = 0; s < echelon.slots(); ++s) {
        if (echelon.state(s) == Echelon::kDead) continue;
        if (test_bit(y.data(), s)) report.moved.push_back(column);
        ++column;
      }
      report.z.assign(z, z + echelon.words());
      report.widened = is_widened;
      options.on_move(report);
    }
    const std::size_t before = echelon.live();
    echelon.apply(y.data(), z);
    check(echelon.live() + gain == before, "a move removes what its score says");
    if (options.self_check) echelon.verify();
  };
  // Kernel moves until none gains; false when the budget ran out.
  const auto kernel_moves = [&] {
    while (!budget.stop()) {
      const Move move = search.best();
      if (move.gain <= 0) return !search.cut();
      search.kernel_vector(move, y);
      take(move.z.data(), move.gain, false);
      ++stats.kernel_moves;
    }
    return false;
  };
  const bool done = kernel_moves();
  if (first_free) {
    budget.limit = limit;
    if (limit) budget.limit = *limit + budget.work;
  }
  if (!done || !widened || budget.stop() ||
      pass_bytes(table.variables, table.columns(), true) > options.memory_budget) {
    return echelon.table();
  }
  // The pairs (i, k), i <= k (k == i: z = a_i), in a cycle from the start,
  // until a whole cycle passes without a move.
  WidenedSearch search_widened(echelon, budget);
  if (!search_widened.rebuild()) return echelon.table();
  std::vector<std::vector<std::uint64_t>> basis;
  std::vector<std::uint64_t> z(echelon.words());
  const std::size_t slots = echelon.slots();
  const std::size_t cycle = slots * (slots + 1) / 2;
  std::size_t i = 0, k = 0;
  for (std::size_t quiet = 0; quiet < cycle; ++quiet) {
    if (quiet % 1024 == 0 && budget.stop()) break;
    const std::size_t a = i, b = k;
    if (++k == slots) {
      i = i + 1 == slots ? 0 : i + 1;
      k = i;
    }
    if (echelon.state(a) == Echelon::kDead || echelon.state(b) == Echelon::kDead) continue;
    for (std::size_t w = 0; w < z.size(); ++w) z[w] = echelon.value(a)[w] ^ (a == b ? 0 : echelon.value(b)[w]);
    if (search_widened.surely_none(a, b, z.data()) || !search_widened.may_split(a, b, z.data())) continue;
    search_widened.vectors(z.data(), basis);
    if (basis.empty()) continue;
    for (std::size_t f = 0; f < slots; ++f) {
      if (echelon.state(f) != Echelon::kFree) continue;
      basis.emplace_back(echelon.slot_words());
      echelon.kernel_vector(f, basis.back().data());
    }
    const long gain = best_combination(echelon, z.data(), basis, y);
    if (gain <= 0) continue;
    take(z.data(), gain, true);
    ++stats.widened_moves;
    if (!kernel_moves() || !search_widened.rebuild()) break;
    quiet = 0;
  }
  return echelon.table();
}

// The table's columns in the order of variant v: 1 reversed, 2 heaviest
// first, 3 lightest first, 4 ascending as words, later ones shuffled by a
// fixed sequence. The moves depend on the order (which columns become
// pivot slots, and ties), and the results differ by several per cent.
ParityTable reordered(const ParityTable& table, std::size_t v) {
  std::vector<std::size_t> order(table.columns());
  for (std::size_t j = 0; j < order.size(); ++j) order[j] = j;
  const auto weight = [&](std::size_t j) { return count_bits(table.column(j).data(), table.words); };
  const auto below = [&](std::size_t x, std::size_t y) {
    return std::lexicographical_compare(table.column(x).begin(), table.column(x).end(), table.column(y).begin(),
                                        table.column(y).end());
  };
  if (v == 1) std::reverse(order.begin(), order.end());
  if (v == 2) std::stable_sort(order.begin(), order.end(), [&](auto x, auto y) { return weight(x) > weight(y); });
  if (v == 3) std::stable_sort(order.begin(), order.end(), [&](auto x, auto y) { return weight(x) < weight(y); });
  if (v == 4) std::sort(order.begin(), order.end(), below);
  if (v >= 5) {
    std::uint64_t state = 0x2545f4914f6cdd1dULL * v;
    for (std::size_t j = order.size(); j > 1; --j) {
      state = state * 6364136223846793005ULL + 1442695040888963407ULL;
      std::swap(order[j - 1], order[(state >> 33) % j]);
    }
  }
  ParityTable out(table.variables);
  for (const std::size_t j : order) out.push_back(table.column(j));
  return out;
}

// The columns of the tables given, each column once if it occurs an odd
// number of times (a pair of equal columns is an S-type term, no T).
ParityTable merged(std::uint32_t n, const std::vector<ParityTable>& parts) {
  std::vector<std::vector<std::uint64_t>> all;
  for (const ParityTable& part : parts) {
    for (std::size_t j = 0; j < part.columns(); ++j) all.emplace_back(part.column(j).begin(), part.column(j).end());
  }
  std::sort(all.begin(), all.end());
  ParityTable out(n);
  for (std::size_t i = 0; i < all.size();) {
    std::size_t j = i;
    while (j < all.size() && all[j] == all[i]) ++j;
    if ((j - i) % 2 == 1) out.push_back(all[i]);
    i = j;
  }
  return out;
}

}  // namespace

std::size_t reduction_bytes(std::uint32_t variables, std::size_t columns, std::size_t budget) {
  const std::size_t pass = std::min(columns, std::max<std::size_t>(kLeastPass, pass_columns(variables, budget)));
  return pass_bytes(variables, pass, false) + 4 * columns * 8 * parity_words(variables);
}

bool reduction_fits(std::uint32_t variables, std::size_t columns, std::size_t budget) {
  return reduction_bytes(variables, columns, budget) <= budget;
}

Reduction reduce_parity_table(const ParityTable& table, const ReductionOptions& options) {
  check(table.words == parity_words(table.variables), "table words match its variables");
  Reduction out;
  out.stats.columns_before = table.columns();
  const std::uint32_t n = table.variables;
  check(reduction_fits(n, table.columns(), options.memory_budget), "a table that fits its budget");
  const std::size_t whole = std::max(kLeastPass, pass_columns(n, options.memory_budget));
  Budget budget;
  budget.deadline = options.deadline;
  budget.limit = options.effort;
  const auto finish = [&](ParityTable result) {
    out.stats.work = budget.work;
    out.stats.cut = past(options.deadline);
    out.stats.effort_spent = budget.spent();
    out.table = std::move(result);
    return out;
  };
  if (table.columns() <= whole) {
    // The table as given, then in other orders while the effort lasts
    // (never without a limit); the fewest columns win, the earliest order
    // among equals.
    ParityTable best = reduce_pass(table, options, options.widened, true, budget, out.stats);
    out.stats.orders = 1;
    const std::uint64_t first = budget.work;
    while (options.effort && options.widened && table.columns() >= kReorderColumns && !budget.stop() &&
           out.stats.orders < kOrders && budget.work < (kRestarts + 1) * first) {
      ReductionStats stats;
      ParityTable other = reduce_pass(reordered(table, out.stats.orders), options, true, false, budget, stats);
      ++out.stats.orders;
      if (other.columns() < best.columns()) {
        best = std::move(other);
        out.stats.kernel_moves = stats.kernel_moves;
        out.stats.widened_moves = stats.widened_moves;
      }
    }
    return finish(std::move(best));
  }
  // Too many columns for one pass: passes over chunks of them, each chunk
  // reduced on its own (its tensor kept, so the sum's too), the chunks
  // doubling in size until one pass takes the rest.
  ParityTable current = table;
  std::size_t size = std::bit_floor(whole / 2);
  budget.limit.reset();
  while (current.columns() > whole && size <= whole && !budget.stop()) {
    std::vector<ParityTable> parts;
    for (std::size_t start = 0; start < current.columns(); start += size) {
      ParityTable part(n);
      for (std::size_t j = start; j < std::min(current.columns(), start + size); ++j) part.push_back(current.column(j));
      parts.push_back(budget.stop() ? part : reduce_pass(part, options, false, false, budget, out.stats));
    }
    current = merged(n, parts);
    ++out.stats.chunk_passes;
    size *= 2;
  }
  budget.limit = options.effort;
  if (current.columns() <= whole && !budget.stop()) {
    current = reduce_pass(current, options, options.widened, true, budget, out.stats);
  }
  return finish(std::move(current));
}

std::uint64_t reduction_effort(std::chrono::duration<double> limit) {
  const double seconds = limit.count();
  if (!(seconds > 0)) return 0;
  const double share = seconds <= 10 ? 0.1 * seconds : 1 + 0.25 * (seconds - 10);
  return static_cast<std::uint64_t>(std::min(share * kWorkPerSecond, 1e18));
}

}  // namespace kestrel
