#include "plist/value.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <utility>

namespace plist {
namespace {

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
