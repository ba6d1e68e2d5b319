#include "text/escape.h"

#include <utf8proc.h>

#include "text/utf.h"

namespace text {
namespace {

// The escapes that read better than their number.
const char* NamedEscape(unsigned char byte) {
  switch (byte) {
    case '\\':
      return "\\\\";
    case 0x1B:
      return "\\e";
    case '\n':
      return "\\n";
    case '\t':
      return "\\t";
    case '\r':
      return "\\r";
    default:
      return nullptr;
  }
}

void AppendEscape(const char* prefix, char32_t value, int digits, std::string* out) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  *out += prefix;
  for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) {
    out->push_back(kHex[(value >> shift) & 15]);
  }
}

}  // namespace

bool IsHiddenCharacter(char32_t cp) {
  if (cp < 0x20 || (cp >= 0x7F && cp <= 0x9F)) return true;
  if (cp < 0xA0) return false;
  const utf8proc_category_t category = utf8proc_category(static_cast<utf8proc_int32_t>(cp));
  return category == UTF8PROC_CATEGORY_CF || category == UTF8PROC_CATEGORY_ZL ||
         category == UTF8PROC_CATEGORY_ZP;
}

std::string Escaped(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (size_t pos = 0; pos < bytes.size();) {
    const size_t start = pos;
    const char32_t cp = DecodeUtf8(bytes, &pos);
    // A U+FFFD decoded from one byte stands for a byte that is not UTF-8.
    const bool notUtf8 = cp == 0xFFFD && pos - start == 1;
    const auto byte = static_cast<unsigned char>(bytes[start]);
    if (const char* named = notUtf8 ? nullptr : NamedEscape(byte)) {
      out += named;
    } else if (notUtf8 || byte < 0x20 || byte == 0x7F) {
      AppendEscape("\\x", byte, 2, &out);
    } else if (IsHiddenCharacter(cp)) {
      if (cp > 0xFFFF) {
        AppendEscape("\\U", cp, 8, &out);
      } else {
        AppendEscape("\\u", cp, 4, &out);
      }
    } else {
      out.append(bytes, start, pos - start);
    }
  }
  return out;
}

}  // namespace text
