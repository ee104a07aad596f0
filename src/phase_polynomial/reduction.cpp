// The reduction's working state: the columns in slots, the echelon form of
// L(A) over them, and the search for the best move.
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

  template <class F>
  void for_each(F&& f) const {
    for (std::size_t i = 0; i <= mask_; ++i) {
      if (payloads_[i] != kNone) f(&keys_[i * words_], payloads_[i]);
    }
  }

  std::size_t size() const { return size_; }

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
  // Whether the column `value` has a 1 in row `row`.
  bool holds(const std::uint64_t* value, std::size_t row) const {
    return test_bit(value, first_[row]) && test_bit(value, second_[row]);
  }

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
class Echelon {
 public:
  enum State : std::uint8_t { kDead, kFree, kPivot };

  Echelon(const ParityTable& table, std::size_t slots)
      : n_(table.variables),
        words_(table.words),
        monomials_(table.variables),
        rows_(monomials_.rows()),
        row_words_(bit_words(rows_)),
        slots_(slots),
        slot_words_(bit_words(slots)),
        values_(slots * words_, 0),
        state_(slots, kDead),
        index_(words_, slots),
        owner_(rows_, kNone),
        residual_(row_words_),
        history_(slot_words_) {
    for (std::size_t j = 0; j < table.columns(); ++j) {
      const std::uint64_t* v = table.column(j).data();
      check(!zero_words(v, words_) && index_.find(v) == kNone, "distinct nonzero columns");
      add(v);
    }
  }

  std::uint32_t variables() const { return n_; }
  std::size_t words() const { return words_; }
  std::size_t slots() const { return slots_; }
  std::size_t slot_words() const { return slot_words_; }
  std::size_t rank() const { return pivot_rows_.size(); }
  std::size_t live() const { return live_; }
  State state(std::size_t s) const { return state_[s]; }
  const std::uint64_t* value(std::size_t s) const { return &values_[s * words_]; }
  std::uint32_t slot_of(const std::uint64_t* value) const { return index_.find(value); }

  // Writes y_f (slot_words() words) for the free slot f.
  void kernel_vector(std::size_t f, std::uint64_t* out) {
    std::fill(out, out + slot_words_, 0);
    flip_bit(out, f);
    support_of(value(f), words_, support_);
    monomials_.for_each_row(support_, [&](std::size_t row) {
      if (owner_[row] != kNone) xor_words(out, history(owner_[row]), slot_words_);
    });
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
    for (const std::uint32_t i : kept) {
      const std::uint32_t s = moved[i];
      if (state_[s] == kPivot) release(s);
      std::copy(&next[i * words_], &next[i * words_] + words_, &values_[s * words_]);
      place(s);
    }
    if (append) {
      const std::uint32_t s = add(z);
      check(s != kNone, "a free slot for the appended column");
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

  // Puts `v` in the lowest dead slot; returns the slot.
  std::uint32_t add(const std::uint64_t* v) {
    std::size_t s = 0;
    while (s < slots_ && state_[s] != kDead) ++s;
    check(s < slots_, "a dead slot for a new column");
    std::copy(v, v + words_, &values_[s * words_]);
    index_.at(v, static_cast<std::uint32_t>(s));
    ++live_;
    place(s);
    return static_cast<std::uint32_t>(s);
  }

  // Takes slot s out of the table (its value is already out of the index).
  void remove(std::size_t s) {
    if (state_[s] == kPivot) release(s);
    state_[s] = kDead;
    std::fill(&values_[s * words_], &values_[s * words_] + words_, 0);
    --live_;
  }

  // Reduces slot s's column of L(A) against the images: a zero residual
  // leaves s free, any other joins the images with s a pivot slot.
  void place(std::size_t s) {
    std::fill(residual_.begin(), residual_.end(), 0);
    std::fill(history_.begin(), history_.end(), 0);
    flip_bit(history_.data(), s);
    support_of(value(s), words_, support_); g_count.asize += support_.size();
    monomials_.for_each_row(support_, [&](std::size_t row) {
      flip_bit(residual_.data(), row);
      if (owner_[row] != kNone) {
        xor_words(residual_.data(), image(owner_[row]), row_words_);
        xor_words(history_.data(), history(owner_[row]), slot_words_);
      }
    });
    std::size_t pivot = 0;
    while (pivot < row_words_ && residual_[pivot] == 0) ++pivot;
    if (pivot == row_words_) {
      state_[s] = kFree;
      return;
    }
    pivot = pivot * 64 + static_cast<std::size_t>(std::countr_zero(residual_[pivot]));
    for (std::size_t b = 0; b < rank(); ++b) { g_count.imgbits += count_bits(image(b), row_words_);      if (test_bit(image(b), pivot)) {
        xor_words(image(b), residual_.data(), row_words_);
        xor_words(history(b), history_.data(), slot_words_);
      }
    }
    owner_[pivot] = static_cast<std::uint32_t>(rank());
    pivot_rows_.push_back(static_cast<std::uint32_t>(pivot));
    images_.insert(images_.end(), residual_.begin(), residual_.end());
    histories_.insert(histories_.end(), history_.begin(), history_.end());
    state_[s] = kPivot;
  }

  // Makes the pivot slot s free. If some free slot's kernel vector holds s,
  // the lowest such slot f takes its place (y_f joins every history holding
  // s; the images stay); otherwise one image holding s in its history leaves
  // and the rank drops.
  void release(std::size_t s) {
    std::vector<std::uint32_t> holding;
    for (std::size_t b = 0; b < rank(); ++b) {
      if (test_bit(history(b), s)) holding.push_back(static_cast<std::uint32_t>(b));
    }
    check(!holding.empty(), "a pivot slot lies in some history"); g_count.jsize += holding.size();
    for (std::size_t f = 0; f < slots_; ++f) {
      if (state_[f] != kFree) continue;
      bool odd = false;
      for (const std::uint32_t b : holding) odd ^= monomials_.holds(value(f), pivot_rows_[b]);
      if (!odd) continue;
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
    owner_[pivot_rows_[gone]] = kNone;
    const std::size_t last = rank() - 1;
    if (gone != last) {
      std::copy(image(last), image(last) + row_words_, image(gone));
      std::copy(history(last), history(last) + slot_words_, history(gone));
      pivot_rows_[gone] = pivot_rows_[last];
      owner_[pivot_rows_[gone]] = gone;
    }
    pivot_rows_.pop_back();
    images_.resize(pivot_rows_.size() * row_words_);
    histories_.resize(pivot_rows_.size() * slot_words_);
    state_[s] = kFree;
  }

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
  WordMap index_;                          // live column -> its slot
  std::vector<std::uint64_t> images_;      // the images, row_words_ words each
  std::vector<std::uint64_t> histories_;   // their histories, slot_words_ words each
  std::vector<std::uint32_t> pivot_rows_;  // each image's pivot row
  std::vector<std::uint32_t> owner_;       // each row: the image pivoting on it, or kNone
  std::vector<std::uint64_t> residual_;    // scratch: a reduced column of L(A)
  std::vector<std::uint64_t> history_;     // scratch: its history
  std::vector<std::uint32_t> support_;     // scratch: a column's variables
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
// pool of the z values most pairs differ by, counted over all pairs now and
// then and tried in that order while their count can still beat the best
// gain; when the pool gives nothing, the pairs of columns are tried in slot
// order.
class KernelSearch {
 public:
  explicit KernelSearch(Echelon& echelon)
      : e_(echelon), fingerprints_(echelon.variables()), z_(echelon.words()) {}

  Move best() {
    build_rows();
    Move best;
    if (!splittable()) return best;
    bool refreshed = false;
    if (pool_counts_.empty()) {
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
    if (refreshed) refresh_gain_ = best.gain;
    if (best.gain <= 0) try_pairs(best);
    return best;
  }

  // The kernel vector of the move's slot.
  void kernel_vector(const Move& move, std::vector<std::uint64_t>& y) {
    y.assign(e_.slot_words(), 0);
    e_.kernel_vector(move.slot, y.data());
  }

 private:
  static constexpr std::size_t kPool = 4096;         // most candidates kept
  static constexpr std::size_t kPairCap = 1u << 24;  // most pairs counted at once
  static constexpr std::size_t kPairTries = 64;      // z values tried pair by pair

  const std::uint64_t* row(std::size_t s) const { return &rows_[s * kw_]; }

  // The kernel vectors' bits per slot: rows_[s] bit q is y_(free_[q]) at
  // slot s; the row of the virtual zero column holds each vector's parity.
  [[gnu::noinline]] void build_rows() {
    free_.clear();
    live_.clear();
    for (std::size_t s = 0; s < e_.slots(); ++s) {
      if (e_.state(s) == Echelon::kFree) free_.push_back(static_cast<std::uint32_t>(s));
      if (e_.state(s) != Echelon::kDead) live_.push_back(static_cast<std::uint32_t>(s));
    }
    kw_ = bit_words(free_.size());
    zero_row_ = static_cast<std::uint32_t>(e_.slots());
    rows_.assign((e_.slots() + 1) * kw_, 0);
    weights_.assign(free_.size(), 0);
    std::vector<std::uint64_t> y(e_.slot_words());
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

  // Whether some kernel vector splits some pair: two live rows differ, or
  // a live row differs from the zero column's.
  bool splittable() const {
    if (free_.empty()) return false;
    for (const std::uint32_t s : live_) {
      if (!equal_words(row(s), row(zero_row_), kw_)) return true;
    }
    return false;
  }

  // Counts the pairs (the zero column among them) by the z they differ by,
  // and keeps the z values of the most pairs, most first: by value when a
  // column is one word, else by fingerprint, the z found again from a pair.
  [[gnu::noinline]] void refresh() {
    const std::size_t words = e_.words();
    const bool direct = words == 1;
    std::vector<std::uint64_t> key(live_.size());
    for (std::size_t i = 0; i < live_.size(); ++i) {
      key[i] = direct ? e_.value(live_[i])[0] : fingerprints_.of(e_.value(live_[i]), words);
    }
    // Rows i of the pairs (i, k > i) counted: all, or every step-th when
    // there are too many pairs.
    const std::size_t m = live_.size();
    std::size_t step = 1;
    while (m * (m + 1) / (2 * step) > kPairCap) ++step;
    std::size_t pairs = 0;
    for (std::size_t i = 0; i < m; i += step) pairs += m - i;
    const unsigned bits = std::clamp<unsigned>(std::bit_width(pairs), 1, 22);
    const unsigned shift = 64 - bits;
    const auto mix = [](std::uint64_t k) { return (k * 0x9e3779b97f4a7c15ULL); };
    const auto each_pair = [&](auto&& f) {
      for (std::size_t i = 0; i < m; i += step) {
        f(key[i]);
        for (std::size_t k = i + 1; k < m; ++k) f(key[i] ^ key[k]);
      }
    };
    std::vector<std::uint32_t> start((std::size_t{1} << bits) + 1, 0);
    each_pair([&](std::uint64_t k) { ++start[(mix(k) >> shift) + 1]; });
    for (std::size_t b = 1; b < start.size(); ++b) start[b] += start[b - 1];
    std::vector<std::uint64_t> sorted(pairs);
    std::vector<std::uint32_t> at(start.begin(), start.end() - 1);
    each_pair([&](std::uint64_t k) { sorted[at[mix(k) >> shift]++] = k; });
    std::vector<std::pair<std::uint32_t, std::uint64_t>> runs;  // (count, key)
    for (std::size_t b = 0; b + 1 < start.size(); ++b) {
      std::sort(sorted.begin() + start[b], sorted.begin() + start[b + 1]);
      for (std::size_t i = start[b]; i < start[b + 1];) {
        std::size_t j = i + 1;
        while (j < start[b + 1] && sorted[j] == sorted[i]) ++j;
        if (j - i >= 2) runs.push_back({static_cast<std::uint32_t>(j - i), sorted[i]});
        i = j;
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
    pool_counts_.clear();
    pool_zs_.assign(runs.size() * words, 0);
    for (const auto& run : runs) pool_counts_.push_back(run.first);
    if (direct) {
      for (std::size_t c = 0; c < runs.size(); ++c) pool_zs_[c] = runs[c].second;
      return;
    }
    // The z of each kept fingerprint, from the first pair that has it.
    WordMap wanted(1, runs.size());
    for (std::size_t c = 0; c < runs.size(); ++c) wanted.at(&runs[c].second, static_cast<std::uint32_t>(c));
    std::vector<bool> found(runs.size(), false);
    std::size_t missing = runs.size();
    for (std::size_t i = 0; i < m && missing > 0; i += step) {
      for (std::size_t k = i; k < m && missing > 0; ++k) {
        const std::uint64_t f = k == i ? key[i] : key[i] ^ key[k];
        const std::uint32_t c = wanted.find(&f);
        if (c == kNone || found[c]) continue;
        found[c] = true;
        --missing;
        std::uint64_t* z = &pool_zs_[c * words];
        for (std::size_t w = 0; w < words; ++w) {
          z[w] = e_.value(live_[i])[w] ^ (k == i ? 0 : e_.value(live_[k])[w]);
        }
      }
    }
  }

  // Tries the pool's candidates while their count can beat the best gain.
  [[gnu::noinline]] void try_pool(Move& best) {
    for (std::size_t c = 0; c < pool_counts_.size(); ++c) {
      if (2 * static_cast<long>(pool_counts_[c]) < best.gain) break;
      const std::uint64_t* z = &pool_zs_[c * e_.words()];
      if (zero_words(z, e_.words())) continue;
      try_z(z, best);
    }
  }

  // Tries the z of the pairs of columns some kernel vector splits, in slot
  // order, until kPairTries values were tried.
  [[gnu::noinline]] void try_pairs(Move& best) {
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

  // Scores z for every kernel vector.
  [[gnu::noinline]] void try_z(const std::uint64_t* z, Move& best) {
    const std::size_t words = e_.words();
    pairs_.clear();
    for (const std::uint32_t i : live_) {
      for (std::size_t w = 0; w < words; ++w) z_[w] = e_.value(i)[w] ^ z[w];
      const std::uint32_t k = e_.slot_of(z_.data());
      if (k != kNone && k > i) pairs_.push_back({i, k});
    }
    const std::uint32_t column = e_.slot_of(z);
    if (column != kNone) pairs_.push_back({column, zero_row_});
    if (pairs_.empty()) return;
    std::size_t planes = 1;
    while ((std::size_t{1} << planes) <= pairs_.size()) ++planes;
    planes_.assign(planes * kw_, 0);
    for (const auto& [i, k] : pairs_) {
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
    const std::uint64_t* zero = row(zero_row_);
    for (std::size_t q = 0; q < free_.size(); ++q) {
      long split = 0;
      for (std::size_t p = 0; p < planes; ++p) split |= long{test_bit(&planes_[p * kw_], q)} << p;
      if (split == 0) continue;
      // One zero column left after the move goes too: the moved column
      // equal to z or, when |y| is even, the virtual zero column.
      const bool one_zero = column != kNone ? test_bit(row(column), q) == test_bit(zero, q)
                                            : !test_bit(zero, q);
      const long gain = 2 * split - 1 + (one_zero ? 1 : 0);
      if (gain > best.gain || (gain == best.gain && gain > 0 && weights_[q] < best.weight)) {
        best.gain = gain;
        best.weight = weights_[q];
        best.slot = free_[q];
        best.z.assign(z, z + words);
      }
    }
  }

  Echelon& e_;
  Fingerprints fingerprints_;
  std::vector<std::uint32_t> free_;       // the free slots, ascending
  std::vector<std::uint32_t> live_;       // the live slots, ascending
  std::size_t kw_ = 0;                    // words per row of kernel bits
  std::uint32_t zero_row_ = 0;            // the virtual zero column's row
  std::vector<std::uint64_t> rows_;       // kernel bits per slot, then the zero row
  std::vector<std::size_t> weights_;      // each kernel vector's weight
  std::vector<std::uint64_t> pool_zs_;    // the candidates, most pairs first
  std::vector<std::uint32_t> pool_counts_;  // their pair counts when counted
  long refresh_gain_ = 0;                 // the best gain right after the last count
  std::vector<std::pair<std::uint32_t, std::uint32_t>> pairs_;  // pairs differing by z
  std::vector<std::uint64_t> planes_;     // bit-sliced split counts
  std::vector<std::uint64_t> z_;          // scratch: a partner column
};

bool past(const std::optional<Clock::time_point>& deadline) {
  return deadline && Clock::now() >= *deadline;
}

}  // namespace

std::size_t reduction_bytes(std::uint32_t variables, std::size_t columns) {
  const std::size_t rows = variables + std::size_t{variables} * (variables == 0 ? 0 : variables - 1) / 2;
  const std::size_t slots = columns + 1;
  const std::size_t basis = std::min(rows, slots);
  const std::size_t words = parity_words(variables);
  const std::size_t echelon = basis * 8 * (bit_words(rows) + bit_words(slots)) + rows * 12;
  const std::size_t table = slots * (8 * words + 1) + 2 * (4 * slots + 2) * (8 * words + 4);
  const std::size_t kernel = (slots + 1) * 8 * bit_words(slots);
  return echelon + table + kernel;
}

Reduction reduce_parity_table(const ParityTable& table, const ReductionOptions& options) {
  check(table.words == parity_words(table.variables), "table words match its variables");
  Reduction out;
  out.stats.columns_before = table.columns();
  Echelon echelon(table, table.columns() + 1);
  KernelSearch search(echelon);
  std::vector<std::uint64_t> y;
  while (true) {
    if (past(options.deadline)) {
      out.stats.cut = true;
      break;
    }
    const Move move = search.best();
    if (move.gain <= 0) break;
    search.kernel_vector(move, y);
    const std::size_t before = echelon.live();
    echelon.apply(y.data(), move.z.data());
    check(echelon.live() + move.gain == before, "a move removes what its score says");
    ++out.stats.kernel_moves;
  }
  out.stats.after_kernel_moves = echelon.live();
  out.table = echelon.table();
  return out;
}

}  // namespace kestrel
