#include "plist/key_order.h"

#include <cstring>

namespace plist {
namespace {

constexpr size_t kRankedBytes = 12;
// Groups up to this size are left to std::sort.
constexpr size_t kSmallGroup = 16;

// Byte `i` (0..11) of the ranked bytes of `rank`.
inline unsigned RankedByte(const KeyRank& rank, size_t i) {
  return i < 8 ? static_cast<unsigned>(rank.head >> (56 - 8 * i)) & 0xFF
               : static_cast<unsigned>(rank.tail >> (24 - 8 * (i - 8))) & 0xFF;
}

// A function object rather than a function, so that std::sort inlines it.
struct RankedLess {
  bool operator()(const KeyRank& x, const KeyRank& y) const {
    return x.head != y.head ? x.head < y.head : x.tail < y.tail;
  }
};

// Sorts `n` ranks at `ranks`, equal in their ranked bytes before `byte`, by the bytes from
// there on; `scratch` has room for `n` ranks.
void RadixSort(KeyRank* ranks, KeyRank* scratch, size_t n, size_t byte) {
  for (; n > kSmallGroup && byte < kRankedBytes; ++byte) {
    uint32_t count[256] = {};
    for (size_t i = 0; i < n; ++i) ++count[RankedByte(ranks[i], byte)];
    if (count[RankedByte(ranks[0], byte)] == n) continue;  // One value: on to the next byte.
    uint32_t next[256];
    for (uint32_t d = 0, sum = 0; d < 256; ++d) {
      next[d] = sum;
      sum += count[d];
    }
    for (size_t i = 0; i < n; ++i) scratch[next[RankedByte(ranks[i], byte)]++] = ranks[i];
    std::copy(scratch, scratch + n, ranks);
    for (size_t d = 0, start = 0; d < 256; start += count[d++]) {
      if (count[d] > 1) RadixSort(ranks + start, scratch + start, count[d], byte + 1);
    }
    return;
  }
  if (byte < kRankedBytes) std::sort(ranks, ranks + n, RankedLess());
}

}  // namespace

size_t CommonPrefixLength(std::string_view a, std::string_view b, size_t limit) {
  limit = std::min({limit, a.size(), b.size()});
  size_t i = 0;
  for (uint64_t x, y; i + 8 <= limit; i += 8) {
    std::memcpy(&x, a.data() + i, 8);
    std::memcpy(&y, b.data() + i, 8);
    if (x != y) break;
  }
  while (i < limit && a[i] == b[i]) ++i;
  return i;
}

uint64_t HashKey(std::string_view key, uint64_t seed) {
  constexpr uint64_t kMultiplier = 0xFF51AFD7ED558CCDu;
  uint64_t h = seed ^ (key.size() * 0x9E3779B97F4A7C15u);
  size_t i = 0;
  for (uint64_t word; i + 8 <= key.size(); i += 8) {
    std::memcpy(&word, key.data() + i, 8);
    h = (h ^ word) * kMultiplier;
    h ^= h >> 32;
  }
  if (i < key.size()) {
    uint64_t word = 0;
    std::memcpy(&word, key.data() + i, key.size() - i);
    h = (h ^ word) * kMultiplier;
  }
  // The finaliser of MurmurHash3, so that every bit of the key reaches the top byte.
  h ^= h >> 33;
  h *= kMultiplier;
  h ^= h >> 33;
  h *= 0xC4CEB9FE1A85EC53u;
  return h ^ (h >> 33);
}

KeyRank RankKey(std::string_view key, size_t skip, uint32_t index) {
  unsigned char window[kRankedBytes] = {};
  const size_t length = std::min(kRankedBytes, key.size() - skip);
  if (length > 0) std::memcpy(window, key.data() + skip, length);
  uint64_t high;
  uint32_t low;
  std::memcpy(&high, window, 8);
  std::memcpy(&low, window + 8, 4);
  if (((high | low) & 0x8080808080808080u) != 0) {
    for (unsigned char& byte : window) byte = static_cast<unsigned char>(KeyByteRank(byte));
  }
  // Padding with zero keeps a shorter key first or, against a NUL byte, yields a tie that
  // the comparison of whole keys resolves.
  KeyRank rank{0, 0, index};
  for (size_t i = 0; i < 8; ++i) rank.head = rank.head << 8 | window[i];
  for (size_t i = 8; i < kRankedBytes; ++i) rank.tail = rank.tail << 8 | window[i];
  return rank;
}

void SortRanks(KeyRank* ranks, size_t n, std::vector<KeyRank>* scratch) {
  if (n <= kSmallGroup) {
    std::sort(ranks, ranks + n, RankedLess());
    return;
  }
  scratch->resize(n);
  RadixSort(ranks, scratch->data(), n, 0);
}

}  // namespace plist
