#include "plist/base64.h"

#include <array>
#include <cstring>

namespace plist {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr int8_t kInvalid = -1;
constexpr int8_t kSkip = -2;
constexpr int8_t kPad = -3;

constexpr std::array<int8_t, 256> MakeDecodeTable() {
  std::array<int8_t, 256> table{};
  for (auto& entry : table) entry = kInvalid;
  for (int i = 0; i < 64; ++i) table[static_cast<uint8_t>(kAlphabet[i])] = static_cast<int8_t>(i);
  table[' '] = table['\t'] = table['\n'] = table['\r'] = kSkip;
  table['='] = kPad;
  return table;
}

constexpr std::array<int8_t, 256> kDecode = MakeDecodeTable();

// For each place in a group of four characters, each character's six bits where they
// fall in the group's three bytes, as a word stored to memory holds them; the fourth byte
// of that word is 0x80 for bytes outside the alphabet.
using PlaceTables = std::array<std::array<uint32_t, 256>, 4>;

constexpr uint32_t InMemoryOrder(uint32_t mostSignificantFirst) {
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  return __builtin_bswap32(mostSignificantFirst);
#else
  return mostSignificantFirst;
#endif
}

constexpr uint32_t kOutside = InMemoryOrder(0x80);

constexpr PlaceTables MakePlaceTables() {
  PlaceTables tables{};
  for (int place = 0; place < 4; ++place) {
    for (int c = 0; c < 256; ++c) {
      const int8_t v = kDecode[static_cast<size_t>(c)];
      tables[place][c] = v < 0 ? kOutside : InMemoryOrder(static_cast<uint32_t>(v) << (26 - 6 * place));
    }
  }
  return tables;
}

constexpr PlaceTables kPlaces = MakePlaceTables();

}  // namespace

void Base64Encode(const uint8_t* bytes, size_t size, std::string* out) {
  const size_t start = out->size();
  out->resize(start + (size + 2) / 3 * 4);
  char* p = &(*out)[start];
  size_t i = 0;
  for (; i + 3 <= size; i += 3) {
    const uint32_t v = uint32_t{bytes[i]} << 16 | uint32_t{bytes[i + 1]} << 8 | bytes[i + 2];
    *p++ = kAlphabet[v >> 18];
    *p++ = kAlphabet[(v >> 12) & 63];
    *p++ = kAlphabet[(v >> 6) & 63];
    *p++ = kAlphabet[v & 63];
  }
  if (i < size) {
    const bool two = i + 1 < size;
    const uint32_t v = uint32_t{bytes[i]} << 16 | (two ? uint32_t{bytes[i + 1]} << 8 : 0);
    *p++ = kAlphabet[v >> 18];
    *p++ = kAlphabet[(v >> 12) & 63];
    *p++ = two ? kAlphabet[(v >> 6) & 63] : '=';
    *p++ = '=';
  }
}

bool Base64Decode(std::string_view text, char* out, size_t* size) {
  char* const begin = out;
  const char* p = text.data();
  const char* const end = p + text.size();
  int group[4];
  int n = 0;
  bool padded = false;  // A group with '=' ends the text.
  while (p != end) {
    // Whole groups of four alphabet characters, the bulk of any text, a group a step:
    // their three bytes and a fourth, which the next group overwrites, in one store.
    // Written bytes never overtake the text, so `out` may be where it is read from.
    if (n == 0 && !padded) {
      while (end - p >= 4) {
        const uint32_t v = kPlaces[0][static_cast<uint8_t>(p[0])] |
                           kPlaces[1][static_cast<uint8_t>(p[1])] |
                           kPlaces[2][static_cast<uint8_t>(p[2])] |
                           kPlaces[3][static_cast<uint8_t>(p[3])];
        if ((v & kOutside) != 0) break;
        std::memcpy(out, &v, sizeof v);
        out += 3;
        p += 4;
      }
      if (p == end) break;
    }
    // Anything else a character at a time: white space, padding, faults.
    const int8_t v = kDecode[static_cast<uint8_t>(*p++)];
    if (v == kSkip) {
      while (p != end && kDecode[static_cast<uint8_t>(*p)] == kSkip) ++p;
      continue;
    }
    if (v == kInvalid || padded) return false;
    if (v == kPad) {
      if (n < 2) return false;
    } else if (n > 0 && group[n - 1] < 0) {
      return false;  // Only more '=' may follow a '='.
    }
    group[n++] = v;
    if (n < 4) continue;
    *out++ = static_cast<char>(group[0] << 2 | group[1] >> 4);
    if (group[2] >= 0) *out++ = static_cast<char>((group[1] & 15) << 4 | group[2] >> 2);
    if (group[3] >= 0) *out++ = static_cast<char>((group[2] & 3) << 6 | group[3]);
    padded = group[3] < 0;
    n = 0;
  }
  *size = static_cast<size_t>(out - begin);
  return n == 0;
}

}  // namespace plist
