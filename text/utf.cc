#include "text/utf.h"

#include <utf8proc.h>

#include <cstdint>
#include <cstring>

namespace text {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// Decodes one well-formed sequence at `pos`; returns its length, or 0 when the bytes
// there are ill-formed (truncated, overlong, a surrogate or beyond U+10FFFF).
size_t DecodeOne(std::string_view bytes, size_t pos, char32_t* cp) {
  const auto lead = static_cast<unsigned char>(bytes[pos]);
  size_t length;
  char32_t value;
  char32_t lowest;
  if (lead < 0x80) {
    *cp = lead;
    return 1;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, value = lead & 0x1F, lowest = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, value = lead & 0x0F, lowest = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, value = lead & 0x07, lowest = 0x10000;
  } else {
    return 0;  // A stray continuation byte, C0/C1 (always overlong) or F5 and above.
  }
  if (bytes.size() - pos < length) return 0;
  for (size_t i = 1; i < length; ++i) {
    const auto byte = static_cast<unsigned char>(bytes[pos + i]);
    if (!IsContinuation(byte)) return 0;
    value = (value << 6) | (byte & 0x3F);
  }
  if (value < lowest || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  *cp = value;
  return length;
}

}  // namespace

bool IsValidUtf8(std::string_view bytes) { return FirstInvalidUtf8(bytes) == bytes.size(); }

size_t FirstInvalidUtf8(std::string_view bytes) {
  // Runs of ASCII, the common case, are skipped 32 or eight bytes at a time.
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const size_t n = bytes.size();
  size_t i = 0;
  while (i < n) {
    if (i + 32 <= n) {
      uint64_t words[4];
      std::memcpy(words, p + i, sizeof words);
      if (((words[0] | words[1] | words[2] | words[3]) & 0x8080808080808080u) == 0) {
        i += 32;
        continue;
      }
    }
    if (i + 8 <= n) {
      uint64_t word;
      std::memcpy(&word, p + i, 8);
      if ((word & 0x8080808080808080u) == 0) {
        i += 8;
        continue;
      }
    }
    char32_t cp;
    const size_t length = DecodeOne(bytes, i, &cp);
    if (length == 0) return i;
    i += length;
  }
  return n;
}

size_t Utf8SequenceLength(std::string_view bytes) {
  char32_t cp;
  return bytes.empty() ? 0 : DecodeOne(bytes, 0, &cp);
}

char32_t DecodeUtf8(std::string_view bytes, size_t* pos) {
  char32_t cp;
  const size_t length = DecodeOne(bytes, *pos, &cp);
  if (length == 0) {
    // Callers that skipped validation still move forward, one byte per bad byte.
    ++*pos;
    return kReplacement;
  }
  *pos += length;
  return cp;
}

char* EncodeUtf8(char32_t cp, char* out) {
  if (cp < 0x80) {
    *out++ = static_cast<char>(cp);
  } else if (cp < 0x800) {
    *out++ = static_cast<char>(0xC0 | (cp >> 6));
    *out++ = static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    *out++ = static_cast<char>(0xE0 | (cp >> 12));
    *out++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    *out++ = static_cast<char>(0xF0 | (cp >> 18));
    *out++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    *out++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (cp & 0x3F));
  }
  return out;
}

void AppendUtf8(char32_t cp, std::string* out) {
  char bytes[4];
  out->append(bytes, EncodeUtf8(cp, bytes));
}

std::u16string ToUtf16(std::string_view utf8) {
  std::u16string units;
  units.reserve(utf8.size());
  for (size_t pos = 0; pos < utf8.size();) {
    const char32_t cp = DecodeUtf8(utf8, &pos);
    if (cp < 0x10000) {
      units.push_back(static_cast<char16_t>(cp));
    } else {
      const char32_t offset = cp - 0x10000;
      units.push_back(static_cast<char16_t>(0xD800 + (offset >> 10)));
      units.push_back(static_cast<char16_t>(0xDC00 + (offset & 0x3FF)));
    }
  }
  return units;
}

bool HasForbiddenControl(std::string_view utf8) {
  for (size_t pos = 0; pos < utf8.size();) {
    const char32_t cp = DecodeUtf8(utf8, &pos);
    if (cp == '\t' || cp == '\n' || cp == '\r') continue;
    if (utf8proc_category(static_cast<utf8proc_int32_t>(cp)) == UTF8PROC_CATEGORY_CC) {
      return true;
    }
  }
  return false;
}

}  // namespace text
