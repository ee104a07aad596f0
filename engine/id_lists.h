// Many growing lists of ids in one buffer: the parent lists of the e-graph.
//
// Most e-classes have one or two parents, a few have thousands, and when two
// classes merge one list is appended to the other. A list is a `Head` that
// its owner stores (4 bytes): a list of one id keeps the id in the head
// itself; a longer list owns a block of the shared buffer, its length then
// its ids, whose capacity is the next power of two of that. A block that ends the used part of
// the buffer grows in place. Blocks given up by growing or by appending a
// list elsewhere are kept per capacity and reused by the next list of that
// capacity or, split in halves, of a smaller one, so a steady state
// allocates nothing.
//
// Appending 7, 8 and 9 to an empty head gives a block of capacity 4 holding
// 3 (the length), 7, 8, 9; appending that list to a head holding 3 gives 3, 7, 8, 9 and
// leaves the other head empty.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <memory>
#include <span>
#include <type_traits>
#include <vector>

#include "engine/fault.h"
#include "engine/language.h"

namespace kestrel {

class IdLists {
 public:
  // A list as its owner stores it, in one word: kEmpty; an id below kBlock,
  // the list of that one id; or kBlock plus the offset of the list's block,
  // whose first word is the length and the ids follow.
  struct Head {
    std::uint32_t word = kEmpty;
  };
  static_assert(std::is_trivially_copyable_v<Head>);

  // The ids of `head`, first appended first. Valid until `head` or any list
  // changes; a one-id list points into `head` itself.
  std::span<const Id> view(const Head& head) const {
    if (head.word < kBlock) return {&head.word, 1};
    if (head.word == kEmpty) return {};
    const Id* const block = buffer_.get() + (head.word - kBlock);
    return {block + 1, block[0]};
  }

  // The number of ids of `head`.
  std::uint32_t size(const Head& head) const {
    if (head.word < kBlock) return 1;
    if (head.word == kEmpty) return 0;
    return buffer_[head.word - kBlock];
  }

  void push_back(Head& head, Id id) {
    const std::uint32_t word = head.word;
    if (word >= kBlock && word != kEmpty) {
      Id* const block = buffer_.get() + (word - kBlock);
      const std::uint32_t n = block[0];
      // A block is full when its length plus the length word is a power of two.
      if (((n + 1) & n) != 0) {
        block[1 + n] = id;
        block[0] = n + 1;
        return;
      }
    } else if (word == kEmpty) {
      check(id < kBlock, "id < IdLists::kBlock");  // a head word names a block from kBlock on
      head.word = id;
      return;
    }
    const std::uint32_t n = size(head);
    grow(head, n + 1);
    Id* const block = buffer_.get() + (head.word - kBlock);
    block[1 + n] = id;
    block[0] = n + 1;
  }

  // Appends the ids of `from` to `to`, in order, and empties `from`.
  void splice(Head& to, Head& from) {
    if (from.word == kEmpty) return;
    if (to.word == kEmpty) {
      to = from;
      from = {};
      return;
    }
    const std::uint32_t to_size = size(to);
    const std::uint32_t from_size = size(from);
    const std::uint32_t total = to_size + from_size;
    check(total > to_size && total < kBlock, "total < IdLists::kBlock");  // no overflow
    if (to.word < kBlock || capacity_of(to_size) < capacity_of(total)) grow(to, total);
    const std::uint32_t to_offset = to.word - kBlock;
    if (from.word < kBlock) {
      buffer_[to_offset + 1 + to_size] = from.word;
    } else {
      const std::uint32_t from_offset = from.word - kBlock;
      copy(from_offset + 1, from_size, to_offset + 1 + to_size);
      release(from_offset, capacity_of(from_size));
    }
    buffer_[to_offset] = total;
    from = {};
  }

  static constexpr std::uint32_t kBlock = std::uint32_t{1} << 31;  // the first head word naming a block
  static constexpr std::uint32_t kEmpty = ~std::uint32_t{0};       // the head word of an empty list

 private:
  // The block capacity, length word included, of a list of `size` ids
  // (at least 2).
  static std::uint32_t capacity_of(std::uint32_t size) { return std::bit_ceil(size + 1); }

  // Moves `head` into a block that holds at least `size` ids; the length
  // word keeps the old length. A block that ends the used part of the
  // buffer grows where it is.
  void grow(Head& head, std::uint32_t size) {
    const std::uint32_t capacity = capacity_of(size);
    if (head.word < kBlock) {
      const std::uint32_t offset = allocate(capacity);
      buffer_[offset] = 1;
      buffer_[offset + 1] = head.word;
      head.word = kBlock + offset;
      return;
    }
    const std::uint32_t old_offset = head.word - kBlock;
    const std::uint32_t old_capacity = capacity_of(buffer_[old_offset]);
    if (old_offset + std::size_t{old_capacity} == used_) {
      extend(capacity - old_capacity);
      return;
    }
    const std::uint32_t offset = allocate(capacity);
    copy(old_offset, 1 + buffer_[old_offset], offset);
    release(old_offset, old_capacity);
    head.word = kBlock + offset;
  }

  // Copies `size` ids from offset `from` to offset `to`; most lists are
  // short, where a plain loop beats a call to memmove.
  void copy(std::uint32_t from, std::uint32_t size, std::uint32_t to) {
    Id* const ids = buffer_.get();
    for (std::uint32_t k = 0; k < size; ++k) ids[to + k] = ids[from + k];
  }

  // A block of `capacity` ids: a free one of that capacity, else the first
  // half of the smallest larger free block, whose other halves become free
  // blocks of the capacities between, else new room at the end.
  std::uint32_t allocate(std::uint32_t capacity) {
    const int log = std::countr_zero(capacity);
    const std::uint32_t fitting = nonempty_ & (~std::uint32_t{0} << log);
    if (fitting != 0) {
      const int larger = std::countr_zero(fitting);
      std::vector<std::uint32_t>& free = free_[larger];
      const std::uint32_t offset = free.back();
      free.pop_back();
      if (free.empty()) nonempty_ &= ~(std::uint32_t{1} << larger);
      for (int half = larger - 1; half >= log; --half) {
        release(offset + (std::uint32_t{1} << half), std::uint32_t{1} << half);
      }
      return offset;
    }
    const std::size_t offset = used_;
    extend(capacity);
    return static_cast<std::uint32_t>(offset);
  }

  // Takes `more` ids of room at the end of the used part.
  void extend(std::size_t more) {
    const std::size_t offset = used_;
    check(offset + more < kBlock, "offset + more < IdLists::kBlock");
    used_ += more;
    if (used_ > capacity_) {
      // Doubling, without writing the spare room, so its pages stay
      // untouched. `realloc` may move a large buffer's pages instead of
      // copying them, so that the old and the new buffer are never both
      // resident.
      const std::size_t grown = std::max(used_, 2 * capacity_);
      void* const larger = std::realloc(buffer_.get(), grown * sizeof(Id));
      if (larger == nullptr) throw std::bad_alloc();
      static_cast<void>(buffer_.release());
      buffer_.reset(static_cast<Id*>(larger));
      capacity_ = grown;
    }
  }

  // Gives a block back: the end of the used part shrinks past a last
  // block; any other block waits in the free list of its capacity.
  void release(std::uint32_t offset, std::uint32_t capacity) {
    if (offset + std::size_t{capacity} == used_) {
      used_ = offset;
      return;
    }
    const int log = std::countr_zero(capacity);
    free_[log].push_back(offset);
    nonempty_ |= std::uint32_t{1} << log;
  }

  struct Free {
    void operator()(Id* ids) const noexcept { std::free(ids); }
  };
  static_assert(std::is_trivially_copyable_v<Id>);  // moved by `realloc`

  std::unique_ptr<Id[], Free> buffer_;  // the blocks of all lists of two ids or more, then spare room
  std::size_t used_ = 0;          // the ids of `buffer_` taken by blocks
  std::size_t capacity_ = 0;      // the ids `buffer_` has room for
  std::array<std::vector<std::uint32_t>, 32> free_;  // per log2 capacity, unused blocks
  std::uint32_t nonempty_ = 0;    // bit k set when free_[k] holds a block
};

}  // namespace kestrel
