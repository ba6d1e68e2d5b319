#include "tool/front_end.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testing/fake_platform.h"
#include "testing/temp_dir.h"

namespace brtconfig {
namespace {

struct ValueCase {
  const char* key;
  std::vector<std::string> values;
  SettingValue expected;
};

TEST(MakeSettingValueTest, BuildsTheValueAsTheSettingExpectsIt) {
  const ValueCase cases[] = {
      {"AlertOnUpdate", {"true."}, "true"},
      {"AlertOnUpdate", {"\"false\""}, "false"},
      {"AlertOnUpdate", {"\u201Ctrue\u201D"}, "true"},  // Typographic quotes.
      {"AllowAudio", {"(1)"}, "1"},
      {"AllowAudio", {"1.0."}, "1.0"},  // Punctuation inside stays.
      {"AllowAudio", {"..."}, ""},
      {"AllowAudio", {"+1"}, "+1"},        // A math symbol, not punctuation.
      {"AllowAudio", {"$1%"}, "$1"},       // A currency sign is not punctuation either.
      {"AllowAudio", {"\xFF."}, "\xFF."},  // Not UTF-8: left for validation to refuse.
      {"thumbnailDelay", {"-5000"}, "-5000"},
      {"thumbnailDelay", {"\"-5000\"."}, "-5000"},
      {"thumbnailDelay", {"--5"}, "-5"},
      {"thumbnailDelay", {"-x5"}, "x5"},
      {"thumbnailDelay", {"5000-"}, "5000"},
      {"thumbnailDelay", {"-"}, ""},
      {"thumbnailDelay", {"-\u0663"}, "-\u0663"},  // ARABIC-INDIC DIGIT THREE.
      {"thumbnailDelay", {"\u2010\u0035"}, "5"},   // HYPHEN then 5: no minus sign.
      {"channel", {"\"7.\""}, "\"7.\""},           // String settings stay as typed.
      {"ClassroomServerAddress", {"-host-"}, "-host-"},
      {"AllowAudio", {"1.", "-2"}, plist::Array{"1.", "-2"}},  // Lists are never trimmed.
      {"channels", {"\"1\"", "2", "3."}, plist::Array{"\"1\"", "2", "3."}},
      {"NoSuchKey", {"x."}, "x"},
  };
  for (const ValueCase& c : cases) {
    EXPECT_EQ(MakeSettingValue(c.key, c.values), c.expected)
        << c.key << " " << c.values[0] << " (" << c.values.size() << " values)";
  }
}

struct DaemonCase {
  unsigned uid;
  std::vector<std::string> args;
  int status;
  bool killsStudentDaemon;
  bool restartsPrefsDaemon;
};

TEST(RunMainTest, DaemonsAreToldOnlyWhenTheSettingConcernsThem) {
  TempDir home;
  TempDir system;
  const DaemonCase cases[] = {
      {0, {"StealthMode", "1"}, 0, true, false},
      {0, {"StealthMode"}, 0, false, false},       // A query never concerns students.
      {0, {"StealthMode", "2"}, 1, false, false},  // Refused before anything happens.
      {0, {"AlertOnUpdate", "true"}, 0, false, false},
      {501, {"logLevel"}, 0, false, true},  // Also with no preference file at all.
      {501, {"logLevel", "2"}, 1, false, false},
      {501, {"subnets", "10.0.0.1", "10.0.0.2"}, 0, false, true},
  };
  for (const DaemonCase& c : cases) {
    FakePlatform platform;
    platform.uid = c.uid;
    platform.home = home.path;
    platform.prefsDaemon = true;
    std::vector<std::string> args = c.args;
    args.insert(args.begin(), "brtconfig");
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(RunMain(args, &platform, system.path), c.status) << c.args[0];
    ::testing::internal::GetCapturedStdout();
    ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(platform.shellCommands,
              c.killsStudentDaemon ? std::vector<std::string>{"killall brdaemon 2> /dev/null"}
                                   : std::vector<std::string>{})
        << c.args[0];
    EXPECT_EQ(platform.programs.size(), c.restartsPrefsDaemon ? 1u : 0u) << c.args[0];
  }
}

}  // namespace
}  // namespace brtconfig
