#include "tool/run.h"

#include <cstdio>

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
};

constexpr OptionWithValue kOptionsWithValue[] = {
    {"--user", "a user name", &Options::user},
};

struct Flag {
  const char* name;
  bool Options::*field;
};

constexpr Flag kFlags[] = {
    {"--help", &Options::help},
    {"--json", &Options::json},
    {"--list", &Options::list},
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

// The first option given, for a message about the run as a whole.
const char* FirstOption(const std::vector<std::string>& args) { return args[1].c_str(); }

}  // namespace

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

std::string UserPrefsFolder(Platform* platform) {
  std::optional<std::string> home = platform->homeFolder();
  if (!home || home->empty()) return "";
  return JoinPath(JoinPath(*home, "Library"), "Preferences");
}

Run MakeRun(Platform* platform, const std::string& systemFolder, const std::string& managedFolder) {
  Run run;
  run.platform = platform;
  run.systemFolder = systemFolder;
  run.managedFolder = managedFolder;
  // Root acts on the system-wide files only and a user on their own only, never both.
  run.teacherSide = platform->realUserId() != 0;
  run.prefsFolder = run.teacherSide ? UserPrefsFolder(platform) : systemFolder;
  return run;
}

bool IsOption(const std::string& argument) { return argument.compare(0, 2, "--") == 0; }

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
      fprintf(stderr, "%s is not a valid option.  Try brtconfig --help.\n", name.c_str());
      return false;
    }
  }
  rest->assign(args.begin() + static_cast<std::ptrdiff_t>(next), args.end());
  if (options->help) return true;

  const bool hasKey = !rest->empty();
  const bool change = rest->size() > 1;
  if (options->list && hasKey) return CannotBeUsedWith("--list", "a setting");
  if (options->json && change) return CannotBeUsedWith("--json", "a change");
  if (!options->list && !hasKey) return Needs(FirstOption(args), "a setting or --list");
  return true;
}

}  // namespace brtconfig
