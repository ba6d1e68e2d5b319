// One entry of the catalogue of settings, and the value a change carries.
#ifndef BRTCONFIG_SETTINGS_SETTING_H_
#define BRTCONFIG_SETTINGS_SETTING_H_

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
  int8_t settingType;      // GlobalSetting or UserSetting.
  int32_t minValue;        // Inclusive bounds; read for integer settings only.
  int32_t maxValue;
  const char* hint;  // One line of help.
};

// A new value: one string, or an array of strings when several values were given.
// Validation also judges numbers (booleans and integers), as the store holds them.
using SettingValue = plist::Value;

// The most values a change carries: the longest list a setting takes. Longer lists are
// refused before they are built.
inline constexpr size_t kMaxListValues = 64;

}  // namespace brtconfig

#endif  // BRTCONFIG_SETTINGS_SETTING_H_
