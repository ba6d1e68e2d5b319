#include "text/utf.h"

#include <gtest/gtest.h>

namespace text {
namespace {

TEST(UtfTest, AsciiMeansNoByteAbove0x7FWhereverItStands) {
  // Long enough for the eight-byte steps and a tail; the high byte moves through both.
  const std::string plain = "abcdefghijklmnopqrs\x7f";
  EXPECT_TRUE(text::IsAscii(plain));
  EXPECT_TRUE(text::IsAscii(""));
  for (size_t i = 0; i < plain.size(); ++i) {
    std::string high = plain;
    high[i] = '\x80';
    EXPECT_FALSE(text::IsAscii(high)) << i;
  }
}

TEST(UtfTest, AcceptsOnlyWellFormedUtf8) {
  for (const char* bytes : {"", "plain", "©€\U0001D7CE", "\U0010FFFF"}) {
    EXPECT_TRUE(IsValidUtf8(bytes)) << bytes;
  }
  // Overlong NUL and slash, a surrogate, beyond U+10FFFF, truncated, a stray continuation.
  for (const char* bytes : {"\xC0\x80", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80",
                            "\xE2\x82", "a\x80", "\xFF"}) {
    EXPECT_FALSE(IsValidUtf8(bytes)) << bytes;
    EXPECT_EQ(Utf8SequenceLength(bytes + (bytes[0] == 'a')), 0u) << bytes;  // At the fault.
  }
  EXPECT_EQ(Utf8SequenceLength("\xC2\xA9z"), 2u);
  EXPECT_EQ(Utf8SequenceLength("\U0010FFFF"), 4u);
  EXPECT_EQ(Utf8SequenceLength(""), 0u);
}

TEST(UtfTest, SplitsCharactersBeyondTheBmpIntoSurrogatesAndReplacesBadBytes) {
  EXPECT_EQ(ToUtf16("aé\U0001D7CE"), u"a\u00E9\xD835\xDFCE");
  EXPECT_EQ(ToUtf16("\xE2\x82z\xC0"), u"\uFFFD\uFFFDz\uFFFD");
}

TEST(UtfTest, ForbidsControlsOtherThanTabAndLineEnds) {
  // Zero width space is a format character (Cf), not a control.
  for (const char* text : {"a\tb\nc\r", "\u200B"}) EXPECT_FALSE(HasForbiddenControl(text)) << text;
  for (const char* text : {"a\x01", "\x1B[0m", "\x7F", "\u0085"}) {
    EXPECT_TRUE(HasForbiddenControl(text)) << text;
  }
  EXPECT_TRUE(HasForbiddenControl(std::string("a\0b", 3)));
}

}  // namespace
}  // namespace text
