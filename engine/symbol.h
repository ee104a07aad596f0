// Interned strings: `GlobalSymbol` and the process-wide `SymbolTable`.
//
// Rule names and pattern variables are compared and hashed far more often
// than they are printed, so each distinct text is stored once and handled as
// a 32-bit handle. Interning "?x" twice gives the same handle, and the text
// behind a handle stays at one address for the life of the process.
//
// Handle layout: bits 28 to 31 hold the shard (the low 4 bits of
// `hash_bytes(text)`), bits 0 to 27 hold the string's index in that shard
// plus one, so a handle is never 0 and resolves without any search.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>

#include "engine/hashing.h"

namespace kestrel {

// An interned string. Equality, order and hash work on the handle; the order
// is that of the handles, not of the texts.
class GlobalSymbol {
 public:
  // The symbol of the empty text, so that symbols can fill default storage.
  GlobalSymbol();
  // Interns `text` (copying it if it is new).
  explicit GlobalSymbol(std::string_view text);

  // The symbol whose handle is `handle`. Requires a handle returned by
  // `handle()` in this process; any other value faults when resolved.
  static constexpr GlobalSymbol from_handle(std::uint32_t handle) noexcept {
    return GlobalSymbol(handle, 0);
  }

  // The interned text; valid until the process ends.
  std::string_view as_str() const;
  constexpr std::uint32_t handle() const noexcept { return handle_; }
  constexpr std::uint64_t hash() const noexcept { return mix64(handle_); }

  // The text as `quote_text` shows it.
  std::string debug() const;

  constexpr bool operator==(const GlobalSymbol&) const = default;
  constexpr auto operator<=>(const GlobalSymbol&) const = default;

 private:
  constexpr GlobalSymbol(std::uint32_t handle, int) noexcept : handle_(handle) {}

  std::uint32_t handle_;  // (shard << 28) | (index + 1)
};

// `text` in double quotes with `"`, `\` and control characters escaped, the
// debug form of texts throughout the engine.
std::string quote_text(std::string_view text);

// Packs a shard and an index within it into a handle. Faults with
// "Can't represent index N in a Symbol" (N = index + 1) when index + 1 does
// not fit below 0x0FFFFFFF.
std::uint32_t symbol_handle(std::uint32_t shard, std::size_t index);

// The process-wide interner: 16 shards, each behind its own lock, holding the
// owned strings in order of first interning and a table from text to index.
// A shard's lock is held for one lookup-or-insert or one lookup and never
// together with another shard's. No fault is thrown while a lock is held, so
// a shard can never be left half-updated by one.
class SymbolTable {
 public:
  static constexpr std::uint32_t kNumShards = 16;

  // The one table of the process, created on first use.
  static SymbolTable& global();

  GlobalSymbol intern(std::string_view text);
  // The text of `symbol`; faults (index out of bounds) on a handle this
  // table never gave out.
  std::string_view resolve(GlobalSymbol symbol);

  SymbolTable(const SymbolTable&) = delete;
  SymbolTable& operator=(const SymbolTable&) = delete;

 private:
  SymbolTable() = default;

  struct TextHash {
    using is_avalanching = void;
    std::size_t operator()(std::string_view text) const noexcept { return hash_bytes(text); }
  };

  struct Shard {
    std::mutex lock;                  // guards both members below
    std::deque<std::string> strings;  // owned texts; a deque never moves its elements
    HashMap<std::string_view, std::uint32_t, TextHash> index;  // text (viewing `strings`) -> index
  };

  Shard shards_[kNumShards];
};

}  // namespace kestrel
