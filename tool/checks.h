// The checks a key and a new value pass before any file is touched, shared by a single
// change and by the entries of --apply. Each prints its refusal on standard error.
#ifndef BRTCONFIG_TOOL_CHECKS_H_
#define BRTCONFIG_TOOL_CHECKS_H_

#include <optional>
#include <string>
#include <vector>

#include "settings/setting.h"
#include "tool/run.h"

namespace brtconfig {

// The two key checks, in their fixed order: the key must be in the catalogue before the
// right to it is looked at. A run for another user (--user) handles teacher-specific
// settings only; otherwise root handles global ones and any other user teacher-specific
// ones. Prints the refusal and returns false when the key cannot be used.
bool KeyIsUsable(const std::string& key, const Run& run);

// The new value for `key` made from `values` as the command line makes it, when
// validation accepts it; otherwise prints the refusal with the setting's hint and
// returns nothing.
std::optional<SettingValue> ValidValue(const std::string& key,
                                       const std::vector<std::string>& values);

}  // namespace brtconfig

#endif  // BRTCONFIG_TOOL_CHECKS_H_
