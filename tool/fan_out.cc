#include "tool/fan_out.h"

#include <cstdio>
#include <optional>

#include "settings/plist_file_settings.h"

namespace brtconfig {

namespace {

// Writes the change into the student settings file as well. The file is only ever
// changed, never created: a device without the student agent has none. Returns false
// only when the file was there but could not be saved.
bool MirrorToStudentFile(std::string_view key, const SettingValue& value, const Run& run) {
  std::string path = StudentFilePath(run);
  if (path.empty()) return true;

  PListFileSettings student(path, run.platform);
  bool failed = false;
  if (!OpenStudentFile(&student, true, run.platform, &failed)) return !failed;
  // A refused update still saves: the file is then rewritten unchanged.
  student.updateValueForKey(value, key);
  if (!student.save()) {
    ReportFailure("failed to save student settings.\n", student, run.platform);
    return false;
  }
  return true;
}

}  // namespace

void ReportFailure(const char* message, const PListFileSettings& settings, Platform* platform) {
  fputs(message, stderr);
  fflush(stderr);
  platform->log(settings.error.reason);
}

void PrintValue(const std::string& key, const std::optional<std::string>& shown, const Run& run,
                const std::string& suffix) {
  const std::string end = ShownText(suffix, run);
  if (shown && !shown->empty()) {
    printf("%s = %s%s\n", key.c_str(), ShownText(*shown, run).c_str(), end.c_str());
  } else {
    printf("%s is not set.%s\n", key.c_str(), end.c_str());
  }
}

std::vector<std::string> PreferenceFilePaths(const Run& run) {
  std::vector<std::string> paths;
  for (const char* name : kTeacherFileNames) {
    std::string path = JoinPath(run.prefsFolder, name);
    // A file that cannot be reached is there for all the run can tell: opening it fails
    // and says why.
    if (run.platform->presence(path) != Presence::kAbsent) paths.push_back(path);
  }
  return paths;
}

std::string StudentFilePath(const Run& run) {
  for (const char* name : kStudentFileNames) {
    std::string path = JoinPath(run.systemFolder, name);
    if (run.platform->exists(path)) return path;
  }
  return "";
}

bool OpenStudentFile(PListFileSettings* student, bool forChange, Platform* platform,
                     bool* failed) {
  if (forChange ? student->openForChange() : student->open()) return true;
  if (student->error.kind == StoreError::Kind::kBusy) {
    ReportFailure("failed to save student settings.\n", *student, platform);
    *failed = true;
  }
  return false;
}

void TellDaemons(bool students, bool teacherSpecific, const Run& run) {
  // What was printed goes out first, so that it comes before anything the commands
  // print themselves.
  fflush(stdout);
  fflush(stderr);
  if (students) run.platform->runShellCommand("killall brdaemon 2> /dev/null");
  if (!teacherSpecific) return;
  if (run.userName.empty()) {
    PListFileSettings::restartPrefsDaemonForCurrentUser(run.platform);
  } else {
    PListFileSettings::restartPrefsDaemonForUser(run.userName, run.platform);
  }
}

bool ChangeValue(std::string_view key, const SettingValue* value, bool* print,
                 const std::string& path, const Run& run) {
  std::string keyText(key);
  PListFileSettings settings(path, run.platform);
  const bool change = value != nullptr;
  if (!(change ? settings.openForChange() : settings.open())) {
    if (settings.error.kind == StoreError::Kind::kAbsent) return true;
    *print = false;
    ReportFailure("Unable to open teacher preference file.\n", settings, run.platform);
    return false;
  }
  const bool printThis = *print;
  *print = false;

  bool ok = true;
  if (change) {
    if (!settings.updateValueForKey(*value, key)) {
      ReportFailure(("Unable to update " + keyText + "\n").c_str(), settings, run.platform);
      return false;
    }
    if (!settings.save()) {
      ReportFailure("Unable to save settings\n", settings, run.platform);
      return false;
    }
    if (PListFileSettings::settingAppliesToStudents(key) && run.platform->realUserId() == 0) {
      ok = MirrorToStudentFile(key, *value, run);
    }
  }

  // The store's display text covers every kind of value a file can hold, so kinds the
  // tool never writes (dates, data, dictionaries) still print and the run goes on.
  if (printThis) PrintValue(keyText, settings.valueForKey(key), run);
  return ok;
}

bool ChangeValue(std::string_view key, const SettingValue* value, const Run& run) {
  bool ok = true;
  bool print = true;
  for (const std::string& path : PreferenceFilePaths(run)) {
    if (!ChangeValue(key, value, &print, path, run)) ok = false;
  }
  // The daemons are told whatever happened to the files; a query never concerns students.
  TellDaemons(value != nullptr && PListFileSettings::settingAppliesToStudents(key),
              PListFileSettings::isUserSetting(key), run);
  return ok;
}

}  // namespace brtconfig
