// The platform's conversions of text to numbers and truth values.
#ifndef BRTCONFIG_TEXT_NUMBER_TEXT_H_
#define BRTCONFIG_TEXT_NUMBER_TEXT_H_

#include <cstdint>
#include <string_view>

namespace text {

// Skips leading white space, takes an optional sign and reads decimal digits (general
// category Nd, each worth its digit value) up to
// the first other character; saturates at INT32_MAX / INT32_MIN. No digits gives 0.
int32_t IntValue(std::string_view utf8);

// True when, after leading white space, an optional sign and leading zeros, the first
// character is Y, y, T, t or a digit from 1 to 9.
bool BoolValue(std::string_view utf8);

}  // namespace text

#endif  // BRTCONFIG_TEXT_NUMBER_TEXT_H_
