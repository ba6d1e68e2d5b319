// Finding the teacher-side preference files of a run and carrying one query or change
// through each of them, with the student mirror and the daemon kills.
#ifndef BRTCONFIG_TOOL_FAN_OUT_H_
#define BRTCONFIG_TOOL_FAN_OUT_H_

#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "settings/setting.h"

namespace brtconfig {

// The folder of the system-wide preference files, fixed when the tool is built.
extern const char kSystemPrefsFolder[];

// The current user's preferences folder, "Library/Preferences" inside the home folder,
// or "" when the home folder is unknown.
std::string UserPrefsFolder(Platform* platform = Platform::Default());

// The teacher-side preference files that exist for this run, in their fixed order: the
// four candidates in `systemFolder` when run as root, otherwise the same names in the
// user's preferences folder (bare names, looked up in the working folder, when that
// folder is unknown). May be empty.
std::vector<std::string> PreferenceFilePaths(Platform* platform = Platform::Default(),
                                             const std::string& systemFolder = kSystemPrefsFolder);

// The per-file form: opens the file at `path`; when `update` is set puts `*value` under
// `key` and saves it, then, when `students` is set and the user is root, mirrors the
// change into the student settings file of `systemFolder` (never created). When `print`
// is set, prints the key's value as the file now holds it. Failures are reported on
// standard error. Returns false when the file could not be opened, updated or saved, or
// the student settings file could not be saved.
bool ChangeValue(std::string_view key, const SettingValue* value, bool update, bool students,
                 bool print, const std::string& path, Platform* platform = Platform::Default(),
                 const std::string& systemFolder = kSystemPrefsFolder);

// The fan-out form: the per-file form over every path of PreferenceFilePaths, printing
// from the first only; then kills the student daemon ("killall brdaemon") when `students`
// is set, and makes the
// preference-cache daemon reread its files when `key` is teacher-specific. `value` is
// null for a query. Returns false when any file failed as above; true also when there is
// no file at all.
bool ChangeValue(std::string_view key, const SettingValue* value, bool update, bool students,
                 Platform* platform = Platform::Default(),
                 const std::string& systemFolder = kSystemPrefsFolder);

}  // namespace brtconfig

#endif  // BRTCONFIG_TOOL_FAN_OUT_H_
