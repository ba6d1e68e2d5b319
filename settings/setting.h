// One entry of the catalogue of settings, and the value a change carries.
#ifndef BRTCONFIG_SETTINGS_SETTING_H_
#define BRTCONFIG_SETTINGS_SETTING_H_

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "plist/value.h"

namespace brtconfig {

// Who may handle a setting: root alone (global), or an ordinary user alone (teacher).
enum SettingType : int8_t {
  GlobalSetting = 1,
  UserSetting = 2,
};

// The four value type codes, compared as exact text.
inline constexpr char kBoolType[] = "c";
inline constexpr char kIntType[] = "i";
inline constexpr char kStringType[] = "{NSString=#}";
inline constexpr char kArrayType[] = "{NSArray=#}";

struct Setting {
  bool appliesToStudents;  // Also written into the student settings file by root.
  const char* key;         // The command-line name and the preference-file key.
  const char* valueType;   // One of the four type codes above.
  SettingType settingType;  // GlobalSetting or UserSetting.
  int32_t minValue;        // Inclusive bounds; read for integer settings only.
  int32_t maxValue;
  const char* hint;  // One line of help.
};

// A new value: one string, or an array of strings when several values were given.
// Validation also judges numbers (booleans and integers), as the store holds them.
using SettingValue = plist::Value;

// An integer number read as a signed 32-bit value keeps the low 32 bits of its 64-bit
// pattern, as the platform's intValue does for a larger number.
inline int32_t Int32Of(const plist::Integer& integer) {
  return static_cast<int32_t>(static_cast<uint32_t>(integer.bits));
}

// A real number read as a signed 32-bit value: its integer part, held to the 32-bit
// range, NaN as 0 (the plain C conversion would be undefined for all three).
inline int32_t Int32Of(double real) {
  if (std::isnan(real)) return 0;
  if (real >= 2147483647.0) return INT32_MAX;
  if (real <= -2147483648.0) return INT32_MIN;
  return static_cast<int32_t>(real);
}

// The most values a change carries: the longest list a setting takes. Longer lists are
// refused before they are built.
inline constexpr size_t kMaxListValues = 64;

}  // namespace brtconfig

#endif  // BRTCONFIG_SETTINGS_SETTING_H_
