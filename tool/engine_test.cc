#include "tool/engine.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "settings/plist_file_settings.h"
#include "testing/fake_platform.h"
#include "testing/temp_dir.h"
#include "settings/preference_files.h"
#include "tool/changes.h"
#include "tool/managed.h"

namespace brtconfig {
namespace {

// A fake that also records every file written, in order, and can refuse some writes.
class WriteRecordingPlatform : public FakePlatform {
 public:
  std::unique_ptr<AtomicWrite> startAtomicWrite(const std::string& path, const Ownership* ownership,
                                                std::string* error) override {
    writes.push_back(path);
    if (failingWrites.count(path) != 0) {
      *error = "refused by the test";
      return nullptr;
    }
    return FakePlatform::startAtomicWrite(path, ownership, error);
  }

  LockStatus lockFile(const std::string& path, unsigned waitMillis,
                      std::unique_ptr<FileLock>* lock) override {
    locks.push_back(path);
    if (vanishing.count(path) != 0) std::remove(path.c_str());
    return FakePlatform::lockFile(path, waitMillis, lock);
  }

  std::vector<std::string> writes;
  std::vector<std::string> locks;
  std::set<std::string> failingWrites;
  std::set<std::string> vanishing;  // Removed, as by someone else, when a lock is asked.
};

// An XML property list holding a dictionary with `entries` (already XML).
std::string PlistWith(const std::string& entries) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
         "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
         "<plist version=\"1.0\">\n<dict>\n" +
         entries + "</dict>\n</plist>\n";
}

constexpr char kTeacher[] = "com.brellan.teacher.plist";
constexpr char kOldTeacher[] = "com.tovrika.teacher.plist";
constexpr char kConsole[] = "com.brellan.techconsole.plist";
constexpr char kOldConsole[] = "com.tovrika.techconsole.plist";
constexpr char kStudent[] = "com.brellan.student.settings.plist";
constexpr char kOldStudent[] = "com.tovrika.student.settings.plist";

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform.uid = 0;
    platform.home = home.path;
  }

  std::string SystemFile(const char* name) const { return system.file(name); }
  void MakeSystemFile(const char* name, const std::string& entries = "") {
    ASSERT_TRUE(TempDir::writeFile(SystemFile(name), PlistWith(entries)));
  }

  // The key's display text in the file at `path`, read through a fresh store.
  std::optional<std::string> Stored(const std::string& path, const char* key) {
    PListFileSettings settings(path, &platform);
    if (!settings.open()) return "<unreadable>";
    return settings.valueForKey(key);
  }

  // Runs the engine for a query (no value) or a single change, and keeps what it printed.
  bool FanOut(const char* key, const SettingValue* value) {
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    brtconfig::Run run = MakeRun(&platform, system.path);
    bool ok;
    if (value) {
      run.action = Action::kChange;
      ok = ChangeSettings({{key, *value}}, ManagedPreferences(), run).ok;
    } else {
      ok = ShowSetting(key, run);
    }
    out = ::testing::internal::GetCapturedStdout();
    err = ::testing::internal::GetCapturedStderr();
    return ok;
  }

  TempDir system;
  TempDir home;
  WriteRecordingPlatform platform;
  std::string out;
  std::string err;
};

TEST_F(EngineTest, UserPrefsFolderLiesInTheHomeFolder) {
  const std::pair<std::optional<std::string>, std::string> cases[] = {
      {std::string("/Users/t"), "/Users/t/Library/Preferences"},
      {std::string("/Users/t/"), "/Users/t/Library/Preferences"},
      {std::string("/"), "/Library/Preferences"},
      {std::string(""), ""},
      {std::nullopt, ""},
  };
  for (const auto& c : cases) {
    platform.home = c.first;
    EXPECT_EQ(UserPrefsFolder(&platform), c.second) << c.first.value_or("(none)");
  }
}

TEST_F(EngineTest, RootFindsSystemFilesInCandidateOrder) {
  MakeSystemFile(kOldConsole);
  MakeSystemFile(kOldTeacher);
  MakeSystemFile(kStudent);
  EXPECT_EQ(PreferenceFilePaths(&platform, MakeRun(&platform, system.path).prefsFolder),
            (std::vector<std::string>{SystemFile(kOldTeacher), SystemFile(kOldConsole)}));
  MakeSystemFile(kConsole);
  MakeSystemFile(kTeacher);
  EXPECT_EQ(PreferenceFilePaths(&platform, MakeRun(&platform, system.path).prefsFolder),
            (std::vector<std::string>{SystemFile(kTeacher), SystemFile(kOldTeacher),
                                      SystemFile(kConsole), SystemFile(kOldConsole)}));
}

TEST_F(EngineTest, UserLooksOnlyInOwnFolder) {
  for (const char* name : {kTeacher, kOldTeacher, kConsole, kOldConsole}) MakeSystemFile(name);
  platform.uid = 501;
  EXPECT_TRUE(PreferenceFilePaths(&platform, MakeRun(&platform, system.path).prefsFolder).empty());

  std::string prefs = home.path + "/Library/Preferences";
  ASSERT_EQ(mkdir((home.path + "/Library").c_str(), 0755), 0);
  ASSERT_EQ(mkdir(prefs.c_str(), 0755), 0);
  ASSERT_TRUE(TempDir::writeFile(prefs + "/" + kOldConsole, PlistWith("")));
  EXPECT_EQ(PreferenceFilePaths(&platform, MakeRun(&platform, system.path).prefsFolder),
            std::vector<std::string>{prefs + "/" + kOldConsole});

  // Without a home folder the bare names are looked up in the working folder. A child
  // process changes into it, so that this one keeps its own: an unprivileged run cannot
  // always enter that again by name (a build inside a folder only its owner may enter).
  platform.home = std::nullopt;
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::string names = "cannot enter " + prefs;
    if (chdir(prefs.c_str()) == 0) {
      names.clear();
      for (const std::string& path : PreferenceFilePaths(&platform, MakeRun(&platform, system.path).prefsFolder)) {
        names += path + "\n";
      }
    }
    const ssize_t written = write(fds[1], names.data(), names.size());
    _exit(written == static_cast<ssize_t>(names.size()) ? 0 : 1);
  }
  close(fds[1]);
  std::string found;
  char buffer[256];
  for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) found.append(buffer, n);
  close(fds[0]);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(found, std::string(kOldConsole) + "\n");
}

TEST_F(EngineTest, FailingFirstFileSilencesThePrintButLaterFilesChange) {
  ASSERT_TRUE(TempDir::writeFile(SystemFile(kTeacher), "not a property list"));
  MakeSystemFile(kOldConsole);
  SettingValue value("true");
  EXPECT_FALSE(FanOut("AlertOnUpdate", &value));
  EXPECT_EQ(out, "");
  EXPECT_EQ(err, "Unable to open teacher preference file.\n");
  EXPECT_EQ(TempDir::readFile(SystemFile(kTeacher)), "not a property list");
  EXPECT_EQ(Stored(SystemFile(kOldConsole), "AlertOnUpdate"), "true");

  // A first file that is read but cannot be written back: no print either.
  MakeSystemFile(kTeacher);
  platform.failingWrites.insert(SystemFile(kTeacher));
  value = SettingValue("false");
  EXPECT_FALSE(FanOut("AlertOnUpdate", &value));
  EXPECT_EQ(out, "");
  EXPECT_EQ(err, "Unable to save settings\n");
  EXPECT_EQ(Stored(SystemFile(kOldConsole), "AlertOnUpdate"), "false");

  // A later file failing still prints from the first.
  platform.failingWrites = {SystemFile(kOldConsole)};
  EXPECT_FALSE(FanOut("AlertOnUpdate", &value));
  EXPECT_EQ(out, "AlertOnUpdate = false\n");
  EXPECT_EQ(err, "Unable to save settings\n");
}

TEST_F(EngineTest, AFileGoneBeforeItsLockIsSkippedAndNeverMade) {
  MakeSystemFile(kTeacher);
  MakeSystemFile(kOldConsole);
  MakeSystemFile(kStudent);
  platform.vanishing = {SystemFile(kTeacher), SystemFile(kStudent)};
  SettingValue value("1");
  EXPECT_TRUE(FanOut("StealthMode", &value));
  EXPECT_EQ(out, "StealthMode = 1\n");  // From the next file, as if the first never was.
  EXPECT_EQ(err, "");
  EXPECT_EQ(Stored(SystemFile(kOldConsole), "StealthMode"), "1");
  EXPECT_EQ(TempDir::list(system.path), (std::vector<std::string>{kOldConsole}));

  MakeSystemFile(kTeacher);
  MakeSystemFile(kStudent);
  platform.writes.clear();
  ::testing::internal::CaptureStdout();
  brtconfig::Run run = MakeRun(&platform, system.path);
  run.action = Action::kApply;
  EXPECT_TRUE(ChangeSettings({{"StealthMode", SettingValue("0")}}, ManagedPreferences(run), run).ok);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "StealthMode = 0\n");
  EXPECT_EQ(platform.writes, std::vector<std::string>{SystemFile(kOldConsole)});
  EXPECT_EQ(TempDir::list(system.path), (std::vector<std::string>{kOldConsole}));
}

struct MirrorCase {
  bool student;
  bool oldStudent;
  const char* written;  // The student file expected to change, or null.
};

TEST_F(EngineTest, RootMirrorsIntoTheExistingStudentFileOnly) {
  const MirrorCase cases[] = {
      {true, true, kStudent},
      {false, true, kOldStudent},
      {true, false, kStudent},
      {false, false, nullptr},
  };
  SettingValue value("1");
  for (const MirrorCase& c : cases) {
    for (const char* name : {kStudent, kOldStudent}) std::remove(SystemFile(name).c_str());
    if (c.student) MakeSystemFile(kStudent);
    if (c.oldStudent) MakeSystemFile(kOldStudent);
    MakeSystemFile(kTeacher);
    MakeSystemFile(kOldConsole);
    platform.writes.clear();
    platform.shellCommands.clear();

    EXPECT_TRUE(FanOut("StealthMode", &value));
    EXPECT_EQ(out, "StealthMode = 1\n");
    std::vector<std::string> writes = {SystemFile(kTeacher), SystemFile(kOldConsole)};
    if (c.written) {
      // The mirror follows each teacher-side file, so the student file is written twice.
      writes = {SystemFile(kTeacher), SystemFile(c.written), SystemFile(kOldConsole),
                SystemFile(c.written)};
      EXPECT_EQ(Stored(SystemFile(c.written), "StealthMode"), "1");
    }
    EXPECT_EQ(platform.writes, writes) << c.student << c.oldStudent;
    EXPECT_EQ(platform.exists(SystemFile(kStudent)), c.student);
    EXPECT_EQ(platform.exists(SystemFile(kOldStudent)), c.oldStudent);
    EXPECT_EQ(platform.shellCommands, std::vector<std::string>{"killall brdaemon 2> /dev/null"});
  }
}

TEST_F(EngineTest, StudentSaveFailureIsReportedAfterEachTeacherFile) {
  MakeSystemFile(kTeacher);
  MakeSystemFile(kOldTeacher);
  MakeSystemFile(kStudent);
  platform.failingWrites.insert(SystemFile(kStudent));
  SettingValue value("0");
  EXPECT_FALSE(FanOut("SecureMode", &value));
  EXPECT_EQ(out, "SecureMode = 0\n");
  EXPECT_EQ(err, "failed to save student settings.\nfailed to save student settings.\n");
  EXPECT_EQ(Stored(SystemFile(kOldTeacher), "SecureMode"), "0");
}

TEST_F(EngineTest, OnlyRootMirrorsWhileTheKillNeedsOnlyTheStudentsFlag) {
  MakeSystemFile(kStudent);
  platform.uid = 501;
  platform.prefsDaemon = true;
  SettingValue value("1");
  EXPECT_TRUE(FanOut("StealthMode", &value));
  EXPECT_EQ(out, "");  // No teacher-side file of this user: nothing printed.
  EXPECT_TRUE(platform.writes.empty());
  EXPECT_EQ(platform.shellCommands, std::vector<std::string>{"killall brdaemon 2> /dev/null"});
  EXPECT_TRUE(platform.programs.empty());  // Not a teacher-specific setting.
}

TEST_F(EngineTest, ApplyLocksAndWritesEachFileOnceAndTellsTheStudentDaemonOnce) {
  MakeSystemFile(kTeacher);
  MakeSystemFile(kOldConsole);
  MakeSystemFile(kStudent, "<key>Kept</key><string>yes</string>");
  const std::vector<Change> changes = {
      {"StealthMode", SettingValue("1")},
      {"AlertOnUpdate", SettingValue("true")},
      {"ClassroomServerAddress", SettingValue("10.1.1.1:8080")},
  };
  for (bool dryRun : {true, false}) {
    brtconfig::Run run = MakeRun(&platform, system.path);
    run.action = Action::kApply;
    run.options.dryRun = dryRun;
    platform.writes.clear();
    platform.locks.clear();
    platform.shellCommands.clear();
    ::testing::internal::CaptureStdout();
    const bool ok = ChangeSettings(changes, ManagedPreferences(run), run).ok;
    out = ::testing::internal::GetCapturedStdout();
    EXPECT_TRUE(ok);
    if (dryRun) {
      EXPECT_TRUE(platform.locks.empty());  // A preview reads as a query does.
      EXPECT_TRUE(platform.writes.empty());
      EXPECT_TRUE(platform.shellCommands.empty());
      EXPECT_EQ(Stored(SystemFile(kTeacher), "StealthMode"), std::nullopt);
      continue;
    }
    EXPECT_EQ(out,
              "StealthMode = 1\nAlertOnUpdate = true\nClassroomServerAddress = 10.1.1.1:8080\n");
    EXPECT_EQ(platform.writes,
              (std::vector<std::string>{SystemFile(kTeacher), SystemFile(kOldConsole),
                                        SystemFile(kStudent)}));
    EXPECT_EQ(platform.shellCommands, std::vector<std::string>{"killall brdaemon 2> /dev/null"});
    EXPECT_EQ(Stored(SystemFile(kOldConsole), "AlertOnUpdate"), "true");
    EXPECT_EQ(Stored(SystemFile(kStudent), "StealthMode"), "1");
    EXPECT_EQ(Stored(SystemFile(kStudent), "AlertOnUpdate"), std::nullopt);  // Not a student's.
    EXPECT_EQ(Stored(SystemFile(kStudent), "Kept"), "yes");
  }
}

// --apply saves a file only when one of its values changes, kills the student daemon
// only when the student file changed, locks only the files it changes, and logs each
// changed value; a single change still saves every file and kills the daemon, but logs
// only what changed.
struct RepeatCase {
  Action action;
  const char* drift;                 // A file someone else changed before the run, or null.
  std::vector<const char*> written;  // Also the files whose changes are logged, in order.
  bool kills;
};

TEST_F(EngineTest, ApplyActsOnlyOnChangeAndLogsEachChangedValue) {
  const char* const audio = "<key>AllowAudio</key><integer>1</integer>";
  MakeSystemFile(kTeacher, audio);
  MakeSystemFile(kOldConsole, audio);
  MakeSystemFile(kStudent);
  platform.sudo = "ad\nmin";  // Shown escaped, on one line.
  const RepeatCase cases[] = {
      {Action::kApply, nullptr, {kTeacher, kOldConsole, kStudent}, true},
      {Action::kApply, nullptr, {}, false},
      {Action::kApply, kStudent, {kStudent}, true},
      {Action::kApply, kOldConsole, {kOldConsole}, false},
      {Action::kChange, nullptr, {kTeacher, kStudent, kOldConsole, kStudent}, true},
  };
  for (const RepeatCase& c : cases) {
    if (c.drift) MakeSystemFile(c.drift, "<key>StealthMode</key><integer>0</integer>");
    brtconfig::Run run = MakeRun(&platform, system.path);
    run.action = c.action;
    platform.writes.clear();
    platform.locks.clear();
    platform.shellCommands.clear();
    platform.systemLogLines.clear();
    ::testing::internal::CaptureStdout();
    EXPECT_TRUE(ChangeSettings({{"StealthMode", SettingValue("1")}, {"AllowAudio", SettingValue("1")}},
                               ManagedPreferences(), run).ok);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "StealthMode = 1\nAllowAudio = 1\n");
    std::vector<std::string> written, logged;
    for (const char* name : c.written) written.push_back(SystemFile(name));
    const std::string who = "teacher (sudo ad\\nmin) changed ";
    for (const std::string& path : written) {
      logged.push_back(who + path + ": StealthMode: " + (c.drift ? "0" : "not set") + " -> 1");
      if (c.drift == kOldConsole) logged.push_back(who + path + ": AllowAudio: not set -> 1");
    }
    if (c.action == Action::kChange) logged.clear();  // Every value was in place.
    EXPECT_EQ(platform.writes, written) << c.written.size();
    EXPECT_EQ(platform.locks, written) << c.written.size();
    EXPECT_EQ(platform.shellCommands.size(), c.kills ? 1u : 0u) << c.written.size();
    EXPECT_EQ(platform.systemLogLines, logged) << c.written.size();
  }
}

// On a teacher's side the preference-cache daemon restarts only when a file changed.
TEST_F(EngineTest, ApplyRestartsThePrefsDaemonOnlyWhenATeacherFileChanged) {
  platform.uid = 501;
  platform.prefsDaemon = true;
  const std::string prefs = home.path + "/Library/Preferences";
  ASSERT_EQ(mkdir((home.path + "/Library").c_str(), 0755), 0);
  ASSERT_EQ(mkdir(prefs.c_str(), 0755), 0);
  ASSERT_TRUE(TempDir::writeFile(prefs + "/" + kTeacher, PlistWith("")));
  for (size_t restarts : {1u, 0u}) {
    brtconfig::Run run = MakeRun(&platform, system.path);
    run.action = Action::kApply;
    platform.programs.clear();
    EXPECT_TRUE(ChangeSettings({{"logLevel", SettingValue("1")}}, ManagedPreferences(), run).ok);
    EXPECT_EQ(platform.programs.size(), restarts);
  }
}

}  // namespace
}  // namespace brtconfig
