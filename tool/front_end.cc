#include "tool/front_end.h"

#include <cstdio>

#include "plist/value.h"
#include "settings/plist_file_settings.h"
#include "text/unicode_class.h"
#include "text/utf.h"

namespace brtconfig {

namespace {

// The two key checks shared by a query and a change, in their fixed order: the key must
// be in the catalogue before the user's right to it is looked at. Prints the refusal and
// returns false when the key cannot be used.
bool KeyIsUsable(const std::string& key, Platform* platform) {
  if (!PListFileSettings::isValidSetting(key)) {
    fprintf(stderr, "%s is not a valid setting.\n", key.c_str());
    return false;
  }
  if (!PListFileSettings::canSetSetting(key, platform)) {
    if (platform->realUserId() != 0) {
      fprintf(stderr, "%s is a global setting.  Try again with sudo.\n", key.c_str());
    } else {
      fprintf(stderr, "%s is a user-specific setting.  Try again without sudo.\n", key.c_str());
    }
    return false;
  }
  return true;
}

}  // namespace

void Usage() {
  printf(
      "Teacher Configuration Utility\n"
      "\nRun this tool using sudo in order to\n"
      "change global settings for this device.\n"
      "Otherwise run as user to change Teacher-\n"
      "specific settings.\n\n"
      "Version 1.1 Usage: brtconfig <key> <newvalue> \n\n"
      "Example (to allow Teacher to change channels): \n\n"
      "\tsudo ./brtconfig EnableChannelSelect true \n\n"
      "Value names are case-sensitive.\n\n"
      "The following are global settings that can be changed:\n\n");
  for (const std::string& line : PListFileSettings::globalSettingStrings()) {
    printf("%s\n", line.c_str());
  }
  printf("\n\nThe following are teacher-specific settings that can be changed:\n\n");
  for (const std::string& line : PListFileSettings::userSettingStrings()) {
    printf("%s\n", line.c_str());
  }
  printf(
      "\nPlease note that the Teacher should not be running when configuring settings.\n"
      "\nAlso note that the following Teacher settings are only used when the teacher\n"
      "\"Becomes a Student\" or updates a computer running the Student:\n\n"
      "\tAllowInternetMonitoring\n"
      "\tAllowKeyboardMonitoring\n"
      "\tAuthorization\n"
      "\tClassroomServerAddress\n"
      "\tOneToOne\n"
      "\tRelayServerAddress\n"
      "\tSecureMode\n"
      "\tStealthMode\n"
      "\n");
}

std::string TrimValuePunctuation(std::string_view text) {
  if (!text::IsValidUtf8(text)) return std::string(text);
  size_t pos = 0;
  while (pos < text.size()) {
    size_t next = pos;
    char32_t cp = text::DecodeUtf8(text, &next);
    if (!text::IsPunctuation(cp)) break;
    // A minus sign before a digit belongs to the number: trimming it would turn a
    // negative value the user typed into a different, positive one.
    if (cp == U'-' && next < text.size()) {
      size_t after = next;
      if (text::IsDecimalDigit(text::DecodeUtf8(text, &after))) {
        return "-" + text::TrimPunctuation(text.substr(next));
      }
    }
    pos = next;
  }
  return text::TrimPunctuation(text.substr(pos));
}

SettingValue MakeSettingValue(std::string_view key, const std::vector<std::string>& values) {
  if (values.size() == 1) {
    if (PListFileSettings::isStringSetting(key)) return SettingValue(values[0]);
    return SettingValue(TrimValuePunctuation(values[0]));
  }
  plist::Array list;
  list.reserve(values.size());
  for (const std::string& text : values) list.emplace_back(text);
  return SettingValue(std::move(list));
}

int RunMain(const std::vector<std::string>& args, Platform* platform,
            const std::string& systemFolder) {
  // The count is checked before anything else, the key included.
  if (args.size() > kMaxArguments) {
    fprintf(stderr, "Too many parameters.\n");
    return 1;
  }
  if (args.size() == 2 && args[1] == "version") {
    printf("1.1\n");
    return 0;
  }
  if (args.size() == 1) {
    Usage();
    return 0;
  }
  if (args.empty()) return 0;

  const std::string& key = args[1];
  if (!KeyIsUsable(key, platform)) return 1;

  if (args.size() == 2) {
    return ChangeValue(key, nullptr, false, false, platform, systemFolder) ? 0 : 1;
  }

  SettingValue value =
      MakeSettingValue(key, std::vector<std::string>(args.begin() + 2, args.end()));
  if (!PListFileSettings::isValidValueForSetting(&value, key)) {
    fprintf(stderr, "invalid value type for %s.    Hint: %s\n", key.c_str(),
            PListFileSettings::stringForSetting(key).c_str());
    return 1;
  }
  bool students = PListFileSettings::settingAppliesToStudents(key);
  return ChangeValue(key, &value, true, students, platform, systemFolder) ? 0 : 1;
}

}  // namespace brtconfig
