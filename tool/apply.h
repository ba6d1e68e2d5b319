// Several changes in one run (--apply FILE), and the preview of a run (--dry-run).
#ifndef BRTCONFIG_TOOL_APPLY_H_
#define BRTCONFIG_TOOL_APPLY_H_

#include <optional>
#include <string>
#include <vector>

#include "settings/setting.h"
#include "tool/managed.h"
#include "tool/run.h"

namespace brtconfig {

// One checked change: a key and its new value, as the command line would make it.
struct Change {
  std::string key;
  SettingValue value;
};

// The changes in the input named `file` ("-": standard input): read, parsed, and each
// entry checked as a single change is (key, side, value), in the file's order. Prints
// every refusal on standard error, one line per failing entry, and returns nothing when
// there is any.
std::optional<std::vector<Change>> ReadChanges(const std::string& file, const Run& run);

// Applies `changes` together: each teacher-side file is read once, given every change
// and saved once; as root the student settings file likewise, once, for the changes that
// concern students; then the student daemon is killed once if any change concerns
// students and the preference-cache daemon restarted once if any is teacher-specific.
// Prints, from the first file, one line per key as a query does, then a warning for each
// change that a profile forces. With --dry-run, reads and changes in memory only, tells
// no daemon, and prints for each file that would change every key with its current and
// new value. Returns the exit status: 1 when a file could not be handled (not for a dry
// run, which reports it and still answers 0), else 0.
int ApplyChanges(const std::vector<Change>& changes, const ManagedPreferences& managed,
                 const Run& run);

}  // namespace brtconfig

#endif  // BRTCONFIG_TOOL_APPLY_H_
