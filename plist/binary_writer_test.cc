#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <iterator>
#include <limits>
#include <string>

#include "plist/codec.h"
#include "plist/plist.h"

namespace plist {
namespace {

using namespace std::string_literals;

std::string BigEndian(uint64_t value, unsigned width) {
  std::string s;
  for (unsigned i = width; i-- > 0;) s.push_back(static_cast<char>(value >> (8 * i)));
  return s;
}

// The whole file for a top value that is one scalar encoded as `object`.
std::string SingleObjectFile(const std::string& object) {
  const uint64_t tableOffset = 8 + object.size();
  const unsigned offsetSize = tableOffset < 256 ? 1 : tableOffset < 65536 ? 2 : 4;
  return "bplist00" + object + BigEndian(8, offsetSize) + std::string(6, '\0') +
         BigEndian(offsetSize, 1) + "\x01"s + BigEndian(1, 8) + BigEndian(0, 8) +
         BigEndian(tableOffset, 8);
}

// Reads `bytes` back, expecting success; returns the trailer's object count.
uint64_t ReadBackObjectCount(const std::string& bytes, const Value& expected) {
  Value value;
  Error error;
  EXPECT_TRUE(ReadBinary(bytes, &value, &error)) << ErrorCodeName(error.code);
  EXPECT_EQ(value, expected);
  uint64_t count = 0;
  for (size_t i = bytes.size() - 24; i < bytes.size() - 16; ++i) {
    count = (count << 8) | static_cast<uint8_t>(bytes[i]);
  }
  return count;
}

TEST(BinaryWriterTest, WritesTheWorkedExampleByteForByte) {
  Dictionary top;
  top.append("a", Value::fromInteger(1));
  top.append("list", Value(Array{Value(true), Value("\xC3\xA9")}));
  const std::string expected =
      "bplist00\xD2\x01\x02\x03\x04\x51\x61\x54list\x10\x01\xA2\x05\x06\x09\x61\x00\xE9"
      "\x08\x0D\x0F\x14\x16\x19\x1A"
      "\x00\x00\x00\x00\x00\x00\x01\x01"
      "\x00\x00\x00\x00\x00\x00\x00\x07"
      "\x00\x00\x00\x00\x00\x00\x00\x00"
      "\x00\x00\x00\x00\x00\x00\x00\x1D"s;
  std::string out;
  ASSERT_TRUE(Write(Value(top), Format::kBinary, &out, nullptr));
  EXPECT_EQ(out, expected);
  EXPECT_EQ(out.size(), 68u);
  ReadBackObjectCount(out, Value(top));
}

TEST(BinaryWriterTest, EncodesScalarsInTheirShortestForm) {
  const uint64_t max = std::numeric_limits<uint64_t>::max();
  struct Case {
    Value value;
    std::string object;
  } cases[] = {
      {Value::fromInteger(0), "\x10\x00"s},
      {Value::fromInteger(255), "\x10\xFF"s},
      {Value::fromInteger(256), "\x11\x01\x00"s},
      {Value::fromInteger(65536), "\x12\x00\x01\x00\x00"s},
      {Value::fromInteger(int64_t{1} << 32), "\x13" + BigEndian(uint64_t{1} << 32, 8)},
      {Value::fromInteger(-5), "\x13" + BigEndian(~uint64_t{4}, 8)},
      {Value::fromInteger(INT64_MIN), "\x13" + BigEndian(uint64_t{1} << 63, 8)},
      {Value::fromInteger(INT64_MAX), "\x13" + BigEndian(max >> 1, 8)},
      {Value(Integer::fromUnsigned(uint64_t{1} << 63)),
       "\x14" + BigEndian(0, 8) + BigEndian(uint64_t{1} << 63, 8)},
      {Value(Integer::fromUnsigned(max)), "\x14" + BigEndian(0, 8) + BigEndian(max, 8)},
      {Value(Integer{7, true}), "\x10\x07"s},
      {Value(Real{1.5, true}), "\x22\x3F\xC0\x00\x00"s},
      {Value::fromReal(1.5), "\x23\x3F\xF8\x00\x00\x00\x00\x00\x00"s},
      {Value::fromReal(-0.0), "\x23\x80\x00\x00\x00\x00\x00\x00\x00"s},
      {Value(Date{-1.0}), "\x33\xBF\xF0\x00\x00\x00\x00\x00\x00"s},
      {Value(true), "\x09"s},
      {Value(false), "\x08"s},
      {Value(Data{}), "\x40"s},
      {Value(Data(15, 7)), "\x4F\x10\x0F" + std::string(15, '\x07')},
      {Value(Data(256, 7)), "\x4F\x11\x01\x00"s + std::string(256, '\x07')},
      {Value(""), "\x50"s},
      {Value("\0\r\x7F"s), "\x53\x00\r\x7F"s},
      {Value(std::string(15, 'x')), "\x5F\x10\x0F" + std::string(15, 'x')},
      {Value("\xC3\xA9"), "\x61\x00\xE9"s},
      {Value("a\xF0\x9F\x98\x80"), "\x63\x00\x61\xD8\x3D\xDE\x00"s},
      // The edges of well-formed UTF-8, and ASCII runs taken a word at a time around them.
      {Value("\xED\x9F\xBF\xEE\x80\x80\xF4\x8F\xBF\xBF"), "\x64\xD7\xFF\xE0\x00\xDB\xFF\xDF\xFF"s},
      {Value("abcdefghij\xC2\x80"),
       "\x6B"s + std::string("\0a\0b\0c\0d\0e\0f\0g\0h\0i\0j\0\x80", 22)},
      {Value(Uid{0xFF}), "\x80\xFF"s},
      {Value(Uid{0x100}), "\x81\x01\x00"s},
      {Value(Uid{0x10000}), "\x83\x00\x01\x00\x00"s},
      {Value(Uid{uint64_t{1} << 32}), "\x87" + BigEndian(uint64_t{1} << 32, 8)},
  };
  for (const Case& c : cases) {
    std::string out;
    Error error;
    ASSERT_TRUE(Write(c.value, Format::kBinary, &out, &error)) << ErrorCodeName(error.code);
    EXPECT_EQ(out, SingleObjectFile(c.object));
    ReadBackObjectCount(out, c.value);
  }
}

TEST(BinaryWriterTest, SharesEqualScalarsOnlyWhenKindAndBitsMatch) {
  const Value distinct[] = {
      Value::fromInteger(1), Value(Real{1.0, true}),    Value::fromReal(1.0),
      Value::fromReal(0.0),  Value::fromReal(-0.0),         Value(Date{1.0}),
      Value("a"),        Value(Data{'a'}),          Value(true),
      Value(Uid{1}),     Value::fromInteger(INT64_MIN), Value(Integer::fromUnsigned(uint64_t{1} << 63)),
  };
  Array twice;
  for (const Value& v : distinct) twice.push_back(v);
  for (const Value& v : distinct) twice.push_back(v);
  // Containers are never shared, even when equal; keys share with string values.
  Dictionary keyed;
  keyed.append("a", Value("a"));
  for (int i = 0; i < 2; ++i) twice.push_back(Value(keyed));
  std::string out;
  ASSERT_TRUE(Write(Value(twice), Format::kBinary, &out, nullptr));
  EXPECT_EQ(ReadBackObjectCount(out, Value(twice)), 1 + std::size(distinct) + 2);
}

TEST(BinaryWriterTest, SharesKeysAcrossRecordsWhateverTheirShapeAndOrder) {
  auto record = [](std::initializer_list<const char*> keys) {
    Dictionary d;
    for (const char* key : keys) d.append(key, Value(true));
    return Value(d);
  };
  // Records side by side at one depth, with keys in one order, in another, fewer, more, one
  // changed, and a record nested one level down; keys also meet equal string values.
  Dictionary nested = record({"b", "a"}).dictionary();
  nested.append("inner", record({"a", "b", "c"}));
  const Array records = {
      record({"a", "b", "c"}),
      record({"a", "b", "c"}),
      record({"c", "a", "b"}),
      record({"a", "b"}),
      record({"a", "b", "c", "d"}),
      record({"a", "x", "c"}),
      Value(nested),
      Value("d"),
  };
  std::string out;
  ASSERT_TRUE(Write(Value(records), Format::kBinary, &out, nullptr));
  // The array, 8 dictionaries (the nested one holds one), true, and the strings a b c d x
  // inner.
  EXPECT_EQ(ReadBackObjectCount(out, Value(records)), 1 + 8 + 1 + 6u);
  // Read back, the keys are shared nodes, known again by where they lie: the file written
  // from them is the same.
  Document document;
  std::string again;
  ASSERT_TRUE(Read(out, &document, nullptr));
  ASSERT_TRUE(Write(document, Format::kBinary, &again, nullptr));
  EXPECT_EQ(again, out);
}

TEST(BinaryWriterTest, SharesScalarsInLargeContainers) {
  // Past the sizes of records the keys and values take the table's other road.
  Dictionary wide;
  Array column;
  for (int i = 0; i < 3000; ++i) {
    wide.append("key" + std::to_string(i),
                i % 2 ? Value::fromInteger(i % 100) : Value("v" + std::to_string(i % 50)));
    column.push_back(i % 3 ? Value::fromInteger(i % 7) : Value("key" + std::to_string(i % 10)));
  }
  wide.append("column", Value(column));
  std::string out;
  ASSERT_TRUE(Write(Value(wide), Format::kBinary, &out, nullptr));
  // The two containers; 3001 keys; the odd integers 1..99; "v0", "v2" ... "v48" (even i
  // only); from the column 0, 2, 4 and 6, its odd numbers and "key0".."key9" being there.
  EXPECT_EQ(ReadBackObjectCount(out, Value(wide)), 2 + 3001 + 50 + 25 + 4u);
}

TEST(BinaryWriterTest, WidensReferencesAndOffsetsOnlyWhenNeeded) {
  for (int n : {254, 255}) {
    Array array;
    for (int i = 0; i < n; ++i) array.push_back(Value::fromInteger(i));
    std::string out;
    ASSERT_TRUE(Write(Value(array), Format::kBinary, &out, nullptr));
    // n + 1 objects: 255 fit one-byte references, 256 do not.
    const char refSize = n + 1 < 256 ? 1 : 2;
    EXPECT_EQ(out[out.size() - 25], refSize) << n;
    EXPECT_EQ(out[out.size() - 26], 2) << n;  // The table lies past byte 255.
    ReadBackObjectCount(out, Value(array));
  }
}

TEST(BinaryWriterTest, RefusesWhatTheFormatCannotCarry) {
  Value deep = Value(Array{});
  for (size_t i = 0; i < kMaxDepth; ++i) deep = Value(Array{deep});
  Dictionary badKey;
  badKey.append("\xFF", Value(true));
  // Large containers describe their scalars ahead of numbering them; a fault found
  // there still refuses the write.
  Array largeBadString(1100, Value("ok"));
  largeBadString.push_back(Value("\xC0\x80"));
  Array largeBadReal(1100, Value::fromInteger(1));
  largeBadReal[3] = Value(Real{0.1, true});
  const Value cases[] = {
      Value("\xC0\x80"),          // Overlong NUL.
      Value("\xED\xA0\x80"),      // An encoded surrogate.
      Value("abc\xE2\x82"),       // Cut short.
      Value("\xE0\x9F\xBF"),      // Overlong, three bytes.
      Value("\xF0\x8F\xBF\xBF"),  // Overlong, four bytes.
      Value("\xF4\x90\x80\x80"),  // Beyond U+10FFFF.
      Value("abcdefgh\x80"),      // A stray continuation byte after a word of ASCII.
      Value(badKey),              // Keys too.
      deep,                       // One level beyond the limit.
      Value(Real{0.1, true}),     // Not a float32 value.
      Value(Real{1e300, true}),   // Beyond float32 range.
      Value(largeBadString),
      Value(largeBadReal),
  };
  for (const Value& value : cases) {
    std::string out = "untouched";
    Error error;
    EXPECT_FALSE(Write(value, Format::kBinary, &out, &error));
    EXPECT_EQ(error.code, ErrorCode::kUnwritable);
    EXPECT_EQ(out, "untouched");
  }
  std::string out;
  EXPECT_TRUE(Write(deep.array()[0], Format::kBinary, &out, nullptr));
}

}  // namespace
}  // namespace plist
