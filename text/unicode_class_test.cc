#include "text/unicode_class.h"

#include <gtest/gtest.h>

#include <string_view>

namespace text {
namespace {

TEST(UnicodeClassTest, PunctuationIsCategoryPOnly) {
  for (char32_t cp : std::u32string_view(U"!\"#%&'()*,-./:;?@[]_{}«»¿—“、\U0001DA87")) {
    EXPECT_TRUE(IsPunctuation(cp)) << std::hex << cp;
  }
  // Symbols that ASCII's ispunct counts, letters, digits and spaces.
  for (char32_t cp : std::u32string_view(U"$+<=>^`|~a1 \u00A0°€")) {
    EXPECT_FALSE(IsPunctuation(cp)) << std::hex << cp;
  }
}

TEST(UnicodeClassTest, DecimalDigitsAreCategoryNd) {
  for (char32_t cp : {U'0', U'9', U'\u0663', U'\u0966', U'\uFF19', U'\U0001D7CE'}) {
    EXPECT_TRUE(IsDecimalDigit(cp)) << std::hex << cp;
  }
  // Superscript two (No), Roman numeral one (Nl), a letter, and a lone surrogate unit.
  for (char32_t cp : {U'\u00B2', U'\u2160', U'a', char32_t{0xD835}}) {
    EXPECT_FALSE(IsDecimalDigit(cp)) << std::hex << cp;
  }
}

TEST(UnicodeClassTest, TrimsPunctuationFromBothEndsOnly) {
  const struct {
    const char* in;
    const char* out;
  } cases[] = {{"«1»", "1"},          {"¿Qué?", "Qué"}, {"—5—", "5"},
               {"\"true\".", "true"}, {"-5", "5"},      {"(10.1.2.3)", "10.1.2.3"},
               {"a-b", "a-b"},        {"...", ""},      {"", ""},
               {"$5+", "$5+"},        {" .5", " .5"},   {"\U0001DA87x\U0001DA87", "x"},
               {"\xFF.", "\xFF."}};  // Not UTF-8: unchanged.
  for (const auto& c : cases) EXPECT_EQ(TrimPunctuation(c.in), c.out) << c.in;
}

}  // namespace
}  // namespace text
