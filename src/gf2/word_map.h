// An open-addressing hash map from bit vectors of a fixed number of words
// to 32-bit payloads, for the reduction's index of columns by value: linear
// probing, deletion by backward shift, kNone marking an empty place (so
// kNone is no payload). A map of 2-word keys finds {5, 0} once it holds it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/fault.h"
#include "src/gf2/bits.h"

namespace kestrel {

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

}  // namespace kestrel
