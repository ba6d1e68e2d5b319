// How stored values are shown: the display text of a query and a listing.
#include "settings/display.h"

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "settings/setting.h"
#include "text/number_text.h"

namespace brtconfig {
namespace {

// Seconds from 1970-01-01 to 2001-01-01, where property-list dates count from.
constexpr double kUnixSecondsAt2001 = 978307200;
// Dates further out than about 3 million years are shown as their raw seconds.
constexpr double kMaxShownDateSeconds = 1e14;

std::string Decimal(int64_t n) {
  char text[24];
  std::snprintf(text, sizeof text, "%" PRId64, n);
  return text;
}

std::string DecimalOf(const plist::Integer& integer) {
  if (!integer.isUnsigned) return Decimal(integer.asSigned());
  char text[24];
  std::snprintf(text, sizeof text, "%" PRIu64, integer.bits);
  return text;
}

std::string ShortestReal(const plist::Real& real) {
  return text::ShortestRealText(real.value, real.isFloat32, text::WholeReals::kShortestG);
}

// "2026-12-08 15:05:45 +0000": the date in UTC, whole seconds.
std::string DateText(const plist::Date& date) {
  if (!(std::fabs(date.seconds) <= kMaxShownDateSeconds))
    return ShortestReal(plist::Real{date.seconds, false});
  const time_t seconds = static_cast<time_t>(std::floor(date.seconds + kUnixSecondsAt2001));
  struct tm utc;
  char text[64];
  if (!gmtime_r(&seconds, &utc) || !strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S +0000", &utc)) {
    return ShortestReal(plist::Real{date.seconds, false});
  }
  return text;
}

// "<0a1b2c3d 4e5f>": hexadecimal in groups of four bytes.
std::string DataText(const plist::Data& data) {
  static const char kHex[] = "0123456789abcdef";
  std::string text = "<";
  for (size_t i = 0; i < data.size(); ++i) {
    if (i > 0 && i % 4 == 0) text += ' ';
    text += kHex[data[i] >> 4];
    text += kHex[data[i] & 15];
  }
  return text + ">";
}

}  // namespace

// Numbers in decimal at full width, booleans as 1 and 0, strings as their text,
// containers on one line, as the platform's description of a value would show them.
std::string ElementText(const plist::Value& value) {
  switch (value.kind()) {
    case plist::Kind::kString:
      return std::string(value.string());
    case plist::Kind::kInteger:
      return DecimalOf(value.integer());
    case plist::Kind::kReal:
      return ShortestReal(value.real());
    case plist::Kind::kBoolean:
      return value.boolean() ? "1" : "0";
    case plist::Kind::kDate:
      return DateText(value.date());
    case plist::Kind::kData:
      return DataText(value.data());
    case plist::Kind::kUid:
      return DecimalOf(plist::Integer{value.uid().value, true});
    case plist::Kind::kArray: {
      std::string text = "(";
      for (size_t i = 0; i < value.array().size(); ++i) {
        if (i > 0) text += ", ";
        text += ElementText(value.array()[i]);
      }
      return text + ")";
    }
    case plist::Kind::kDictionary: {
      const plist::Dictionary& dict = value.dictionary();
      std::string text = "{";
      for (size_t i = 0; i < dict.size(); ++i) {
        if (i > 0) text += "; ";
        text.append(dict.keyAt(i)).append(" = ").append(ElementText(dict.valueAt(i)));
      }
      return text + "}";
    }
  }
  return std::string();
}

std::string DisplayText(const plist::Value& value) {
  switch (value.kind()) {
    case plist::Kind::kBoolean:
      return value.boolean() ? "true" : "false";
    case plist::Kind::kInteger:
      return Decimal(Int32Of(value.integer()));
    case plist::Kind::kReal:
      return Decimal(Int32Of(value.real().value));
    case plist::Kind::kArray: {
      // Every element is followed by a blank, the last one too.
      std::string text;
      for (const plist::Value& element : value.array()) text += ElementText(element) + " ";
      return text;
    }
    default:
      return ElementText(value);
  }
}

}  // namespace brtconfig
