#include "tool/changes.h"

#include <cstdio>
#include <utility>

#include "platform/platform.h"
#include "plist/plist.h"
#include "settings/apply_input.h"
#include "settings/plist_file_settings.h"
#include "text/bytes.h"
#include "text/unicode_class.h"
#include "text/utf.h"

namespace brtconfig {
namespace {

// The changes in the input named `file` ("-": standard input), read as the caller.
std::optional<std::vector<Change>> ReadChanges(const std::string& file, const Run& run) {
  const bool standardInput = file == "-";
  const std::string shownName = standardInput ? "standard input" : ShownText(file, run);
  text::Bytes bytes;
  std::string error;
  const ReadStatus status =
      standardInput ? run.platform->readStandardInput(plist::kMaxInputBytes, &bytes, &error)
                    : run.platform->readFile(file, plist::kMaxInputBytes, 0, &bytes, &error);
  if (status != ReadStatus::kOk) {
    if (status == ReadStatus::kNotFound) error = "no such file";
    fprintf(stderr, "Unable to apply %s: %s\n", shownName.c_str(), ShownText(error, run).c_str());
    return std::nullopt;
  }

  std::vector<ApplyEntry> entries;
  ApplyInputError fault;
  bool ok = ParseApplyInput(bytes, &entries, &fault);
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

}  // namespace

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

bool KeyIsUsable(const std::string& key, const Run& run) {
  if (!PListFileSettings::isValidSetting(key)) {
    fprintf(stderr, "%s is not a valid setting.\n", ShownText(key, run).c_str());
    return false;
  }
  if (run.account) {
    if (PListFileSettings::isUserSetting(key)) return true;
    fprintf(stderr, "%s is a global setting and cannot be used with --user.\n", key.c_str());
    return false;
  }
  if (!PListFileSettings::canSetSetting(key, run.asRoot)) {
    if (!run.asRoot) {
      fprintf(stderr, "%s is a global setting.  Try again with sudo.\n", key.c_str());
    } else {
      fprintf(stderr, "%s is a user-specific setting.  Try again without sudo.\n", key.c_str());
    }
    return false;
  }
  return true;
}

std::optional<SettingValue> ValidValue(const std::string& key,
                                       const std::vector<std::string>& values) {
  SettingValue value = MakeSettingValue(key, values);
  if (!PListFileSettings::isValidValueForSetting(&value, key)) {
    fprintf(stderr, "invalid value type for %s.    Hint: %s\n", key.c_str(),
            PListFileSettings::stringForSetting(key).c_str());
    return std::nullopt;
  }
  return value;
}

std::optional<std::vector<Change>> RequestedChanges(const Run& run) {
  if (run.options.apply) return ReadChanges(*run.options.apply, run);
  std::vector<Change> changes;
  if (run.arguments.size() > 1) {
    const std::string& key = run.arguments[0];
    std::optional<SettingValue> value =
        ValidValue(key, std::vector<std::string>(run.arguments.begin() + 1, run.arguments.end()));
    if (!value) return std::nullopt;
    changes.push_back({key, std::move(*value)});
  }
  return changes;
}

}  // namespace brtconfig
