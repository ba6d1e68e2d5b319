// The platform's conversions of text to numbers and truth values, and of reals to text.
#ifndef BRTCONFIG_TEXT_NUMBER_TEXT_H_
#define BRTCONFIG_TEXT_NUMBER_TEXT_H_

#include <cstdint>
#include <string>
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

// How a whole number is written by ShortestRealText.
enum class WholeReals {
  kInFull,     // "5000", as it would be typed: a value read as text for a setting.
  kShortestG,  // "5e+03", the shortest "%g" form: a real shown as a file holds it.
};

// The shortest text of `value` that reads back as the same number: compared as a 4-byte
// float when `asFloat32` (a real a binary file held at that width), else as a double.
// Whole numbers below 10^15 are written as `whole` says, others take the shortest "%g"
// form ("0.1", "1e+100"); NaN and infinities show as "nan", "inf", "-inf".
std::string ShortestRealText(double value, bool asFloat32 = false,
                             WholeReals whole = WholeReals::kInFull);

}  // namespace text

#endif  // BRTCONFIG_TEXT_NUMBER_TEXT_H_
