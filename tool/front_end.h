// The command line: dispatch, the checks on key and value, the usage text, and the exit
// status of a run.
#ifndef BRTCONFIG_TOOL_FRONT_END_H_
#define BRTCONFIG_TOOL_FRONT_END_H_

#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "settings/setting.h"
#include "tool/run.h"

namespace brtconfig {

// The most argument entries a run accepts: the program's name, a key and its values.
inline constexpr size_t kMaxArguments = 2 + kMaxListValues;

// Writes the usage text, with the catalogue's two listings, to standard output.
void Usage();

// Writes the section on the options that --help adds after the usage text.
void OptionsUsage();

// The new value for `key` built from the arguments that follow it (`values`, at least
// one). One value gives a string, trimmed of punctuation at both ends unless `key` is a
// string setting (a "-" directly before a decimal digit is kept, so negative numbers stay
// negative); two or more give an array of the strings exactly as typed.
SettingValue MakeSettingValue(std::string_view key, const std::vector<std::string>& values);

// `text` without Unicode punctuation (general category P) at either end, except that a
// leading "-" directly followed by a decimal digit stays. Invalid UTF-8 comes back as is.
std::string TrimValuePunctuation(std::string_view text);

// Runs the tool on `args` (entry 0 the program's name) and returns the exit status:
// 0 when the usage, the version, a query or a change was carried out, 1 for a refusal,
// when a teacher-side preference file (or the student settings file) could not be
// handled, or when standard output could not be written (the run still goes to its
// end, and says so last on standard error). Messages go to standard output and
// standard error. `systemFolder` is the folder of the system-wide preference files,
// `managedFolder` that of the managed preferences. Options (arguments beginning with
// "--") are read only before the key.
int RunMain(const std::vector<std::string>& args, Platform* platform = Platform::Default(),
            const std::string& systemFolder = kSystemPrefsFolder,
            const std::string& managedFolder = kManagedPrefsFolder);

}  // namespace brtconfig

#endif  // BRTCONFIG_TOOL_FRONT_END_H_
