#include "plist/base64.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "plist/xml_text.h"

namespace plist {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

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
  for (auto& table : tables) {
    for (auto& entry : table) entry = kOutside;
  }
  for (uint32_t place = 0; place < 4; ++place) {
    for (uint32_t v = 0; v < 64; ++v) {
      tables[place][static_cast<uint8_t>(kAlphabet[v])] = InMemoryOrder(v << (26 - 6 * place));
    }
  }
  return tables;
}

constexpr PlaceTables kPlaces = MakePlaceTables();

// The three bytes of the four characters at `p`, and a fourth, as a word to store.
uint32_t Group(const char* p) {
  return kPlaces[0][static_cast<uint8_t>(p[0])] | kPlaces[1][static_cast<uint8_t>(p[1])] |
         kPlaces[2][static_cast<uint8_t>(p[2])] | kPlaces[3][static_cast<uint8_t>(p[3])];
}

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
  for (;;) {
    // Whole groups, the bulk of any text, a group a step: three bytes and a fourth, which
    // the next group overwrites, in one store. Written bytes never overtake the text.
    for (uint32_t v; end - p >= 4 && ((v = Group(p)) & kOutside) == 0; p += 4, out += 3) {
      std::memcpy(out, &v, sizeof v);
    }
    // White space between groups, as line breaks put it.
    const char* const next = std::find_if_not(p, end, IsXmlSpace);
    if (next != p) {
      p = next;
      continue;
    }
    // Else one group gathered across white space, which may end in padding.
    char group[4];
    size_t n = 0;
    for (; p != end && n < 4; ++p) {
      if (!IsXmlSpace(*p)) group[n++] = *p;
    }
    if (n == 0) break;
    if (n < 4) return false;
    const size_t padding = group[3] != '=' ? 0 : group[2] != '=' ? 1 : 2;
    std::fill(group + 4 - padding, group + 4, 'A');
    const uint32_t v = Group(group);
    if ((v & kOutside) != 0) return false;
    std::memcpy(out, &v, sizeof v);
    out += 3 - padding;
    // Only white space may follow padding.
    if (padding != 0 && std::find_if_not(p, end, IsXmlSpace) != end) return false;
  }
  *size = static_cast<size_t>(out - begin);
  return true;
}

}  // namespace plist
