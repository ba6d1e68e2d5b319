// The changes a run asks for: built from the command line or an --apply input, and
// checked as the catalogue and validation require before any file is touched. Each check
// prints its refusal on standard error.
#ifndef BRTCONFIG_TOOL_CHANGES_H_
#define BRTCONFIG_TOOL_CHANGES_H_

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "settings/setting.h"
#include "tool/run.h"

namespace brtconfig {

// One checked change: a key and its new value, as the command line would make it.
struct Change {
  std::string key;
  SettingValue value;
};

// `text` without Unicode punctuation (general category P) at either end, except that a
// leading "-" directly followed by a decimal digit stays. Invalid UTF-8 comes back as is.
std::string TrimValuePunctuation(std::string_view text);

// The new value for `key` built from the arguments that follow it (`values`, at least
// one). One value gives a string, trimmed of punctuation at both ends unless `key` is a
// string setting (a "-" directly before a decimal digit is kept, so negative numbers stay
// negative); two or more give an array of the strings exactly as typed.
SettingValue MakeSettingValue(std::string_view key, const std::vector<std::string>& values);

// The two key checks, in their fixed order: the key must be in the catalogue before the
// right to it is looked at. A run for another user (--user) handles teacher-specific
// settings only; otherwise root handles global ones and any other user teacher-specific
// ones.
bool KeyIsUsable(const std::string& key, const Run& run);

// The new value for `key` made from `values` as the command line makes it, when
// validation accepts it; otherwise the refusal with the setting's hint.
std::optional<SettingValue> ValidValue(const std::string& key,
                                       const std::vector<std::string>& values);

// The changes of the run: those of its --apply input (every entry checked, in the input's
// order, every fault reported), or the one change of its key and values; none for a run
// without either. Nothing when any is refused.
std::optional<std::vector<Change>> RequestedChanges(const Run& run);

}  // namespace brtconfig

#endif  // BRTCONFIG_TOOL_CHANGES_H_
