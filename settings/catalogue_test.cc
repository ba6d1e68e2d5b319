#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "settings/plist_file_settings.h"

namespace brtconfig {
namespace {

using S = PListFileSettings;

std::vector<std::string> KeysWhere(bool (*question)(std::string_view)) {
  std::vector<std::string> keys;
  for (const Setting& setting : S::allSettings()) {
    if (question(setting.key)) keys.push_back(setting.key);
  }
  return keys;
}

TEST(CatalogueTest, KeysMatchExactly) {
  for (const char* key : {"channel", "channels", "AllowAudio", "limitDottedDecimal"}) {
    ASSERT_NE(S::settingFromKey(key), nullptr) << key;
    EXPECT_STREQ(S::settingFromKey(key)->key, key);
    EXPECT_TRUE(S::isValidSetting(key)) << key;
  }
  for (const Setting& setting : S::allSettings()) {
    ASSERT_NE(S::settingFromKey(setting.key), nullptr) << setting.key;
    EXPECT_STREQ(S::settingFromKey(setting.key)->key, setting.key);
  }
  for (const char* key : {"Channel", "CHANNEL", "channel ", " channel", "Channels", "allowAudio",
                          "", "version", "limitDottedDecimalLongerThanEveryName"}) {
    EXPECT_EQ(S::settingFromKey(key), nullptr) << key;
    EXPECT_FALSE(S::isValidSetting(key)) << key;
    EXPECT_EQ(S::stringForSetting(key), "") << key;
    EXPECT_FALSE(S::isStringSetting(key) || S::isUserSetting(key) ||
                 S::settingAppliesToStudents(key))
        << key;
  }
  std::set<std::string> keys;
  for (const Setting& setting : S::allSettings()) {
    EXPECT_TRUE(keys.insert(setting.key).second) << "duplicate " << setting.key;
  }
  EXPECT_EQ(keys.size(), 32u);
}

TEST(CatalogueTest, ClassifiesSettings) {
  EXPECT_EQ(KeysWhere(S::isStringSetting),
            (std::vector<std::string>{"ClassroomServerAddress", "RelayServerAddress", "CleverURL",
                                      "channel", "dynamicClassListPath"}));
  EXPECT_EQ(KeysWhere(S::settingAppliesToStudents),
            (std::vector<std::string>{"AllowDumpUploads", "AllowInternetMonitoring",
                                      "AllowKeyboardMonitoring", "AllowTaskmanLimiting",
                                      "Authorization", "ClassroomServerAddress", "OneToOne",
                                      "RelayServerAddress", "SecureMode", "StealthMode"}));
  EXPECT_EQ(
      KeysWhere(S::isUserSetting),
      (std::vector<std::string>{"channel", "channels", "limitTaskManager", "logLevel", "subnets",
                                "transport", "useSingleChannel", "showDualMonitors",
                                "dynamicClassListPath", "thumbnailDelay", "limitDottedDecimal"}));
  EXPECT_EQ(S::stringForSetting("AllowAudio"), "0/1");
}

TEST(CatalogueTest, RootMaySetOnlyGlobalSettingsAndOthersOnlyTeacherSettings) {
  for (const bool root : {true, false}) {
    EXPECT_EQ(S::canSetSetting("StealthMode", root), root);
    EXPECT_EQ(S::canSetSetting("channels", root), !root);
    EXPECT_FALSE(S::canSetSetting("nope", root));
    EXPECT_FALSE(S::canSetSetting("Allowaudio", root));
  }
}

TEST(CatalogueTest, ListsEachScopeInTableOrder) {
  const std::vector<std::string> global = S::globalSettingStrings();
  const std::vector<std::string> user = S::userSettingStrings();
  ASSERT_EQ(global.size(), 21u);
  ASSERT_EQ(user.size(), 11u);
  EXPECT_EQ(global.front(), "\tAlertOnUpdate" + std::string(17, ' ') + "true/false");
  EXPECT_EQ(global.back().substr(0, 21), "\tMaxThumbnailStudents");
  EXPECT_EQ(user.front(),
            "\tchannel" + std::string(23, ' ') + "Channel.  Must be between 1 and 16000.");
  EXPECT_EQ(user.back().substr(0, 19), "\tlimitDottedDecimal");
  // The longest line: a 14-character key and the longest hint.
  EXPECT_EQ(user[9],
            "\tthumbnailDelay                The amount of time to wait between requesting "
            "thumbnails, expressed in milliseconds.  Default is 5000.");
  EXPECT_EQ(user[9].size(), 133u);
  EXPECT_EQ(S::listOfType(GlobalSetting), global);
}

}  // namespace
}  // namespace brtconfig
