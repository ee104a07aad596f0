// Fixed, unseeded hashing and the hash containers of the engine.
//
// Every map and set of the engine hashes with the functions below, which use
// constant keys: the same input gives the same buckets, the same ids and the
// same iteration orders in every process on every machine. The containers
// are Boost's open-addressing tables; `NodeHash` adapts any node type with a
// `hash()` member to them.
#pragma once

#include <boost/unordered/unordered_flat_map.hpp>
#include <boost/unordered/unordered_flat_set.hpp>

#include <cstdint>
#include <string_view>

namespace kestrel {

// The 64-bit finaliser of MurmurHash3: a bijective mix with good avalanche.
constexpr std::uint64_t mix64(std::uint64_t x) noexcept {
  x ^= x >> 33;
  x *= 0xff51afd7ed558ccdULL;
  x ^= x >> 33;
  x *= 0xc4ceb9fe1a85ec53ULL;
  x ^= x >> 33;
  return x;
}

// Combines `value` into the running hash `seed`.
constexpr std::uint64_t hash_combine(std::uint64_t seed, std::uint64_t value) noexcept {
  return mix64(seed ^ (value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2)));
}

// FNV-1a over the bytes of `text`, finished with `mix64`.
constexpr std::uint64_t hash_bytes(std::string_view text) noexcept {
  std::uint64_t h = 0xcbf29ce484222325ULL;
  for (unsigned char c : text) {
    h ^= c;
    h *= 0x100000001b3ULL;
  }
  return mix64(h);
}

// Hash functor for node types that provide `std::uint64_t hash() const`.
template <class T>
struct NodeHash {
  using is_avalanching = void;  // `hash()` results are already mixed
  std::size_t operator()(const T& value) const noexcept { return value.hash(); }
};

// Hash functor for 32-bit ids and other small integers.
struct IntHash {
  using is_avalanching = void;
  std::size_t operator()(std::uint64_t value) const noexcept { return mix64(value); }
};

template <class K, class V, class H = NodeHash<K>>
using HashMap = boost::unordered_flat_map<K, V, H>;

template <class K, class H = NodeHash<K>>
using HashSet = boost::unordered_flat_set<K, H>;

}  // namespace kestrel
