// The rules a new value must meet before any preference file is touched.
#include <cstdint>
#include <limits>
#include <optional>
#include <string_view>

#include "settings/plist_file_settings.h"
#include "settings/setting.h"
#include "text/number_text.h"
#include "text/unicode_class.h"
#include "text/utf.h"

namespace brtconfig {
namespace {

constexpr int32_t kInt32Max = std::numeric_limits<int32_t>::max();
constexpr int32_t kInt32Min = std::numeric_limits<int32_t>::min();

// Limits of the two list settings; fixed here, not taken from the catalogue's bounds.
constexpr size_t kMaxChannels = kMaxListValues;
constexpr int32_t kHighestChannel = 16000;
constexpr size_t kMaxSubnets = 3;
constexpr size_t kIpAddressParts = 4;
constexpr uint32_t kIpPartLimit = 256;

// The type code a number reports for itself: "c" for a boolean, "i" for an integer that
// fits in 32 signed bits, "" for any other number (and for values that are no number).
std::string_view NumberTypeCode(const SettingValue& value) {
  switch (value.kind()) {
    case plist::Kind::kBoolean:
      return kBoolType;
    case plist::Kind::kInteger: {
      const plist::Integer& integer = value.integer();
      const bool fits =
          !integer.isUnsigned && integer.asSigned() >= kInt32Min && integer.asSigned() <= kInt32Max;
      return fits ? kIntType : "";
    }
    default:
      return "";
  }
}

// The number of a value: a text read as a decimal integer, a number's own value (clamped
// to 32 bits rather than cut, so a huge number never passes as a small one). Nothing for
// the other kinds.
std::optional<int32_t> NumberOf(const SettingValue& value) {
  switch (value.kind()) {
    case plist::Kind::kString:
      return text::IntValue(value.string());
    case plist::Kind::kBoolean:
      return value.boolean() ? 1 : 0;
    case plist::Kind::kInteger: {
      const plist::Integer& integer = value.integer();
      if (integer.isUnsigned || integer.asSigned() > kInt32Max) return kInt32Max;
      if (integer.asSigned() < kInt32Min) return kInt32Min;
      return static_cast<int32_t>(integer.asSigned());
    }
    case plist::Kind::kReal:
      return Int32Of(value.real().value);
    default:
      return std::nullopt;
  }
}

// True when every UTF-16 code unit of `text` is a decimal digit; a digit beyond U+FFFF
// is two surrogate units and so is not one. Ill-formed UTF-8 never passes.
bool AllDecimalDigits(std::string_view text) {
  if (!text::IsValidUtf8(text)) return false;
  for (char16_t unit : text::ToUtf16(text)) {
    if (!text::IsDecimalDigit(unit)) return false;
  }
  return true;
}

// Text that is not UTF-8, or carries control characters other than tab and line ends,
// is refused for every setting: such bytes would otherwise reach the preference files
// and every program that reads them.
bool IsUnsafeText(std::string_view text) {
  return !text::IsValidUtf8(text) || text::HasForbiddenControl(text);
}

bool HasUnsafeText(const SettingValue& value) {
  if (value.isString()) return IsUnsafeText(value.string());
  if (value.isArray()) {
    for (const SettingValue& element : value.array()) {
      if (element.isString() && IsUnsafeText(element.string())) return true;
    }
  }
  return false;
}

bool IsValidChannel(std::optional<int32_t> n) {
  return n.has_value() && *n > 0 && *n <= kHighestChannel;
}

bool IsValidChannels(const SettingValue& value) {
  if (value.isArray()) {
    const plist::Array& elements = value.array();
    if (elements.size() > kMaxChannels) return false;
    // Elements are judged by the number their text starts with; no digit test.
    for (const SettingValue& element : elements) {
      if (!IsValidChannel(NumberOf(element))) return false;
    }
    return true;
  }
  if (value.isString()) {
    return IsValidChannel(NumberOf(value)) && PListFileSettings::valueIsInt(&value);
  }
  return false;
}

bool IsValidSubnets(const SettingValue& value) {
  if (value.isArray()) {
    const plist::Array& elements = value.array();
    if (elements.size() > kMaxSubnets) return false;
    for (const SettingValue& element : elements) {
      if (!element.isString() || !PListFileSettings::isValidIpAddress(element.string())) {
        return false;
      }
    }
    return true;
  }
  if (value.isString()) return PListFileSettings::isValidIpAddress(value.string());
  return false;
}

}  // namespace

bool isStringANumber(std::string_view text) { return !text.empty() && AllDecimalDigits(text); }

bool PListFileSettings::valueIsBool(const SettingValue* value) {
  if (value == nullptr) return false;
  if (NumberTypeCode(*value) == kBoolType) return true;
  if (!value->isString()) return false;
  return value->string() == "true" || value->string() == "false";
}

bool PListFileSettings::valueIsInt(const SettingValue* value) {
  if (value == nullptr) return false;
  if (NumberTypeCode(*value) == kIntType) return true;
  if (!value->isString()) return false;
  return AllDecimalDigits(value->string());
}

bool PListFileSettings::isValidIpAddress(std::string_view text) {
  // Every dot separates, so leading, trailing and doubled dots give empty parts.
  size_t parts = 0;
  size_t start = 0;
  while (true) {
    const size_t dot = text.find('.', start);
    const std::string_view part =
        text.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start);
    if (++parts > kIpAddressParts) return false;
    if (!isStringANumber(part)) return false;
    if (static_cast<uint32_t>(text::IntValue(part)) >= kIpPartLimit) return false;
    if (dot == std::string_view::npos) break;
    start = dot + 1;
  }
  return parts == kIpAddressParts;
}

bool PListFileSettings::isValidValueForSetting(const SettingValue* value, std::string_view key) {
  if (value == nullptr) return false;
  const Setting* setting = settingFromKey(key);
  if (setting == nullptr) return false;
  if (HasUnsafeText(*value)) return false;

  const std::string_view type = setting->valueType;
  if (type == kBoolType && !valueIsBool(value)) return false;
  if (type == kIntType) {
    if (!valueIsInt(value)) return false;
    // valueIsInt admits only digit texts and 32-bit integers, both of which have a number.
    const int32_t n = NumberOf(*value).value_or(0);
    if (n < setting->minValue) return false;
    // The saturated value stands for "too large" and is refused even where it is the
    // maximum (Authorization).
    if (n == kInt32Max) return false;
    if (n > setting->maxValue) return false;
  }
  if (key == "channels") return IsValidChannels(*value);
  if (key == "subnets") {
    if (!IsValidSubnets(*value)) return false;
  }
  return !value->isString() || !value->string().empty();
}

}  // namespace brtconfig
