#include "tool/run.h"

#include <cstdio>

#include "settings/preference_files.h"
#include "settings/profile.h"
#include "settings/uuid.h"
#include "text/escape.h"

#ifndef BRT_SYSTEM_PREFS_DIR
#error "BRT_SYSTEM_PREFS_DIR must name the folder of the system-wide preference files"
#endif
#ifndef BRT_MANAGED_PREFS_DIR
#error "BRT_MANAGED_PREFS_DIR must name the folder of the managed preferences"
#endif

namespace brtconfig {

const char kSystemPrefsFolder[] = BRT_SYSTEM_PREFS_DIR;
const char kManagedPrefsFolder[] = BRT_MANAGED_PREFS_DIR;

namespace {

// What the value of an option that takes one is called in messages.
struct OptionWithValue {
  const char* name;
  const char* value;
  std::optional<std::string> Options::*field;
  bool profileText;  // The value is written into a profile as it is.
};

constexpr OptionWithValue kOptionsWithValue[] = {
    {"--user", "a user name", &Options::user, false},
    {"--apply", "a file name (- for standard input)", &Options::apply, false},
    {"--identifier", "an identifier", &Options::identifier, false},
    {"--uuid", "a UUID", &Options::uuid, false},
    {"--display-name", "a name", &Options::displayName, true},
    {"--organization", "a name", &Options::organization, true},
    {"--description", "a text", &Options::description, true},
};

struct Flag {
  const char* name;
  bool Options::*field;
};

constexpr Flag kFlags[] = {
    {"--help", &Options::help},      {"--json", &Options::json},
    {"--list", &Options::list},      {"--plist", &Options::plist},
    {"--dry-run", &Options::dryRun}, {"--export-profile", &Options::exportProfile},
    {"--check", &Options::check},
    {"--removal-disallowed", &Options::removalDisallowed},
};

// The options that shape an exported profile, which mean nothing without one.
struct ProfileOption {
  const char* name;
  bool given;
};

// Refusals of options that cannot go together, in the form "%s needs %s." or
// "%s cannot be used with %s.".
bool Needs(const char* option, const char* what) {
  fprintf(stderr, "%s needs %s.\n", option, what);
  return false;
}

bool CannotBeUsedWith(const char* option, const char* what) {
  fprintf(stderr, "%s cannot be used with %s.\n", option, what);
  return false;
}

// Checks the values of the profile options and puts the UUID in the form a profile
// carries; prints the refusal.
bool CheckProfileOptions(Options* o) {
  if (o->identifier && !IsUsableIdentifierPrefix(*o->identifier)) {
    fprintf(stderr,
            "--identifier needs a reverse-DNS prefix such as org.example.lab: letters, digits "
            "and hyphens, in two or more parts joined by dots, at most %zu characters.\n",
            kMaxIdentifierPrefixLength);
    return false;
  }
  if (o->uuid) {
    const std::optional<Uuid> uuid = ParseUuid(*o->uuid);
    if (!uuid) {
      fprintf(stderr, "%s is not a valid UUID.\n", text::Escaped(*o->uuid).c_str());
      return false;
    }
    o->uuid = UuidText(*uuid);
  }
  for (const OptionWithValue& option : kOptionsWithValue) {
    const std::optional<std::string>& text = o->*option.field;
    if (!option.profileText || !text) continue;
    if (text->empty()) return Needs(option.name, option.value);
    if (!IsXmlText(*text)) {
      fprintf(stderr, "%s holds a character that a profile cannot carry.\n", option.name);
      return false;
    }
  }
  return true;
}

// The first option given, for a message about the run as a whole.
const char* FirstOption(const std::vector<std::string>& args) { return args[1].c_str(); }

}  // namespace

std::string ShownText(std::string_view text, const Run& run) {
  return run.escapeText ? text::Escaped(text) : std::string(text);
}

namespace {

bool IsOption(const std::string& argument) { return argument.compare(0, 2, "--") == 0; }

// Reads the options at the front of `args` into `*options` and the arguments after them
// (key and values) into `*rest`.
bool ParseOptions(const std::vector<std::string>& args, Options* options,
                  std::vector<std::string>* rest) {
  size_t next = 1;
  while (next < args.size() && IsOption(args[next])) {
    const std::string& name = args[next++];
    bool known = false;
    for (const Flag& flag : kFlags) {
      if (name != flag.name) continue;
      if (options->*flag.field) {
        fprintf(stderr, "%s is given twice.\n", name.c_str());
        return false;
      }
      options->*flag.field = true;
      known = true;
    }
    for (const OptionWithValue& option : kOptionsWithValue) {
      if (name != option.name) continue;
      if (options->*option.field) {
        fprintf(stderr, "%s is given twice.\n", name.c_str());
        return false;
      }
      if (next == args.size() || IsOption(args[next])) return Needs(option.name, option.value);
      options->*option.field = args[next++];
      known = true;
    }
    if (!known) {
      fprintf(stderr, "%s is not a valid option.  Try brtconfig --help.\n",
              text::Escaped(name).c_str());
      return false;
    }
  }
  rest->assign(args.begin() + static_cast<std::ptrdiff_t>(next), args.end());
  if (options->help) return true;

  // What a run does is chosen by the first of these that applies: --export-profile
  // (from --apply or the current settings), --apply (or its --dry-run), --list, a key.
  const Options& o = *options;
  const bool hasKey = !rest->empty();
  const bool change = rest->size() > 1;
  if (o.list && hasKey) return CannotBeUsedWith("--list", "a setting");
  if (o.apply && hasKey) return CannotBeUsedWith("--apply", "a setting");
  if (o.exportProfile && hasKey) return CannotBeUsedWith("--export-profile", "a setting");
  if (o.list && (o.apply || o.exportProfile)) {
    return CannotBeUsedWith("--list", o.apply ? "--apply" : "--export-profile");
  }
  if (o.json && o.exportProfile) return CannotBeUsedWith("--json", "--export-profile");
  if (o.check && o.dryRun) return CannotBeUsedWith("--dry-run", "--check");
  if (o.check && o.exportProfile) return CannotBeUsedWith("--check", "--export-profile");
  if (o.check && !o.apply) return Needs("--check", "--apply");
  if (o.json && change) return CannotBeUsedWith("--json", "a change");
  if (o.json && o.plist) return CannotBeUsedWith("--plist", "--json");
  if (o.plist && !o.list) return Needs("--plist", "--list");
  if (o.dryRun && o.exportProfile) return CannotBeUsedWith("--dry-run", "--export-profile");
  if (o.dryRun && !change && !o.apply) return Needs("--dry-run", "a change or --apply");
  const ProfileOption profileOptions[] = {
      {"--identifier", o.identifier.has_value()},    {"--uuid", o.uuid.has_value()},
      {"--display-name", o.displayName.has_value()}, {"--organization", o.organization.has_value()},
      {"--description", o.description.has_value()},  {"--removal-disallowed", o.removalDisallowed},
  };
  for (const ProfileOption& option : profileOptions) {
    if (option.given && !o.exportProfile) return Needs(option.name, "--export-profile");
  }
  if (o.json && !hasKey && !o.list && !o.apply) return Needs("--json", "a setting or --list");
  if (!hasKey && !o.list && !o.apply && !o.exportProfile) {
    return Needs(FirstOption(args), "a setting, --list, --apply or --export-profile");
  }
  return CheckProfileOptions(options);
}

// Checks --user: only root may act for another user, who must be in the password
// database with a home folder, and not be root.
std::optional<UserAccount> AccountForUser(const std::string& name, const Run& run) {
  if (!run.asRoot) {
    fprintf(stderr, "--user can only be used as root.\n");
    return std::nullopt;
  }
  const std::string shown = ShownText(name, run);
  std::optional<UserAccount> account = run.platform->lookUpUser(name);
  if (!account) {
    fprintf(stderr, "%s is not a user of this computer.\n", shown.c_str());
    return std::nullopt;
  }
  if (account->uid == 0) {
    fprintf(stderr, "%s is root: --user takes an ordinary user.\n", shown.c_str());
    return std::nullopt;
  }
  if (account->home.empty() || account->home[0] != '/') {
    fprintf(stderr, "%s has no home folder.\n", shown.c_str());
    return std::nullopt;
  }
  return account;
}

bool TooManyParameters() {
  fprintf(stderr, "Too many parameters.\n");
  return false;
}

// The action of a run with options, the first that applies: --help, --export-profile
// (from --apply or the current settings), --list, --apply or a previewed change, --json,
// a change, a query.
Action ChooseAction(const Options& o, size_t arguments) {
  if (o.help) return Action::kHelp;
  if (o.exportProfile) return Action::kExportProfile;
  if (o.list) return Action::kList;
  if (o.apply || o.dryRun) return Action::kApply;
  if (o.json) return Action::kShowJson;
  return arguments > 1 ? Action::kChange : Action::kQuery;
}

}  // namespace

Run MakeRun(Platform* platform, const std::string& systemFolder, const std::string& managedFolder) {
  Run run;
  run.platform = platform;
  run.systemFolder = systemFolder;
  run.managedFolder = managedFolder;
  // Root acts on the system-wide files only and a user on their own only, never both.
  const unsigned uid = platform->realUserId();
  run.asRoot = uid == 0;
  run.side = run.asRoot ? GlobalSetting : UserSetting;
  run.prefsFolder = run.asRoot ? systemFolder : UserPrefsFolder(platform);
  const std::string name = platform->userName();
  run.realUser = name.empty() ? "uid " + std::to_string(uid) : name;
  run.sudoUser = platform->sudoUser();
  if (!run.asRoot) run.userName = name;
  return run;
}

bool ParseCommandLine(const std::vector<std::string>& args, Run* run) {
  if (args.size() < 2 || !IsOption(args[1])) {
    // The count is checked before anything else, the key included.
    if (args.size() > kMaxArguments) return TooManyParameters();
    run->arguments.assign(args.begin() + (args.empty() ? 0 : 1), args.end());
    if (args.size() == 2 && args[1] == "version") {
      run->action = Action::kVersion;
    } else if (run->arguments.empty()) {
      run->action = Action::kUsage;
    } else {
      run->action = run->arguments.size() > 1 ? Action::kChange : Action::kQuery;
    }
    return true;
  }

  run->escapeText = true;
  if (!ParseOptions(args, &run->options, &run->arguments)) return false;
  run->action = ChooseAction(run->options, run->arguments.size());
  if (run->action == Action::kHelp) return true;
  if (run->arguments.size() + 1 > kMaxArguments) return TooManyParameters();
  if (run->options.user) {
    run->account = AccountForUser(*run->options.user, *run);
    if (!run->account) return false;
    run->side = UserSetting;
    run->prefsFolder = JoinPath(JoinPath(run->account->home, "Library"), "Preferences");
    run->userName = run->account->name;
  }
  return true;
}

}  // namespace brtconfig
