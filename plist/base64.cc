#include "plist/base64.h"

#include <array>

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
    // Whole groups of four alphabet characters, the bulk of any text, four at a time.
    // Written bytes never overtake the text, so `out` may be where it is read from.
    if (n == 0 && !padded) {
      while (end - p >= 4) {
        const int a = kDecode[static_cast<uint8_t>(p[0])], b = kDecode[static_cast<uint8_t>(p[1])];
        const int c = kDecode[static_cast<uint8_t>(p[2])], d = kDecode[static_cast<uint8_t>(p[3])];
        if ((a | b | c | d) < 0) break;
        const uint32_t v = static_cast<uint32_t>(a << 18 | b << 12 | c << 6 | d);
        out[0] = static_cast<char>(v >> 16);
        out[1] = static_cast<char>(v >> 8);
        out[2] = static_cast<char>(v);
        out += 3;
        p += 4;
      }
      if (p == end) break;
    }
    // Anything else a character at a time: white space, padding, faults.
    const int8_t v = kDecode[static_cast<uint8_t>(*p++)];
    if (v == kSkip) continue;
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
