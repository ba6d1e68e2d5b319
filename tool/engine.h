// The one engine that reads and changes the preference files of a run: it opens each
// teacher-side file (under its lock for a change), updates it with every change, saves
// it, mirrors the settings that concern students into the student settings file, prints
// what the run shows, reports each failure, and then tells the daemons. A query, a single
// change, --apply and a preview all go through it.
#ifndef BRTCONFIG_TOOL_ENGINE_H_
#define BRTCONFIG_TOOL_ENGINE_H_

#include <optional>
#include <string>
#include <vector>

#include "plist/value.h"
#include "tool/changes.h"
#include "tool/run.h"

namespace brtconfig {

class ManagedPreferences;
class PListFileSettings;

// Shows `key` as the first teacher-side file holds it ("KEY = value", or "KEY is not
// set."), after reading every one of them, then tells the daemons as a query does.
// Answers false when a file could not be read; true also when there is none.
bool ShowSetting(const std::string& key, const Run& run);

// A value that a change of a file changed (in a preview, would change).
struct ChangedValue {
  std::string key;
  std::optional<plist::Value> before;  // Nothing when it was not set.
  std::optional<plist::Value> after;
};

// What became of one file: the values changed, the keys that already held their new
// value, and the step that failed ("open", "update" or "save") with its cause.
struct FileOutcome {
  std::string path;
  std::vector<ChangedValue> changed;
  std::vector<std::string> inPlace;
  const char* failedStep = nullptr;
  std::string cause;
};

// What a run of ChangeSettings did. `ok`: every file was handled. `changed`: a value
// changed in some file (in a preview, would change). `files`: each file in the order
// handled; a student file that cannot be read, left alone, is not among them.
struct ChangeOutcome {
  bool ok = true;
  bool changed = false;
  std::vector<FileOutcome> files;
};

// Carries `changes` through every teacher-side file of the run, in order: each is read
// under its lock, given every change and saved. On the global side the changes that
// concern students go into the student settings file too (never created): after each
// file for a single change (Action::kChange), once after all of them otherwise. The
// first file prints each key as a query does. A single change saves every file and then
// kills the student daemon if any change concerns students and restarts the
// preference-cache daemon if any is teacher-specific. --apply (Action::kApply) acts only
// on change: a file whose values, read first without its lock, already hold every change
// is neither locked nor saved (one that differs is read again under its lock), the student
// daemon is killed only when the student settings file changed, and the preference-cache
// daemon restarted only when a teacher-side file changed. Each value changed in a saved
// file goes to the system log as one line (who ran the tool, the file, the key, its old
// and new value). Then a warning names each value that a profile forces. With --dry-run
// or --check the files are only read, without locks, and changed in memory, each file
// that would change is shown with every key's current and new value, and no daemon is
// told. With --json nothing is printed on standard output: the caller prints the
// outcome. A failure to handle a file makes the outcome not ok, except in a dry run,
// which only reports it.
ChangeOutcome ChangeSettings(const std::vector<Change>& changes, const ManagedPreferences& managed,
                             const Run& run);

// Opens the teacher-side file of `settings` as a query does (`forChange` false) or as a
// change does, under its lock. A file that went away since it was found answers false
// with nothing said (error kAbsent); any other failure is reported.
bool OpenTeacherFile(PListFileSettings* settings, bool forChange, const Run& run);

// Prints a setting's value as a query does: "KEY = value" with the store's display text
// `shown`, or "KEY is not set." when there is none or it is empty; then `suffix` and the
// line end. Text from a file is shown as the run shows it (ShownText).
void PrintValue(const std::string& key, const std::optional<std::string>& shown, const Run& run,
                const std::string& suffix = "");

// Kills the student daemon when `students` is set and then makes the teacher's
// preference-cache daemon reread its files when `teacherSpecific` is set.
void TellDaemons(bool students, bool teacherSpecific, const Run& run);

}  // namespace brtconfig

#endif  // BRTCONFIG_TOOL_ENGINE_H_
