// What a change of a setting takes, asked of value validation itself: the generated
// documentation states the limits a user meets, not the numbers in the table, which
// validation does not always read.
#ifndef BRTCONFIG_DOC_CATALOGUE_PROBE_H_
#define BRTCONFIG_DOC_CATALOGUE_PROBE_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "settings/setting.h"

namespace brtconfig {

// True when validation takes `value` for the setting.
bool Accepts(const Setting& setting, const SettingValue& value);

bool HasType(const Setting& setting, const char* type);

// The largest integer that a change may set. Validation refuses 2147483647 for every
// integer setting, so the stored maximum of Authorization is not what a user can set.
int32_t LargestAccepted(const Setting& setting);

// The shortest (at least one) and the longest list of copies of `element` that
// validation takes for the setting. The list limits live in validation alone, not in the
// table.
size_t ShortestAcceptedList(const Setting& setting, const char* element);
size_t LongestAcceptedList(const Setting& setting, const char* element);

// A regular expression, without anchors, for the decimal numbers from `low` to `high`
// with any number of leading zeros, as validation reads a number's text.
std::string DecimalRangePattern(uint32_t low, uint32_t high);

}  // namespace brtconfig

#endif  // BRTCONFIG_DOC_CATALOGUE_PROBE_H_
