// One run of the tool described once: who it acts for, which side of the settings,
// which folders, and which options were given. The front end makes it from the
// arguments and hands it down instead of a row of flags.
#ifndef BRTCONFIG_TOOL_RUN_H_
#define BRTCONFIG_TOOL_RUN_H_

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace brtconfig {

// The folder of the system-wide preference files, fixed when the tool is built.
extern const char kSystemPrefsFolder[];
// The folder where configuration profiles leave their managed preferences, fixed when
// the tool is built.
extern const char kManagedPrefsFolder[];

// The options, each given at most once, before the key.
struct Options {
  bool help = false;                      // --help
  bool json = false;                      // --json
  bool list = false;                      // --list
  bool plist = false;                     // --plist (with --list)
  bool dryRun = false;                    // --dry-run
  bool exportProfile = false;             // --export-profile
  bool removalDisallowed = false;         // --removal-disallowed
  std::optional<std::string> user;        // --user NAME
  std::optional<std::string> apply;       // --apply FILE ("-": standard input)
  std::optional<std::string> identifier;  // --identifier PREFIX
  std::optional<std::string> uuid;        // --uuid UUID, in upper case once read

  // Texts of an exported profile.
  std::optional<std::string> displayName;   // --display-name NAME
  std::optional<std::string> organization;  // --organization NAME
  std::optional<std::string> description;   // --description TEXT
};

struct Run {
  Platform* platform = Platform::Default();
  // True when the run handles teacher-specific settings (an ordinary user, or root with
  // --user), false for the global settings (root).
  bool teacherSide = false;
  // The system-wide preference folder: the student settings file lives there, and so do
  // the teacher-side files of a run on the global side.
  std::string systemFolder = kSystemPrefsFolder;
  // The folder the teacher-side files of this run are looked for in; "" when the user's
  // home is unknown (bare names, looked up in the working folder).
  std::string prefsFolder;
  std::string managedFolder = kManagedPrefsFolder;
  // The teacher a teacher-side run acts for when that is not the current user (--user):
  // whose managed preferences count and whose preference-cache daemon is restarted.
  // "" means the user the process runs as.
  std::string userName;
  Options options;
  // Set for a run whose first argument is an option: text that comes from a file or an
  // input (values, keys, names) is then printed escaped, so that it can neither pass
  // for lines of the tool's own nor drive the terminal. A plain run prints it as it
  // always has.
  bool escapeText = false;
};

// The run as the plain command line has it: the side and the folder chosen by the real
// user id, as root the global side in `systemFolder`, otherwise the teacher's own
// preferences folder.
Run MakeRun(Platform* platform, const std::string& systemFolder = kSystemPrefsFolder,
            const std::string& managedFolder = kManagedPrefsFolder);

// The current user's preferences folder, "Library/Preferences" inside the home folder,
// or "" when the home folder is unknown.
std::string UserPrefsFolder(Platform* platform = Platform::Default());

// Joins with exactly one "/"; an empty folder leaves the bare name, which the file
// system then looks up in the working folder.
std::string JoinPath(const std::string& folder, const std::string& name);

// `text` as the run prints text from a file or an input: escaped (text::Escaped) when
// `run.escapeText` is set, otherwise as it is.
std::string ShownText(std::string_view text, const Run& run);

// True for an argument that is an option (begins with "--").
bool IsOption(const std::string& argument);

// Reads the options at the front of `args` (entry 0 the program's name) into `*options`
// and the arguments after them (key and values) into `*rest`. Prints one line on
// standard error and answers false for an unknown option, an option given twice, one
// without its value, options that cannot go together, or a profile option whose value
// a profile cannot take.
bool ParseOptions(const std::vector<std::string>& args, Options* options,
                  std::vector<std::string>* rest);

}  // namespace brtconfig

#endif  // BRTCONFIG_TOOL_RUN_H_
