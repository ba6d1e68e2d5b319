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
// std::string_view. Keys in ascending order, as written XML files hold them, are known
// distinct after one pass; others are grouped by their hashes.
template <typename KeyAt>
void FindRepeatedKeys(size_t n, const KeyAt& key, std::vector<uint32_t>* firstOf) {
  firstOf->clear();
  if (n <= kFewKeysToScan) {
    for (size_t i = 1; i < n; ++i) {
      for (size_t j = 0; j < i; ++j) {
        if (key(j) != key(i)) continue;
        if (firstOf->empty()) {
          for (size_t k = 0; k < n; ++k) firstOf->push_back(static_cast<uint32_t>(k));
        }
        (*firstOf)[i] = (*firstOf)[j];
        break;
      }
    }
    return;
  }
  bool ascending = true;
  for (size_t i = 1; ascending && i < n; ++i) ascending = KeyLess(key(i - 1), key(i));
  if (ascending) return;
  const bool repeats = GroupEqual(
      n, [&key](size_t i, uint64_t seed) { return Hash(key(i), seed); },
      [&key](size_t i, size_t j) { return key(i) == key(j); }, firstOf);
  if (!repeats) firstOf->clear();
}

}  // namespace plist

#endif  // BRTCONFIG_PLIST_KEY_ORDER_H_
