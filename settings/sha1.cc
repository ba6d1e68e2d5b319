#include "settings/sha1.h"

#include <cstdint>
#include <cstring>

namespace brtconfig {
namespace {

constexpr size_t kBlockBytes = 64;

uint32_t RotateLeft(uint32_t x, int n) { return x << n | x >> (32 - n); }

void Compress(const unsigned char* block, uint32_t (&state)[5]) {
  uint32_t w[80];
  for (int i = 0; i < 16; ++i) {
    w[i] = uint32_t{block[4 * i]} << 24 | uint32_t{block[4 * i + 1]} << 16 |
           uint32_t{block[4 * i + 2]} << 8 | uint32_t{block[4 * i + 3]};
  }
  for (int i = 16; i < 80; ++i) w[i] = RotateLeft(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
  for (int i = 0; i < 80; ++i) {
    uint32_t f, k;
    if (i < 20) {
      f = (b & c) | (~b & d);
      k = 0x5A827999;
    } else if (i < 40) {
      f = b ^ c ^ d;
      k = 0x6ED9EBA1;
    } else if (i < 60) {
      f = (b & c) | (b & d) | (c & d);
      k = 0x8F1BBCDC;
    } else {
      f = b ^ c ^ d;
      k = 0xCA62C1D6;
    }
    const uint32_t t = RotateLeft(a, 5) + f + e + k + w[i];
    e = d;
    d = c;
    c = RotateLeft(b, 30);
    b = a;
    a = t;
  }
  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
  state[4] += e;
}

}  // namespace

Sha1Digest Sha1(std::string_view bytes) {
  uint32_t state[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  size_t n = bytes.size();
  for (; n >= kBlockBytes; n -= kBlockBytes, p += kBlockBytes) Compress(p, state);
  // The tail, a 1 bit, zeros, and the length in bits as a big-endian 64-bit number:
  // one block, or two when the tail leaves no room for the length.
  unsigned char last[2 * kBlockBytes] = {};
  std::memcpy(last, p, n);
  last[n] = 0x80;
  const size_t blocks = n + 9 > kBlockBytes ? 2 : 1;
  const uint64_t bits = static_cast<uint64_t>(bytes.size()) * 8;
  for (int i = 0; i < 8; ++i) {
    last[blocks * kBlockBytes - 1 - i] = static_cast<unsigned char>(bits >> (8 * i));
  }
  for (size_t i = 0; i < blocks; ++i) Compress(last + i * kBlockBytes, state);
  Sha1Digest digest;
  for (size_t i = 0; i < 20; ++i) {
    digest[i] = static_cast<unsigned char>(state[i / 4] >> (24 - 8 * (i % 4)));
  }
  return digest;
}

}  // namespace brtconfig
