#include "text/number_text.h"

#include <utf8proc.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>

#include "text/unicode_class.h"
#include "text/utf.h"

namespace text {
namespace {

// Whole reals below this many are written out in full by ShortestRealText.
constexpr double kLargestPlainReal = 1e15;

// White space as the platform's scanners skip it: space separators, line and paragraph
// separators, and the controls tab to carriage return and NEL.
bool IsWhiteSpace(char32_t cp) {
  if ((cp >= 0x09 && cp <= 0x0D) || cp == 0x85) return true;
  const utf8proc_category_t category = utf8proc_category(static_cast<utf8proc_int32_t>(cp));
  return category == UTF8PROC_CATEGORY_ZS || category == UTF8PROC_CATEGORY_ZL ||
         category == UTF8PROC_CATEGORY_ZP;
}

// The value of a decimal digit. Unicode encodes every Nd digit in a contiguous run of
// ten, zero to nine, and such runs may follow one another (the mathematical digits form
// five), so the distance from the start of the unbroken Nd run, modulo ten, is the value.
int DigitValue(char32_t cp) {
  char32_t start = cp;
  while (start > 0 && IsDecimalDigit(start - 1)) --start;
  return static_cast<int>((cp - start) % 10);
}

// Returns the position after the leading white space of `utf8`.
size_t SkipWhiteSpace(std::string_view utf8) {
  size_t pos = 0;
  while (pos < utf8.size()) {
    size_t next = pos;
    if (!IsWhiteSpace(DecodeUtf8(utf8, &next))) break;
    pos = next;
  }
  return pos;
}

}  // namespace

int32_t IntValue(std::string_view utf8) {
  constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
  constexpr int64_t kMin = std::numeric_limits<int32_t>::min();
  size_t pos = SkipWhiteSpace(utf8);
  bool negative = false;
  if (pos < utf8.size() && (utf8[pos] == '+' || utf8[pos] == '-')) {
    negative = utf8[pos] == '-';
    ++pos;
  }
  // Accumulating past 2^31 only to clamp keeps the arithmetic far from int64 overflow.
  int64_t magnitude = 0;
  while (pos < utf8.size()) {
    size_t next = pos;
    const char32_t cp = DecodeUtf8(utf8, &next);
    // The platform reads UTF-16 code units, and the two halves of a digit beyond the
    // Basic Multilingual Plane are no digits to it.
    if (cp > 0xFFFF || !IsDecimalDigit(cp)) break;
    if (magnitude <= kMax) magnitude = magnitude * 10 + DigitValue(cp);
    pos = next;
  }
  if (negative) return static_cast<int32_t>(-magnitude < kMin ? kMin : -magnitude);
  return static_cast<int32_t>(magnitude > kMax ? kMax : magnitude);
}

bool BoolValue(std::string_view utf8) {
  size_t pos = SkipWhiteSpace(utf8);
  if (pos < utf8.size() && (utf8[pos] == '+' || utf8[pos] == '-')) ++pos;
  while (pos < utf8.size() && utf8[pos] == '0') ++pos;
  if (pos == utf8.size()) return false;
  const char c = utf8[pos];
  return c == 'Y' || c == 'y' || c == 'T' || c == 't' || (c >= '1' && c <= '9');
}

std::string ShortestRealText(double value, bool asFloat32, WholeReals whole) {
  char text[40];
  if (whole == WholeReals::kInFull && std::fabs(value) < kLargestPlainReal &&
      value == std::trunc(value)) {
    std::snprintf(text, sizeof text, "%.0f", value);
    return text;
  }
  for (int precision = 1; precision <= 17; ++precision) {
    std::snprintf(text, sizeof text, "%.*g", precision, value);
    const double back = std::strtod(text, nullptr);
    if (asFloat32 ? static_cast<float>(back) == static_cast<float>(value) : back == value) break;
  }
  return text;
}

}  // namespace text
