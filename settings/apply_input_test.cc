#include "settings/apply_input.h"

#include <string>
#include <vector>

#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "plist/plist.h"
#include "settings/setting.h"
#include "text/utf.h"

namespace brtconfig {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;

const std::vector<ApplyEntry> kUntouched = {{"untouched", {"x"}}};

plist::Value ListOf(std::vector<plist::Value> values) {
  plist::Array array;
  for (plist::Value& value : values) array.push_back(std::move(value));
  return plist::Value(std::move(array));
}

plist::Value Record(std::vector<std::pair<const char*, plist::Value>> members) {
  plist::Dictionary dictionary;
  for (auto& member : members) dictionary.append(member.first, std::move(member.second));
  return plist::Value(std::move(dictionary));
}

// `"key": [1, 1, ...]` with `n` values.
std::string JsonList(const char* key, size_t n) {
  std::string list = "\"" + std::string(key) + "\": [1";
  for (size_t i = 1; i < n; ++i) list += ", 1";
  return list + "]";
}

// `{"k0": 1, "k1": 1, ...}` with `n` members.
std::string JsonObject(size_t n) {
  std::string object = "{";
  for (size_t i = 0; i < n; ++i) object += (i ? ", \"k" : "\"k") + std::to_string(i) + "\": 1";
  return object + "}";
}

// The keys are in the order the XML writer lists them, so all three forms keep it.
TEST(ApplyInputTest, JsonXmlAndBinaryGiveTheSameEntriesInTheFilesOrder) {
  const plist::Value tree = Record({
      {"a.string", plist::Value("Salle \xC3\xA9")},
      {"b.integer", plist::Value::fromInteger(5000)},
      {"c.negative", plist::Value::fromInteger(-7)},
      {"d.real", plist::Value::fromReal(0.1)},
      {"e.wholeReal", plist::Value::fromReal(5000.0)},
      {"f.true", plist::Value(true)},
      {"g.false", plist::Value(false)},
      {"h.list", ListOf({plist::Value("10.0.0.0/8"), plist::Value::fromInteger(3),
                         plist::Value::fromReal(2.5), plist::Value(true)})},
      // As --list writes a setting: its value among other members.
      {"i.record", Record({{"forced", plist::Value(false)},
                           {"kind", plist::Value("list")},
                           {"value", ListOf({plist::Value("1"), plist::Value("2")})}})},
      // A setting that is not set: no "value" member, nothing to change.
      {"j.unset", Record({{"kind", plist::Value("string")}})},
  });
  const std::vector<ApplyEntry> expected = {
      {"a.string", {"Salle \xC3\xA9"}}, {"b.integer", {"5000"}},
      {"c.negative", {"-7"}},           {"d.real", {"0.1"}},
      {"e.wholeReal", {"5000"}},        {"f.true", {"true"}},
      {"g.false", {"false"}},           {"h.list", {"10.0.0.0/8", "3", "2.5", "true"}},
      {"i.record", {"1", "2"}},
  };
  std::string xml, binary;
  ASSERT_TRUE(plist::Write(tree, plist::Format::kXml, &xml, nullptr));
  ASSERT_TRUE(plist::Write(tree, plist::Format::kBinary, &binary, nullptr));
  const std::string json =
      "\xEF\xBB\xBF\n {\"a.string\": \"Salle \\u00e9\", \"b.integer\": 5000, \"c.negative\": -7,"
      " \"d.real\": 0.1, \"e.wholeReal\": 5e3, \"f.true\": true, \"g.false\": false,"
      " \"h.list\": [\"10.0.0.0/8\", 3, 2.5, true], \"gone\": null,"
      " \"i.record\": {\"forced\": false, \"kind\": \"list\", \"value\": [\"1\", \"2\"]},"
      " \"j.unset\": {\"kind\": \"string\", \"value\": null}}\n";
  const struct {
    const std::string& bytes;
    ApplyInputFormat format;
  } cases[] = {{xml, ApplyInputFormat::kXmlPlist},
               {binary, ApplyInputFormat::kBinaryPlist},
               {json, ApplyInputFormat::kJson}};
  for (const auto& c : cases) {
    std::vector<ApplyEntry> entries;
    ApplyInputError error;
    ApplyInputFormat format = ApplyInputFormat::kJson;
    ASSERT_TRUE(ParseApplyInput(c.bytes, &entries, &error, &format))
        << error.message << "\n" << c.bytes;
    EXPECT_EQ(format, c.format) << c.bytes;
    EXPECT_EQ(entries, expected) << c.bytes;
  }
  // Reals that a binary file holds at four bytes show as the float they are; file order is
  // kept, not sorted.
  plist::Dictionary unsorted;
  unsorted.append("z", plist::Value(plist::Real{0.1f, true}));
  unsorted.append("a", plist::Value::fromInteger(1));
  ASSERT_TRUE(plist::Write(plist::Value(unsorted), plist::Format::kBinary, &binary, nullptr));
  std::vector<ApplyEntry> entries;
  ASSERT_TRUE(ParseApplyInput(binary, &entries, nullptr));
  EXPECT_EQ(entries, (std::vector<ApplyEntry>{{"z", {"0.1"}}, {"a", {"1"}}}));
}

TEST(ApplyInputTest, ReportsEveryInvalidEntryInOrderBesideTheValidOnes) {
  const std::string json =
      "{\"z\": [], \"ok\": 1, \"y\": [[1]], \"x\": [1, {\"a\": 1}], \"w\": [null],"
      " \"v\": {\"value\": {\"a\": 1}}, \"u\": {\"value\": []}, \"ok2\": {\"value\": [\"a\"]}," +
      // The longest list a setting takes, and one value more: counted, never kept.
      JsonList("full", kMaxListValues) + ", " + JsonList("t", kMaxListValues + 1) + "}";
  plist::Dictionary dictionary;
  dictionary.append("date", plist::Value(plist::Date{0}));
  dictionary.append("data", plist::Value(plist::Data()));
  dictionary.append("ok", plist::Value("fine"));
  dictionary.append("uid", plist::Value(plist::Uid{1}));
  dictionary.append("listed", ListOf({plist::Value("a"), plist::Value(plist::Date{0})}));
  dictionary.append("nested", Record({{"value", Record({})}}));
  dictionary.append("empty", ListOf({}));
  dictionary.append("full", plist::Value(plist::Array(kMaxListValues, plist::Value("1"))));
  dictionary.append("long", plist::Value(plist::Array(kMaxListValues + 1, plist::Value("1"))));
  std::string binary;
  ASSERT_TRUE(plist::Write(plist::Value(dictionary), plist::Format::kBinary, &binary, nullptr));
  const std::vector<std::string> ones(kMaxListValues, "1");
  const struct {
    const std::string& bytes;
    std::vector<std::pair<std::string, std::string>> invalid;
    std::vector<ApplyEntry> valid;
  } cases[] = {
      {json,
       {{"z", "the list is empty"},
        {"y", "a list element is a list"},
        {"x", "a list element is an object"},
        {"w", "a list element is null"},
        {"v", "the \"value\" member is an object"},
        {"u", "the list is empty"},
        {"t", "the list holds more than 64 values"}},
       {{"ok", {"1"}}, {"ok2", {"a"}}, {"full", ones}}},
      {binary,
       {{"date", "the value is a date"},
        {"data", "the value is data"},
        {"uid", "the value is a UID"},
        {"listed", "a list element is a date"},
        {"nested", "the \"value\" member is a dictionary"},
        {"empty", "the list is empty"},
        {"long", "the list holds more than 64 values"}},
       {{"ok", {"fine"}}, {"full", ones}}},
  };
  for (const auto& c : cases) {
    std::vector<ApplyEntry> entries = kUntouched;
    ApplyInputError error;
    EXPECT_FALSE(ParseApplyInput(c.bytes, &entries, &error));
    EXPECT_EQ(entries, c.valid) << c.bytes;
    EXPECT_EQ(error.message, "");
    std::vector<std::pair<std::string, std::string>> invalid;
    for (const InvalidApplyEntry& entry : error.invalidEntries) {
      invalid.emplace_back(entry.key, entry.reason);
    }
    EXPECT_EQ(invalid, c.invalid) << c.bytes;
  }
}

TEST(ApplyInputTest, RefusesDamagedOrHostileInputSayingWhere) {
  std::string binary;
  ASSERT_TRUE(
      plist::Write(plist::Value(plist::Dictionary()), plist::Format::kBinary, &binary, nullptr));
  binary.resize(binary.size() - 1);  // The trailer is cut short.
  plist::Document unused;
  plist::Error readerError;
  ASSERT_FALSE(plist::Read(binary, &unused, &readerError));
  // An object holding `lists` lists nested in each other.
  auto nested = [](size_t lists) {
    return "{\"a\": " + std::string(lists, '[') + "1" + std::string(lists, ']') + "}";
  };
  const std::string deep = nested(kMaxApplyJsonDepth);
  // Objects of more members than are kept, at the top and inside a member.
  const std::string wide = JsonObject(kMaxApplyMembers + 1);
  const std::string wideInside = "{\"a\": " + wide + "}";
  plist::Dictionary many;
  for (size_t i = 0; i <= kMaxApplyMembers; ++i) many.append("k" + std::to_string(i), true);
  std::string manyBinary;
  ASSERT_TRUE(plist::Write(plist::Value(many), plist::Format::kBinary, &manyBinary, nullptr));
  const struct {
    std::string bytes;
    std::string message;  // The start of the message.
    std::optional<size_t> offset;
  } cases[] = {
      {"", "not valid JSON: parse error at line 1, column 1", 0},
      {"{\"a\": 1,}", "not valid JSON: parse error at line 1, column 9", 8},
      {"{\"a\": 1} x", "not valid JSON", 9},
      {"{\"a\": \"\xFF\"}", "not valid JSON", 7},
      {"{\"a\": 1e999}", "not valid JSON: number overflow", 10},
      {"{\"a\": 1, \"b\": {\"value\": 1, \"value\": 2}}",
       "the key \"value\" appears twice in one object", 33},
      {"{\"a\": 1, \"a\": 2}", "the key \"a\" appears twice in one object", 11},
      {deep, "the JSON text nests deeper than 16 levels", 6 + kMaxApplyJsonDepth - 1},
      {"  [1]", "the JSON text's top level is a list, not an object", 2},
      {"\"text\"", "the JSON text's top level is a single value, not an object", 0},
      {"<plist version=\"1.0\"><dict><key>a</key></dict></plist>",
       "not a valid property list", 39},
      {"<plist version=\"1.0\"><array/></plist>",
       "the property list's top level is a list, not a dictionary", std::nullopt},
      {binary, "not a valid property list: " + readerError.detail, readerError.offset},
      // At the end of the key one too many: `"k1024": 1}`.
      {wide, "an object holds more than 1024 members", wide.size() - 5},
      {wideInside, "an object holds more than 1024 members", 6 + wide.size() - 5},
      {manyBinary, "the property list's top dictionary holds more than 1024 members",
       std::nullopt},
  };
  for (const auto& c : cases) {
    std::vector<ApplyEntry> entries = kUntouched;
    ApplyInputError error;
    EXPECT_FALSE(ParseApplyInput(c.bytes, &entries, &error)) << c.bytes;
    EXPECT_EQ(entries, kUntouched);
    EXPECT_THAT(error.message, StartsWith(c.message)) << c.bytes;
    EXPECT_TRUE(text::IsValidUtf8(error.message)) << error.message;  // No raw input bytes.
    EXPECT_TRUE(error.invalidEntries.empty()) << c.bytes;
    EXPECT_EQ(error.offset, c.offset) << c.bytes;
  }
  // Nesting up to the limit is no fault of the input (though a list in a list is invalid);
  // the size ceiling holds before any parsing.
  std::vector<ApplyEntry> entries;
  ApplyInputError error;
  EXPECT_FALSE(ParseApplyInput(nested(kMaxApplyJsonDepth - 1), &entries, &error));
  EXPECT_EQ(error.message, "");
  EXPECT_THAT(error.invalidEntries, testing::SizeIs(1));
  std::string huge(plist::kMaxInputBytes + 1, ' ');
  huge[0] = '{';
  EXPECT_FALSE(ParseApplyInput(huge, &entries, &error));
  EXPECT_THAT(error.message, HasSubstr("larger than 64 MiB"));
}

}  // namespace
}  // namespace brtconfig
