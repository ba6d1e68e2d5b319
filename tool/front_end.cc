#include "tool/front_end.h"

#include <cstdio>
#include <vector>

#include "settings/plist_file_settings.h"
#include "tool/changes.h"
#include "tool/engine.h"
#include "tool/managed.h"
#include "tool/report.h"

#ifndef BRT_VERSION
#error "BRT_VERSION must name the version of the tool"
#endif

namespace brtconfig {
namespace {

bool PrintUsage(const Run&) {
  Usage();
  return true;
}

bool PrintVersion(const Run&) {
  printf("%s\n", BRT_VERSION);
  return true;
}

bool PrintHelp(const Run&) {
  Usage();
  OptionsUsage();
  return true;
}

// The exit statuses: done, a refusal or a file that could not be handled, and a check
// that found a setting not in place.
constexpr int kDone = 0;
constexpr int kFailed = 1;
constexpr int kDiffers = 2;

int StatusOf(bool ok) { return ok ? kDone : kFailed; }

// The actions that read or change settings, given the run's checked changes and the
// profiles read for it; each answers the exit status.
using Performer = int (*)(const std::vector<Change>& changes, const ManagedPreferences& managed,
                          const Run& run);

int Query(const std::vector<Change>&, const ManagedPreferences&, const Run& run) {
  return StatusOf(ShowSetting(run.arguments[0], run));
}

int ChangeFiles(const std::vector<Change>& changes, const ManagedPreferences& managed,
                const Run& run) {
  const ChangeOutcome outcome = ChangeSettings(changes, managed, run);
  if (run.options.json) PrintOutcomeAsJson(outcome);
  if (!outcome.ok) return kFailed;
  return run.options.check && outcome.changed ? kDiffers : kDone;
}

int ShowJson(const std::vector<Change>&, const ManagedPreferences& managed, const Run& run) {
  return StatusOf(ShowSettingAsJson(run.arguments[0], managed, run));
}

int List(const std::vector<Change>&, const ManagedPreferences& managed, const Run& run) {
  return StatusOf(ListSettings(managed, run));
}

int Export(const std::vector<Change>& changes, const ManagedPreferences&, const Run& run) {
  return StatusOf(ExportProfile(run.options.apply ? &changes : nullptr, run));
}

// What each action does: a text of its own, or the settings of the files, with the
// profiles read first when it reports them.
struct Tool {
  Action action;
  bool (*print)(const Run& run);
  Performer perform;
  bool readsProfiles;
};

constexpr Tool kTools[] = {
    {Action::kUsage, PrintUsage, nullptr, false},
    {Action::kVersion, PrintVersion, nullptr, false},
    {Action::kHelp, PrintHelp, nullptr, false},
    {Action::kQuery, nullptr, Query, false},
    {Action::kChange, nullptr, ChangeFiles, true},
    {Action::kApply, nullptr, ChangeFiles, true},
    {Action::kShowJson, nullptr, ShowJson, true},
    {Action::kList, nullptr, List, true},
    {Action::kExportProfile, nullptr, Export, false},
};

const Tool& ToolFor(Action action) {
  for (const Tool& tool : kTools) {
    if (tool.action == action) return tool;
  }
  return kTools[0];
}

// Carries out the run that the command line described; answers the exit status.
int Perform(const Run& run) {
  const Tool& tool = ToolFor(run.action);
  if (tool.print) return StatusOf(tool.print(run));

  // Every check is made before any file is touched: the key, then the values.
  if (!run.arguments.empty() && !KeyIsUsable(run.arguments[0], run)) return kFailed;
  const std::optional<std::vector<Change>> changes = RequestedChanges(run);
  if (!changes) return kFailed;

  // Everything that needs root is done: the managed preferences are read. From here on
  // a run for another user acts as that user, for good, before any of their files.
  const ManagedPreferences managed =
      tool.readsProfiles ? ManagedPreferences(run) : ManagedPreferences();
  if (run.account) {
    std::string error;
    if (!run.platform->becomeUser(*run.account, &error)) {
      fprintf(stderr, "Unable to act as %s: %s\n", run.account->name.c_str(), error.c_str());
      return kFailed;
    }
  }
  return tool.perform(*changes, managed, run);
}

}  // namespace

void Usage() {
  printf(
      "Teacher Configuration Utility\n"
      "\nRun this tool using sudo in order to\n"
      "change global settings for this device.\n"
      "Otherwise run as user to change Teacher-\n"
      "specific settings.\n\n"
      "Version " BRT_VERSION " Usage: brtconfig <key> <newvalue> \n\n"
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
      "\t                              all of them or, when one is refused, none. Only\n"
      "\t                              files whose values change are written, and only\n"
      "\t                              their daemons told.\n"
      "\t--check --apply FILE          Tell whether every setting in FILE is in place,\n"
      "\t                              changing nothing: each difference as --dry-run\n"
      "\t                              shows it; exit status 0 when all are, 2 when one\n"
      "\t                              differs, 1 when a file cannot be read.\n"
      "\t--json --apply FILE           What --apply did (with --check, would do) as one\n"
      "\t                              JSON object: per file, the values changed, those\n"
      "\t                              already in place, and any failure.\n"
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
      "warning names the profile's value, which takes precedence.\n"
      "Each value changed goes to the system log (authpriv.notice), with who made it.\n");
}

int RunMain(const std::vector<std::string>& args, Platform* platform,
            const std::string& systemFolder, const std::string& managedFolder) {
  platform->prepareStandardStreams();
  if (args.empty()) return 0;
  Run run = MakeRun(platform, systemFolder, managedFolder);
  const int status = ParseCommandLine(args, &run) ? Perform(run) : kFailed;
  // Output that could not be written never cut the run short: every file was handled
  // and every daemon told. The status still tells a script that what it read was not
  // the whole output.
  if (fflush(stdout) != 0 || ferror(stdout)) {
    fprintf(stderr, "Unable to write to standard output.\n");
    return kFailed;
  }
  return status;
}

}  // namespace brtconfig
