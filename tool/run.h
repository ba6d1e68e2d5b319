// One run of the tool described once: what it does, who started it and whom it acts
// for, which side of the settings, which folders, and which options were given. The
// front end makes it from the arguments and hands it down; nothing after it asks the
// system who is running.
#ifndef BRTCONFIG_TOOL_RUN_H_
#define BRTCONFIG_TOOL_RUN_H_

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "settings/setting.h"

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
  bool check = false;                     // --check (with --apply)
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

// What a run does, chosen once from its arguments.
enum class Action {
  kUsage,          // No argument: the usage text and the settings.
  kVersion,        // "version".
  kHelp,           // --help: the usage text and the options.
  kQuery,          // KEY: show the setting.
  kChange,         // KEY VALUE...: change it file by file, the student file after each.
  kApply,          // --apply FILE (also --check), or a change with --dry-run: all changes,
                   // a file at a time, each file and daemon touched only when a value changes.
  kShowJson,       // --json KEY.
  kList,           // --list, also with --json or --plist.
  kExportProfile,  // --export-profile, also with --apply.
};

struct Run {
  Platform* platform = Platform::Default();
  Action action = Action::kUsage;
  // Whether the user who started the run was root: read once, when the run is made.
  bool asRoot = false;
  // Which settings the run handles: the global ones in the system-wide files (root), or
  // the teacher-specific ones in a teacher's own (any other user, or root with --user).
  SettingType side = GlobalSetting;
  // The teacher a run acts for with --user, once found in the password database.
  std::optional<UserAccount> account;
  // On the teacher side, the teacher's login name: whose managed preferences count and
  // whose preference-cache daemon is restarted. "" when it cannot be found.
  std::string userName;
  // Who ran the tool, as the system log records each change: the real user's login name
  // ("uid N" when the password database has none), and the user behind sudo ($SUDO_USER,
  // "" when not set).
  std::string realUser;
  std::string sudoUser;
  // The system-wide preference folder: the student settings file lives there, and so do
  // the teacher-side files of a run on the global side.
  std::string systemFolder = kSystemPrefsFolder;
  // The folder the teacher-side files of this run are looked for in; "" when the user's
  // home is unknown (bare names, looked up in the working folder).
  std::string prefsFolder;
  std::string managedFolder = kManagedPrefsFolder;
  Options options;
  // The key and the values after the options.
  std::vector<std::string> arguments;
  // Set for a run whose first argument is an option: text that comes from a file or an
  // input (values, keys, names) is then printed escaped, so that it can neither pass
  // for lines of the tool's own nor drive the terminal. A plain run prints it as it
  // always has.
  bool escapeText = false;
};

// The most argument entries a run accepts: the program's name, a key and its values.
inline constexpr size_t kMaxArguments = 2 + kMaxListValues;

// The run before its arguments are read: the side and the folder chosen by who started
// it, as root the global side in `systemFolder`, otherwise the teacher's own preferences
// folder.
Run MakeRun(Platform* platform, const std::string& systemFolder = kSystemPrefsFolder,
            const std::string& managedFolder = kManagedPrefsFolder);

// Reads `args` (entry 0 the program's name) into `*run`: the action, the options, the
// key and values, and with --user the teacher it acts for. Prints one line on standard
// error and answers false for a refusal: too many arguments, an unknown option, an option
// given twice or without its value, options that cannot go together, a profile option
// whose value a profile cannot take, or a --user that names no ordinary user with a home.
// A plain run (no option first) refuses only too many arguments.
bool ParseCommandLine(const std::vector<std::string>& args, Run* run);

// `text` as the run prints text from a file or an input: escaped (text::Escaped) when
// `run.escapeText` is set, otherwise as it is.
std::string ShownText(std::string_view text, const Run& run);

}  // namespace brtconfig

#endif  // BRTCONFIG_TOOL_RUN_H_
