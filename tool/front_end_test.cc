#include "tool/front_end.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "testing/fake_platform.h"
#include "testing/temp_dir.h"
#include "tool/changes.h"

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

// Runs the tool in-process on `args` (without the program's name) and keeps its output.
struct Outcome {
  int status;
  std::string out, err;
};

Outcome RunTool(std::vector<std::string> args, FakePlatform* platform, const TempDir& system,
                const std::string& managed = "/nonexistent/managed") {
  args.insert(args.begin(), "brtconfig");
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  const int status = RunMain(args, platform, system.path, managed);
  std::string out = ::testing::internal::GetCapturedStdout();
  return {status, out, ::testing::internal::GetCapturedStderr()};
}

class ForUserTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform.uid = 0;
    platform.name = "root";
    platform.home = "/root-home";  // Never to be used for another user.
    platform.prefsDaemon = true;
    platform.accounts["bob"] = UserAccount{"bob", 1001, 20, bobHome.path};
    platform.accounts["toor"] = UserAccount{"toor", 0, 0, "/var/toor"};
    platform.accounts["nohome"] = UserAccount{"nohome", 1002, 20, ""};
    prefs = bobHome.path + "/Library/Preferences";
  }

  // True when no file in bob's home was looked at before the tool became bob.
  bool NothingOfBobBeforeTheChange() const {
    if (platform.becomeCalls.size() != 1) return false;
    for (size_t i = 0; i < platform.becomeCalls[0].filesAskedBefore; ++i) {
      if (platform.filesAsked[i].compare(0, bobHome.path.size(), bobHome.path) == 0) return false;
    }
    return true;
  }

  TempDir bobHome;
  TempDir system;
  FakePlatform platform;
  std::string prefs;
};

TEST_F(ForUserTest, ActsAsTheUserBeforeTouchingTheirFilesAndRestartsTheirDaemon) {
  ASSERT_EQ(mkdir((bobHome.path + "/Library").c_str(), 0755), 0);
  ASSERT_EQ(mkdir(prefs.c_str(), 0755), 0);
  ASSERT_TRUE(TempDir::writeFile(prefs + "/com.tovrika.teacher.plist",
                                 "<plist><dict><key>logLevel</key><integer>0</integer>"
                                 "</dict></plist>"));
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--user", "bob", "logLevel", "1"},
        std::vector<std::string>{"--user", "bob", "--list"}}) {
    platform.uid = 0;
    platform.becomeCalls.clear();
    platform.filesAsked.clear();
    platform.programs.clear();
    Outcome run = RunTool(args, &platform, system);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(NothingOfBobBeforeTheChange()) << args[2];
    EXPECT_EQ(platform.uid, 1001u);
    EXPECT_EQ(platform.programs,
              std::vector<std::vector<std::string>>{PrefsDaemonRestartCommand("bob")});
  }
  // Only the change is recorded, with whom it was made for.
  EXPECT_EQ(platform.systemLogLines,
            std::vector<std::string>{"root for bob changed " + prefs +
                                     "/com.tovrika.teacher.plist: logLevel: 0 -> 1"});
  EXPECT_EQ(TempDir::readFile(prefs + "/com.tovrika.teacher.plist").compare(0, 8, "bplist00"), 0);
}

struct RefusalCase {
  unsigned uid;
  std::vector<std::string> args;
  const char* message;
};

TEST_F(ForUserTest, RefusalsTouchNothing) {
  const RefusalCase cases[] = {
      {501, {"--user", "bob", "logLevel", "1"}, "--user can only be used as root.\n"},
      {0, {"--user", "alice", "logLevel"}, "alice is not a user of this computer.\n"},
      {0, {"--user", "toor", "logLevel"}, "toor is root: --user takes an ordinary user.\n"},
      {0, {"--user", "nohome", "logLevel"}, "nohome has no home folder.\n"},
      {0,
       {"--user", "bob", "StealthMode", "1"},
       "StealthMode is a global setting and cannot be used with --user.\n"},
      {0, {"--user", "bob", "logLevel", "7"}, "invalid value type for logLevel.    Hint: 0/1\n"},
      {0, {"--user", "bob", "nokey"}, "nokey is not a valid setting.\n"},
      {0, {"--user"}, "--user needs a user name.\n"},
      {0, {"--user", "--json", "logLevel"}, "--user needs a user name.\n"},
      {0, {"--user", "bob", "--user", "bob", "logLevel"}, "--user is given twice.\n"},
      {0,
       {"--frobnicate", "logLevel"},
       "--frobnicate is not a valid option.  Try brtconfig --help.\n"},
      {0, {"--list", "StealthMode"}, "--list cannot be used with a setting.\n"},
      {0, {"--json", "StealthMode", "1"}, "--json cannot be used with a change.\n"},
      {0, {"--json"}, "--json needs a setting or --list.\n"},
      {0, {"--user", "bob"}, "--user needs a setting, --list, --apply or --export-profile.\n"},
      {0, {"--apply", "x.json", "StealthMode"}, "--apply cannot be used with a setting.\n"},
      {0,
       {"--export-profile", "StealthMode"},
       "--export-profile cannot be used with a setting.\n"},
      {0, {"--list", "--apply", "x.json"}, "--list cannot be used with --apply.\n"},
      {0, {"--list", "--export-profile"}, "--list cannot be used with --export-profile.\n"},
      {0,
       {"--json", "--export-profile", "--apply", "x.json"},
       "--json cannot be used with --export-profile.\n"},
      {0, {"--check", "--list"}, "--check needs --apply.\n"},
      {0, {"--check", "StealthMode", "1"}, "--check needs --apply.\n"},
      {0, {"--check", "--dry-run", "--apply", "x.json"}, "--dry-run cannot be used with --check.\n"},
      {0,
       {"--check", "--export-profile", "--apply", "x.json"},
       "--check cannot be used with --export-profile.\n"},
      {0, {"--json", "--export-profile"}, "--json cannot be used with --export-profile.\n"},
      {0, {"--list", "--json", "--plist"}, "--plist cannot be used with --json.\n"},
      {0, {"--plist", "StealthMode"}, "--plist needs --list.\n"},
      {0,
       {"--dry-run", "--export-profile"},
       "--dry-run cannot be used with --export-profile.\n"},
      {0, {"--dry-run", "StealthMode"}, "--dry-run needs a change or --apply.\n"},
      {0, {"--identifier", "org.example", "--list"}, "--identifier needs --export-profile.\n"},
      {0, {"--uuid", "x", "--list"}, "--uuid needs --export-profile.\n"},
      {0, {"--list", "--list"}, "--list is given twice.\n"},
      {0, {"--export-profile", "--uuid", "x"}, "x is not a valid UUID.\n"},
      {501, {"--json", "StealthMode"}, "StealthMode is a global setting.  Try again with sudo.\n"},
  };
  for (const RefusalCase& c : cases) {
    platform.uid = c.uid;
    platform.filesAsked.clear();
    Outcome run = RunTool(c.args, &platform, system);
    EXPECT_EQ(run.status, 1) << c.message;
    EXPECT_EQ(run.err, c.message);
    EXPECT_EQ(run.out, "") << c.message;
    EXPECT_TRUE(platform.filesAsked.empty()) << c.message;
  }
  EXPECT_TRUE(platform.becomeCalls.empty());
  EXPECT_TRUE(platform.programs.empty());
}

TEST_F(ForUserTest, AFailedChangeOfUserTouchesNoFileOfTheirs) {
  platform.failBecomeUser = true;
  Outcome run = RunTool({"--user", "bob", "logLevel", "1"}, &platform, system);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "Unable to act as bob: cannot become bob: Operation not permitted\n");
  ASSERT_EQ(platform.becomeCalls.size(), 1u);
  EXPECT_EQ(platform.filesAsked.size(), platform.becomeCalls[0].filesAskedBefore);
  EXPECT_TRUE(NothingOfBobBeforeTheChange());
  EXPECT_TRUE(platform.programs.empty());
}

// A teacher's own run reads the profile the teacher's managed folder holds, as the
// teacher: the change is made, then the profile's value is named.
TEST(ProfileWarningTest, TeachersOwnProfileIsNamedAfterTheChange) {
  TempDir home, system, managed;
  FakePlatform platform;
  platform.home = home.path;
  const std::string prefs = home.path + "/Library/Preferences";
  ASSERT_EQ(mkdir((home.path + "/Library").c_str(), 0755), 0);
  ASSERT_EQ(mkdir(prefs.c_str(), 0755), 0);
  ASSERT_TRUE(TempDir::writeFile(prefs + "/com.brellan.teacher.plist", "<plist><dict/></plist>"));
  ASSERT_EQ(mkdir((managed.path + "/" + platform.name).c_str(), 0755), 0);
  ASSERT_TRUE(TempDir::writeFile(managed.path + "/" + platform.name + "/com.brellan.teacher.plist",
                                 "<plist><dict><key>thumbnailDelay</key><integer>2000</integer>"
                                 "</dict></plist>"));
  const Outcome outcome = RunTool({"thumbnailDelay", "5000"}, &platform, system, managed.path);
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.out, "thumbnailDelay = 5000\n");
  EXPECT_EQ(outcome.err,
            "Warning: a configuration profile sets thumbnailDelay = 2000; the profile's value "
            "takes precedence until the profile is removed.\n");
}

}  // namespace
}  // namespace brtconfig
