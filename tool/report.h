// Settings read as data: one setting as a JSON object (--json KEY), every setting of the
// run's side (--list) as "KEY = value" lines, one JSON object or a property list, and a
// configuration profile that forces them (--export-profile).
#ifndef BRTCONFIG_TOOL_REPORT_H_
#define BRTCONFIG_TOOL_REPORT_H_

#include <string>
#include <vector>

#include "tool/changes.h"
#include "tool/engine.h"
#include "tool/managed.h"
#include "tool/run.h"

namespace brtconfig {

// Prints the setting `key` (known, and of the run's side) as one JSON object, read from
// the first teacher-side file of the run, with what `managed` forces for it, then tells
// the preference-cache daemon as a query does. Answers false when a teacher-side file
// could not be read (reported on standard error; nothing is printed when it was the
// first).
bool ShowSettingAsJson(const std::string& key, const ManagedPreferences& managed, const Run& run);

// Prints every setting of the run's side, in catalogue order, read from the first
// teacher-side file: one "KEY = value" or "KEY is not set." line each, with --json one
// JSON object, with --plist the same content as an XML property list. Answers as
// ShowSettingAsJson, and false when --plist cannot carry a value.
bool ListSettings(const ManagedPreferences& managed, const Run& run);

// Prints what a run of --apply did (or with --check or --dry-run, would do) as one JSON
// object: "changed", whether any value changed, and "files", for each file handled in
// order, its "file", the values "changed" (each key with its "old" and "new" value, null
// when not set), the keys already "inPlace", and its "failure" ("step" and "cause"), or
// null.
void PrintOutcomeAsJson(const ChangeOutcome& outcome);

// Prints a configuration profile, an XML property list, that forces the settings of the
// run's side: the changes of --apply (`fromApply`), or else the values of the first
// teacher-side file that validation accepts. Each teacher-side domain gets every
// setting, the student settings domains the ones that concern students. Identifier,
// names and UUID from the profile options (checked when they were read). Answers false,
// with nothing printed, when there is nothing to force or a value that XML cannot carry;
// false also when a teacher-side file could not be read.
bool ExportProfile(const std::vector<Change>* fromApply, const Run& run);

}  // namespace brtconfig

#endif  // BRTCONFIG_TOOL_REPORT_H_
