// Unicode character classes, from utf8proc's tables.
#ifndef BRTCONFIG_TEXT_UNICODE_CLASS_H_
#define BRTCONFIG_TEXT_UNICODE_CLASS_H_

#include <string>
#include <string_view>

namespace text {

// General category P (Pc, Pd, Ps, Pe, Pi, Pf, Po).
bool IsPunctuation(char32_t cp);
// General category Nd.
bool IsDecimalDigit(char32_t cp);

// `utf8` with every punctuation character removed from both ends. Text that is not
// valid UTF-8 is returned unchanged.
std::string TrimPunctuation(std::string_view utf8);

}  // namespace text

#endif  // BRTCONFIG_TEXT_UNICODE_CLASS_H_
