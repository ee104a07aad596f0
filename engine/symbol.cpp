// The process-wide symbol table: interning text into handles and resolving them.
#include "engine/symbol.h"

#include <cstdio>

#include "engine/fault.h"

namespace kestrel {

namespace {

constexpr std::uint32_t kIndexMask = 0x0FFFFFFF;

std::uint32_t empty_handle() {
  static const std::uint32_t handle = SymbolTable::global().intern("").handle();
  return handle;
}

}  // namespace

GlobalSymbol::GlobalSymbol() : handle_(empty_handle()) {}

GlobalSymbol::GlobalSymbol(std::string_view text) : handle_(SymbolTable::global().intern(text).handle_) {}

std::string_view GlobalSymbol::as_str() const { return SymbolTable::global().resolve(*this); }

std::string GlobalSymbol::debug() const { return quote_text(as_str()); }

std::string quote_text(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '\0': out += "\\0"; break;
      default:
        if (byte < 0x20 || byte == 0x7f) {
          char buf[12];
          std::snprintf(buf, sizeof buf, "\\u{%x}", byte);
          out += buf;
        } else {
          out += c;
        }
    }
  }
  out += '"';
  return out;
}

std::uint32_t symbol_handle(std::uint32_t shard, std::size_t index) {
  const std::size_t stored = index + 1;
  if (stored >= kIndexMask) {
    fault("Can't represent index " + std::to_string(stored) + " in a Symbol");
  }
  return (shard << 28) | static_cast<std::uint32_t>(stored);
}

SymbolTable& SymbolTable::global() {
  // Never destroyed: handles and resolved texts must outlive every static.
  static SymbolTable* const table = new SymbolTable();
  return *table;
}

GlobalSymbol SymbolTable::intern(std::string_view text) {
  const std::uint64_t hash = hash_bytes(text);
  const auto shard_no = static_cast<std::uint32_t>(hash & (kNumShards - 1));
  Shard& shard = shards_[shard_no];
  std::size_t index;
  {
    std::lock_guard guard(shard.lock);
    if (auto it = shard.index.find(text); it != shard.index.end()) {
      index = it->second;
    } else {
      index = shard.strings.size();
      const std::string& stored = shard.strings.emplace_back(text);
      shard.index.emplace(std::string_view(stored), static_cast<std::uint32_t>(index));
    }
  }
  return GlobalSymbol::from_handle(symbol_handle(shard_no, index));
}

std::string_view SymbolTable::resolve(GlobalSymbol symbol) {
  Shard& shard = shards_[symbol.handle() >> 28];
  const std::size_t index = static_cast<std::size_t>(symbol.handle() & kIndexMask) - 1;
  std::size_t len;
  {
    std::lock_guard guard(shard.lock);
    len = shard.strings.size();
    if (index < len) return shard.strings[index];
  }
  fault_index(len, index);
}

}  // namespace kestrel
