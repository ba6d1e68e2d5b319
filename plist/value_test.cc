#include "plist/value.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <utility>

namespace plist {
namespace {

TEST(ValueTest, StringsKeepTheirBytesInlineAndOnTheHeap) {
  // Either side of the inline limit, with bytes that C strings would cut.
  for (const std::string& text : {std::string(), std::string(15, 'x'), std::string(16, 'y'),
                                  std::string("a\0b", 3), std::string(1000, '\0')}) {
    String original(text);
    EXPECT_EQ(original.view(), text) << text.size();
    String copy = original;
    String moved = std::move(original);
    EXPECT_EQ(copy.view(), text) << text.size();
    EXPECT_EQ(moved.view(), text) << text.size();
    EXPECT_TRUE(original.empty()) << text.size();  // NOLINT: a moved-from String is empty.
    copy = moved;
    moved = String("other");
    EXPECT_EQ(copy.view(), text) << text.size();
    EXPECT_EQ(moved.view(), "other");
  }
  // Equal texts are equal however they came to be.
  String shortened("abcdefghij");
  shortened = String("ab");
  EXPECT_EQ(shortened, String("ab"));
  EXPECT_NE(String("ab"), String(std::string("ab\0", 3)));
  EXPECT_NE(String(std::string(16, 'a')), String(std::string(15, 'a')));
}

TEST(ValueTest, CompactVectorsGrowCopyAndCompareLikeVectors) {
  Array items;
  for (int i = 0; i < 100; ++i) items.push_back(Value("item " + std::to_string(i)));
  // An element of the vector itself, added while the vector must grow.
  while (items.size() < items.capacity()) items.push_back(Value::fromInteger(0));
  items.push_back(items[0]);
  EXPECT_EQ(items.back(), Value("item 0"));
  const Array copy = items;
  EXPECT_EQ(copy, items);
  items.resize(3);
  EXPECT_NE(copy, items);
  EXPECT_EQ(items, (Array{Value("item 0"), Value("item 1"), Value("item 2")}));
  EXPECT_EQ(Data(3, 7), (Data{7, 7, 7}));
  EXPECT_EQ(Data(2).size(), 2u);
}

TEST(ValueTest, IntegersCompareByValue) {
  const uint64_t top = uint64_t{1} << 63;
  EXPECT_EQ(Integer::fromUnsigned(5), Integer::fromSigned(5));
  EXPECT_EQ(Integer::fromUnsigned(INT64_MAX), Integer::fromSigned(INT64_MAX));
  EXPECT_TRUE(Integer::fromUnsigned(top).isUnsigned);
  EXPECT_FALSE(Integer::fromUnsigned(5).isUnsigned);
  // Same 64 bits, different numbers: 2^63 and -2^63.
  EXPECT_NE(Value(Integer::fromUnsigned(top)), Value::fromInteger(INT64_MIN));
  EXPECT_NE(Value(Integer::fromUnsigned(~uint64_t{0})), Value::fromInteger(-1));
  // A flag set below 2^63 changes nothing.
  EXPECT_EQ(Value(Integer{7, true}), Value::fromInteger(7));
}

TEST(ValueTest, RealsCompareByBitsAndWidth) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(Value::fromReal(nan), Value::fromReal(nan));
  EXPECT_NE(Value::fromReal(0.0), Value::fromReal(-0.0));
  EXPECT_NE(Value::fromReal(1.5), Value(Real{1.5, true}));
  EXPECT_NE(Value::fromReal(nan), Value::fromReal(-nan));
  EXPECT_EQ(Value(Date{nan}), Value(Date{nan}));
  EXPECT_NE(Value(Date{0.0}), Value(Date{-0.0}));
}

TEST(ValueTest, KindsNeverCompareEqual) {
  EXPECT_NE(Value::fromInteger(1), Value(true));
  EXPECT_NE(Value::fromInteger(1), Value(Uid{1}));
  EXPECT_NE(Value::fromInteger(0), Value::fromReal(0.0));
  EXPECT_NE(Value("a"), Value(Data{'a'}));
  EXPECT_NE(Value(Array{}), Value(Dictionary()));
}

TEST(ValueTest, DictionariesKeepOrderAndCompareByIt) {
  Dictionary ab, ba;
  ab.append("a", Value::fromInteger(1));
  ab.append("b", Value::fromInteger(2));
  ba.append("b", Value::fromInteger(2));
  ba.append("a", Value::fromInteger(1));
  EXPECT_NE(ab, ba);
  ba.set("a", Value::fromInteger(3));  // Replaced where it stands.
  ASSERT_EQ(ba.size(), 2u);
  EXPECT_EQ(ba.keyAt(1), "a");
  EXPECT_EQ(*ba.find("a"), Value::fromInteger(3));
  ba.set("c", Value(true));  // Appended.
  EXPECT_EQ(ba.keyAt(2), "c");
  EXPECT_EQ(ba.find("z"), nullptr);
}

}  // namespace
}  // namespace plist
