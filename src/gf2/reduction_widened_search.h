// The reduction's search for widened moves (src/gf2/reduction.h), z by z
// (WidenedSearch), and the best combination of the vectors it finds for
// one z (best_combination). Included by the reduction's passes only.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/fault.h"
#include "src/gf2/bits.h"
#include "src/gf2/reduction_echelon.h"
#include "src/gf2/reduction_kernel_search.h"

namespace kestrel {
namespace reduction_detail {

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
  static constexpr std::size_t kProductWords = std::size_t{1} << 25;  // 256 MiB of products at most

  WidenedSearch(Echelon& echelon, Budget& budget)
      : e_(echelon), words_(echelon.words()), budget_(budget) {}


  // Builds U_r for the rows r no image pivots on, and fixed pseudo-random
  // sums of them (the mixed rows), from the echelon form as it stands; then
  // the products of the mixed rows with every live column. False when the
  // deadline passed first.
  bool rebuild() {
    const std::size_t count = build_u();
    const std::vector<std::uint32_t> dense = split_bare_rows(count);
    if (!mix(dense, count)) return false;
    index_live();
    return build_histories() && build_products();
  }

 private:
  // place_ (each row no image pivots on, numbered) and u_ (its U_r);
  // returns how many such rows there are.
  std::size_t build_u() {
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
    return count;
  }

  // Bare rows: pair rows (a, b) no image has a 1 in, whose constraint
  // z_b w_a + z_a w_b = 0 is taken exactly (bare_[a] holds b, bare_[b]
  // holds a); returns the others (their places among the `count`), dense,
  // which are taken through the mixed rows.
  std::vector<std::uint32_t> split_bare_rows(std::size_t count) {
    const std::uint32_t n = e_.variables();
    const Monomials& mono = e_.monomials();
    forced_.assign(words_, 0);
    pivots_.assign(std::size_t{n} * words_, 0);
    pivot_bit_.assign(n, 0);
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
    return dense;
  }

  // The mixed rows: fixed pseudo-random sums of the dense rows. Their U z
  // span no more than the dense rows' do, and as much with all but tiny
  // chance, so that a z whose constraints they complete is surely without
  // widened vectors. False when the deadline passed first.
  bool mix(const std::vector<std::uint32_t>& dense, std::size_t count) {
    const std::uint32_t n = e_.variables();
    const std::size_t block = n * words_;
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
    return true;
  }

  // The live columns' fingerprints with their filter, and the free slots'
  // kernel vectors.
  void index_live() {
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
    filter_.assign(words_for(std::size_t{1} << bits), 0);
    for (std::size_t s = 0; s < e_.slots(); ++s) {
      if (e_.state(s) == Echelon::kDead) continue;
      const std::size_t b = (print_[s] * 0x9e3779b97f4a7c15ULL) >> filter_shift_;
      filter_[b / 64] |= std::uint64_t{1} << (b % 64);
    }
  }

  // H_s per slot s and for the zero column (may_split), with the parity of
  // each image's history. False when the deadline passed first.
  bool build_histories() {
    const std::size_t block = e_.variables() * words_;
    const Monomials& mono = e_.monomials();
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
    return true;
  }

  // The products of the mixed rows with every live column, where they fit
  // in kProductWords (else none: sweep computes them). False when the
  // deadline passed first.
  bool build_products() {
    const std::size_t block = e_.variables() * words_;
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

 public:
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
    const std::size_t target = n - force<W>(z, forced) - 1;
    if (target == 0) return true;
    std::uint64_t* rows = block_.data();
    std::size_t count = bare_rows_inside<W>(z, rows);
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
    // the other pivots' bits.
    for (std::size_t p = rank; p-- > 0;) {
      for (std::size_t q = 0; q < p; ++q) clear(&pivots[q * words], &pivots[p * words], pivot_bit_[p]);
    }
    keep_constraints(rank, forced, words);
    return false;
  }

  // Sets `forced` to the coordinates w must be 0 on for z (a bare row
  // reaching outside z), and returns how many there are.
  template <std::size_t W>
  std::size_t force(const std::uint64_t* z, std::uint64_t* forced) const {
    const std::size_t words = W != 0 ? W : words_;
    std::fill(forced, forced + words, 0);
    for_each_bit(z, words, [&](std::size_t a) {
      for (std::size_t w = 0; w < words; ++w) forced[w] |= bare_[a * words + w];
    });
    for (std::size_t w = 0; w < words; ++w) forced[w] &= ~z[w];
    return count_bits(forced, words);
  }

  // Writes the bare rows inside z (w_a = w_b) as the first constraint rows
  // of `rows`; returns how many.
  template <std::size_t W>
  std::size_t bare_rows_inside(const std::uint64_t* z, std::uint64_t* rows) const {
    const std::size_t words = W != 0 ? W : words_;
    std::size_t count = 0;
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
    return count;
  }

  // Keeps the `rank` reduced pivots as the constraints for may_split and
  // vectors, the forced coordinates after them as units.
  void keep_constraints(std::size_t rank, const std::uint64_t* forced, std::size_t words) {
    const std::uint32_t n = e_.variables();
    const std::uint64_t* pivots = pivots_.data();
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
inline long best_combination(Echelon& e, const std::uint64_t* z,
                      const std::vector<std::vector<std::uint64_t>>& basis, std::vector<std::uint64_t>& y) {
  const std::size_t words = e.words();
  const std::size_t k = basis.size();
  const std::size_t kw = words_for(k);
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

}  // namespace reduction_detail
}  // namespace kestrel
