#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "plist/codec.h"
#include "plist/plist.h"

namespace plist {
namespace {

using namespace std::string_literals;

Value Dict(std::vector<std::pair<std::string, Value>> entries) {
  Dictionary dictionary;
  for (auto& entry : entries) dictionary.append(std::move(entry.first), std::move(entry.second));
  return Value(std::move(dictionary));
}

Value Big(uint64_t v) { return Value(Integer::fromUnsigned(v)); }

// `depth` containers, each opened with `open`, around `inner`.
std::string Nested(const std::string& open, const std::string& inner, const std::string& close,
                   size_t depth) {
  std::string s;
  for (size_t i = 0; i < depth; ++i) s += open;
  s += inner;
  for (size_t i = 0; i < depth; ++i) s += close;
  return s;
}

// UTF-16 of ASCII text, with or without a byte-order mark.
std::string Utf16(const std::string& ascii, bool bigEndian, bool bom) {
  std::string out = bom ? (bigEndian ? "\xFE\xFF" : "\xFF\xFE") : "";
  for (const char c : ascii) out += bigEndian ? "\0"s + c : c + "\0"s;
  return out;
}

struct Accepted {
  const char* name;
  std::string xml;
  Value expected;
};

TEST(XmlReaderTest, ReadsEveryAcceptedConstruct) {
  const std::string prolog =
      "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!-- c -->\n<?pi x?>\n"
      "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"x.dtd\">\n";
  const Accepted cases[] = {
      {"FullProlog", prolog + "<plist version=\"1.0\">\n<string>x</string>\n</plist>\n<!--e-->",
       Value("x")},
      {"BareRoot", "<dict/>", Value(Dictionary())},
      {"EmptyForms", "<array><string/><array/><dict/><data/></array>",
       Value(Array{Value(""), Value(Array{}), Value(Dictionary()), Value(Data{})})},
      {"Utf16LittleEndianBom", Utf16("<string>A</string>", false, true), Value("A")},
      {"Utf16BigEndianBom",
       Utf16("<?xml version=\"1.0\" encoding=\"UTF-16\"?><string>A</string>", true, true),
       Value("A")},
      {"Utf16WithoutBom", Utf16("<string>A</string>", true, false), Value("A")},
      {"Latin1", "<?xml version='1.0' encoding='ISO-8859-1'?><string>caf\xE9</string>",
       Value("caf\xC3\xA9")},
      {"Ascii", "<?xml version=\"1.0\" encoding=\"us-ascii\"?><true/>", Value(true)},
      {"References", "<string>&lt;&gt;&amp;&apos;&quot;&#169;&#xe9;&#x1F600;</string>",
       Value("<>&'\"\xC2\xA9\xC3\xA9\xF0\x9F\x98\x80")},
      {"Utf8AmongMarkup",
       "<dict><key>caf\xC3\xA9</key><string>a\xE2\x82\xAC long run &amp; \xF0\x9F\x98\x80"
       "<!-- \xC3\xA9 --><![CDATA[\xC3\xA9]]></string></dict>",
       Dict({{"caf\xC3\xA9", Value("a\xE2\x82\xAC long run & \xF0\x9F\x98\x80\xC3\xA9")}})},
      {"RawControlsKept", "<string>a\r\nb\tc\x01\0d\re</string>"s, Value("a\r\nb\tc\x01\0d\re"s)},
      {"CommentCdataAndPiInText", "<string>a<!-- x -->b<![CDATA[<&>]]>c<?p q?>d</string>",
       Value("ab<&>cd")},
      {"AttributesAndSpacedEndTag",
       "<dict><key Q=\">\">k</key ><string a='1' b=\"2\">v</string></dict>",
       Dict({{"k", Value("v")}})},
      {"EmptyKey", "<dict><key></key><true/><key/><false/></dict>", Dict({{"", Value(false)}})},
      {"Booleans", "<array><true/><false></false><true></true></array>",
       Value(Array{Value(true), Value(false), Value(true)})},
      {"Integers",
       "<array><integer> 42 </integer><integer>+ 7</integer><integer>-0xFFFF</integer>"
       "<integer>0Xff</integer><integer>-0</integer><integer>18446744073709551615</integer>"
       "<integer>-9223372036854775808</integer><integer>&#49;2</integer></array>",
       Value(Array{Value::fromInteger(42), Value::fromInteger(7), Value::fromInteger(-65535),
                   Value::fromInteger(255), Value::fromInteger(0), Big(UINT64_MAX),
                   Value::fromInteger(INT64_MIN), Value::fromInteger(12)})},
      {"Reals",
       "<array><real>-INF</real><real>+Infinity</real><real> .5</real><real>-2.5E-3</real>"
       "<real>1e400</real><real>3</real><real>+1.5</real><real>-1e-400</real></array>",
       Value(Array{Value::fromReal(-HUGE_VAL), Value::fromReal(HUGE_VAL), Value::fromReal(0.5),
                   Value::fromReal(-2.5e-3), Value::fromReal(HUGE_VAL), Value::fromReal(3),
                   Value::fromReal(1.5), Value::fromReal(-0.0)})},
      {"Dates",
       "<array><date>2004-10-26T10:33:33Z</date><date>1970-01-01T00:00:00Z</date>"
       "<date>2000-02-29T12:00:00.25Z</date><date>0000-01-01T00:00:00Z</date>"
       "<date>-001-12-31T00:00:00Z</date><date>1600-03-01T00:00:00Z</date></array>",
       Value(Array{Value(Date{120479613}), Value(Date{-978307200}), Value(Date{-26481599.75}),
                   Value(Date{-730851.0 * 86400}), Value(Date{-730852.0 * 86400}),
                   Value(Date{-12649219200})})},
      {"DataSkipsWhiteSpace",
       "<array><data>\n\tAAEC\r\n A w==\n</data><data>QUI=</data><data>QUJD\n\tREVG\n\tR\nw==</data>"
       "</array>",
       Value(Array{Value(Data{0, 1, 2, 3}), Value(Data{'A', 'B'}),
                   Value(Data{'A', 'B', 'C', 'D', 'E', 'F', 'G'})})},
      {"DuplicateKeyKeepsFirstPositionLastValue",
       "<dict><key>b</key><integer>1</integer><key>a</key><true/><key>b</key><integer>2</integer>"
       "</dict>",
       Dict({{"b", Value::fromInteger(2)}, {"a", Value(true)}})},
      {"UidFromKeyedArchiveDict", "<dict><key>CF$UID</key><integer>7</integer></dict>",
       Value(Uid{7})},
      {"NegativeUidStaysDict", "<dict><key>CF$UID</key><integer>-1</integer></dict>",
       Dict({{"CF$UID", Value::fromInteger(-1)}})},
      {"UidWithCompanionStaysDict",
       "<dict><key>CF$UID</key><integer>1</integer><key>x</key><true/></dict>",
       Dict({{"CF$UID", Value::fromInteger(1)}, {"x", Value(true)}})},
  };
  for (const auto& c : cases) {
    Value value;
    Error error;
    EXPECT_TRUE(ReadXml(c.xml, &value, &error))
        << c.name << ": " << ErrorCodeName(error.code) << " at " << error.offset;
    EXPECT_EQ(value, c.expected) << c.name;
  }
}

TEST(XmlReaderTest, LargeDictionaryWithRepeatedKeysLastValueWins) {
  std::string xml = "<dict>";
  for (int round = 0; round < 2; ++round) {
    for (int i = 40; i > 0; --i) {
      xml +=
          "<key>k" + std::to_string(i) + "</key><integer>" + std::to_string(round) + "</integer>";
    }
  }
  Value value;
  ASSERT_TRUE(ReadXml(xml + "</dict>", &value, nullptr));
  const Dictionary& d = value.dictionary();
  ASSERT_EQ(d.size(), 40u);
  EXPECT_EQ(d.keyAt(0), "k40");
  EXPECT_EQ(d.keyAt(39), "k1");
  EXPECT_EQ(*d.find("k7"), Value::fromInteger(1));

  // Each key repeated right after itself: first places shift as repeats are dropped.
  std::string pairs = "<dict>";
  for (int i = 20; i > 0; --i) {
    const std::string key = "<key>p" + std::to_string(i) + "</key>";
    pairs += key + "<integer>0</integer>" + key + "<integer>" + std::to_string(i) + "</integer>";
  }
  ASSERT_TRUE(ReadXml(pairs + "</dict>", &value, nullptr));
  ASSERT_EQ(value.dictionary().size(), 20u);
  for (size_t i = 0; i < 20; ++i) {
    EXPECT_EQ(value.dictionary().keyAt(i), "p" + std::to_string(20 - i));
    EXPECT_EQ(value.dictionary().valueAt(i), Value::fromInteger(static_cast<int64_t>(20 - i)));
  }
}

// The densest XML: a value of seven bytes, whose node is gathered and then moved to its
// list below the top, still fits the room a read takes.
TEST(XmlReaderTest, DensestInputFitsTheRoomItIsReadWith) {
  std::string xml = "<dict><key>a</key><array>";
  for (int i = 0; i < 200000; ++i) xml += "<true/>";
  xml += "</array></dict>";
  Document document;
  Error error;
  ASSERT_TRUE(Read(xml, &document, &error)) << ErrorCodeName(error.code) << " " << error.detail;
  const Node& list = document.root().valueAt(0);
  ASSERT_EQ(list.size(), 200000u);
  EXPECT_TRUE(list.item(199999).boolean());
}

TEST(XmlReaderTest, NestingUpToTheLimitIsRead) {
  Value value;
  EXPECT_TRUE(ReadXml(Nested("<array>", "", "</array>", kMaxDepth), &value, nullptr));
  EXPECT_TRUE(
      ReadXml(Nested("<dict><key>k</key>", "<dict/>", "</dict>", kMaxDepth - 1), &value, nullptr));
  Error error;
  EXPECT_FALSE(
      ReadXml(Nested("<dict><key>k</key>", "<dict/>", "</dict>", kMaxDepth), &value, &error));
  EXPECT_EQ(error.code, ErrorCode::kTooDeep);
}

struct Rejected {
  const char* name;
  std::string xml;
  ErrorCode code;
  const char* at;  // The fault's offset is where this text first occurs; null: the end.
};

TEST(XmlReaderTest, RejectsEachFaultWithItsCodeAndOffset) {
  const std::string deep = Nested("<array>", "", "</array>", kMaxDepth + 1);
  const Rejected cases[] = {
      {"Empty", "", ErrorCode::kTruncated, nullptr},
      {"OpenDict", "<dict><key>a</key>", ErrorCode::kTruncated, nullptr},
      {"OpenString", "<string>abc", ErrorCode::kTruncated, nullptr},
      {"OpenComment", "<!-- x", ErrorCode::kTruncated, nullptr},
      {"OpenTag", "<dict", ErrorCode::kTruncated, nullptr},
      {"CutEndTag", "<integer>1</inte", ErrorCode::kTruncated, nullptr},
      {"OpenCdata", "<string><![CDATA[x</string>", ErrorCode::kTruncated, nullptr},
      {"OpenAttribute", "<plist a=\"1><true/></plist>", ErrorCode::kTruncated, nullptr},
      {"NotXml", "{ a = b; }", ErrorCode::kBadHeader, "{"},
      {"Utf32", "\xFF\xFE\0\0<\0\0\0"s, ErrorCode::kBadEncoding, "\xFF"},
      {"BadUtf8", "<string>\xC3\x28</string>", ErrorCode::kBadEncoding, "\xC3"},
      {"OverlongUtf8", "<string>\xC0\xAF</string>", ErrorCode::kBadEncoding, "\xC0"},
      {"EncodedSurrogate", "<string>\xED\xA0\x80</string>", ErrorCode::kBadEncoding, "\xED"},
      // Wherever it lies, and whatever other fault comes first: as if checked up front.
      {"BadUtf8AfterOtherFault", "<array><integer>x</integer><string>\xC3</string></array>",
       ErrorCode::kBadEncoding, "\xC3"},
      {"BadUtf8InComment", "<array><!-- \xFF --></array>", ErrorCode::kBadEncoding, "\xFF"},
      {"BadUtf8InAttribute", "<plist v='\xFF'><true/></plist>", ErrorCode::kBadEncoding, "\xFF"},
      {"BadUtf8InCdata", "<string><![CDATA[\xFF]]></string>", ErrorCode::kBadEncoding, "\xFF"},
      {"BadUtf8InDoctype", "<!DOCTYPE \xFF><true/>", ErrorCode::kBadEncoding, "\xFF"},
      {"CutUtf8BeforeMarkup", "<string>\xE2\x82</string>", ErrorCode::kBadEncoding, "\xE2"},
      // Data decoded in place to bytes that are not UTF-8 do not hide the real fault.
      {"FaultAfterDecodedData", "<array><data>/w==</data><other/></array>",
       ErrorCode::kUnknownElement, "<other"},
      {"UnknownEncoding", "<?xml version=\"1.0\" encoding=\"Shift_JIS\"?><true/>",
       ErrorCode::kBadEncoding, "<?xml"},
      {"AsciiHighByte", "<?xml version=\"1.0\" encoding=\"US-ASCII\"?><string>\xE9</string>",
       ErrorCode::kBadEncoding, "\xE9"},
      {"Utf16LoneSurrogate", "\xFE\xFF\0<\xD8\0"s, ErrorCode::kBadEncoding, "\xD8"},
      {"Utf16OddLength", "\xFE\xFF\0<\x01"s, ErrorCode::kBadEncoding, "\x01"},
      {"BomWithLatin1", "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"latin1\"?><true/>",
       ErrorCode::kBadEncoding, "<?xml"},
      {"InternalSubset", "<!DOCTYPE plist [<!ENTITY e \"x\">]><string>&e;</string>",
       ErrorCode::kEntityDeclaration, "<!DOCTYPE"},
      {"DoctypeJunk", "<!DOCTYPE test \"x\"><true/>", ErrorCode::kBadSyntax, "\"x"},
      {"LateDeclaration", "<!-- c --><?xml version=\"1.0\"?><true/>", ErrorCode::kBadSyntax,
       "<?xml"},
      {"TextBetweenElements", "<array>x</array>", ErrorCode::kBadSyntax, "x<"},
      {"ReferenceBetweenElements", "<plist>&#32;<true/></plist>", ErrorCode::kBadSyntax, "&"},
      {"MismatchedEndTag", "<array></dict>", ErrorCode::kBadSyntax, "</dict>"},
      {"EndTagWithJunk", "<string>a</stringx>", ErrorCode::kBadSyntax, "</"},
      {"StrayEndTag", "</plist>", ErrorCode::kBadSyntax, "</"},
      {"UnknownEntity", "<string>&foo;</string>", ErrorCode::kBadSyntax, "&"},
      {"UnterminatedEntity", "<string>&amp</string>", ErrorCode::kBadSyntax, "&"},
      {"CapitalHexReference", "<string>&#X41;</string>", ErrorCode::kBadSyntax, "&"},
      {"NulReference", "<string>&#0;</string>", ErrorCode::kBadSyntax, "&"},
      {"SurrogateReference", "<string>&#xD800;</string>", ErrorCode::kBadSyntax, "&"},
      {"ReferenceBeyondUnicode", "<string>&#x110000;</string>", ErrorCode::kBadSyntax, "&"},
      {"EmptyReference", "<string>&#;</string>", ErrorCode::kBadSyntax, "&"},
      {"ElementInsideString", "<string>a<b/></string>", ErrorCode::kBadSyntax, "<b"},
      {"DeclarationInsideKey", "<dict><key>t<!t></key><true/></dict>", ErrorCode::kBadSyntax,
       "<!t"},
      {"ContentInsideBoolean", "<true> </true>", ErrorCode::kBadSyntax, " "},
      {"JunkAfterRoot", "<plist><true/></plist>\ntest", ErrorCode::kBadSyntax, "test"},
      {"SecondRoot", "<true/><false/>", ErrorCode::kBadSyntax, "<false"},
      {"TwoValuesInPlist", "<plist><true/><false/></plist>", ErrorCode::kBadSyntax, "<false"},
      {"EmptyPlist", "<plist></plist>", ErrorCode::kBadSyntax, "<plist"},
      {"SelfClosedPlist", "<plist/>", ErrorCode::kBadSyntax, "<plist"},
      {"AttributeWithoutName", "<string =\">a</string>", ErrorCode::kBadSyntax, "="},
      {"AttributeWithoutValue", "<plist version><true/></plist>", ErrorCode::kBadSyntax, "><"},
      {"UnquotedAttribute", "<plist v=1><true/></plist>", ErrorCode::kBadSyntax, "1"},
      {"LessThanInAttribute", "<plist v=\"<\"><true/></plist>", ErrorCode::kBadSyntax, "\"<"},
      {"UnknownRoot", "<html/>", ErrorCode::kUnknownElement, "<html"},
      {"UnknownValue", "<array><String>a</String></array>", ErrorCode::kUnknownElement, "<String"},
      {"NestedPlist", "<array><plist/></array>", ErrorCode::kUnknownElement, "<plist"},
      {"KeyInArray", "<array><key>a</key></array>", ErrorCode::kBadKey, "<key"},
      {"KeyWithoutValue", "<dict><key>a</key></dict>", ErrorCode::kBadKey, "</dict"},
      {"KeyAfterKey", "<dict><key>a</key><key>b</key><true/></dict>", ErrorCode::kBadKey, "<key>b"},
      {"ValueWithoutKey", "<dict><true/></dict>", ErrorCode::kBadKey, "<true"},
      {"EmptyInteger", "<integer/>", ErrorCode::kBadInteger, "<"},
      {"IntegerWithLetters", "<integer>42q</integer>", ErrorCode::kBadInteger, "<"},
      {"BareHexPrefix", "<integer>0x</integer>", ErrorCode::kBadInteger, "<"},
      {"IntegerInnerSpace", "<integer>1 2</integer>", ErrorCode::kBadInteger, "<"},
      {"IntegerAboveRange", "<integer>18446744073709551616</integer>", ErrorCode::kBadInteger, "<"},
      {"IntegerBelowRange", "<integer>-9223372036854775809</integer>", ErrorCode::kBadInteger, "<"},
      {"HexAboveRange", "<integer>0x10000000000000000</integer>", ErrorCode::kBadInteger, "<"},
      {"DecimalPointInInteger", "<integer>1.0</integer>", ErrorCode::kBadInteger, "<"},
      {"EmptyReal", "<real></real>", ErrorCode::kBadReal, "<"},
      {"RealTrailingSpace", "<real>1.5 </real>", ErrorCode::kBadReal, "<"},
      {"HexReal", "<real>0x1p3</real>", ErrorCode::kBadReal, "<"},
      {"RealCutExponent", "<real>1e</real>", ErrorCode::kBadReal, "<"},
      {"RealWord", "<real>nanx</real>", ErrorCode::kBadReal, "<"},
      {"EmptyDate", "<date/>", ErrorCode::kBadDate, "<"},
      {"Month13", "<date>2001-13-01T00:00:00Z</date>", ErrorCode::kBadDate, "<"},
      {"NotALeapYear", "<date>1900-02-29T00:00:00Z</date>", ErrorCode::kBadDate, "<"},
      {"Hour24", "<date>2001-01-01T24:00:00Z</date>", ErrorCode::kBadDate, "<"},
      {"Second60", "<date>2001-01-01T00:00:60Z</date>", ErrorCode::kBadDate, "<"},
      {"DateWithoutZone", "<date>2001-01-01T00:00:00</date>", ErrorCode::kBadDate, "<"},
      {"DateWithOffset", "<date>2001-01-01T00:00:00+01:00</date>", ErrorCode::kBadDate, "<"},
      {"OneDigitMonth", "<date>2001-1-01T00:00:00Z</date>", ErrorCode::kBadDate, "<"},
      {"YearTooLong", "<date>123456789-01-01T00:00:00Z</date>", ErrorCode::kBadDate, "<"},
      {"EmptyFraction", "<date>2001-01-01T00:00:00.Z</date>", ErrorCode::kBadDate, "<"},
      {"IncompleteGroup", "<data>QQ</data>", ErrorCode::kBadData, "<"},
      {"ShortPadding", "<data>QQ=</data>", ErrorCode::kBadData, "<"},
      {"TooMuchPadding", "<data>Q===</data>", ErrorCode::kBadData, "<"},
      {"DataAfterPadding", "<data>QQ==QUI=</data>", ErrorCode::kBadData, "<"},
      {"PaddingInside", "<data>QQ=A</data>", ErrorCode::kBadData, "<"},
      {"Punctuation", "<data>QU*I</data>", ErrorCode::kBadData, "<"},
      {"TooDeep", deep, ErrorCode::kTooDeep, "<array></array>"},
  };
  for (const auto& c : cases) {
    Value value("untouched");
    Error error;
    EXPECT_FALSE(ReadXml(c.xml, &value, &error)) << c.name;
    EXPECT_EQ(error.code, c.code) << c.name << ": " << ErrorCodeName(error.code);
    EXPECT_EQ(error.offset, c.at ? c.xml.find(c.at) : c.xml.size()) << c.name;
    EXPECT_FALSE(error.detail.empty()) << c.name;
    EXPECT_EQ(value, Value("untouched")) << c.name;
  }
}

TEST(XmlReaderTest, RefusesInputAboveTheSizeCeiling) {
  const std::string huge(kMaxInputBytes + 1, ' ');
  Error error;
  Value value;
  EXPECT_FALSE(ReadXml(huge, &value, &error));
  EXPECT_EQ(error.code, ErrorCode::kTooLarge);
}

}  // namespace
}  // namespace plist
