#include "tool/engine.h"

#include <cstdio>

#include "platform/platform.h"
#include "settings/plist_file_settings.h"
#include "settings/preference_files.h"
#include "text/escape.h"
#include "tool/managed.h"

namespace brtconfig {
namespace {

// What goes wrong with a file, each said in one place.
constexpr char kCannotOpen[] = "Unable to open teacher preference file.\n";
constexpr char kCannotSave[] = "Unable to save settings\n";
constexpr char kStudentsNotSaved[] = "failed to save student settings.\n";

// Prints `message` on standard error, then the cause of the store's last failure as a
// log line.
void ReportFailure(const std::string& message, const PListFileSettings& settings,
                   const Run& run) {
  fputs(message.c_str(), stderr);
  fflush(stderr);
  run.platform->log(settings.error.reason);
}

bool EveryChange(const Change&) { return true; }
bool ConcernsStudents(const Change& change) {
  return PListFileSettings::settingAppliesToStudents(change.key);
}
using Wanted = bool (*)(const Change&);

// The values of the wanted changes' keys, one for each change (nothing for the others).
// The changes touch only these keys, each replaced where it stands or appended, so these
// alone tell whether a file would change.
using Values = std::vector<std::optional<plist::Value>>;
Values ValuesOf(const PListFileSettings& settings, const std::vector<Change>& changes,
                Wanted wanted) {
  Values values;
  for (const Change& change : changes) {
    values.push_back(wanted(change) ? settings.storedValue(change.key) : std::nullopt);
  }
  return values;
}

// A value as a preview shows it: its display text, without the blank that follows the
// last element of a list, escaped as every option run shows text from a file.
std::string PreviewText(const std::optional<plist::Value>& value) {
  if (!value) return "not set";
  std::string text = DisplayText(*value);
  if (value->isArray() && !text.empty()) text.pop_back();
  return text::Escaped(text);
}

// The changes of one file in a preview: every key with its current and new value, under
// the file's path, when anything in it would change.
void PrintPreview(const std::string& path, const Values& before, const PListFileSettings& after,
                  const std::vector<Change>& changes, Wanted wanted) {
  const Values now = ValuesOf(after, changes, wanted);
  if (now == before) return;
  printf("%s would change:\n", text::Escaped(path).c_str());
  for (size_t i = 0; i < changes.size(); ++i) {
    const Change& change = changes[i];
    if (!wanted(change)) continue;
    if (before[i] && now[i] && *before[i] == *now[i]) {
      printf("  %s: %s (stays the same)\n", change.key.c_str(), PreviewText(before[i]).c_str());
    } else {
      printf("  %s: %s -> %s\n", change.key.c_str(), PreviewText(before[i]).c_str(),
             PreviewText(now[i]).c_str());
    }
  }
}

// Gives the store every change; at the first that it refuses, reports it and answers
// false (the file is then neither saved nor shown).
bool UpdateAll(PListFileSettings* settings, const std::vector<Change>& changes, const Run& run) {
  for (const Change& change : changes) {
    if (!settings->updateValueForKey(change.value, change.key)) {
      ReportFailure("Unable to update " + change.key + "\n", *settings, run);
      return false;
    }
  }
  return true;
}

// The outcome of a file that failed at `step`, with the store's cause.
FileOutcome Failed(const std::string& path, const char* step, const PListFileSettings& settings) {
  FileOutcome file;
  file.path = path;
  file.failedStep = step;
  file.cause = settings.error.reason;
  return file;
}

// The outcome of a file whose wanted keys held `before` and now hold `after`.
FileOutcome Compared(const std::string& path, const Values& before, const Values& after,
                     const std::vector<Change>& changes, Wanted wanted) {
  FileOutcome file;
  file.path = path;
  for (size_t i = 0; i < changes.size(); ++i) {
    if (!wanted(changes[i])) continue;
    if (before[i] && after[i] && *before[i] == *after[i]) {
      file.inPlace.push_back(changes[i].key);
    } else {
      file.changed.push_back({changes[i].key, before[i], after[i]});
    }
  }
  return file;
}

// Records each value that `file` changed in the system log: who ran the tool (with the
// user behind sudo), whom it acted for with --user, the file, the key, and the old and
// new value as a preview shows them. Text from outside the tool is escaped, so that no
// line can pass for two.
void Audit(const FileOutcome& file, const Run& run) {
  std::string who = text::Escaped(run.realUser);
  if (!run.sudoUser.empty()) who += " (sudo " + text::Escaped(run.sudoUser) + ")";
  if (run.account) who += " for " + text::Escaped(run.account->name);
  for (const ChangedValue& value : file.changed) {
    run.platform->systemLog(who + " changed " + text::Escaped(file.path) + ": " + value.key +
                            ": " + PreviewText(value.before) + " -> " +
                            PreviewText(value.after));
  }
}

// Whether the run saves only the files whose values change, and tells only the daemons
// of files it saved.
bool ActsOnlyOnChange(const Run& run) { return run.action == Action::kApply; }

// The outcome of the file at `path` when, read without its lock, it already holds every
// wanted change: then a run that acts only on change leaves it alone, and its folder
// too, without making a lock file or waiting for another run. Nothing when it does not
// hold them, or cannot be read (the run then opens it under its lock and reports). The
// file is read in `*settings`.
std::optional<FileOutcome> AlreadyInPlace(PListFileSettings* settings, const std::string& path,
                                          const std::vector<Change>& changes, Wanted wanted,
                                          const Run& run) {
  if (!ActsOnlyOnChange(run) || run.options.dryRun || run.options.check) return std::nullopt;
  if (!settings->open()) return std::nullopt;
  const Values before = ValuesOf(*settings, changes, wanted);
  for (const Change& change : changes) {
    if (wanted(change) && !settings->updateValueForKey(change.value, change.key)) {
      return std::nullopt;
    }
  }
  // A file that is not there reads as an empty one, which never holds every change.
  if (ValuesOf(*settings, changes, wanted) != before) return std::nullopt;
  return Compared(path, before, before, changes, wanted);
}

// Saves a changed file, or any file when the run saves whatever changed, and records
// what changed. Answers false when the save failed (reported as `message`).
bool SaveIfChanged(PListFileSettings* settings, FileOutcome* file, const char* message,
                   const Run& run) {
  if (file->changed.empty() && ActsOnlyOnChange(run)) return true;
  if (!settings->save()) {
    ReportFailure(message, *settings, run);
    *file = Failed(file->path, "save", *settings);
    return false;
  }
  Audit(*file, run);
  return true;
}

// Puts the changes that concern students into the student settings file, which is only
// ever changed, never created: a device without the student agent has none. Adds its
// outcome to `*outcome`, unless it could not be read. Answers whether a value in it
// changed.
bool UpdateStudentFile(const std::vector<Change>& changes, const Run& run,
                       ChangeOutcome* outcome) {
  const std::string path = StudentFilePath(run.platform, run.systemFolder);
  if (path.empty()) return false;
  PListFileSettings student(path, run.platform, run.side);
  if (std::optional<FileOutcome> file =
          AlreadyInPlace(&student, path, changes, ConcernsStudents, run)) {
    outcome->files.push_back(std::move(*file));
    return false;
  }
  const bool preview = run.options.dryRun || run.options.check;
  if (!(preview ? student.open() : student.openForChange())) {
    // A file that cannot be read is the student agent's own affair and is left alone.
    // One that another run kept busy for the whole wait would lose the change.
    if (student.error.kind != StoreError::Kind::kBusy) return false;
    ReportFailure(kStudentsNotSaved, student, run);
    outcome->ok = false;
    outcome->files.push_back(Failed(path, "open", student));
    return false;
  }
  const Values before = ValuesOf(student, changes, ConcernsStudents);
  // A refused update is left out; a single change still saves the file.
  for (const Change& change : changes) {
    if (ConcernsStudents(change)) student.updateValueForKey(change.value, change.key);
  }
  FileOutcome file =
      Compared(path, before, ValuesOf(student, changes, ConcernsStudents), changes,
               ConcernsStudents);
  const bool changed = !file.changed.empty();
  if (preview) {
    if (!run.options.json) PrintPreview(path, before, student, changes, ConcernsStudents);
  } else if (!SaveIfChanged(&student, &file, kStudentsNotSaved, run)) {
    outcome->ok = false;
    outcome->files.push_back(std::move(file));
    return false;
  }
  outcome->changed = outcome->changed || changed;
  outcome->files.push_back(std::move(file));
  return changed;
}

}  // namespace

bool OpenTeacherFile(PListFileSettings* settings, bool forChange, const Run& run) {
  if (forChange ? settings->openForChange() : settings->open()) return true;
  // A file gone since it was found is skipped as if it had never been there.
  if (settings->error.kind != StoreError::Kind::kAbsent) ReportFailure(kCannotOpen, *settings, run);
  return false;
}

void PrintValue(const std::string& key, const std::optional<std::string>& shown, const Run& run,
                const std::string& suffix) {
  const std::string end = ShownText(suffix, run);
  if (shown && !shown->empty()) {
    printf("%s = %s%s\n", key.c_str(), ShownText(*shown, run).c_str(), end.c_str());
  } else {
    printf("%s is not set.%s\n", key.c_str(), end.c_str());
  }
}

void TellDaemons(bool students, bool teacherSpecific, const Run& run) {
  // What was printed goes out first, so that it comes before anything the commands
  // print themselves.
  fflush(stdout);
  fflush(stderr);
  if (students) run.platform->runShellCommand("killall brdaemon 2> /dev/null");
  if (teacherSpecific) PListFileSettings::restartPrefsDaemonForUser(run.userName, run.platform);
}

bool ShowSetting(const std::string& key, const Run& run) {
  bool ok = true, print = true;
  for (const std::string& path : PreferenceFilePaths(run.platform, run.prefsFolder)) {
    PListFileSettings settings(path, run.platform);
    const bool opened = OpenTeacherFile(&settings, false, run);
    if (!opened && settings.error.kind == StoreError::Kind::kAbsent) continue;
    // Only the first file prints, even when it fails and a later one succeeds.
    const bool printThis = print;
    print = false;
    if (!opened) {
      ok = false;
      continue;
    }
    // The store's display text covers every kind of value a file can hold, so kinds the
    // tool never writes (dates, data, dictionaries) still print and the run goes on.
    if (printThis) PrintValue(key, settings.valueForKey(key), run);
  }
  // A query never concerns students.
  TellDaemons(false, PListFileSettings::isUserSetting(key), run);
  return ok;
}

namespace {

// Each changed key as the file now holds it, as a query shows it.
void PrintValues(const PListFileSettings& settings, const std::vector<Change>& changes,
                 const Run& run) {
  for (const Change& change : changes) {
    PrintValue(change.key, settings.valueForKey(change.key), run);
  }
}

}  // namespace

ChangeOutcome ChangeSettings(const std::vector<Change>& changes,
                             const ManagedPreferences& managed, const Run& run) {
  const bool preview = run.options.dryRun || run.options.check;
  // With --json the caller prints the outcome instead.
  const bool print = !run.options.json;
  bool students = false, teacherSpecific = false;
  for (const Change& change : changes) {
    students = students || ConcernsStudents(change);
    teacherSpecific = teacherSpecific || PListFileSettings::isUserSetting(change.key);
  }
  const bool mirror = students && run.side == GlobalSetting;
  // A single change reaches the student file after each teacher-side file; several
  // changes reach it once, after all of them.
  const bool mirrorEach = run.action == Action::kChange;

  const std::vector<std::string> paths =
      changes.empty() ? std::vector<std::string>()
                      : PreferenceFilePaths(run.platform, run.prefsFolder);
  ChangeOutcome outcome;
  bool first = true, anyDone = false, teacherFileChanged = false, studentFileChanged = false;
  for (const std::string& path : paths) {
    // The lock of each file is held from its read to its save, over all the changes; a
    // preview only reads.
    PListFileSettings settings(path, run.platform, run.side);
    if (std::optional<FileOutcome> file =
            AlreadyInPlace(&settings, path, changes, EveryChange, run)) {
      if (first && print) PrintValues(settings, changes, run);
      first = false;
      outcome.files.push_back(std::move(*file));
      anyDone = true;
      continue;
    }
    const bool opened = OpenTeacherFile(&settings, !preview, run);
    if (!opened && settings.error.kind == StoreError::Kind::kAbsent) continue;
    const bool printThis = first && print;
    first = false;  // Only the first file prints, even when it fails.
    if (!opened) {
      outcome.ok = false;
      outcome.files.push_back(Failed(path, "open", settings));
      continue;
    }
    const Values before = ValuesOf(settings, changes, EveryChange);
    if (!UpdateAll(&settings, changes, run)) {
      outcome.ok = false;
      outcome.files.push_back(Failed(path, "update", settings));
      continue;
    }
    FileOutcome file =
        Compared(path, before, ValuesOf(settings, changes, EveryChange), changes, EveryChange);
    const bool changed = !file.changed.empty();
    if (preview) {
      if (print) PrintPreview(path, before, settings, changes, EveryChange);
    } else if (!SaveIfChanged(&settings, &file, kCannotSave, run)) {
      outcome.ok = false;
      outcome.files.push_back(std::move(file));
      continue;
    }
    outcome.changed = outcome.changed || changed;
    teacherFileChanged = teacherFileChanged || changed;
    outcome.files.push_back(std::move(file));
    anyDone = true;
    if (preview) continue;
    if (mirror && mirrorEach && UpdateStudentFile(changes, run, &outcome)) {
      studentFileChanged = true;
    }
    if (printThis) PrintValues(settings, changes, run);
  }
  if (mirror && !mirrorEach && anyDone && UpdateStudentFile(changes, run, &outcome)) {
    studentFileChanged = true;
  }

  if (preview) {
    if (print && !outcome.changed) printf("Nothing would change.\n");
    // A dry run only reports a file it could not read; a check's status is its answer.
    if (run.options.dryRun) outcome.ok = true;
    return outcome;
  }
  // A single change tells the daemons whatever happened to the files.
  if (ActsOnlyOnChange(run)) {
    TellDaemons(studentFileChanged, teacherSpecific && teacherFileChanged, run);
  } else if (!changes.empty()) {
    TellDaemons(students, teacherSpecific, run);
  }
  if (!managed.empty()) {
    for (const Change& change : changes) {
      if (auto forced = managed.forcedValue(change.key, paths)) WarnForced(change.key, *forced);
    }
  }
  return outcome;
}

}  // namespace brtconfig
