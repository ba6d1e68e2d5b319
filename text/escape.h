// Text from a file or an input, shown so that it cannot pass for anything but itself:
// no character in it moves the cursor, starts a new line, drives the terminal or
// reorders the text around it.
#ifndef BRTCONFIG_TEXT_ESCAPE_H_
#define BRTCONFIG_TEXT_ESCAPE_H_

#include <string>
#include <string_view>

namespace text {

// True for a character that is never shown as it is: a control character (general
// category Cc: C0, DEL and C1), a format character (Cf, such as the bidirectional
// controls U+202A to U+202E and U+2066 to U+2069, or U+200B), and the line and
// paragraph separators U+2028 and U+2029.
bool IsHiddenCharacter(char32_t cp);

// `bytes` with every hidden character, every byte that is not part of well-formed UTF-8
// and every backslash written as an escape, so that distinct texts stay distinct:
//   \\  a backslash
//   \e  \n  \t  \r  escape, line feed, tab, carriage return
//   \xHH  any other C0 control or DEL, or a byte that is not UTF-8 (two hex digits)
//   \uHHHH  any other hidden character; \UHHHHHHHH above U+FFFF
// Hex digits are capitals. Everything else, non-ASCII letters included, stays as it is.
std::string Escaped(std::string_view bytes);

}  // namespace text

#endif  // BRTCONFIG_TEXT_ESCAPE_H_
