// How a value stored in a preference file is shown: the display text of a query, a
// listing and a preview.
#ifndef BRTCONFIG_SETTINGS_DISPLAY_H_
#define BRTCONFIG_SETTINGS_DISPLAY_H_

#include <string>

#include "plist/value.h"

namespace brtconfig {

// The display text of a value stored under a setting key, as a query shows it.
// Booleans show as "true"/"false"; integers as the low 32 bits of their value taken as
// signed; reals as their integer part held to the 32-bit range (NaN as 0); a list as each
// element followed by a blank. Other kinds show as ElementText.
std::string DisplayText(const plist::Value& value);

// How a value shows inside a list or another container: numbers in full, booleans as
// 1/0, dates as "2001-01-01 00:00:00 +0000", data as "<0a1b2c3d 4e>", lists as "(a, b)",
// dictionaries as "{k = v; k2 = v2}", UIDs as their number.
std::string ElementText(const plist::Value& value);

}  // namespace brtconfig

#endif  // BRTCONFIG_SETTINGS_DISPLAY_H_
