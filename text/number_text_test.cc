#include "text/number_text.h"

#include <gtest/gtest.h>

namespace text {
namespace {

TEST(NumberTextTest, IntValueReadsALeadingSignedDecimal) {
  const struct {
    const char* text;
    int32_t value;
  } cases[] = {{"", 0},
               {"abc", 0},
               {"42", 42},
               {"007", 7},
               {"12abc", 12},
               {"1 2", 1},
               {"+7", 7},
               {"-7", -7},
               {"- 5", 0},
               {"+-5", 0},
               {" \t\n\r\v\f42", 42},
               {"\u00A0\u300042", 42},
               {"2147483647", INT32_MAX},
               {"2147483648", INT32_MAX},
               {"99999999999", INT32_MAX},
               {"-2147483648", INT32_MIN},
               {"-99999999999", INT32_MIN},
               // Arabic-Indic, extended Arabic-Indic, Devanagari, fullwidth and Thai digits.
               {"\u0664\u0662", 42},
               {"\u06F9\u06F0", 90},
               {"\u096D", 7},
               {"\uFF11\uFF19", 19},
               {"\u0E55", 5},
               // A digit beyond the BMP (U+1D7D3) and ill-formed bytes end the number.
               {"1\U0001D7D3", 1},
               {"\xFF\x35", 0},
               {"5\xFF\x35", 5}};
  for (const auto& c : cases) EXPECT_EQ(IntValue(c.text), c.value) << c.text;
}

TEST(NumberTextTest, BoolValueLooksAtTheFirstSignificantCharacter) {
  for (const char* text :
       {"true", "TRUE", "yes", "Y", "t", "1", "9", "0001", "-1", "+0y", " \tT"}) {
    EXPECT_TRUE(BoolValue(text)) << text;
  }
  // The digits 1 to 9 are ASCII only; an Arabic-Indic three is no truth.
  for (const char* text : {"false", "no", "0", "000", "", "x", "-", "\u0663"}) {
    EXPECT_FALSE(BoolValue(text)) << text;
  }
}

TEST(NumberTextTest, ShortestRealTextReadsBackTheSameNumberAtItsWidth) {
  const struct {
    double value;
    bool asFloat32;
    const char* text;
  } cases[] = {{5000, false, "5000"},
               {123456789012345.0, false, "123456789012345"},
               {1e15, false, "1e+15"},
               {-1e-7, false, "-1e-07"},
               {2.5, false, "2.5"},
               {0.1 + 0.2, false, "0.30000000000000004"},
               {1e100, false, "1e+100"},
               {-0.0, false, "-0"},
               // A float widened to a double shows as the float it was, unless read as a double.
               {static_cast<double>(0.1f), true, "0.1"},
               {static_cast<double>(0.1f), false, "0.10000000149011612"}};
  for (const auto& c : cases) EXPECT_EQ(ShortestRealText(c.value, c.asFloat32), c.text) << c.text;
}

}  // namespace
}  // namespace text
