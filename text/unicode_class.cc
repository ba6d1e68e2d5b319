#include "text/unicode_class.h"

#include <utf8proc.h>

#include "text/utf.h"

namespace text {
namespace {

utf8proc_category_t Category(char32_t cp) {
  // utf8proc answers "unassigned" for values beyond U+10FFFF rather than failing.
  return utf8proc_category(static_cast<utf8proc_int32_t>(cp));
}

}  // namespace

bool IsPunctuation(char32_t cp) {
  const utf8proc_category_t category = Category(cp);
  return category >= UTF8PROC_CATEGORY_PC && category <= UTF8PROC_CATEGORY_PO;
}

bool IsDecimalDigit(char32_t cp) { return Category(cp) == UTF8PROC_CATEGORY_ND; }

std::string TrimPunctuation(std::string_view utf8) {
  if (!IsValidUtf8(utf8)) return std::string(utf8);
  // One forward pass: `begin` ends the leading punctuation, `end` follows the last code
  // point that is not punctuation.
  size_t begin = 0;
  size_t end = 0;
  bool inLead = true;
  for (size_t pos = 0; pos < utf8.size();) {
    const bool punctuation = IsPunctuation(DecodeUtf8(utf8, &pos));
    if (inLead && punctuation) {
      begin = pos;
    } else if (!punctuation) {
      inLead = false;
      end = pos;
    }
  }
  return inLead ? std::string() : std::string(utf8.substr(begin, end - begin));
}

}  // namespace text
