// The order in which the platform lists dictionary keys, and a sort by it that seldom
// reads the keys themselves. Private to the plist library.
#ifndef BRTCONFIG_PLIST_KEY_ORDER_H_
#define BRTCONFIG_PLIST_KEY_ORDER_H_

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace plist {

// The rank of a byte in the order of keys. UTF-8 bytes sort as code points; UTF-16 code
// units put U+E000..U+FFFF (lead bytes EE and EF) after the supplementary planes (lead
// bytes F0..F4, surrogates in UTF-16). The bytes FE and FF, never part of UTF-8, take the
// places of EE and EF so that the ranking stays one to one.
inline unsigned KeyByteRank(unsigned char byte) {
  return (byte & 0xEE) == 0xEE ? byte ^ 0x10u : byte;
}

// The length of the common prefix of `a` and `b`, counting at most `limit` bytes.
size_t CommonPrefixLength(std::string_view a, std::string_view b, size_t limit);

// Whether `a` sorts before `b` by UTF-16 code units, a shorter prefix first, as the
// platform orders the keys of valid UTF-8. Bytes that cannot occur in UTF-8 are ranked
// too, so that any strings are totally ordered and equivalent only when identical.
inline bool KeyLess(std::string_view a, std::string_view b) {
  // Most keys compared differ in their first byte: that case is settled without a call.
  if (!a.empty() && !b.empty() && a[0] != b[0]) {
    return KeyByteRank(static_cast<unsigned char>(a[0])) <
           KeyByteRank(static_cast<unsigned char>(b[0]));
  }
  const size_t common = std::min(a.size(), b.size());
  const size_t i = CommonPrefixLength(a, b, common);
  if (i == common) return a.size() < b.size();
  // Both bytes start a character, or both continue one after the same lead byte.
  return KeyByteRank(static_cast<unsigned char>(a[i])) <
         KeyByteRank(static_cast<unsigned char>(b[i]));
}

// Up to this many keys are sorted by comparison alone.
constexpr size_t kFewKeys = 32;

// Both writers remember, per depth, the last dictionary of up to this many keys and how
// its keys were laid out: dictionaries at one depth are often records of one shape.
constexpr size_t kMaxRecordKeys = 64;

// A key being sorted: its first ranked bytes after the prefix that all keys share, as
// numbers that compare as KeyLess does, and its position.
struct KeyRank {
  uint64_t head;   // Ranked bytes 0..7 past the shared prefix, big-endian, zero-padded.
  uint32_t tail;   // Ranked bytes 8..11, likewise.
  uint32_t index;  // The key's position among those sorted.
};

// A 64-bit hash of `key`, for grouping equal keys. A `seed` drawn per use keeps keys
// chosen to collide under one seed from colliding under the next.
uint64_t HashKey(std::string_view key, uint64_t seed = 0);

// The rank of `key` whose bytes before `skip` are shared by all keys sorted.
KeyRank RankKey(std::string_view key, size_t skip, uint32_t index);

// Sorts `n` ranks at `ranks` by their ranked bytes alone (head, then tail), in linear time
// for the most part: a radix sort on their bytes that hands small groups to std::sort.
// Ranks with equal bytes end up side by side in no particular order. `*scratch` is resized
// to hold `n` ranks.
void SortRanks(KeyRank* ranks, size_t n, std::vector<KeyRank>* scratch);

// Sorts `n` keys by KeyLess, equal keys by position, into `*order` (its earlier content is
// dropped; pass the same vector again to reuse its memory). `key(i)` returns the i-th key as
// a std::string_view; `n` must fit 32 bits. Only `index` of the ranks stored is meaningful
// to the caller: equal ranked bytes do not mean equal keys, and with few keys those bytes
// are left zero. Whole keys are compared only when their first twelve bytes past the shared
// prefix agree. Keys that are sorted but for a stretch of m (such as a few keys appended to
// a sorted dictionary) cost O(n + m log m).
template <typename KeyAt>
void SortKeys(size_t n, const KeyAt& key, std::vector<KeyRank>* order) {
  order->clear();
  order->reserve(n);
  if (n <= kFewKeys) {
    // Too few keys to repay ranking them. An insertion sort moves a key only past greater
    // ones, so equal keys keep their order by position.
    for (size_t i = 0; i < n; ++i) order->push_back(KeyRank{0, 0, static_cast<uint32_t>(i)});
    KeyRank* const ranks = order->data();
    for (size_t i = 1; i < n; ++i) {
      const KeyRank item = ranks[i];
      const std::string_view k = key(item.index);
      size_t j = i;
      for (; j > 0 && KeyLess(k, key(ranks[j - 1].index)); --j) ranks[j] = ranks[j - 1];
      ranks[j] = item;
    }
    return;
  }
  // Bytes that all keys share are skipped. Their count is guessed from a few keys and
  // checked while ranking; a key that shares less (ranks made with too long a skip would
  // be wrong) has the keys ranked again.
  size_t guess = key(0).size();
  for (size_t i = 1; i < kFewKeys; ++i) guess = CommonPrefixLength(key(0), key(i), guess);
  for (size_t skip = guess;; guess = skip) {
    for (size_t i = 0; i < n; ++i) {
      skip = CommonPrefixLength(key(0), key(i), skip);
      order->push_back(RankKey(key(i), guess, static_cast<uint32_t>(i)));
    }
    if (skip == guess) break;
    order->clear();
  }
  auto sameBytes = [](const KeyRank& x, const KeyRank& y) {
    return x.head == y.head && x.tail == y.tail;
  };
  auto less = [&key, &sameBytes](const KeyRank& x, const KeyRank& y) {
    if (!sameBytes(x, y)) return x.head != y.head ? x.head < y.head : x.tail < y.tail;
    const std::string_view a = key(x.index);
    const std::string_view b = key(y.index);
    return a == b ? x.index < y.index : KeyLess(a, b);
  };
  // The longest ascending run stays in place; the other keys are sorted and merged into it.
  size_t runStart = 0, runEnd = 1;
  for (size_t start = 0, i = 1; i <= n; ++i) {
    if (i < n && less((*order)[i - 1], (*order)[i])) continue;
    if (i - start > runEnd - runStart) {
      runStart = start;
      runEnd = i;
    }
    start = i;
  }
  const auto begin = order->begin();
  std::rotate(begin + static_cast<std::ptrdiff_t>(runStart),
              begin + static_cast<std::ptrdiff_t>(runEnd), order->end());
  const auto rest = begin + static_cast<std::ptrdiff_t>(n - (runEnd - runStart));
  std::vector<KeyRank> scratch;
  SortRanks(order->data(), static_cast<size_t>(rest - begin), &scratch);
  // Ranks that tie are put in order by their whole keys.
  for (auto tie = begin; tie != rest;) {
    auto end = tie + 1;
    while (end != rest && sameBytes(*tie, *end)) ++end;
    if (end - tie > 1) std::sort(tie, end, less);
    tie = end;
  }
  std::inplace_merge(begin, rest, order->end(), less);
}

// Orders `n` keys in `*order` (as SortKeys does, reading only `index`) so that equal keys
// stand side by side, in the order of their positions; groups of different keys follow in
// no particular order. Cheaper than SortKeys: keys are sorted by hash, and compared only
// where hashes agree, so that keys chosen to collide cost at worst O(n log n) comparisons.
template <typename KeyAt>
void GroupEqualKeys(size_t n, const KeyAt& key, std::vector<KeyRank>* order) {
  order->clear();
  order->reserve(n);
  for (size_t i = 0; i < n; ++i) {
    order->push_back(KeyRank{HashKey(key(i)), 0, static_cast<uint32_t>(i)});
  }
  std::vector<KeyRank> scratch;
  SortRanks(order->data(), n, &scratch);
  for (auto tie = order->begin(); tie != order->end();) {
    auto end = tie + 1;
    while (end != order->end() && end->head == tie->head) ++end;
    if (end - tie > 1) {
      std::sort(tie, end, [&key](const KeyRank& x, const KeyRank& y) {
        const std::string_view a = key(x.index);
        const std::string_view b = key(y.index);
        return a == b ? x.index < y.index : a < b;
      });
    }
    tie = end;
  }
}

// Dictionaries up to this size look for repeated keys by comparing each key with every
// earlier one.
constexpr size_t kFewKeysToScan = 16;

// Finds the keys, among `n`, equal to an earlier one: leaves `*firstOf` empty when no key
// repeats, else sizes it to `n` with firstOf[i] the position of the first key equal to key
// i (i itself for a first occurrence). Keys in ascending order, as written files hold
// them, are known distinct after one pass; otherwise equal keys are brought together by
// sorting on a hash, which, unlike a hash table that keys chosen to collide could drive
// quadratic, stays O(n log n). `*scratch` is working memory.
template <typename KeyAt>
void FindRepeatedKeys(size_t n, const KeyAt& key, std::vector<KeyRank>* scratch,
                      std::vector<uint32_t>* firstOf) {
  firstOf->clear();
  auto mark = [n, firstOf](size_t i, size_t first) {
    if (firstOf->empty()) {
      firstOf->resize(n);
      for (size_t k = 0; k < n; ++k) (*firstOf)[k] = static_cast<uint32_t>(k);
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
    return;
  }
  bool ascending = true;
  for (size_t i = 1; ascending && i < n; ++i) ascending = KeyLess(key(i - 1), key(i));
  if (ascending) return;
  GroupEqualKeys(n, key, scratch);
  const std::vector<KeyRank>& order = *scratch;
  for (size_t run = 0, end; run < n; run = end) {
    const size_t first = order[run].index;
    for (end = run + 1;
         end < n && order[end].head == order[run].head && key(order[end].index) == key(first);
         ++end) {
      mark(order[end].index, first);
    }
  }
}

}  // namespace plist

#endif  // BRTCONFIG_PLIST_KEY_ORDER_H_
