#include "tool/front_end.h"

#include <cstdio>
#include <optional>

#include "plist/value.h"
#include "settings/plist_file_settings.h"
#include "text/unicode_class.h"
#include "text/utf.h"
#include "tool/apply.h"
#include "tool/checks.h"
#include "tool/fan_out.h"
#include "tool/managed.h"
#include "tool/report.h"

namespace brtconfig {

namespace {

// Checks --user: only root may act for another user, who must be in the password
// database with a home folder, and not be root. Prints the refusal.
std::optional<UserAccount> AccountForUser(const std::string& name, const Run& run) {
  if (run.platform->realUserId() != 0) {
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

// A change through the fan-out, then the warning when a profile forces the setting.
int ChangeWithWarning(const std::string& key, const SettingValue& value,
                      const ManagedPreferences& managed, const Run& run) {
  const bool ok = ChangeValue(key, &value, run);
  if (!managed.empty()) {
    // The files the fan-out handled, looked up again: it does not hand them back.
    std::optional<ForcedValue> forced = managed.forcedValue(key, PreferenceFilePaths(run));
    if (forced) WarnForced(key, *forced);
  }
  return ok ? 0 : 1;
}

// A run whose first argument is an option.
int RunWithOptions(const std::vector<std::string>& args, Run run) {
  run.escapeText = true;
  std::vector<std::string> rest;
  if (!ParseOptions(args, &run.options, &rest)) return 1;
  if (run.options.help) {
    Usage();
    OptionsUsage();
    return 0;
  }
  if (rest.size() + 1 > kMaxArguments) {
    fprintf(stderr, "Too many parameters.\n");
    return 1;
  }

  std::optional<UserAccount> account;
  if (run.options.user) {
    account = AccountForUser(*run.options.user, run);
    if (!account) return 1;
    run.teacherSide = true;
    run.prefsFolder = JoinPath(JoinPath(account->home, "Library"), "Preferences");
    run.userName = account->name;
  }

  // The changes of --apply, or of the key and values; the input is read as the caller.
  std::optional<std::vector<Change>> changes;
  if (run.options.apply) {
    changes = ReadChanges(*run.options.apply, run);
    if (!changes) return 1;
  } else if (!rest.empty()) {
    if (!KeyIsUsable(rest[0], run)) return 1;
    if (rest.size() > 1) {
      std::optional<SettingValue> value =
          ValidValue(rest[0], std::vector<std::string>(rest.begin() + 1, rest.end()));
      if (!value) return 1;
      changes = std::vector<Change>{{rest[0], std::move(*value)}};
    }
  }

  // Everything that needs root is done: the managed preferences are read. From here on
  // a run for another user acts as that user, for good, before any of their files.
  const ManagedPreferences managed(run);
  if (account) {
    std::string error;
    if (!run.platform->becomeUser(*account, &error)) {
      fprintf(stderr, "Unable to act as %s: %s\n", account->name.c_str(), error.c_str());
      return 1;
    }
  }

  if (run.options.exportProfile) return ExportProfile(changes, run);
  if (run.options.list) return ListSettings(managed, run);
  if (run.options.json) return ShowSettingAsJson(rest[0], managed, run);
  // A single change goes through the fan-out as without options; a preview, like
  // several changes, reads each file once.
  if (changes && (run.options.apply || run.options.dryRun)) {
    return ApplyChanges(*changes, managed, run);
  }
  if (changes) return ChangeWithWarning(rest[0], changes->front().value, managed, run);
  return ChangeValue(rest[0], nullptr, run) ? 0 : 1;
}

// A run of the tool, without the check of standard output that follows it.
int RunCommand(const std::vector<std::string>& args, Run run) {
  if (args.size() >= 2 && IsOption(args[1])) return RunWithOptions(args, std::move(run));

  // The count is checked before anything else, the key included.
  if (args.size() > kMaxArguments) {
    fprintf(stderr, "Too many parameters.\n");
    return 1;
  }
  if (args.size() == 2 && args[1] == "version") {
    printf("1.1\n");
    return 0;
  }
  if (args.size() == 1) {
    Usage();
    return 0;
  }
  if (args.empty()) return 0;

  const std::string& key = args[1];
  if (!KeyIsUsable(key, run)) return 1;
  if (args.size() == 2) return ChangeValue(key, nullptr, run) ? 0 : 1;

  std::optional<SettingValue> value =
      ValidValue(key, std::vector<std::string>(args.begin() + 2, args.end()));
  if (!value) return 1;
  return ChangeWithWarning(key, *value, ManagedPreferences(run), run);
}

}  // namespace

void Usage() {
  printf(
      "Teacher Configuration Utility\n"
      "\nRun this tool using sudo in order to\n"
      "change global settings for this device.\n"
      "Otherwise run as user to change Teacher-\n"
      "specific settings.\n\n"
      "Version 1.1 Usage: brtconfig <key> <newvalue> \n\n"
      "Example (to allow Teacher to change channels): \n\n"
      "\tsudo ./brtconfig EnableChannelSelect true \n\n"
      "Value names are case-sensitive.\n\n"
      "The following are global settings that can be changed:\n\n");
  for (const std::string& line : PListFileSettings::globalSettingStrings()) {
    printf("%s\n", line.c_str());
  }
  printf("\n\nThe following are teacher-specific settings that can be changed:\n\n");
  for (const std::string& line : PListFileSettings::userSettingStrings()) {
    printf("%s\n", line.c_str());
  }
  printf(
      "\nPlease note that the Teacher should not be running when configuring settings.\n"
      "\nAlso note that the following Teacher settings are only used when the teacher\n"
      "\"Becomes a Student\" or updates a computer running the Student:\n\n"
      "\tAllowInternetMonitoring\n"
      "\tAllowKeyboardMonitoring\n"
      "\tAuthorization\n"
      "\tClassroomServerAddress\n"
      "\tOneToOne\n"
      "\tRelayServerAddress\n"
      "\tSecureMode\n"
      "\tStealthMode\n"
      "\n");
}

void OptionsUsage() {
  printf(
      "Options, given before the key:\n\n"
      "\t--help                        Print this text.\n"
      "\t--user NAME                   As root: handle the teacher-specific settings\n"
      "\t                              of user NAME, acting as NAME (with a key, a\n"
      "\t                              change or the options below).\n"
      "\t--json <key>                  Show the setting as a JSON object.\n"
      "\t--list                        Show every setting of this side, one\n"
      "\t                              \"key = value\" line each.\n"
      "\t--list --json                 The same as one JSON object.\n"
      "\t--list --plist                The same as an XML property list.\n"
      "\t--apply FILE                  Apply every setting in FILE (a property list or a\n"
      "\t                              JSON object; - for standard input) in one run,\n"
      "\t                              all of them or, when one is refused, none.\n"
      "\t--dry-run                     With a change or --apply: show what would\n"
      "\t                              change, and change nothing.\n"
      "\t--export-profile              Print a configuration profile that enforces the\n"
      "\t                              settings of this side (with --apply, those of\n"
      "\t                              FILE); the options below shape it.\n"
      "\t--identifier PREFIX           The identifier's reverse-DNS prefix, to which\n"
      "\t                              .global or .teacher is added.\n"
      "\t--display-name NAME           The name shown for the profile.\n"
      "\t--organization NAME           The organization shown with it.\n"
      "\t--description TEXT            What the profile is for, shown with it.\n"
      "\t--removal-disallowed          A profile that its user cannot remove.\n"
      "\t--uuid UUID                   A fixed UUID for the profile (by default it\n"
      "\t                              follows the identifier and the settings).\n"
      "\nWhen a configuration profile forces a setting, a change is still made and a\n"
      "warning names the profile's value, which takes precedence.\n");
}

std::string TrimValuePunctuation(std::string_view text) {
  if (!text::IsValidUtf8(text)) return std::string(text);
  size_t pos = 0;
  while (pos < text.size()) {
    size_t next = pos;
    char32_t cp = text::DecodeUtf8(text, &next);
    if (!text::IsPunctuation(cp)) break;
    // A minus sign before a digit belongs to the number: trimming it would turn a
    // negative value the user typed into a different, positive one.
    if (cp == U'-' && next < text.size()) {
      size_t after = next;
      if (text::IsDecimalDigit(text::DecodeUtf8(text, &after))) {
        return "-" + text::TrimPunctuation(text.substr(next));
      }
    }
    pos = next;
  }
  return text::TrimPunctuation(text.substr(pos));
}

SettingValue MakeSettingValue(std::string_view key, const std::vector<std::string>& values) {
  if (values.size() == 1) {
    if (PListFileSettings::isStringSetting(key)) return SettingValue(values[0]);
    return SettingValue(TrimValuePunctuation(values[0]));
  }
  plist::Array list;
  list.reserve(values.size());
  for (const std::string& text : values) list.emplace_back(text);
  return SettingValue(std::move(list));
}

int RunMain(const std::vector<std::string>& args, Platform* platform,
            const std::string& systemFolder, const std::string& managedFolder) {
  platform->prepareStandardStreams();
  const int status = RunCommand(args, MakeRun(platform, systemFolder, managedFolder));
  // Output that could not be written never cut the run short: every file was handled
  // and every daemon told. The status still tells a script that what it read was not
  // the whole output.
  if (fflush(stdout) != 0 || ferror(stdout)) {
    fprintf(stderr, "Unable to write to standard output.\n");
    return 1;
  }
  return status;
}

}  // namespace brtconfig
