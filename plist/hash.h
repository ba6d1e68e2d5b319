// Finding equal items by their hashes: the writer's equal scalars, a reader's repeated
// keys. Private to the plist library.
#ifndef BRTCONFIG_PLIST_HASH_H_
#define BRTCONFIG_PLIST_HASH_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

namespace plist {

// A 64-bit hash of `bytes`. A `seed` drawn per use keeps values chosen to collide under
// one seed from colliding under the next.
inline uint64_t Hash(std::string_view bytes, uint64_t seed) {
  constexpr uint64_t kMultiplier = 0xFF51AFD7ED558CCDu;
  uint64_t h = seed ^ (bytes.size() * 0x9E3779B97F4A7C15u);
  size_t i = 0;
  for (uint64_t word; i + 8 <= bytes.size(); i += 8) {
    std::memcpy(&word, bytes.data() + i, 8);
    h = (h ^ word) * kMultiplier;
    h ^= h >> 32;
  }
  if (i < bytes.size()) {
    uint64_t word = 0;
    std::memcpy(&word, bytes.data() + i, bytes.size() - i);
    h = (h ^ word) * kMultiplier;
  }
  // The finaliser of MurmurHash3, so that every bit reaches the low bits used.
  h ^= h >> 33;
  h *= kMultiplier;
  h ^= h >> 33;
  h *= 0xC4CEB9FE1A85EC53u;
  return h ^ (h >> 33);
}

// A seed that differs from run to run: the address of something on the stack or the
// heap, which address-space layout randomisation moves. Output never depends on it.
inline uint64_t SeedFrom(const void* address) {
  return reinterpret_cast<uintptr_t>(address) * 0x9E3779B97F4A7C15u;
}

// Finds, for each of `n` items, the first item equal to it: sets firstOf[i] (sized n) to
// the smallest position of an item equal to item i, i itself when none comes before it,
// and answers whether any item repeats. `hash(i)` hashes item i with the seed it is
// given; `same(i, j)` compares two items whose hashes agree.
//
// Sorting the positions by hash brings equal items side by side. A radix sort reads and
// writes memory in order and keeps positions with equal hashes ascending: reading the
// wide benchmark document, 200,000 keys out of order, takes 49 ms so, 56 ms with
// std::sort and 71 ms with a hash table, whose every lookup misses the cache. The seed
// changes from run to run, so that items chosen to collide cannot make it quadratic.
template <typename HashAt, typename Same>
bool GroupEqual(size_t n, const HashAt& hash, const Same& same, std::vector<uint32_t>* firstOf) {
  std::vector<uint64_t> byHash(n), scratch(n);
  const uint64_t seed = SeedFrom(&byHash);
  for (size_t i = 0; i < n; ++i) byHash[i] = (hash(i, seed) & ~uint64_t{0xFFFFFFFF}) | i;
  for (unsigned shift = 32; shift < 64; shift += 8) {
    size_t count[257] = {};
    for (const uint64_t item : byHash) ++count[(item >> shift & 0xFF) + 1];
    for (size_t d = 1; d < 257; ++d) count[d] += count[d - 1];
    for (const uint64_t item : byHash) scratch[count[item >> shift & 0xFF]++] = item;
    byHash.swap(scratch);
  }
  firstOf->resize(n);
  for (size_t i = 0; i < n; ++i) (*firstOf)[i] = static_cast<uint32_t>(i);
  bool repeats = false;
  for (size_t run = 0, end; run < n; run = end) {
    for (end = run + 1; end < n && byHash[end] >> 32 == byHash[run] >> 32; ++end) {
    }
    for (size_t j = run + 1; j < end; ++j) {
      const auto i = static_cast<uint32_t>(byHash[j]);
      for (size_t k = run; k < j; ++k) {
        const auto earlier = static_cast<uint32_t>(byHash[k]);
        if ((*firstOf)[earlier] == earlier && same(earlier, i)) {
          (*firstOf)[i] = earlier;
          repeats = true;
          break;
        }
      }
    }
  }
  return repeats;
}

}  // namespace plist

#endif  // BRTCONFIG_PLIST_HASH_H_
