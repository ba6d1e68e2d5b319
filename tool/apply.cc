#include "tool/apply.h"

#include <cstdio>
#include <utility>

#include "platform/platform.h"
#include "plist/plist.h"
#include "settings/apply_input.h"
#include "settings/plist_file_settings.h"
#include "text/escape.h"
#include "tool/checks.h"
#include "tool/fan_out.h"

namespace brtconfig {
namespace {

// A value as a preview shows it: its display text, without the blank that follows the
// last element of a list, escaped as every option run shows text from a file.
std::string PreviewText(const std::optional<plist::Value>& value) {
  if (!value) return "not set";
  std::string text = DisplayText(*value);
  if (value->isArray() && !text.empty()) text.pop_back();
  return text::Escaped(text);
}

// Gives the store every change; at the first that it refuses, reports it and answers
// false (the file is then neither saved nor shown).
bool UpdateAll(PListFileSettings* settings, const std::vector<Change>& changes,
               Platform* platform) {
  for (const Change& change : changes) {
    if (!settings->updateValueForKey(change.value, change.key)) {
      ReportFailure(("Unable to update " + change.key + "\n").c_str(), *settings, platform);
      return false;
    }
  }
  return true;
}

// The values of the wanted changes' keys, one for each change (nothing for the others).
// The changes touch only these keys, each replaced where it stands or appended, so these
// alone tell whether a file would change.
using Values = std::vector<std::optional<plist::Value>>;
Values ValuesOf(const PListFileSettings& settings, const std::vector<Change>& changes,
                bool (*wanted)(const Change&)) {
  Values values;
  for (const Change& change : changes) {
    values.push_back(wanted(change) ? settings.storedValue(change.key) : std::nullopt);
  }
  return values;
}

// The changes of one file in a preview: every key with its current and new value, under
// the file's path, when anything in it would change. Answers whether it would.
bool PrintPreview(const std::string& path, const Values& before, const PListFileSettings& after,
                  const std::vector<Change>& changes, bool (*wanted)(const Change&)) {
  const Values now = ValuesOf(after, changes, wanted);
  if (now == before) return false;
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
  return true;
}

bool EveryChange(const Change&) { return true; }
bool ConcernsStudents(const Change& change) {
  return PListFileSettings::settingAppliesToStudents(change.key);
}

// The student settings file, once for all changes that concern students. Returns false
// only when it was there but could not be saved.
bool ApplyToStudentFile(const std::vector<Change>& changes, const Run& run, bool* shown) {
  const std::string path = StudentFilePath(run);
  if (path.empty()) return true;
  PListFileSettings student(path, run.platform);
  const bool dryRun = run.options.dryRun;
  bool failed = false;
  if (!OpenStudentFile(&student, !dryRun, run.platform, &failed)) return !failed;
  const Values before = dryRun ? ValuesOf(student, changes, ConcernsStudents) : Values();
  // A refused update still saves, as for a single change.
  for (const Change& change : changes) {
    if (ConcernsStudents(change)) student.updateValueForKey(change.value, change.key);
  }
  if (dryRun) {
    if (PrintPreview(path, before, student, changes, ConcernsStudents)) *shown = true;
    return true;
  }
  if (!student.save()) {
    ReportFailure("failed to save student settings.\n", student, run.platform);
    return false;
  }
  return true;
}

}  // namespace

std::optional<std::vector<Change>> ReadChanges(const std::string& file, const Run& run) {
  const bool standardInput = file == "-";
  const std::string shownName = standardInput ? "standard input" : ShownText(file, run);
  std::string bytes, error;
  const ReadStatus status =
      standardInput ? run.platform->readStandardInput(plist::kMaxInputBytes, &bytes, &error)
                    : run.platform->readFile(file, plist::kMaxInputBytes, &bytes, &error);
  if (status != ReadStatus::kOk) {
    if (status == ReadStatus::kNotFound) error = "no such file";
    fprintf(stderr, "Unable to apply %s: %s\n", shownName.c_str(), ShownText(error, run).c_str());
    return std::nullopt;
  }

  std::vector<ApplyEntry> entries;
  ApplyInputError fault;
  bool ok = ParseApplyInput(std::move(bytes), &entries, &fault);
  if (!fault.message.empty()) {
    if (fault.offset) {
      fprintf(stderr, "Unable to apply %s: %s at byte %zu\n", shownName.c_str(),
              fault.message.c_str(), *fault.offset);
    } else {
      fprintf(stderr, "Unable to apply %s: %s\n", shownName.c_str(), fault.message.c_str());
    }
    return std::nullopt;
  }
  for (const InvalidApplyEntry& entry : fault.invalidEntries) {
    fprintf(stderr, "invalid entry %s in %s: %s.\n", ShownText(entry.key, run).c_str(),
            shownName.c_str(), entry.reason.c_str());
  }

  // Every other entry is checked too, so that every one at fault is reported.
  std::vector<Change> changes;
  for (const ApplyEntry& entry : entries) {
    if (!KeyIsUsable(entry.key, run)) {
      ok = false;
      continue;
    }
    std::optional<SettingValue> value = ValidValue(entry.key, entry.texts);
    if (!value) {
      ok = false;
      continue;
    }
    changes.push_back({entry.key, std::move(*value)});
  }
  if (!ok) return std::nullopt;
  return changes;
}

int ApplyChanges(const std::vector<Change>& changes, const ManagedPreferences& managed,
                 const Run& run) {
  const bool dryRun = run.options.dryRun;
  bool students = false, teacherSpecific = false;
  for (const Change& change : changes) {
    students = students || ConcernsStudents(change);
    teacherSpecific = teacherSpecific || PListFileSettings::isUserSetting(change.key);
  }

  const std::vector<std::string> paths =
      changes.empty() ? std::vector<std::string>() : PreferenceFilePaths(run);
  bool ok = true, print = true, anySaved = false, shown = false;
  for (const std::string& path : paths) {
    // The lock of each file is held from its read to its save, over all the changes; a
    // preview only reads.
    PListFileSettings settings(path, run.platform);
    const bool opened = dryRun ? settings.open() : settings.openForChange();
    // A file gone since it was found is skipped as if it had never been there.
    if (!opened && settings.error.kind == StoreError::Kind::kAbsent) continue;
    const bool printThis = print;
    print = false;  // Only the first file prints, even when it fails.
    if (!opened) {
      ReportFailure("Unable to open teacher preference file.\n", settings, run.platform);
      ok = false;
      continue;
    }
    const Values before = dryRun ? ValuesOf(settings, changes, EveryChange) : Values();
    if (!UpdateAll(&settings, changes, run.platform)) {
      ok = false;
      continue;
    }
    if (dryRun) {
      if (PrintPreview(path, before, settings, changes, EveryChange)) shown = true;
      anySaved = true;
      continue;
    }
    if (!settings.save()) {
      ReportFailure("Unable to save settings\n", settings, run.platform);
      ok = false;
      continue;
    }
    anySaved = true;
    if (!printThis) continue;
    for (const Change& change : changes) {
      PrintValue(change.key, settings.valueForKey(change.key), run);
    }
  }
  if (anySaved && students && run.platform->realUserId() == 0) {
    if (!ApplyToStudentFile(changes, run, &shown)) ok = false;
  }

  if (dryRun) {
    if (!shown) printf("Nothing would change.\n");
    return 0;
  }
  if (!changes.empty()) TellDaemons(students, teacherSpecific, run);
  if (!managed.empty()) {
    for (const Change& change : changes) {
      if (auto forced = managed.forcedValue(change.key, paths)) WarnForced(change.key, *forced);
    }
  }
  return ok ? 0 : 1;
}

}  // namespace brtconfig
