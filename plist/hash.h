// The hash by which the binary writer finds equal scalars and the readers repeated keys.
// Private to the plist library.
#ifndef BRTCONFIG_PLIST_HASH_H_
#define BRTCONFIG_PLIST_HASH_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

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

}  // namespace plist

#endif  // BRTCONFIG_PLIST_HASH_H_
