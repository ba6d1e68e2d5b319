#include "tool/checks.h"

#include <cstdio>

#include "settings/plist_file_settings.h"
#include "tool/front_end.h"

namespace brtconfig {

bool KeyIsUsable(const std::string& key, const Run& run) {
  if (!PListFileSettings::isValidSetting(key)) {
    fprintf(stderr, "%s is not a valid setting.\n", ShownText(key, run).c_str());
    return false;
  }
  if (run.options.user) {
    if (PListFileSettings::isUserSetting(key)) return true;
    fprintf(stderr, "%s is a global setting and cannot be used with --user.\n", key.c_str());
    return false;
  }
  if (!PListFileSettings::canSetSetting(key, run.platform)) {
    if (run.platform->realUserId() != 0) {
      fprintf(stderr, "%s is a global setting.  Try again with sudo.\n", key.c_str());
    } else {
      fprintf(stderr, "%s is a user-specific setting.  Try again without sudo.\n", key.c_str());
    }
    return false;
  }
  return true;
}

std::optional<SettingValue> ValidValue(const std::string& key,
                                       const std::vector<std::string>& values) {
  SettingValue value = MakeSettingValue(key, values);
  if (!PListFileSettings::isValidValueForSetting(&value, key)) {
    fprintf(stderr, "invalid value type for %s.    Hint: %s\n", key.c_str(),
            PListFileSettings::stringForSetting(key).c_str());
    return std::nullopt;
  }
  return value;
}

}  // namespace brtconfig
