#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "plist/codec.h"
#include "plist/plist.h"

namespace plist {
namespace {

using namespace std::string_literals;

const std::string kProlog =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
    "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
    "<plist version=\"1.0\">\n";

Value Dict(std::vector<std::pair<std::string, Value>> entries) {
  Dictionary dictionary;
  for (auto& entry : entries) dictionary.append(std::move(entry.first), std::move(entry.second));
  return Value(std::move(dictionary));
}

Data Bytes(size_t n) {
  Data data(n);
  for (size_t i = 0; i < n; ++i) data[i] = static_cast<uint8_t>(i);
  return data;
}

// `value` inside `depth` single-element arrays.
Value Wrapped(Value value, int depth) {
  for (int i = 0; i < depth; ++i) value = Value(Array{std::move(value)});
  return value;
}

std::string Written(const Value& value) {
  std::string out;
  Error error;
  EXPECT_TRUE(Write(value, Format::kXml, &out, &error)) << error.detail;
  return out;
}

struct Layout {
  const char* name;
  Value value;
  std::string body;  // Between the prolog and "</plist>\n".
};

TEST(XmlWriterTest, LaysOutEachKindByteForByte) {
  // Nine arrays, then <data> at depth 9: its lines keep 8 tabs and 12 characters.
  std::string deepData;
  for (int i = 0; i < 9; ++i) deepData += std::string(i, '\t') + "<array>\n";
  deepData += std::string(9, '\t') + "<data>\n" + std::string(8, '\t') + "AAECAwQFBgcI\n" +
              std::string(8, '\t') + "CQ==\n" + std::string(9, '\t') + "</data>\n";
  for (int i = 8; i >= 0; --i) deepData += std::string(i, '\t') + "</array>\n";
  const Layout cases[] = {
      {"EveryKindNested",
       Dict({{"z", Value(Array{Value(Bytes(50))})},
             {"u8", Value(Integer::fromUnsigned(UINT64_MAX))},
             {"S", Value("a<b>&\"c\"")},
             {"e", Value("")},
             {"r", Value::fromReal(0.1)},
             {"d", Value(Date{0})}}),
       "<dict>\n\t<key>S</key>\n\t<string>a&lt;b&gt;&amp;\"c\"</string>\n"
       "\t<key>d</key>\n\t<date>2001-01-01T00:00:00Z</date>\n"
       "\t<key>e</key>\n\t<string></string>\n"
       "\t<key>r</key>\n\t<real>0.10000000000000001</real>\n"
       "\t<key>u8</key>\n\t<integer>18446744073709551615</integer>\n"
       "\t<key>z</key>\n\t<array>\n\t\t<data>\n"
       "\t\tAAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKiss\n"
       "\t\tLS4vMDE=\n\t\t</data>\n\t</array>\n</dict>\n"},
      {"EmptyContainers", Value(Array{Value(Dictionary()), Value(Array{}), Value(Data{})}),
       "<array>\n\t<dict/>\n\t<array/>\n\t<data>\n\t</data>\n</array>\n"},
      {"RawControlCharacters", Value("a\r\nb\t\x01\0'\"\xC3\xA9"s),
       "<string>a\r\nb\t\x01\0'\"\xC3\xA9</string>\n"s},
      {"Booleans", Value(Array{Value(true), Value(false)}),
       "<array>\n\t<true/>\n\t<false/>\n</array>\n"},
      {"Integers", Value(Array{Value::fromInteger(-5), Value::fromInteger(INT64_MIN), Value::fromInteger(0)}),
       "<array>\n\t<integer>-5</integer>\n\t<integer>-9223372036854775808</integer>\n"
       "\t<integer>0</integer>\n</array>\n"},
      {"Reals",
       Value(Array{Value::fromReal(0.5), Value::fromReal(1.6), Value::fromReal(3), Value::fromReal(1e16),
                   Value::fromReal(1e17), Value::fromReal(1e-5), Value(Real{double{0.1f}, true}),
                   Value::fromReal(-0.0), Value::fromReal(std::nan("")), Value::fromReal(HUGE_VAL),
                   Value::fromReal(-HUGE_VAL), Value::fromReal(-2.5)}),
       "<array>\n\t<real>0.5</real>\n\t<real>1.6000000000000001</real>\n\t<real>3</real>\n"
       "\t<real>10000000000000000</real>\n\t<real>1e+17</real>\n"
       "\t<real>1.0000000000000001e-05</real>\n\t<real>0.10000000149011612</real>\n"
       "\t<real>0.0</real>\n\t<real>nan</real>\n\t<real>+infinity</real>\n"
       "\t<real>-infinity</real>\n\t<real>-2.5</real>\n</array>\n"},
      {"DatesFlooredToTheSecond",
       Value(Array{Value(Date{-0.5}), Value(Date{120479613.9}), Value(Date{252423993599}),
                   Value(Date{-730851.0 * 86400}), Value(Date{-730852.0 * 86400 + 3661})}),
       "<array>\n\t<date>2000-12-31T23:59:59Z</date>\n\t<date>2004-10-26T10:33:33Z</date>\n"
       "\t<date>9999-12-31T23:59:59Z</date>\n\t<date>0000-01-01T00:00:00Z</date>\n"
       "\t<date>-001-12-31T01:01:01Z</date>\n</array>\n"},
      {"DataAtDepthZero", Value(Bytes(58)),
       "<data>\nAAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4vMDEyMzQ1Njc4\n"
       "OQ==\n</data>\n"},
      {"DataBeyondEightTabs", Wrapped(Value(Bytes(10)), 9), deepData},
      {"Uid", Value(Array{Value(Uid{UINT64_MAX})}),
       "<array>\n\t<dict>\n\t\t<key>CF$UID</key>\n\t\t<integer>18446744073709551615</integer>\n"
       "\t</dict>\n</array>\n"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Written(c.value), kProlog + c.body + "</plist>\n") << c.name;
  }
}

TEST(XmlWriterTest, SortsKeysByUtf16CodeUnits) {
  // U+1F600 is a surrogate pair (D83D DE00), so it sorts before U+E000 in UTF-16 although
  // its code point is larger.
  const std::string keys[] = {"\xEE\x80\x80",
                              "\xF0\x9F\x98\x80",
                              "\xC3\x85"
                              "benraa",
                              "anEmptyDict",
                              "aString",
                              "a",
                              "B",
                              ""};
  Dictionary dictionary;
  for (const auto& key : keys) dictionary.append(key, Value(true));
  std::string expected = "<dict>\n";
  for (const char* key : {"", "B", "a", "aString", "anEmptyDict",
                          "\xC3\x85"
                          "benraa",
                          "\xF0\x9F\x98\x80", "\xEE\x80\x80"}) {
    expected += "\t<key>" + std::string(key) + "</key>\n\t<true/>\n";
  }
  EXPECT_EQ(Written(Value(std::move(dictionary))), kProlog + expected + "</dict>\n</plist>\n");
}

TEST(XmlWriterTest, SortsLargeAndNestedDictionariesLikeSortedOnes) {
  // Keys numbered after `outer`, each holding keys numbered after `inner`, so that an
  // unsorted dictionary can hold unsorted dictionaries.
  auto build = [](const std::vector<int>& outer, const std::vector<int>& inner) {
    Dictionary top;
    for (int i : outer) {
      Dictionary nested;
      for (int j : inner) nested.append("key" + std::to_string(j), Value::fromInteger(i * 1000 + j));
      top.append("com.example.app." + std::to_string(i), Value(std::move(nested)));
    }
    return Value(std::move(top));
  };
  // Sorted as the platform sorts: "app.10" before "app.9".
  std::vector<int> ascending;
  for (int i = 0; i < 120; ++i) ascending.push_back(i);
  std::sort(ascending.begin(), ascending.end(), [](int a, int b) {
    return "com.example.app." + std::to_string(a) < "com.example.app." + std::to_string(b);
  });
  const std::string expected = Written(build(ascending, ascending));
  std::vector<int> reversed(ascending.rbegin(), ascending.rend());
  std::vector<int> tailAppended(ascending.begin() + 1, ascending.end());
  tailAppended.push_back(ascending.front());
  EXPECT_EQ(Written(build(reversed, reversed)), expected);
  EXPECT_EQ(Written(build(tailAppended, reversed)), expected);
  EXPECT_EQ(Written(build(reversed, tailAppended)), expected);
  // A long run in order, with keys that belong inside it before and after it.
  std::vector<int> around{ascending[70], ascending[3]};
  for (size_t i = 0; i < ascending.size(); ++i) {
    if (i != 3 && i != 70 && i != 110) around.push_back(ascending[i]);
  }
  around.push_back(ascending[110]);
  EXPECT_EQ(Written(build(around, around)), expected);
}

// The first letters of the keys of a written dictionary, in the order written.
std::string KeyLetters(const std::string& xml) {
  std::string letters;
  for (size_t at = 0; (at = xml.find("<key>", at)) != std::string::npos; at += 5) {
    letters += xml[at + 5];
  }
  return letters;
}

TEST(XmlWriterTest, KeysReadInOrderAreTrustedUntilAChangeBreaksTheOrder) {
  const std::string xml =
      kProlog + "<dict>\n\t<key>b</key>\n\t<true/>\n\t<key>d</key>\n\t<true/>\n</dict>\n</plist>\n";
  const struct {
    const char* key;
    bool ascending;
    const char* written;
  } changes[] = {{"e", true, "bde"}, {"c", false, "bcd"}, {"a", false, "abd"}, {"d", true, "bd"}};
  for (const auto& change : changes) {
    Document document;
    ASSERT_TRUE(Read(xml, &document, nullptr));
    EXPECT_TRUE(document.root().keysAscending());
    document.set(change.key, Value(false));
    EXPECT_EQ(document.root().keysAscending(), change.ascending) << change.key;
    std::string out;
    ASSERT_TRUE(Write(document, Format::kXml, &out, nullptr));
    EXPECT_EQ(KeyLetters(out), change.written) << change.key;
  }
  // A binary file keeps any order, which the XML writer sorts.
  std::string binary;
  const Value unsorted = Dict({{"d", Value(true)}, {"b", Value(true)}});
  ASSERT_TRUE(Write(unsorted, Format::kBinary, &binary, nullptr));
  Document document;
  ASSERT_TRUE(Read(binary, &document, nullptr));
  EXPECT_FALSE(document.root().keysAscending());
  std::string out;
  ASSERT_TRUE(Write(document, Format::kXml, &out, nullptr));
  EXPECT_EQ(KeyLetters(out), "bd");
}

TEST(XmlWriterTest, RecordsOfOneShapeAreEachSortedByTheirOwnKeys) {
  // Consecutive records at one depth share, or nearly share, their keys and order.
  const std::vector<std::vector<std::string>> shapes = {
      {"name", "seat", "address"},
      {"name", "seat", "address"},
      {"address", "name", "seat"},
      {"name", "seat", "addresses"},
      {"name", "seat"},
      {"name", "seat", "address", "id"},
      {"seat", "name", "address"},
      {"name", "seat", "address"},
  };
  Array records, sortedRecords;
  int n = 0;
  for (const auto& keys : shapes) {
    std::vector<std::pair<std::string, Value>> entries;
    for (const std::string& key : keys) entries.emplace_back(key, Value::fromInteger(n++));
    records.push_back(Dict(entries));
    std::sort(entries.begin(), entries.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    sortedRecords.push_back(Dict(entries));
  }
  EXPECT_EQ(Written(Value(std::move(records))), Written(Value(std::move(sortedRecords))));
}

TEST(XmlWriterTest, RefusesWhatXmlCannotCarryAndLeavesOutputAlone) {
  Dictionary badKey;
  badKey.append("\xFF", Value(true));
  const std::pair<const char*, Value> cases[] = {
      {"NanDate", Value(Date{std::nan("")})},
      {"InfiniteDate", Value(Array{Value(Date{-HUGE_VAL})})},
      {"DateBeyondTheYearRange", Value(Date{3.2e15})},
      {"InvalidUtf8String", Value("ab\xC3")},
      {"InvalidUtf8Key", Value(std::move(badKey))},
      {"TooDeep", Wrapped(Value(true), kMaxDepth + 1)},
      {"UidTooDeep", Wrapped(Value(Uid{1}), kMaxDepth)},
  };
  for (const auto& c : cases) {
    std::string out = "previous";
    Error error;
    EXPECT_FALSE(Write(c.second, Format::kXml, &out, &error)) << c.first;
    EXPECT_EQ(error.code, ErrorCode::kUnwritable) << c.first;
    EXPECT_EQ(out, "previous") << c.first;
  }
  EXPECT_FALSE(Written(Wrapped(Value(true), kMaxDepth)).empty());
}

TEST(XmlWriterTest, WrittenValuesReadBackEqual) {
  Array items;
  for (size_t n = 0; n < 200; n += 37) items.push_back(Value(Bytes(n)));
  // Keys in sorted order, as they come back.
  const Value value = Dict({
      {"data", Value(std::move(items))},
      {"dates", Value(Array{Value(Date{-63113904000}), Value(Date{1e15}), Value(Date{-1})})},
      {"deep", Wrapped(Dict({{"k", Value(Dictionary())}}), 20)},
      {"numbers", Value(Array{Value::fromInteger(INT64_MIN), Value(Integer::fromUnsigned(UINT64_MAX)),
                              Value::fromReal(1.0 / 3), Value::fromReal(-1e-300), Value::fromReal(HUGE_VAL)})},
      {"text", Value("\r\n\t\x01\0<&>]]>\xF0\x9F\x98\x80"s)},
      {"uid", Value(Uid{UINT64_MAX})},
  });
  Value back;
  Error error;
  ASSERT_TRUE(ReadXml(Written(value), &back, &error)) << error.detail << " at " << error.offset;
  EXPECT_EQ(back, value);
  const std::string farYear = kProlog + "<date>99999999-12-31T23:59:59Z</date>\n</plist>\n";
  ASSERT_TRUE(ReadXml(farYear, &back, &error));
  EXPECT_EQ(Written(back), farYear);
}

}  // namespace
}  // namespace plist
