// Dates as the XML property-list <date> element writes them: "YYYY-MM-DDTHH:MM:SSZ" in UTC
// on the proleptic Gregorian calendar (astronomical years: year 0 precedes year 1), for
// seconds counted from 2001-01-01T00:00:00Z. Private to the plist library.
#ifndef BRTCONFIG_PLIST_DATE_H_
#define BRTCONFIG_PLIST_DATE_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace plist {

// Years beyond this magnitude are neither read nor written. Up to it every whole second
// is an exact double, so a date read from text is written back as the same text.
constexpr int64_t kMaxDateYear = 99999999;

// Appends `seconds`, floored to the whole second (towards minus infinity), as
// "YYYY-MM-DDTHH:MM:SSZ". The year is padded as C's "%04d" pads it ("0005", "-001").
// Returns false, appending nothing, when `seconds` is not finite or its year lies beyond
// kMaxDateYear.
bool FormatDate(double seconds, std::string* out);

// Parses "[-]Y-MM-DDTHH:MM:SS[.F]Z": a year of 1 to 8 digits, two-digit fields, and an
// optional fraction of a second. Returns false, leaving `*seconds` unchanged, on any other
// text or on a field out of range (month 1-12, a day that exists in that month, hour below
// 24, minute and second below 60).
bool ParseDate(std::string_view text, double* seconds);

}  // namespace plist

#endif  // BRTCONFIG_PLIST_DATE_H_
