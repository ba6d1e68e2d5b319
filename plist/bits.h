// Bit patterns of reals and big-endian numbers, shared by the parts of the library that
// compare, read or write them. Private to the plist library.
#ifndef BRTCONFIG_PLIST_BITS_H_
#define BRTCONFIG_PLIST_BITS_H_

#include <cstdint>
#include <cstring>

namespace plist {

inline uint64_t DoubleBits(double d) {
  uint64_t bits;
  std::memcpy(&bits, &d, sizeof bits);
  return bits;
}

inline double DoubleFromBits(uint64_t bits) {
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}

inline uint32_t FloatBits(float f) {
  uint32_t bits;
  std::memcpy(&bits, &f, sizeof bits);
  return bits;
}

// The unsigned number in the `width` (1 to 8) bytes at `p`, most significant first.
inline uint64_t ReadBigEndian(const uint8_t* p, uint64_t width) {
  // The common widths get straight-line code: references, offsets and numbers are read
  // once per object.
  switch (width) {
    case 1:
      return p[0];
    case 2:
      return (uint64_t{p[0]} << 8) | p[1];
    case 4:
      return (uint64_t{p[0]} << 24) | (uint64_t{p[1]} << 16) | (uint64_t{p[2]} << 8) | p[3];
    case 8:
      return (uint64_t{p[0]} << 56) | (uint64_t{p[1]} << 48) | (uint64_t{p[2]} << 40) |
             (uint64_t{p[3]} << 32) | (uint64_t{p[4]} << 24) | (uint64_t{p[5]} << 16) |
             (uint64_t{p[6]} << 8) | p[7];
    default: {
      uint64_t v = 0;
      for (uint64_t i = 0; i < width; ++i) v = (v << 8) | p[i];
      return v;
    }
  }
}

// Stores the low `width` (1 to 8) bytes of `value` at `p`, most significant first, and
// returns the end. It stores a whole word, so `p` must have room for eight bytes whatever
// the width; the bytes past the end are garbage for the next store to overwrite.
inline char* PutBigEndian(uint64_t value, unsigned width, char* p) {
  uint64_t word = value << (64 - 8 * width);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  word = __builtin_bswap64(word);
#elif !defined(__BYTE_ORDER__) || __BYTE_ORDER__ != __ORDER_BIG_ENDIAN__
#error "the byte order of this machine is unknown"
#endif
  std::memcpy(p, &word, sizeof word);
  return p + width;
}

// The `n` (0 to 7) bytes at `p` as one word, some of them twice, for a test or compare of
// every byte at once where fewer than eight are left: rather than byte by byte, or by a
// load past the end.
inline uint64_t ShortWord(const char* p, size_t n) {
  if (n >= 4) {
    uint32_t first, last;
    std::memcpy(&first, p, 4);
    std::memcpy(&last, p + n - 4, 4);
    return uint64_t{first} << 32 | last;
  }
  if (n == 0) return 0;
  return uint64_t{static_cast<uint8_t>(p[0])} << 16 |
         uint64_t{static_cast<uint8_t>(p[n / 2])} << 8 | static_cast<uint8_t>(p[n - 1]);
}

// Eight bytes at a time: the bytes of `word` equal to `c` marked by their high bit, and
// no other bit (an exact test, so that the first mark is the first match on any machine).
inline uint64_t BytesEqual(uint64_t word, char c) {
  constexpr uint64_t kLows = 0x7F7F7F7F7F7F7F7Fu;
  const uint64_t x = word ^ (0x0101010101010101u * static_cast<uint8_t>(c));
  return ~(((x & kLows) + kLows) | x | kLows);
}

// The place in memory, 0 to 7, of the first byte of a word loaded from memory that has
// its high bit set; `marks` has one, and no other bits.
inline unsigned FirstMarkedByte(uint64_t marks) {
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  return static_cast<unsigned>(__builtin_ctzll(marks)) / 8;
#else
  return static_cast<unsigned>(__builtin_clzll(marks)) / 8;
#endif
}

// A mask of the first `n` (0 to 7) bytes in memory of a word loaded from memory.
inline uint64_t FirstBytes(size_t n) {
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  return (uint64_t{1} << (8 * n)) - 1;
#else
  return n == 0 ? 0 : ~uint64_t{0} << (64 - 8 * n);
#endif
}

}  // namespace plist

#endif  // BRTCONFIG_PLIST_BITS_H_
