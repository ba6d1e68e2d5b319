// The platform's conversions of text to numbers and truth values.
#ifndef BRTCONFIG_TEXT_NUMBER_TEXT_H_
#define BRTCONFIG_TEXT_NUMBER_TEXT_H_

#include <cstdint>
#include <string_view>

namespace text {

// Skips leading white space (space separators, line and paragraph separators, tab to
// carriage return, NEL), takes an optional sign and reads decimal digits (general
// category Nd of any script, each worth its digit value) up to the first other character.
// As in the UTF-16 digit test, a digit beyond U+FFFF is another character. Saturates at
// INT32_MAX / INT32_MIN. No digits gives 0. Ill-formed UTF-8 stops reading.
int32_t IntValue(std::string_view utf8);

// True when, after leading white space (as IntValue skips it), an optional sign and
// leading zeros, the first character is Y, y, T, t or a digit from 1 to 9 (ASCII).
bool BoolValue(std::string_view utf8);

}  // namespace text

#endif  // BRTCONFIG_TEXT_NUMBER_TEXT_H_
