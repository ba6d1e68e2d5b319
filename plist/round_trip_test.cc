#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "plist/codec.h"
#include "plist/output_buffer.h"
#include "plist/plist.h"

namespace plist {
namespace {

using namespace std::string_literals;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNan = std::numeric_limits<double>::quiet_NaN();

// Containers nested `levels` deep, arrays and dictionaries in turn, around a string.
Value Nested(size_t levels) {
  Value v("core");
  for (size_t i = 0; i < levels; ++i) {
    if (i % 2) {
      v = Value(Array{Value::fromInteger(int64_t(i)), v});
    } else {
      Dictionary d;
      d.append("k", v);
      v = Value(d);
    }
  }
  return v;
}

Data Noise(size_t n) {
  Data data(n);
  uint32_t x = 12345;
  for (uint8_t& b : data) b = static_cast<uint8_t>((x = x * 1103515245 + 12345) >> 16);
  return data;
}

// Values that both formats carry exactly. Keys are listed sorted, as XML writes them, and
// the deepest container sits at the depth limit once wrapped in a dictionary and an array.
Array CommonValues() {
  Dictionary many;
  for (int i = 0; i < 300; ++i)
    many.append("key" + std::to_string(1000 + i), Value::fromInteger(i % 7));
  return Array{
      Value::fromInteger(0),
      Value::fromInteger(-1),
      Value::fromInteger(INT64_MIN),
      Value::fromInteger(INT64_MAX),
      // Either side of what a node holds in itself.
      Value::fromInteger(INT32_MIN),
      Value::fromInteger(INT32_MAX),
      Value::fromInteger(int64_t{INT32_MIN} - 1),
      Value::fromInteger(int64_t{INT32_MAX} + 1),
      Value(Integer::fromUnsigned(uint64_t{1} << 63)),
      Value(Integer::fromUnsigned(std::numeric_limits<uint64_t>::max())),
      Value::fromReal(0.1),
      Value::fromReal(-2.5e-300),
      Value::fromReal(1e300),
      Value::fromReal(5e-324),
      Value::fromReal(kInf),
      Value::fromReal(-kInf),
      Value::fromReal(kNan),
      Value(Date{0}),
      Value(Date{-978307200.0}),
      Value(Date{-3187296000.0}),
      Value(Date{250000000000.0}),
      Value(true),
      Value(false),
      Value(Data{}),
      Value(Noise(100000)),
      Value(""),
      Value("plain"),
      Value("\0nul\rcr\ttab\x01\x1F\x7F"s),
      Value("\xC3\xA9\xE2\x98\x85\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF"),
      Value("<tag> & \"quotes\" ]]>"),
      Value(std::string(100000, 'x')),
      Value(std::string((1 << 24) + 1, 'y')),  // Longer than a node's size field holds.
      Value(Uid{0}),
      Value(Uid{0xFFFFFFFF}),
      Value(Uid{0x100000000}),
      Value(Uid{std::numeric_limits<uint64_t>::max()}),
      Value(Array{}),
      Value(Dictionary()),
      Value(many),
      Nested(kMaxDepth - 2),
  };
}

Real Float32FromBits(uint64_t bits) {
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return Real{d, true};
}

// Values only the binary format carries exactly.
Array BinaryOnlyValues() {
  return Array{
      Value(Float32FromBits(0x7FF0000020000000)),  // A signalling NaN, widened as it was read.
      Value::fromReal(-0.0),
      Value::fromReal(-kNan),
      Value(Real{0.1f, true}),
      Value(Real{-kInf, true}),
      Value(Real{std::numeric_limits<float>::denorm_min(), true}),
      Value(Date{-0.5}),
      Value(Date{1e15 + 0.25}),
      Value(Date{kNan}),
      Value(Date{-kInf}),
      Value(Dictionary()),
  };
}

TEST(RoundTripTest, BinaryKeepsEveryValueAndRewritesIdentically) {
  Array all = CommonValues();
  for (const Value& v : BinaryOnlyValues()) all.push_back(v);
  Dictionary unsorted;
  unsorted.append("z", Value(all));
  unsorted.append("a", Value("z"));
  const Value value(unsorted);
  std::string first, second;
  Value back;
  Error error;
  ASSERT_TRUE(Write(value, Format::kBinary, &first, &error)) << ErrorCodeName(error.code);
  ASSERT_TRUE(ReadBinary(first, &back, &error)) << ErrorCodeName(error.code);
  EXPECT_TRUE(back == value);
  ASSERT_TRUE(Write(back, Format::kBinary, &second, &error));
  EXPECT_TRUE(first == second);
}

TEST(RoundTripTest, XmlAndBinaryCarryTheSameValues) {
  Dictionary top;
  top.append("all", Value(CommonValues()));
  const Value value(top);
  std::string binary, xml, binaryAgain;
  Value fromXml, fromBinary;
  Error error;
  ASSERT_TRUE(Write(value, Format::kXml, &xml, &error)) << ErrorCodeName(error.code);
  ASSERT_TRUE(ReadXml(xml, &fromXml, &error)) << ErrorCodeName(error.code) << error.offset;
  EXPECT_TRUE(fromXml == value);
  ASSERT_TRUE(Write(fromXml, Format::kBinary, &binary, &error));
  ASSERT_TRUE(ReadBinary(binary, &fromBinary, &error));
  ASSERT_TRUE(Write(fromBinary, Format::kXml, &xml, &error));
  ASSERT_TRUE(ReadXml(xml, &fromXml, &error));
  ASSERT_TRUE(Write(fromXml, Format::kBinary, &binaryAgain, &error));
  EXPECT_TRUE(binary == binaryAgain);
}

TEST(RoundTripTest, WritersStreamBoundedPiecesAndStopWhenTheSinkRefuses) {
  // About 2 MB of XML in small values, and one text larger than a piece.
  Dictionary top;
  for (int i = 0; i < 40000; ++i) top.append("key" + std::to_string(i), Value::fromInteger(i));
  top.append("large", Value(std::string(300000, 'x')));
  const Value value(top);
  const Document document = Document::fromValue(value);
  for (const Format format : {Format::kXml, Format::kBinary}) {
    std::vector<size_t> pieces;
    std::string whole;
    const ByteSink record = [&](std::string_view bytes) {
      pieces.push_back(bytes.size());
      whole.append(bytes);
      return true;
    };
    Error error;
    ASSERT_TRUE(Write(document, format, record, &error)) << ErrorCodeName(error.code);
    ASSERT_GT(pieces.size(), 4u);
    size_t large = 0;
    for (const size_t n : pieces) {
      EXPECT_GT(n, 0u);
      large += n > OutputBuffer::kChunkBytes;
    }
    EXPECT_LE(large, 1u);  // Only the large text may pass in a piece of its own.
    Value back;
    ASSERT_TRUE(Read(whole, &back, &error));
    EXPECT_TRUE(back == value || format == Format::kXml);  // XML sorts the keys.

    // A sink that fails on its second piece hears of no more.
    size_t calls = 0;
    const ByteSink refuse = [&calls](std::string_view) { return ++calls < 2; };
    EXPECT_FALSE(Write(document, format, refuse, &error));
    EXPECT_EQ(error.code, ErrorCode::kOutput);
    EXPECT_EQ(calls, 2u);
  }
}

}  // namespace
}  // namespace plist

namespace plist {
namespace {

// A document read with little room to spare moves to larger memory as changes fill it:
// every node must still lead to its value afterwards, whatever it refers to (text of
// the input, decoded text, a number's bits, a list).
TEST(RoundTripTest, ChangesThatOutgrowTheDocumentMoveItWhole) {
  Dictionary expected;  // In the order XML is written in.
  expected.append("list", Value(Array{Value::fromReal(0.5), Value(Data{1, 2, 3})}));
  expected.append("text", Value("a&amp;b"));
  expected.append("wide", Value::fromInteger(INT64_MIN));
  for (Format format : {Format::kXml, Format::kBinary}) {
    std::string file;
    ASSERT_TRUE(Write(Value(expected), format, &file, nullptr));
    Document document;
    ASSERT_TRUE(Read(file, &document, nullptr));
    Dictionary now = expected;
    for (int i = 0; i < 200; ++i) {
      const std::string key = i % 10 == 9 ? "text" : "k" + std::to_string(i);
      const Value value(Array{Value(std::string(1000, static_cast<char>('a' + i % 26))),
                              Value::fromInteger(int64_t{1} << (32 + i % 30))});
      ASSERT_TRUE(document.set(key, value)) << i;
      now.set(key, value);
      ASSERT_TRUE(document.root().toValue() == Value(now)) << i;
    }
    std::string out, fromValue;
    ASSERT_TRUE(Write(document, format, &out, nullptr));
    ASSERT_TRUE(Write(Value(now), format, &fromValue, nullptr));
    EXPECT_TRUE(out == fromValue);
  }
  Document scalar;
  ASSERT_TRUE(Read(std::string_view("<plist><true/></plist>"), &scalar, nullptr));
  EXPECT_FALSE(scalar.set("k", Value(true)));
  EXPECT_TRUE(scalar.root().boolean());
}

}  // namespace
}  // namespace plist
