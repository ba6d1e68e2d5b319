// Finding the teacher-side preference files of a run and carrying one query or change
// through each of them, with the student mirror and the daemon kills.
#ifndef BRTCONFIG_TOOL_FAN_OUT_H_
#define BRTCONFIG_TOOL_FAN_OUT_H_

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "settings/preference_files.h"
#include "settings/setting.h"
#include "tool/run.h"

namespace brtconfig {

class PListFileSettings;

// The teacher-side preference files of the run, in their fixed order: those of the four
// candidate names in the run's preferences folder that exist or cannot be reached (which
// then fail to open). May be empty.
std::vector<std::string> PreferenceFilePaths(const Run& run);

// The student settings file of the run's system folder that exists (the newer name
// preferred), or "" when there is none.
std::string StudentFilePath(const Run& run);

// Opens the student settings file `*student`, for a change under its lock (`forChange`),
// otherwise only reading it. A file that cannot be read is the student agent's own affair
// and is left alone without a message. One that another run kept busy for the whole wait
// would lose the change, so that is reported as a failed save and `*failed` is set.
// Answers whether the file was opened.
bool OpenStudentFile(PListFileSettings* student, bool forChange, Platform* platform,
                     bool* failed);

// Kills the student daemon when `students` is set and then makes the teacher's
// preference-cache daemon reread its files when `teacherSpecific` is set.
void TellDaemons(bool students, bool teacherSpecific, const Run& run);

// Prints `message` on standard error, then the cause of the store's last failure as a
// log line.
void ReportFailure(const char* message, const PListFileSettings& settings, Platform* platform);

// Prints a setting's value as a query does: "KEY = value" with the store's display text
// `shown`, or "KEY is not set." when there is none or it is empty; then `suffix` and the
// line end. Value and suffix are shown as the run shows text from a file (ShownText).
void PrintValue(const std::string& key, const std::optional<std::string>& shown, const Run& run,
                const std::string& suffix = "");

// The per-file form: opens the file at `path`; for a change (`value` not null) puts
// `*value` under `key` and saves it, then, when the setting concerns students and the
// user is root, mirrors the change into the student settings file (never created). When
// `*print` is set, prints the key's value as the file now holds it, and clears it,
// failure or not. A change skips a file that has gone since it was found, as if it had
// never been there: nothing printed, `*print` kept, no failure. Failures are reported on
// standard error. Returns false when the file could not be opened, updated or saved, or
// the student settings file could not be saved.
bool ChangeValue(std::string_view key, const SettingValue* value, bool* print,
                 const std::string& path, const Run& run);

// The fan-out form: the per-file form over every path of PreferenceFilePaths, printing
// from the first only, even when it fails; then, for a change of a setting that
// concerns students, kills the student daemon ("killall brdaemon"), and makes the
// preference-cache daemon reread its files when `key` is teacher-specific. `value` is
// null for a query. Returns false when any file failed as above; true also when there is
// no file at all.
bool ChangeValue(std::string_view key, const SettingValue* value, const Run& run);

}  // namespace brtconfig

#endif  // BRTCONFIG_TOOL_FAN_OUT_H_
