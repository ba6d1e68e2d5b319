#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "settings/plist_file_settings.h"

namespace brtconfig {
namespace {

using S = PListFileSettings;
using Values = std::vector<SettingValue>;

SettingValue List(std::vector<std::string> items) {
  return SettingValue(plist::Array(items.begin(), items.end()));
}

SettingValue Int(int64_t i) { return SettingValue::fromInteger(i); }

std::string Describe(const SettingValue& value) {
  if (value.isString()) return "\"" + std::string(value.string()) + "\"";
  if (value.isArray()) return "a list of " + std::to_string(value.array().size());
  return "a number";
}

// Every value of `accepted` is valid for `key`, and no value of `refused` is.
void ExpectRule(const char* key, const Values& accepted, const Values& refused) {
  for (const SettingValue& value : accepted) {
    EXPECT_TRUE(S::isValidValueForSetting(&value, key)) << key << " " << Describe(value);
  }
  for (const SettingValue& value : refused) {
    EXPECT_FALSE(S::isValidValueForSetting(&value, key)) << key << " " << Describe(value);
  }
}

TEST(ValidationTest, NoValueOrUnknownKeyIsNeverValid) {
  for (const Setting& setting : S::allSettings()) {
    EXPECT_FALSE(S::isValidValueForSetting(nullptr, setting.key)) << setting.key;
  }
  for (const char* key : {"Channel", "alertOnUpdate", "AllowAudio ", ""}) {
    ExpectRule(key, {}, {"5", "true", "x", List({"1"})});
  }
}

TEST(ValidationTest, IntegerSettingsHoldTheirBounds) {
  const struct {
    const char* key;
    int32_t lowest, highest;
  } bounds[] = {{"AllowAudio", 0, 1},
                {"AllowDumpUploads", 0, 1},
                {"AllowInternetMonitoring", 0, 1},
                {"AllowKeyboardMonitoring", 0, 1},
                {"AllowTaskmanLimiting", 0, 1},
                {"Authorization", 0, 2147483646},
                {"OneToOne", 0, 1},
                {"SecureMode", 0, 1},
                {"StealthMode", 0, 1},
                {"MaxThumbnailStudents", 1, 1000},
                {"logLevel", 0, 1},
                {"transport", 0, 2},
                {"thumbnailDelay", 1, 60000}};
  for (const auto& b : bounds) {
    const int64_t below = b.lowest - 1, above = int64_t{b.highest} + 1;
    ExpectRule(b.key,
               {std::to_string(b.lowest), std::to_string(b.highest), Int(b.lowest), Int(b.highest)},
               {std::to_string(above), Int(below), Int(above), "2147483647", "99999999999",
                List({"1", "1"})});
    if (below >= 0) ExpectRule(b.key, {}, {std::to_string(below)});
  }
}

TEST(ValidationTest, IntegerTextIsDigitsOnly) {
  // Digits of other scripts count; one beyond the BMP is two units that are no digits.
  // Booleans, reals and integers beyond 32 bits are numbers without the integer code.
  ExpectRule("AllowAudio", {"01", "\u0661"},
             {"", "+1", "1 ", " 1", "1.0", "\u0662", "\U0001D7CF", true, SettingValue::fromReal(1),
              Int(int64_t{1} << 32)});
  ExpectRule("thumbnailDelay", {"\u06F5\u06F0\u06F0\u06F0"}, {"1,000"});
}

TEST(ValidationTest, BooleanSettingsTakeTrueAndFalseOnly) {
  ExpectRule("AlertOnUpdate", {"true", "false", true, false},
             {"TRUE", "True", "yes", "1", "", Int(1), List({"true", "true"})});
}

TEST(ValidationTest, StringSettingsTakeAnythingButEmptyText) {
  ExpectRule("ClassroomServerAddress", {"10.0.0.1:8080", List({"a", "b"}), Int(5)}, {""});
  ExpectRule("channel", {"0", "16001", "abc"}, {""});
}

TEST(ValidationTest, ChannelsTakeUpToSixtyFourChannelsFrom1To16000) {
  const std::vector<std::string> ones(64, "1");
  std::vector<std::string> tooMany = ones;
  tooMany.push_back("1");
  // List elements count by the number their text starts with; they get no digit test.
  ExpectRule("channels",
             {"1", "16000", "\u0661\u0666\u0660\u0660\u0660", List(ones), List({}),
              List({"5", "12abc"}), List({" 7", "16000"})},
             {"0", "16001", "12a", "", List(tooMany), List({"5", "0"}), List({"-3", "5"}),
              List({"16001"}), List({"\U0001D7D3"}), Int(5)});
}

TEST(ValidationTest, SubnetsTakeUpToThreeDottedQuads) {
  const std::string good = "10.1.2.255";
  ExpectRule("subnets",
             {good, "0.0.0.0", "010.001.002.003", "\u0661\u0660.0.0.1", List({good, good, good})},
             {"10.1.2.256", "10.1.2", "10.1.2.3.4", "10..2.3", ".1.2.3", " 10.1.2.3", "a.b.c.d",
              "10.1.2.99999999999", "", List({good, good, good, good}), List({good, "10.1.2.3."}),
              Int(1)});
}

TEST(ValidationTest, IntegerTestsOnTheirOwn) {
  const SettingValue empty(""), wide = Int(int64_t{1} << 32);
  EXPECT_TRUE(S::valueIsInt(&empty));
  EXPECT_FALSE(S::valueIsInt(&wide));  // An integer beyond 32 bits reports no "i".
  EXPECT_FALSE(isStringANumber(""));
  EXPECT_TRUE(isStringANumber("\u0966\u096F"));
  EXPECT_FALSE(isStringANumber("\U0001D7CE"));
}

TEST(ValidationTest, UnsafeTextIsRefusedForEverySetting) {
  ExpectRule("CleverURL", {"a\tb\nc\rd", List({"a\tb", "c"})},
             {"a\x01", "\x1B[2J", "/a\x7F", "a\u0085", "\xFF", "\xC0\xAF", std::string("a\0b", 3),
              List({"ok", "bad\x1B"})});
  ExpectRule("channels", {}, {List({"5", "5\xFF"})});
}

}  // namespace
}  // namespace brtconfig
