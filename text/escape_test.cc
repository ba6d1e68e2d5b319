#include "text/escape.h"

#include <gtest/gtest.h>

#include <string>

namespace text {
namespace {

using std::string_literals::operator""s;

TEST(EscapeTest, HiddenCharactersAreControlsFormatsAndSeparators) {
  for (char32_t cp :
       {U'\0', U'\x1B', U'\x7F', U'\u0085', U'\u009B', U'\u00AD', U'\u061C', U'\u200B', U'\u200E',
        U'\u202E', U'\u2028', U'\u2029', U'\u2066', U'\uFEFF', U'\U000E0001'}) {
    EXPECT_TRUE(IsHiddenCharacter(cp)) << std::hex << cp;
  }
  for (char32_t cp : {U' ', U'~', U'\u00A0', U'\u00E9', U'\u05D0', U'\uFFFD', U'\U0001F600'}) {
    EXPECT_FALSE(IsHiddenCharacter(cp)) << std::hex << cp;
  }
}

TEST(EscapeTest, EveryHiddenCharacterAndStrayByteHasOneVisibleForm) {
  const struct {
    std::string in;
    std::string out;
  } cases[] = {
      {"plain é 😀 ~", "plain é 😀 ~"},
      {"a\nb = 1", "a\\nb = 1"},
      {"\t\r\x1B[31m", "\\t\\r\\e[31m"},
      {"a\0b"s, "a\\x00b"},
      {"\x07\x7F\x1F", "\\x07\\x7F\\x1F"},
      {"C:\\new", "C:\\\\new"},  // So that it differs from "C:" + line feed + "ew".
      {"\u202Etxt.exe", "\\u202Etxt.exe"},
      {"\u0085\u009B\u2028", "\\u0085\\u009B\\u2028"},
      {"\U000E0041", "\\U000E0041"},
      // Bytes that are not UTF-8, told apart from the characters U+00C3 and U+FFFD.
      {"\xC3 \xFF\xC3\xA9", "\\xC3 \\xFF\xC3\xA9"},
      {"\xEF\xBF\xBD", "\xEF\xBF\xBD"},
      {"\xE2\x80", "\\xE2\\x80"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(Escaped(c.in), c.out) << c.in;
}

}  // namespace
}  // namespace text
