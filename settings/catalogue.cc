// The catalogue of settings: the static table and the questions asked of it.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "settings/plist_file_settings.h"
#include "settings/setting.h"

namespace brtconfig {
namespace {

// The table is constant-initialised, so it is usable before any other static
// constructor runs. Its order is the order of lookup and of the usage lists.
// clang-format off
const Setting settings[] = {
  {false, "AlertOnUpdate", kBoolType, GlobalSetting, 0, 1, "true/false"},
  {false, "AllowAudio", kIntType, GlobalSetting, 0, 1, "0/1"},
  {true, "AllowDumpUploads", kIntType, GlobalSetting, 0, 1, "0/1"},
  {true, "AllowInternetMonitoring", kIntType, GlobalSetting, 0, 1, "0/1"},
  {true, "AllowKeyboardMonitoring", kIntType, GlobalSetting, 0, 1, "0/1"},
  {true, "AllowTaskmanLimiting", kIntType, GlobalSetting, 0, 1, "0/1"},
  {true, "Authorization", kIntType, GlobalSetting, 0, 2147483647,
   "This is not a password, but an integer password hash."},
  {true, "ClassroomServerAddress", kStringType, GlobalSetting, 0, 0,
   "Address/hostname and port of Classroom Server (ie 10.16.2.4:8080)"},
  {false, "DisableDataTransmission", kBoolType, GlobalSetting, 0, 1,
   "true/false  Prevents changing network transmission settings"},
  {false, "DisableBrowseForStudents", kBoolType, GlobalSetting, 0, 1,
   "true/false  Prevents creation of class lists by browsing for students"},
  {false, "DisableClassLists", kBoolType, GlobalSetting, 0, 1,
   "true/false  Prevents use and creation of class lists"},
  {false, "EnableChannelSelect", kBoolType, GlobalSetting, 0, 1,
   "true/false  Allows the Teacher to change channels"},
  {true, "OneToOne", kIntType, GlobalSetting, 0, 1, "0/1"},
  {true, "RelayServerAddress", kStringType, GlobalSetting, 0, 0,
   "Address/hostname and port of Relay Server (ie 198.51.100.15:8081)"},
  {true, "SecureMode", kIntType, GlobalSetting, 0, 1, "0/1"},
  {true, "StealthMode", kIntType, GlobalSetting, 0, 1, "0/1"},
  {false, "UseLegacyScreenGrabber", kBoolType, GlobalSetting, 0, 1, "true/false"},
  {false, "AutoApproveRemoteControl", kBoolType, GlobalSetting, 0, 1,
   "Automatically approves remote control permission for Teacher computer.  "
   "Defaults to false.  true/false"},
  {false, "AllowRemoteControl", kBoolType, GlobalSetting, 0, 1,
   "Allows or disables Remote Control.  Defaults to true.  true/false"},
  {false, "CleverURL", kStringType, GlobalSetting, 0, 0, "URL of student information server."},
  {false, "MaxThumbnailStudents", kIntType, GlobalSetting, 1, 1000,
   "Maximum number of students allowed in Thumbnail view on channel 0.  Defaults to 40."},
  {false, "channel", kStringType, UserSetting, 1, 16000,
   "Channel.  Must be between 1 and 16000."},
  {false, "channels", kArrayType, UserSetting, 1, 16000,
   "List of channels.  Maximum 64.  Each channel must be between 1 and 16000."},
  {false, "limitTaskManager", kBoolType, UserSetting, 0, 1, "true/false"},
  {false, "logLevel", kIntType, UserSetting, 0, 1, "0/1"},
  {false, "subnets", kArrayType, UserSetting, 0, 0,
   "List of IP addresses.  Minimum 1, maximum 3"},
  {false, "transport", kIntType, UserSetting, 0, 2,
   "0 = broadcast, 1 = multicast, 2 = directed bcast"},
  {false, "useSingleChannel", kBoolType, UserSetting, 0, 1, "true/false"},
  {false, "showDualMonitors", kBoolType, UserSetting, 0, 1, "true/false"},
  {false, "dynamicClassListPath", kStringType, UserSetting, 0, 0,
   "file path to location of dynamic class list .csv files"},
  {false, "thumbnailDelay", kIntType, UserSetting, 1, 60000,
   "The amount of time to wait between requesting thumbnails, expressed in milliseconds.  "
   "Default is 5000."},
  {false, "limitDottedDecimal", kBoolType, UserSetting, 0, 1,
   "true/false Prevents dotted decimal and private browsing by students"},
};
// clang-format on

// The usage lines are formatted into a buffer of this size, so a line keeps at most
// one byte less.
constexpr size_t kListingBufferSize = 256;

}  // namespace

const std::vector<Setting>& PListFileSettings::allSettings() {
  static const std::vector<Setting> all(std::begin(settings), std::end(settings));
  return all;
}

const Setting* PListFileSettings::settingFromKey(std::string_view key) {
  // Every key of a file is looked up, and a file may hold many besides the settings:
  // grouped by the length of their names, a key is compared with a name or two at most
  // (the wide file in bench/README.md).
  static const std::vector<std::vector<const Setting*>> byLength = [] {
    std::vector<std::vector<const Setting*>> groups;
    for (const Setting& setting : settings) {
      const size_t length = std::string_view(setting.key).size();
      if (groups.size() <= length) groups.resize(length + 1);
      groups[length].push_back(&setting);
    }
    return groups;
  }();
  if (key.size() >= byLength.size()) return nullptr;
  for (const Setting* setting : byLength[key.size()]) {
    if (std::memcmp(setting->key, key.data(), key.size()) == 0) return setting;
  }
  return nullptr;
}

bool PListFileSettings::isValidSetting(std::string_view key) {
  return settingFromKey(key) != nullptr;
}

bool PListFileSettings::canSetSetting(std::string_view key, bool root) {
  const Setting* setting = settingFromKey(key);
  if (setting == nullptr) return false;
  switch (setting->settingType) {
    case GlobalSetting:
      return root;
    case UserSetting:
      return !root;
    default:
      return true;
  }
}

bool PListFileSettings::isStringSetting(std::string_view key) {
  const Setting* setting = settingFromKey(key);
  return setting != nullptr && std::string_view(setting->valueType) == kStringType;
}

bool PListFileSettings::isUserSetting(std::string_view key) {
  const Setting* setting = settingFromKey(key);
  return setting != nullptr && setting->settingType == UserSetting;
}

bool PListFileSettings::settingAppliesToStudents(std::string_view key) {
  const Setting* setting = settingFromKey(key);
  return setting != nullptr && setting->appliesToStudents;
}

std::string PListFileSettings::stringForSetting(std::string_view key) {
  const Setting* setting = settingFromKey(key);
  return setting != nullptr ? setting->hint : "";
}

std::vector<std::string> PListFileSettings::listOfType(SettingType type) {
  std::vector<std::string> lines;
  for (const Setting& setting : settings) {
    if (setting.settingType != type) continue;
    char buffer[kListingBufferSize];
    const int length = std::snprintf(buffer, sizeof buffer, "\t%-30s%s", setting.key, setting.hint);
    if (length < 0) continue;
    // snprintf reports the untruncated length; the buffer holds the first bytes of it.
    lines.emplace_back(buffer, std::min(static_cast<size_t>(length), sizeof buffer - 1));
  }
  return lines;
}

std::vector<std::string> PListFileSettings::globalSettingStrings() {
  return listOfType(GlobalSetting);
}

std::vector<std::string> PListFileSettings::userSettingStrings() { return listOfType(UserSetting); }

}  // namespace brtconfig
