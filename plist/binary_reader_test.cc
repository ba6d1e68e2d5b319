#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "plist/codec.h"
#include "plist/plist.h"

namespace plist {
namespace {

using namespace std::string_literals;

std::string Bytes(std::initializer_list<int> bytes) {
  std::string s;
  for (int b : bytes) s.push_back(static_cast<char>(b));
  return s;
}

std::string BigEndian(uint64_t value, unsigned width) {
  std::string s;
  for (unsigned i = width; i-- > 0;) s.push_back(static_cast<char>(value >> (8 * i)));
  return s;
}

// A file holding `objects` back to back, with a correct offset table and trailer. The
// caller writes the references inside containers with `refSize` bytes.
std::string File(const std::vector<std::string>& objects, unsigned offsetSize = 1,
                 unsigned refSize = 1, uint64_t top = 0) {
  std::string file = "bplist00";
  std::string table;
  for (const std::string& object : objects) {
    table += BigEndian(file.size(), offsetSize);
    file += object;
  }
  const uint64_t tableOffset = file.size();
  return file + table + std::string(6, '\0') + BigEndian(offsetSize, 1) + BigEndian(refSize, 1) +
         BigEndian(objects.size(), 8) + BigEndian(top, 8) + BigEndian(tableOffset, 8);
}

// Overwrites the trailer field that starts `at` bytes into the trailer.
std::string WithTrailerField(std::string file, size_t at, uint64_t value, unsigned width) {
  file.replace(file.size() - 32 + at, width, BigEndian(value, width));
  return file;
}

// `levels` arrays, each holding the next; the innermost is empty.
std::string NestedArrays(size_t levels) {
  std::vector<std::string> objects;
  for (size_t i = 0; i + 1 < levels; ++i) objects.push_back("\xA1"s + BigEndian(i + 1, 2));
  objects.push_back("\xA0"s);
  return File(objects, 2, 2);
}

// An array of two references to the next array, `levels` deep: 2^levels leaves.
std::string DoublingArrays(size_t levels) {
  std::vector<std::string> objects;
  for (size_t i = 0; i < levels; ++i) objects.push_back(Bytes({0xA2, int(i + 1), int(i + 1)}));
  objects.push_back("\x09"s);
  return File(objects);
}

const std::string kAsciiA = Bytes({0x51, 'a'});

// A UTF-16 string object of fewer than 15 units.
std::string Utf16(const std::u16string& units) {
  std::string object(1, static_cast<char>(0x60 + units.size()));
  for (const char16_t unit : units) object += BigEndian(unit, 2);
  return object;
}

// An array of `count` references of `refSize` bytes to one `true`.
std::string ManyRefsToOne(uint64_t count, unsigned refSize) {
  std::string refs;
  for (uint64_t i = 0; i < count; ++i) refs += BigEndian(1, refSize);
  return File({"\xAF\x12"s + BigEndian(count, 4) + refs, "\x09"s}, 4, refSize);
}

// One `true` and an offset table of `count` one-byte entries, all pointing at it.
std::string ManyOffsetsToOne(uint64_t count) {
  return "bplist00\x09"s + std::string(count, '\x08') + std::string(6, '\0') + "\x01\x04"s +
         BigEndian(count, 8) + BigEndian(0, 8) + BigEndian(9, 8);
}

struct FailureCase {
  const char* name;
  std::string bytes;
  ErrorCode code;
};

std::vector<FailureCase> FailureCases() {
  const std::string oneTrue = File({"\x09"s});
  const std::string bigData = "\x4F\x12"s + BigEndian(1 << 20, 4) + std::string(1 << 20, 'x');
  std::string manyRefs = "\xAF\x10\x50"s;
  for (int i = 0; i < 0x50; ++i) manyRefs += '\x01';
  std::vector<FailureCase> cases = {
      {"EmptyInput", "", ErrorCode::kTruncated},
      {"OnlyTheMagic", "bplist00", ErrorCode::kTruncated},
      {"ShortOfTheSmallestFile", oneTrue.substr(0, 8) + oneTrue.substr(10), ErrorCode::kTruncated},
      {"WrongMagic", "xplist00" + oneTrue.substr(8), ErrorCode::kBadHeader},
      {"OffsetSizeZero", WithTrailerField(oneTrue, 6, 0, 1), ErrorCode::kBadTrailer},
      {"OffsetSizeNine", WithTrailerField(oneTrue, 6, 9, 1), ErrorCode::kBadTrailer},
      {"RefSizeZero", WithTrailerField(oneTrue, 7, 0, 1), ErrorCode::kBadTrailer},
      {"NoObjects", WithTrailerField(oneTrue, 8, 0, 8), ErrorCode::kBadTrailer},
      {"AbsurdObjectCount", WithTrailerField(oneTrue, 8, uint64_t{1} << 62, 8),
       ErrorCode::kBadTrailer},
      {"TopObjectOutOfRange", WithTrailerField(oneTrue, 16, 1, 8), ErrorCode::kBadTrailer},
      {"TableInsideHeader", WithTrailerField(oneTrue, 24, 8, 8), ErrorCode::kBadTrailer},
      {"TableOverlapsTrailer", WithTrailerField(oneTrue, 24, 10, 8), ErrorCode::kBadTrailer},
      {"TableOffsetHuge", WithTrailerField(oneTrue, 24, ~uint64_t{0}, 8), ErrorCode::kBadTrailer},
      {"OffsetsTooNarrowForTable", File(std::vector<std::string>(250, "\x09"s)),
       ErrorCode::kBadTrailer},
      {"RefsTooNarrowForObjectCount", File(std::vector<std::string>(256, "\x09"s), 2, 1),
       ErrorCode::kBadTrailer},
      {"OffsetBeforeObjectArea", File({"\x09"s}).replace(9, 1, "\x07"s), ErrorCode::kBadOffset},
      {"UnusedOffsetIntoTable", File({"\x09"s, "\x09"s}).replace(11, 1, "\x0A"s),
       ErrorCode::kBadOffset},
      {"RefOutOfRange", File({"\xA1\x05"s, "\x09"s}), ErrorCode::kBadOffset},
      {"DictValueRefOutOfRange", File({Bytes({0xD1, 1, 9}), kAsciiA}), ErrorCode::kBadOffset},
      {"ArrayContainsItself", File({"\xA1\x01"s, "\xA1\x00"s}), ErrorCode::kCycle},
      {"DictContainsItself", File({Bytes({0xD1, 1, 0}), kAsciiA}), ErrorCode::kCycle},
      {"NestedTooDeep", NestedArrays(kMaxDepth + 1), ErrorCode::kTooDeep},
      {"SharedArraysExpandTooFar", DoublingArrays(30), ErrorCode::kTooManyValues},
      {"SharedDataExpandsTooFar", File({manyRefs, bigData}, 4), ErrorCode::kTooManyValues},
      // Past a million values, one per four bytes of input: more needs shared objects.
      {"OneByteRefsBeyondTheValueBudget", ManyRefsToOne(1100000, 1), ErrorCode::kTooManyValues},
      {"ObjectsBeyondTheValueBudget", ManyOffsetsToOne(1100000), ErrorCode::kTooManyValues},
      {"ArrayCountBeyondFile", File({"\xAF\x13"s + BigEndian(~uint64_t{0}, 8)}),
       ErrorCode::kBadCount},
      {"DictCountBeyondFile", File({"\xDF\x10\x40\x01\x01"s}), ErrorCode::kBadCount},
      {"DataCountBeyondFile", File({"\x4F\x10\x20xyz"s}), ErrorCode::kBadCount},
      {"Utf16CountOverflows", File({"\x6F\x13"s + BigEndian(uint64_t{1} << 63, 8)}),
       ErrorCode::kBadCount},
      {"CountMarkerNotAnInteger", File({"\x4F\x20\x01x"s}), ErrorCode::kBadMarker},
      {"CountMarkerSixteenBytes", File({"\x4F\x14"s + std::string(16, '\0')}),
       ErrorCode::kBadMarker},
      {"CountCutShort", File({"\x4F"s}), ErrorCode::kTruncated},
      {"IntegerCutShort", File({"\x13\x00\x00"s}), ErrorCode::kTruncated},
      {"RealCutShort", File({"\x23\x00"s}), ErrorCode::kTruncated},
      {"DateCutShort", File({"\x33\x00\x00\x00\x00\x00\x00\x00"s}), ErrorCode::kTruncated},
      {"UidCutShort", File({"\x87\x00"s}), ErrorCode::kTruncated},
      {"AsciiWithHighByte", File({"\x52\x41\x80"s}), ErrorCode::kBadEncoding},
      {"AsciiHighByteAfterAWord", File({"\x59"s + "abcdefgh\x80"}), ErrorCode::kBadEncoding},
      {"Utf16LoneSurrogateAfterARun", File({Utf16(u"abcd\xD800z")}), ErrorCode::kBadEncoding},
      {"Utf16LoneHighSurrogate", File({"\x61\xD8\x00"s}), ErrorCode::kBadEncoding},
      {"Utf16LoneLowSurrogate", File({"\x62\xDC\x00\x00\x41"s}), ErrorCode::kBadEncoding},
      {"Utf16HighSurrogateThenLetter", File({"\x62\xD8\x3D\x00\x41"s}), ErrorCode::kBadEncoding},
      {"IntegerKey", File({Bytes({0xD1, 1, 1}), "\x10\x01"s}), ErrorCode::kBadKey},
      {"ArrayKey", File({Bytes({0xD1, 1, 1}), "\xA0"s}), ErrorCode::kBadKey},
      {"IntegerOf128BitsAbove2To64", File({"\x14"s + BigEndian(1, 8) + BigEndian(0, 8)}),
       ErrorCode::kBadInteger},
      {"IntegerOf128BitsBelowMinus2To63",
       File({"\x14"s + BigEndian(~uint64_t{0}, 8) + BigEndian(1, 8)}), ErrorCode::kBadInteger},
  };
  // Null, URL, UUID, fill, UTF-8 strings, sets and unused type nibbles or widths; all
  // referenced from an array.
  for (int marker : {0x00, 0x01, 0x07, 0x0A, 0x0C, 0x0D, 0x0E, 0x0F, 0x15, 0x20, 0x21,
                     0x24, 0x32, 0x34, 0x70, 0x88, 0x90, 0xB0, 0xC1, 0xE0, 0xF0}) {
    cases.push_back({"Marker", File({Bytes({0xA1, 1}), Bytes({marker}) + std::string(16, '\0')}),
                     ErrorCode::kBadMarker});
  }
  return cases;
}

TEST(BinaryReaderTest, RejectsEachMalformationWithItsCode) {
  for (const FailureCase& c : FailureCases()) {
    Value value = Value::fromInteger(7);
    Error error;
    EXPECT_FALSE(ReadBinary(c.bytes, &value, &error)) << c.name;
    EXPECT_EQ(ErrorCodeName(error.code), std::string(ErrorCodeName(c.code))) << c.name;
    EXPECT_EQ(value, Value::fromInteger(7)) << c.name << ": value touched on failure";
  }
}

TEST(BinaryReaderTest, AcceptsEveryOffsetAndRefWidth) {
  Dictionary expected;
  expected.append("a", Value(Array{Value(true), Value("a")}));
  for (unsigned width = 1; width <= 8; ++width) {
    const std::string refs = BigEndian(1, width) + BigEndian(2, width);
    const std::string bytes = File(
        {"\xD1"s + refs, kAsciiA, "\xA2"s + BigEndian(3, width) + BigEndian(1, width), "\x09"s},
        width, width);
    Value value;
    Error error;
    EXPECT_TRUE(ReadBinary(bytes, &value, &error)) << width << ErrorCodeName(error.code);
    EXPECT_EQ(value, Value(expected)) << width;
  }
}

TEST(BinaryReaderTest, AcceptsWhatOtherWritersLeaveBehind) {
  std::string slackBeforeTrailer = File({"\x09"s});
  slackBeforeTrailer.insert(slackBeforeTrailer.size() - 32, "slack");
  const Value one = Value::fromInteger(1);
  Dictionary withA, withB;
  withA.append("a", one);
  withB.append("b", one);
  const struct {
    const char* name;
    std::string bytes;
    Value expected;
  } cases[] = {
      {"SharedAndOverlapping",
       File({Bytes({0xA3, 1, 1, 2}), "\x10\x01"s, "\x10\x01"s}).replace(18, 1, "\x0C"s),
       Value(Array{one, one, one})},
      {"UnreferencedJunk", File({"\x09"s, "\x00"s, "\x0F"s}), Value(true)},
      {"SlackBeforeTrailer", slackBeforeTrailer, Value(true)},
      {"OtherVersionDigit", "bplist01" + File({"\x09"s}).substr(8), Value(true)},
      {"TopObjectNotFirst", File({"\x08"s, "\x09"s}, 1, 1, 1), Value(true)},
      {"SmallSixteenByteInteger", File({"\x14"s + BigEndian(0, 8) + BigEndian(5, 8)}),
       Value::fromInteger(5)},
      {"NegativeSixteenByteInteger",
       File({"\x14"s + BigEndian(~uint64_t{0}, 8) + BigEndian(uint64_t{1} << 63, 8)}),
       Value::fromInteger(INT64_MIN)},
      {"ThreeByteUid", File({"\x82\x01\x02\x03"s}), Value(Uid{0x010203})},
      {"LongFormSmallCount", File({"\x4F\x13"s + BigEndian(2, 8) + "ab"}), Value(Data{'a', 'b'})},
      {"Utf16OfAscii", File({"\x61\x00\x41"s}), Value("A")},
      {"Utf16RunsAroundAPair", File({Utf16(u"abcd\U0001F600efghij")}),
       Value("abcd\U0001F600efghij")},
      {"SameCountOtherKeys",
       File({Bytes({0xA2, 1, 2}), Bytes({0xD1, 3, 5}), Bytes({0xD1, 4, 5}), kAsciiA,
             Bytes({0x51, 'b'}), "\x10\x01"s}),
       Value(Array{Value(withA), Value(withB)})},
      {"AsciiBeforeHighBytes", File({"\x53"s + "abc", "\x41\xFF"s}), Value("abc")},
  };
  for (const auto& c : cases) {
    Value value;
    Error error;
    EXPECT_TRUE(ReadBinary(c.bytes, &value, &error)) << c.name << ErrorCodeName(error.code);
    EXPECT_EQ(value, c.expected) << c.name;
  }
}

TEST(BinaryReaderTest, NestsUpToTheDepthLimit) {
  Value value;
  Error error;
  ASSERT_TRUE(ReadBinary(NestedArrays(kMaxDepth), &value, &error)) << ErrorCodeName(error.code);
  size_t depth = 1;
  for (const Value* v = &value; !v->array().empty(); v = &v->array()[0]) ++depth;
  EXPECT_EQ(depth, kMaxDepth);
}

// One object referred to from many places is one node in a document, however large it is
// and however many places refer to it, and is written back once. (Copied into a value,
// the same file is refused: see SharedDataExpandsTooFar.)
TEST(BinaryReaderTest, SharedObjectsAreReadOnceAndWrittenOnce) {
  const std::string bigData = "\x4F\x12"s + BigEndian(1 << 20, 4) + std::string(1 << 20, 'x');
  std::string manyRefs = "\xAF\x10\x50"s;
  for (int i = 0; i < 0x50; ++i) manyRefs += '\x01';
  const std::string file = File({manyRefs, bigData}, 4);
  Document document;
  Error error;
  ASSERT_TRUE(Read(file, &document, &error)) << ErrorCodeName(error.code);
  const Node& top = document.root();
  ASSERT_EQ(top.size(), 0x50u);
  for (size_t i = 0; i < top.size(); ++i) {
    EXPECT_EQ(top.item(i).data().data(), top.item(0).data().data()) << i;
  }
  EXPECT_EQ(document.nodeCount(), 2u);
  std::string binary;
  ASSERT_TRUE(Write(document, Format::kBinary, &binary, &error));
  EXPECT_EQ(binary, file);
  // Written out as XML, every place would hold the data: more than a reader accepts.
  std::string xml = "untouched";
  EXPECT_FALSE(Write(document, Format::kXml, &xml, &error));
  EXPECT_EQ(error.code, ErrorCode::kUnwritable);
  EXPECT_EQ(xml, "untouched");
}

// A copy is charged for each place a shared value stands, elements as well as bytes: two
// million references to one `true` read as a document of two nodes, but copy to 80 MB.
// References of one byte each are the densest input a document is read from: they still
// fit the room that a read reserves.
TEST(BinaryReaderTest, CopiesAreChargedForEveryPlace) {
  Document dense;
  Error error;
  ASSERT_TRUE(Read(ManyRefsToOne(200000, 1), &dense, &error)) << ErrorCodeName(error.code);
  EXPECT_EQ(dense.root().size(), 200000u);
  EXPECT_TRUE(dense.root().item(199999).boolean());
  for (const uint64_t count : {1000000u, 2000000u}) {
    const std::string file = ManyRefsToOne(count, 4);
    Document document;
    ASSERT_TRUE(Read(file, &document, &error)) << count << ErrorCodeName(error.code);
    EXPECT_EQ(document.nodeCount(), 2u);
    const bool fits = count == 1000000u;
    EXPECT_EQ(FitsCopy(document, document.root()), fits) << count;
    Value value = Value::fromInteger(7);
    EXPECT_EQ(ReadBinary(file, &value, &error), fits) << count;
    EXPECT_EQ(value.isArray() ? value.array().size() : 0, fits ? count : 0) << count;
  }
}

// A container met again deeper down than where it was first read still counts its own
// depth there.
TEST(BinaryReaderTest, SharedContainersKeepTheDepthLimit) {
  for (const size_t chain : {kMaxDepth - 2, kMaxDepth - 1}) {
    // The top refers to the shared empty array first, then to a chain of arrays that
    // ends in it again, at depth chain + 1.
    const size_t shared = chain + 1;
    std::vector<std::string> objects{"\xA2"s + BigEndian(shared, 2) + BigEndian(1, 2)};
    for (size_t i = 1; i <= chain; ++i) {
      objects.push_back("\xA1"s + BigEndian(i == chain ? shared : i + 1, 2));
    }
    objects.push_back("\xA0"s);
    Document document;
    Error error;
    const bool read = Read(File(objects, 2, 2), &document, &error);
    EXPECT_EQ(read, shared < kMaxDepth) << chain;
    if (!read) {
      EXPECT_EQ(error.code, ErrorCode::kTooDeep) << chain;
    }
  }
}

// A repeated key keeps the first value, whether the repeat is the same object or another
// holding the same text, in ASCII or in UTF-16; a second dictionary naming the same key
// objects reads the same.
TEST(BinaryReaderTest, DuplicateKeysKeepTheFirstValue) {
  const std::string repeats[] = {"", "\x52k0"s, Bytes({0x62, 0, 'k', 0, '0'}), "same"};
  for (int keys : {2, 40, 100}) {
    for (const std::string& repeat : repeats) {
      // Keys k0 .. k(n-1), then k0 again unless `repeat` is empty; the value of the key at
      // position i is integer i.
      const bool repeated = !repeat.empty();
      const int repeatObject = repeat == "same" ? 3 : 3 + keys;
      const int firstValue = 3 + keys + (repeated && repeat != "same" ? 1 : 0);
      const int entries = keys + (repeated ? 1 : 0);
      std::string dictionary = "\xDF\x10"s + BigEndian(entries, 1);
      for (int i = 0; i < keys; ++i) dictionary += BigEndian(3 + i, 1);
      if (repeated) dictionary += BigEndian(repeatObject, 1);
      for (int i = 0; i < entries; ++i) dictionary += BigEndian(firstValue + i, 1);
      std::vector<std::string> objects{"\xA2\x01\x02"s, dictionary, dictionary};
      for (int i = 0; i < keys; ++i) {
        const std::string name = "k" + std::to_string(i);
        objects.push_back(std::string(1, char(0x50 + name.size())) + name);
      }
      if (repeated && repeat != "same") objects.push_back(repeat);
      for (int i = 0; i < entries; ++i) objects.push_back(Bytes({0x10, i}));
      Value value;
      Error error;
      ASSERT_TRUE(ReadBinary(File(objects, 2), &value, &error)) << keys << repeat;
      for (const Value& read : value.array()) {
        ASSERT_EQ(read.dictionary().size(), size_t(keys)) << keys << repeat;
        EXPECT_EQ(*read.dictionary().find("k0"), Value::fromInteger(0)) << keys << repeat;
        EXPECT_EQ(read.dictionary().keyAt(keys - 1), "k" + std::to_string(keys - 1));
        EXPECT_EQ(read.dictionary().valueAt(keys - 1), Value::fromInteger(keys - 1));
      }
    }
  }
}

}  // namespace
}  // namespace plist
