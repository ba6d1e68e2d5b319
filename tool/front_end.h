// The program's front end: the run described from the command line, carried out by the
// one tool its action names, the usage text, and the exit status.
#ifndef BRTCONFIG_TOOL_FRONT_END_H_
#define BRTCONFIG_TOOL_FRONT_END_H_

#include <string>
#include <vector>

#include "platform/platform.h"
#include "tool/run.h"

namespace brtconfig {

// Writes the usage text, with the catalogue's two listings, to standard output.
void Usage();

// Writes the section on the options that --help adds after the usage text.
void OptionsUsage();

// Runs the tool on `args` (entry 0 the program's name) and returns the exit status:
// 0 when the usage, the version, a query or a change was carried out, 1 for a refusal,
// when a teacher-side preference file (or the student settings file) could not be
// handled, or when standard output could not be written (the run still goes to its
// end, and says so last on standard error); 2 when --check found a setting that differs.
// Messages go to standard output and standard error. `systemFolder` is the folder of the
// system-wide preference files, `managedFolder` that of the managed preferences. Options
// (arguments beginning with "--") are read only before the key.
int RunMain(const std::vector<std::string>& args, Platform* platform = Platform::Default(),
            const std::string& systemFolder = kSystemPrefsFolder,
            const std::string& managedFolder = kManagedPrefsFolder);

}  // namespace brtconfig

#endif  // BRTCONFIG_TOOL_FRONT_END_H_
