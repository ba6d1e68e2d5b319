#include "tool/fan_out.h"

#include <cstdio>
#include <optional>

#include "settings/plist_file_settings.h"

#ifndef BRT_SYSTEM_PREFS_DIR
#error "BRT_SYSTEM_PREFS_DIR must name the folder of the system-wide preference files"
#endif

namespace brtconfig {

const char kSystemPrefsFolder[] = BRT_SYSTEM_PREFS_DIR;

namespace {

// The teacher-side candidates, in the order they are handled and printed from.
constexpr const char* kTeacherFileNames[] = {
    "com.brellan.teacher.plist",
    "com.tovrika.teacher.plist",
    "com.brellan.techconsole.plist",
    "com.tovrika.techconsole.plist",
};

// The student settings file, the first name preferred when both exist.
constexpr const char kStudentFileName[] = "com.brellan.student.settings.plist";
constexpr const char kOldStudentFileName[] = "com.tovrika.student.settings.plist";

// Joins with exactly one "/"; an empty folder leaves the bare name, which the file
// system then looks up in the working folder.
std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

// Prints `message` on standard error, then the cause of the store's failure as a log line.
void ReportFailure(const char* message, const PListFileSettings& settings, Platform* platform) {
  fputs(message, stderr);
  fflush(stderr);
  platform->log(settings.error.reason);
}

// Writes the change into the student settings file as well. The file is only ever
// changed, never created: a device without the student agent has none. Returns false
// only when the file was there but could not be saved.
bool MirrorToStudentFile(std::string_view key, const SettingValue& value, Platform* platform,
                         const std::string& systemFolder) {
  std::string path = JoinPath(systemFolder, kStudentFileName);
  if (!platform->exists(path)) path = JoinPath(systemFolder, kOldStudentFileName);
  if (!platform->exists(path)) return true;

  PListFileSettings student(path, platform);
  // A file the student agent cannot read either is its own affair and left alone; one
  // that another run kept busy would lose this change, so that is reported.
  if (!student.openForChange() && student.error.kind != StoreError::Kind::kBusy) return true;
  // A refused update still saves: the file is then rewritten unchanged.
  if (student.settingsDict) student.updateValueForKey(value, key);
  if (!student.settingsDict || !student.save()) {
    ReportFailure("failed to save student settings.\n", student, platform);
    return false;
  }
  return true;
}

}  // namespace

std::string UserPrefsFolder(Platform* platform) {
  std::optional<std::string> home = platform->homeFolder();
  if (!home || home->empty()) return "";
  return JoinPath(JoinPath(*home, "Library"), "Preferences");
}

std::vector<std::string> PreferenceFilePaths(Platform* platform, const std::string& systemFolder) {
  // Root acts on the system-wide files only and a user on their own only, never both.
  bool root = platform->realUserId() == 0;
  std::string folder = root ? systemFolder : UserPrefsFolder(platform);
  std::vector<std::string> paths;
  for (const char* name : kTeacherFileNames) {
    std::string path = JoinPath(folder, name);
    if (platform->exists(path)) paths.push_back(path);
  }
  return paths;
}

bool ChangeValue(std::string_view key, const SettingValue* value, bool update, bool students,
                 bool print, const std::string& path, Platform* platform,
                 const std::string& systemFolder) {
  std::string keyText(key);
  PListFileSettings settings(path, platform);
  const bool change = update && value != nullptr;
  if (!(change ? settings.openForChange() : settings.open())) {
    ReportFailure("Unable to open teacher preference file.\n", settings, platform);
    return false;
  }

  bool ok = true;
  if (change) {
    if (!settings.updateValueForKey(*value, key)) {
      ReportFailure(("Unable to update " + keyText + "\n").c_str(), settings, platform);
      return false;
    }
    if (!settings.save()) {
      ReportFailure("Unable to save settings\n", settings, platform);
      return false;
    }
    if (students && platform->realUserId() == 0) {
      ok = MirrorToStudentFile(key, *value, platform, systemFolder);
    }
  }

  if (print) {
    // The store's display text covers every kind of value a file can hold, so kinds the
    // tool never writes (dates, data, dictionaries) still print and the run goes on.
    std::optional<std::string> shown = settings.valueForKey(key);
    if (shown && !shown->empty()) {
      printf("%s = %s\n", keyText.c_str(), shown->c_str());
    } else {
      printf("%s is not set.\n", keyText.c_str());
    }
  }
  return ok;
}

bool ChangeValue(std::string_view key, const SettingValue* value, bool update, bool students,
                 Platform* platform, const std::string& systemFolder) {
  bool ok = true;
  bool print = true;
  for (const std::string& path : PreferenceFilePaths(platform, systemFolder)) {
    // Only the first file prints, even when it fails and a later one succeeds.
    if (!ChangeValue(key, value, update, students, print, path, platform, systemFolder)) {
      ok = false;
    }
    print = false;
  }
  // The daemons are told whatever happened to the files. What was printed goes out
  // first, so that it comes before anything the commands print themselves.
  fflush(stdout);
  fflush(stderr);
  if (students) platform->runShellCommand("killall brdaemon 2> /dev/null");
  if (PListFileSettings::isUserSetting(key)) {
    PListFileSettings::restartPrefsDaemonForCurrentUser(platform);
  }
  return ok;
}

}  // namespace brtconfig
