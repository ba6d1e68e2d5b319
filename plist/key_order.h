// The order in which the platform lists dictionary keys, and the search for keys that a
// dictionary repeats. Private to the plist library.
#ifndef BRTCONFIG_PLIST_KEY_ORDER_H_
#define BRTCONFIG_PLIST_KEY_ORDER_H_

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "plist/hash.h"

namespace plist {

// The rank of a byte in the order of keys. UTF-8 bytes sort as code points; UTF-16 code
// units put U+E000..U+FFFF (lead bytes EE and EF) after the supplementary planes (lead
// bytes F0..F4, surrogates in UTF-16). The bytes FE and FF, never part of UTF-8, take the
// places of EE and EF so that the ranking stays one to one.
inline unsigned KeyByteRank(unsigned char byte) {
  return (byte & 0xEE) == 0xEE ? byte ^ 0x10u : byte;
}

// Whether `a` sorts before `b` by UTF-16 code units, a shorter prefix first, as the
// platform orders the keys of valid UTF-8. Bytes that cannot occur in UTF-8 are ranked
// too, so that any strings are totally ordered and equivalent only when identical.
inline bool KeyLess(std::string_view a, std::string_view b) {
  const size_t common = std::min(a.size(), b.size());
  size_t i = 0;
  while (i < common && a[i] == b[i]) ++i;
  if (i == common) return a.size() < b.size();
  // Both bytes start a character, or both continue one after the same lead byte.
  return KeyByteRank(static_cast<unsigned char>(a[i])) <
         KeyByteRank(static_cast<unsigned char>(b[i]));
}

// Dictionaries up to this size look for repeated keys by comparing each key with every
// earlier one.
constexpr size_t kFewKeysToScan = 16;

// Finds the keys, among `n`, equal to an earlier one: leaves `*firstOf` empty when no key
// repeats, else sizes it to `n` with firstOf[i] the position of the first key equal to key
// i (i itself for a first occurrence). `key(i)` returns the i-th key as a
// std::string_view. Keys in ascending order (KeyLess), as written XML files hold them,
// are known distinct after one pass, and the answer is then true, which a reader records
// on the dictionary for the XML writer; others are grouped by their hashes.
template <typename KeyAt>
bool FindRepeatedKeys(size_t n, const KeyAt& key, std::vector<uint32_t>* firstOf) {
  firstOf->clear();
  bool ascending = true;
  for (size_t i = 1; ascending && i < n; ++i) ascending = KeyLess(key(i - 1), key(i));
  if (ascending) return true;
  // Key i is equal to key `first`, the first such.
  auto mark = [n, firstOf](size_t i, size_t first) {
    if (firstOf->empty()) {
      for (size_t k = 0; k < n; ++k) firstOf->push_back(static_cast<uint32_t>(k));
    }
    (*firstOf)[i] = static_cast<uint32_t>(first);
  };
  if (n <= kFewKeysToScan) {
    for (size_t i = 1; i < n; ++i) {
      for (size_t j = 0; j < i; ++j) {
        if (key(j) == key(i)) {
          mark(i, j);
          break;
        }
      }
    }
    return false;
  }
  // Equal keys have equal hashes: sorting the positions by hash brings them side by
  // side, and only keys whose hashes agree are compared. A radix sort reads and writes
  // memory in order and keeps positions with equal hashes ascending; it is faster than
  // std::sort or a hash table, whose every lookup misses the cache (bench/README.md).
  // The seed changes from run to run, so that keys chosen to collide cannot make it
  // quadratic.
  std::vector<uint64_t> byHash(n), scratch(n);
  const uint64_t seed = SeedFrom(&byHash);
  for (size_t i = 0; i < n; ++i) byHash[i] = (Hash(key(i), seed) & ~uint64_t{0xFFFFFFFF}) | i;
  for (unsigned shift = 32; shift < 64; shift += 8) {
    size_t count[257] = {};
    for (const uint64_t item : byHash) ++count[(item >> shift & 0xFF) + 1];
    for (size_t d = 1; d < 257; ++d) count[d] += count[d - 1];
    for (const uint64_t item : byHash) scratch[count[item >> shift & 0xFF]++] = item;
    byHash.swap(scratch);
  }
  for (size_t run = 0, end; run < n; run = end) {
    for (end = run + 1; end < n && byHash[end] >> 32 == byHash[run] >> 32; ++end) {
    }
    // Each key goes to the first equal one, the lowest position among them.
    for (size_t j = run + 1; j < end; ++j) {
      const auto i = static_cast<uint32_t>(byHash[j]);
      for (size_t k = run; k < j; ++k) {
        const auto earlier = static_cast<uint32_t>(byHash[k]);
        if (!firstOf->empty() && (*firstOf)[earlier] != earlier) continue;
        if (key(earlier) == key(i)) {
          mark(i, earlier);
          break;
        }
      }
    }
  }
  return false;
}

}  // namespace plist

#endif  // BRTCONFIG_PLIST_KEY_ORDER_H_
