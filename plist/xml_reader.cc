// A reader for the property-list subset of XML. It is not a general XML parser: it knows
// the plist vocabulary, refuses internal DTD subsets (so no custom entities), keeps CR and
// control characters in text exactly as they stand, and bounds nesting and the number of
// values built. Error offsets count bytes of the UTF-8 text parsed, which is the input
// itself unless the input was UTF-16 or ISO-8859-1 and had to be converted first.
//
// The document keeps that text, and a string or data node points into it: plain text
// where it lies, text with references, CDATA or comments, and base64, decoded in place
// (decoding only ever shortens it).
#include <algorithm>
#include <charconv>
#include <clocale>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <iterator>
#include <limits>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "plist/base64.h"
#include "plist/bits.h"
#include "plist/codec.h"
#include "plist/plist.h"
#include "plist/date.h"
#include "plist/document_builder.h"
#include "plist/key_order.h"
#include "plist/xml_text.h"
#include "text/utf.h"

namespace plist {
namespace {

// XML cannot share subtrees, so the values built are already bounded by the input size;
// the budget only keeps memory reasonable for large inputs of tiny values (an empty
// element costs 7 bytes of XML but some 40 bytes of memory). A legitimate dictionary of
// 200,000 entries counts 400,001 values.
constexpr size_t kMaxValues = size_t{1} << 22;
static_assert(kMaxValues <= UINT32_MAX, "keys are found by 32-bit positions");

bool IsAsciiAlphanumeric(char c) {
  const char lower = static_cast<char>(c | 0x20);
  return (c >= '0' && c <= '9') || (lower >= 'a' && lower <= 'z');
}

// The value of a hexadecimal digit, or -1.
int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

enum class Element {
  kPlist,
  kDict,
  kKey,
  kArray,
  kString,
  kInteger,
  kReal,
  kDate,
  kData,
  kTrue,
  kFalse,
  kOther
};

// The plist vocabulary; the common tags are also recognised whole in readCommonStartTag.
Element ElementNamed(std::string_view name) {
  static constexpr std::pair<std::string_view, Element> kNames[] = {
      {"key", Element::kKey},   {"string", Element::kString}, {"integer", Element::kInteger},
      {"real", Element::kReal}, {"true", Element::kTrue},     {"false", Element::kFalse},
      {"date", Element::kDate}, {"data", Element::kData},     {"array", Element::kArray},
      {"dict", Element::kDict}, {"plist", Element::kPlist}};
  for (const auto& entry : kNames) {
    if (entry.first == name) return entry.second;
  }
  return Element::kOther;
}

struct Tag {
  Element element = Element::kOther;
  std::string_view name;
  bool empty = false;  // Written as <name/>.
  size_t offset = 0;   // Of its '<'.
};

bool ParseInteger(std::string_view text, Integer* out) {
  size_t i = 0;
  const size_t n = text.size();
  while (i < n && IsXmlSpace(text[i])) ++i;
  bool negative = false;
  if (i < n && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  while (i < n && IsXmlSpace(text[i])) ++i;
  const bool hex = i + 1 < n && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X');
  if (hex) i += 2;
  // Digits only: from_chars takes no sign or prefix of its own. Too many fail.
  uint64_t magnitude = 0;
  const auto [end, fault] =
      std::from_chars(text.data() + i, text.data() + n, magnitude, hex ? 16 : 10);
  if (fault != std::errc()) return false;
  i = static_cast<size_t>(end - text.data());
  while (i < n && IsXmlSpace(text[i])) ++i;
  if (i != n) return false;
  if (negative) {
    if (magnitude > uint64_t{1} << 63) return false;
    *out = Integer{0 - magnitude, false};
  } else {
    *out = Integer::fromUnsigned(magnitude);
  }
  return true;
}

bool ParseReal(std::string_view text, double* out) {
  constexpr double kInf = std::numeric_limits<double>::infinity();
  static constexpr std::pair<std::string_view, double> kSpecial[] = {
      {"nan", std::numeric_limits<double>::quiet_NaN()},
      {"inf", kInf},
      {"+inf", kInf},
      {"-inf", -kInf},
      {"infinity", kInf},
      {"+infinity", kInf},
      {"-infinity", -kInf},
  };
  for (const auto& special : kSpecial) {
    if (EqualsIgnoringCase(text, special.first)) {
      *out = special.second;
      return true;
    }
  }
  size_t i = 0;
  while (i < text.size() && IsXmlSpace(text[i])) ++i;
  std::string number(text.substr(i));
  if (number.empty()) return false;
  // strtod reads the decimal point of the current locale; the text always uses '.'.
  const char point = *std::localeconv()->decimal_point;
  for (char& c : number) {
    if (c == '.') {
      c = point;
    } else if (!((c >= '0' && c <= '9') || c == '+' || c == '-' || c == 'e' || c == 'E')) {
      return false;
    }
  }
  char* end = nullptr;
  const double d = std::strtod(number.c_str(), &end);
  if (end != number.c_str() + number.size()) return false;
  *out = d;
  return true;
}

class Parser {
 public:
  // `text` is the document's own text, which strings are decoded into.
  Parser(Document* document, std::string_view text, Error* sink)
      : out(document), doc(text), buffer(const_cast<char*>(text.data())), error(sink) {}

  // Parses the text from `start` (past any BOM and XML declaration) to its end.
  bool parseDocument(size_t start, const Node** root);

 private:
  bool fail(ErrorCode code, size_t offset, const char* detail) {
    return Fail(error, code, offset, detail);
  }
  bool truncated() { return fail(ErrorCode::kTruncated, doc.size(), "the document is cut short"); }
  // Whether the text at the reading position starts with the literal `s`: a compare of
  // a constant size, which the compiler makes a load or two.
  template <size_t N>
  bool at(const char (&s)[N]) const {
    return doc.size() - pos >= N - 1 && std::memcmp(doc.data() + pos, s, N - 1) == 0;
  }
  // The text ends in the NUL of the string that holds it, which is not white space.
  bool skipSpace() {
    const size_t start = pos;
    while (IsXmlSpace(doc.data()[pos])) ++pos;
    return pos != start;
  }
  bool countValue(size_t offset) {
    return ++values <= kMaxValues || fail(ErrorCode::kTooManyValues, offset, "too many values");
  }

  bool skipMisc(ErrorCode textCode, bool doctypeAllowed);
  bool skipComment();
  bool skipProcessingInstruction();
  bool skipDoctype();
  bool skipQuoted();
  bool readStartTag(Tag* tag);
  bool readCommonStartTag(Tag* tag);
  bool readEndTag(const Tag& tag);
  size_t findMarkup(size_t from) const;
  bool readText(const Tag& tag, std::string_view* text);
  bool decodeReference(char** to);
  void moveText(size_t from, size_t n, char** to);
  bool parseValue(const Tag& tag, size_t depth, const Node** node);
  bool parseArray(const Tag& tag, size_t depth, const Node** node);
  bool parseDict(const Tag& tag, size_t depth, const Node** node);

  DocumentBuilder out;
  std::string_view doc;
  char* buffer;  // The same text, written to where it is decoded in place.
  size_t pos = 0;
  Error* error;
  size_t values = 0;
  // The elements of the containers being read, gathered here until each container ends
  // and its list is made to size in the document.
  std::vector<const Node*> items;
  std::vector<Member> entries;
};

// Skips white space, comments, processing instructions and (when allowed) one DOCTYPE,
// stopping at the '<' of a tag or at the end. Any other text fails with `textCode`.
bool Parser::skipMisc(ErrorCode textCode, bool doctypeAllowed) {
  for (;;) {
    skipSpace();
    if (pos == doc.size()) return true;
    if (doc[pos] != '<') return fail(textCode, pos, "text outside an element");
    // The common case, a tag, is told from markup to skip by its second byte alone.
    if (pos + 1 < doc.size() && doc[pos + 1] != '!' && doc[pos + 1] != '?') return true;
    if (at("<!--")) {
      if (!skipComment()) return false;
    } else if (at("<?")) {
      if (!skipProcessingInstruction()) return false;
    } else if (doctypeAllowed && at("<!DOCTYPE")) {
      if (!skipDoctype()) return false;
      doctypeAllowed = false;
    } else if (at("<!")) {
      return fail(ErrorCode::kBadSyntax, pos, "unexpected markup declaration");
    } else {
      return true;
    }
  }
}

bool Parser::skipComment() {
  const size_t end = doc.find("-->", pos + 4);
  if (end == std::string_view::npos) return truncated();
  pos = end + 3;
  return true;
}

bool Parser::skipProcessingInstruction() {
  const size_t start = pos;
  pos += 2;
  const size_t nameStart = pos;
  while (pos < doc.size() && !IsXmlSpace(doc[pos]) && doc[pos] != '?') ++pos;
  const std::string_view name = doc.substr(nameStart, pos - nameStart);
  if (name.empty() || EqualsIgnoringCase(name, "xml")) {
    return fail(ErrorCode::kBadSyntax, start, "misplaced or unnamed processing instruction");
  }
  const size_t end = doc.find("?>", pos);
  if (end == std::string_view::npos) return truncated();
  pos = end + 2;
  return true;
}

bool Parser::skipQuoted() {
  if (pos == doc.size()) return truncated();
  if (doc[pos] != '"' && doc[pos] != '\'')
    return fail(ErrorCode::kBadSyntax, pos, "quote expected");
  const size_t end = doc.find(doc[pos], pos + 1);
  if (end == std::string_view::npos) return truncated();
  pos = end + 1;
  return true;
}

// <!DOCTYPE name [SYSTEM "uri" | PUBLIC "id" "uri"] [internal subset]>
bool Parser::skipDoctype() {
  const size_t start = pos;
  pos += 9;
  if (!skipSpace()) return fail(ErrorCode::kBadSyntax, pos, "malformed DOCTYPE");
  const size_t nameStart = pos;
  while (pos < doc.size() && !IsXmlSpace(doc[pos]) && doc[pos] != '>' && doc[pos] != '[') ++pos;
  if (pos == nameStart) return fail(ErrorCode::kBadSyntax, pos, "malformed DOCTYPE");
  bool spaced = skipSpace();
  const bool isPublic = at("PUBLIC");
  if (spaced && (isPublic || at("SYSTEM"))) {
    pos += 6;
    if (!skipSpace()) return fail(ErrorCode::kBadSyntax, pos, "malformed DOCTYPE");
    if (!skipQuoted()) return false;
    if (isPublic) {
      if (!skipSpace()) return fail(ErrorCode::kBadSyntax, pos, "malformed DOCTYPE");
      if (!skipQuoted()) return false;
    }
    skipSpace();
  }
  if (pos == doc.size()) return truncated();
  if (doc[pos] == '[') {
    return fail(ErrorCode::kEntityDeclaration, start, "DOCTYPE with an internal subset");
  }
  if (doc[pos] != '>') return fail(ErrorCode::kBadSyntax, pos, "malformed DOCTYPE");
  ++pos;
  return true;
}

// Reads a start tag of the plist vocabulary without attributes, as the platform writes
// them, by compares of constant size; false, having read nothing, for any other.
bool Parser::readCommonStartTag(Tag* tag) {
  auto common = [&](auto& text, Element element) {
    if (!at(text)) return false;
    const size_t size = sizeof text - 1;
    const bool empty = text[size - 2] == '/';
    tag->offset = pos;
    tag->name = doc.substr(pos + 1, size - (empty ? 3 : 2));
    tag->element = element;
    tag->empty = empty;
    pos += size;
    return true;
  };
  // The most frequent first.
  return common("<key>", Element::kKey) || common("<string>", Element::kString) ||
         common("<integer>", Element::kInteger) || common("<dict>", Element::kDict) ||
         common("<array>", Element::kArray) || common("<true/>", Element::kTrue) ||
         common("<false/>", Element::kFalse) || common("<date>", Element::kDate) ||
         common("<data>", Element::kData) || common("<real>", Element::kReal);
}

// Reads a start tag at '<' (not "</", "<!" or "<?"), checking its attributes' syntax.
bool Parser::readStartTag(Tag* tag) {
  if (readCommonStartTag(tag)) return true;
  tag->offset = pos++;
  const size_t nameStart = pos;
  while (pos < doc.size() && !IsXmlSpace(doc[pos]) && doc[pos] != '/' && doc[pos] != '>') ++pos;
  if (pos == doc.size()) return truncated();
  if (pos == nameStart) return fail(ErrorCode::kBadSyntax, tag->offset, "element without a name");
  tag->name = doc.substr(nameStart, pos - nameStart);
  tag->element = ElementNamed(tag->name);
  for (;;) {
    const bool spaced = skipSpace();
    if (pos == doc.size()) return truncated();
    if (doc[pos] == '>') {
      ++pos;
      tag->empty = false;
      return true;
    }
    if (doc[pos] == '/') {
      if (pos + 1 == doc.size()) return truncated();
      if (doc[pos + 1] != '>') return fail(ErrorCode::kBadSyntax, pos, "'/' inside a tag");
      pos += 2;
      tag->empty = true;
      return true;
    }
    const size_t attributeStart = pos;
    while (pos < doc.size() && !IsXmlSpace(doc[pos]) && std::strchr("=>/<\"'", doc[pos]) == nullptr) {
      ++pos;
    }
    if (pos == doc.size()) return truncated();
    if (!spaced || pos == attributeStart) {
      return fail(ErrorCode::kBadSyntax, attributeStart, "malformed attribute");
    }
    skipSpace();
    if (pos == doc.size()) return truncated();
    if (doc[pos] != '=') return fail(ErrorCode::kBadSyntax, pos, "attribute without a value");
    ++pos;
    skipSpace();
    const size_t valueStart = pos;
    if (!skipQuoted()) return false;
    if (doc.substr(valueStart, pos - valueStart).find('<') != std::string_view::npos) {
      return fail(ErrorCode::kBadSyntax, valueStart, "'<' in an attribute value");
    }
  }
}

// Reads "</name>" for `tag` at "</", allowing white space before the '>'.
bool Parser::readEndTag(const Tag& tag) {
  // Names of the vocabulary are at most seven bytes: one compare of eight does.
  const size_t size = tag.name.size();
  if (size < 8 && doc.size() - pos >= 10 && doc[pos + 2 + size] == '>') {
    uint64_t name, end;
    std::memcpy(&name, tag.name.data(), sizeof name);  // The end tag lies further on.
    std::memcpy(&end, doc.data() + pos + 2, sizeof end);
    if (((name ^ end) & FirstBytes(size)) == 0) {
      pos += size + 3;
      return true;
    }
  }
  const std::string_view name = tag.name;
  const size_t start = pos;
  pos += 2;
  const std::string_view rest = doc.substr(pos);
  if (rest.substr(0, name.size()) != name) {
    if (rest.size() < name.size() && name.substr(0, rest.size()) == rest) return truncated();
    return fail(ErrorCode::kBadSyntax, start, "mismatched end tag");
  }
  pos += name.size();
  skipSpace();
  if (pos == doc.size()) return truncated();
  if (doc[pos] != '>') return fail(ErrorCode::kBadSyntax, start, "mismatched end tag");
  ++pos;
  return true;
}

// Reads the character data of `tag` and its end tag. References are decoded, comments
// and processing instructions dropped, CDATA taken as it stands; elements are refused.
bool Parser::readText(const Tag& tag, std::string_view* text) {
  if (tag.empty) {
    *text = doc.substr(pos, 0);  // Empty, but where it stands, as text decoded in place is.
    return true;
  }
  const size_t start = pos;
  const size_t end = findMarkup(pos);
  if (end < doc.size() && doc[end] == '<' && doc.data()[end + 1] == '/') {
    // The common case: plain text directly followed by the end tag.
    pos = end;
    if (!readEndTag(tag)) return false;
    *text = doc.substr(start, end - start);
    return true;
  }
  if (std::memchr(doc.data() + end, '<', doc.size() - end) == nullptr) return truncated();
  // Text that needs decoding is decoded where it lies: `to` follows the reading position,
  // never ahead of it.
  char* to = buffer + start;
  for (;;) {
    const size_t next = findMarkup(pos);
    moveText(pos, next - pos, &to);
    pos = next;
    if (pos == doc.size()) return truncated();
    if (doc[pos] == '&') {
      if (!decodeReference(&to)) return false;
    } else if (at("</")) {
      if (!readEndTag(tag)) return false;
      *text = std::string_view(buffer + start, static_cast<size_t>(to - (buffer + start)));
      return true;
    } else if (at("<!--")) {
      if (!skipComment()) return false;
    } else if (at("<![CDATA[")) {
      const size_t close = doc.find("]]>", pos + 9);
      if (close == std::string_view::npos) return truncated();
      moveText(pos + 9, close - pos - 9, &to);
      pos = close + 3;
    } else if (at("<?")) {
      if (!skipProcessingInstruction()) return false;
    } else {
      return fail(ErrorCode::kBadSyntax, pos, "markup inside text");
    }
  }
}

// The offset of the first '<' or '&' from `from`, or the end, found eight bytes a step.
size_t Parser::findMarkup(size_t from) const {
  const char* p = doc.data() + from;
  const char* const end = doc.data() + doc.size();
  for (; end - p >= 8; p += 8) {
    uint64_t word;
    std::memcpy(&word, p, sizeof word);
    const uint64_t marks = BytesEqual(word, '<') | BytesEqual(word, '&');
    if (marks != 0) return static_cast<size_t>(p - doc.data()) + FirstMarkedByte(marks);
  }
  while (p != end && *p != '<' && *p != '&') ++p;
  return static_cast<size_t>(p - doc.data());
}

// Moves `n` bytes of text from `from` to `*to`, which is not past `from`.
void Parser::moveText(size_t from, size_t n, char** to) {
  if (*to != buffer + from) std::memmove(*to, buffer + from, n);
  *to += n;
}

// Decodes the entity or character reference at '&' to `*to`: at most as many bytes of
// UTF-8 as the reference takes.
bool Parser::decodeReference(char** to) {
  const size_t start = pos;
  size_t end = pos + 1;
  while (end < doc.size() && end - start <= 10 &&
         (IsAsciiAlphanumeric(doc[end]) || doc[end] == '#')) {
    ++end;
  }
  if (end == doc.size()) return truncated();
  if (doc[end] != ';') return fail(ErrorCode::kBadSyntax, start, "malformed reference");
  const std::string_view name = doc.substr(start + 1, end - start - 1);
  pos = end + 1;
  static constexpr std::pair<std::string_view, char> kNamed[] = {
      {"lt", '<'}, {"gt", '>'}, {"amp", '&'}, {"apos", '\''}, {"quot", '"'}};
  for (const auto& entry : kNamed) {
    if (entry.first == name) {
      *(*to)++ = entry.second;
      return true;
    }
  }
  if (name.size() < 2 || name[0] != '#') {
    return fail(ErrorCode::kBadSyntax, start, "unknown entity");
  }
  const bool hex = name[1] == 'x';
  const std::string_view digits = name.substr(hex ? 2 : 1);
  uint32_t cp = 0;
  for (const char c : digits) {
    const int digit = hex ? HexDigit(c) : (c >= '0' && c <= '9' ? c - '0' : -1);
    if (digit < 0) return fail(ErrorCode::kBadSyntax, start, "malformed character reference");
    cp = cp * (hex ? 16 : 10) + static_cast<uint32_t>(digit);
    if (cp > 0x10FFFF) break;  // Invalid already; stop before the value can overflow.
  }
  if (digits.empty() || cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    return fail(ErrorCode::kBadSyntax, start, "invalid character reference");
  }
  // "&#N;" takes at least four bytes, and a code point needs four at most.
  *to = text::EncodeUtf8(cp, *to);
  return true;
}

bool Parser::parseValue(const Tag& tag, size_t depth, const Node** node) {
  if (!countValue(tag.offset)) return false;
  std::string_view text;
  switch (tag.element) {
    case Element::kDict:
      return parseDict(tag, depth + 1, node);
    case Element::kArray:
      return parseArray(tag, depth + 1, node);
    case Element::kString:
      if (!readText(tag, &text)) return false;
      *node = out.string(text);
      return true;
    case Element::kInteger: {
      Integer integer;
      if (!readText(tag, &text)) return false;
      if (!ParseInteger(text, &integer)) {
        return fail(ErrorCode::kBadInteger, tag.offset, "malformed or out-of-range integer");
      }
      *node = out.integer(integer);
      return true;
    }
    case Element::kReal: {
      double real;
      if (!readText(tag, &text)) return false;
      if (!ParseReal(text, &real)) return fail(ErrorCode::kBadReal, tag.offset, "malformed real");
      *node = out.real(Real{real, false});
      return true;
    }
    case Element::kDate: {
      double seconds;
      if (!readText(tag, &text)) return false;
      if (!ParseDate(text, &seconds))
        return fail(ErrorCode::kBadDate, tag.offset, "malformed date");
      *node = out.date(Date{seconds});
      return true;
    }
    case Element::kData: {
      size_t size = 0;
      if (!readText(tag, &text)) return false;
      char* const bytes = buffer + (text.data() - doc.data());
      if (!Base64Decode(text, bytes, &size)) {
        return fail(ErrorCode::kBadData, tag.offset, "invalid base64");
      }
      *node = out.data(std::string_view(bytes, size));
      return true;
    }
    case Element::kTrue:
    case Element::kFalse:
      if (!tag.empty) {
        if (!at("</")) {
          return pos == doc.size() ? truncated()
                                   : fail(ErrorCode::kBadSyntax, pos, "content inside a boolean");
        }
        if (!readEndTag(tag)) return false;
      }
      *node = out.boolean(tag.element == Element::kTrue);
      return true;
    case Element::kKey:
      return fail(ErrorCode::kBadKey, tag.offset, "key outside a dictionary");
    case Element::kPlist:
    case Element::kOther:
      break;
  }
  return fail(ErrorCode::kUnknownElement, tag.offset, "unknown element");
}

bool Parser::parseArray(const Tag& tag, size_t depth, const Node** node) {
  if (depth > kMaxDepth) return fail(ErrorCode::kTooDeep, tag.offset, "nested too deeply");
  // This array's elements follow those of the arrays that contain it.
  const size_t first = items.size();
  while (!tag.empty) {
    if (!skipMisc(ErrorCode::kBadSyntax, false)) return false;
    if (pos == doc.size()) return truncated();
    if (at("</")) {
      if (!readEndTag(tag)) return false;
      break;
    }
    Tag child;
    const Node* element = nullptr;
    if (!readStartTag(&child) || !parseValue(child, depth, &element)) return false;
    items.push_back(element);
  }
  const size_t n = items.size() - first;
  const Node** list = out.itemList(n);
  std::copy(items.begin() + static_cast<std::ptrdiff_t>(first), items.end(), list);
  items.resize(first);
  *node = out.array(list, n);
  return true;
}

bool Parser::parseDict(const Tag& tag, size_t depth, const Node** node) {
  if (depth > kMaxDepth) return fail(ErrorCode::kTooDeep, tag.offset, "nested too deeply");
  // This dictionary's entries follow those of the dictionaries that contain it.
  const size_t first = entries.size();
  bool awaitingValue = false;
  while (!tag.empty) {
    if (!skipMisc(ErrorCode::kBadSyntax, false)) return false;
    if (pos == doc.size()) return truncated();
    if (at("</")) {
      if (awaitingValue) return fail(ErrorCode::kBadKey, pos, "key without a value");
      if (!readEndTag(tag)) return false;
      break;
    }
    Tag child;
    if (!readStartTag(&child)) return false;
    if (child.element == Element::kKey) {
      if (awaitingValue) return fail(ErrorCode::kBadKey, child.offset, "key without a value");
      std::string_view key;
      if (!countValue(child.offset) || !readText(child, &key)) return false;
      entries.push_back(Member{out.string(key), nullptr});
      awaitingValue = true;
    } else {
      if (!awaitingValue) return fail(ErrorCode::kBadKey, child.offset, "value without a key");
      const Node* value = nullptr;
      if (!parseValue(child, depth, &value)) return false;
      entries[entries.size() - 1].value = value;
      awaitingValue = false;
    }
  }
  const Member* const read = entries.data() + first;
  size_t n = entries.size() - first;
  Member* list = out.entryList(n);
  std::copy(read, read + n, list);
  entries.resize(first);
  // A repeated key keeps its first position and takes the last value, as the platform's
  // XML reader does.
  std::vector<uint32_t> firstOf;
  const bool ascending = FindRepeatedKeys(
      n, [list](size_t i) { return list[i].key->string(); }, &firstOf);
  if (!firstOf.empty()) {
    for (size_t i = 0; i < n; ++i) list[firstOf[i]].value = list[i].value;
    size_t kept = 0;
    for (size_t i = 0; i < n; ++i) {
      if (firstOf[i] == i) list[kept++] = list[i];
    }
    n = kept;
  }
  // The keyed-archive convention for object references, as the platform reads it.
  if (n == 1 && list[0].key->string() == "CF$UID" && list[0].value->kind() == Kind::kInteger) {
    const Integer reference = list[0].value->integer();
    if (reference.isUnsigned || reference.asSigned() >= 0) {
      *node = out.uid(Uid{reference.bits});
      return true;
    }
  }
  *node = out.dictionary(list, n, ascending);
  return true;
}

bool Parser::parseDocument(size_t start, const Node** root) {
  pos = start;
  if (!skipMisc(ErrorCode::kBadHeader, true)) return false;
  if (pos == doc.size()) return truncated();
  if (at("</")) return fail(ErrorCode::kBadSyntax, pos, "end tag without a start tag");
  Tag top;
  if (!readStartTag(&top)) return false;
  if (top.element == Element::kPlist) {
    bool haveValue = false;
    while (!top.empty) {
      if (!skipMisc(ErrorCode::kBadSyntax, false)) return false;
      if (pos == doc.size()) return truncated();
      if (at("</")) {
        if (!readEndTag(top)) return false;
        break;
      }
      Tag child;
      if (!readStartTag(&child)) return false;
      if (haveValue) return fail(ErrorCode::kBadSyntax, child.offset, "a second value in plist");
      if (!parseValue(child, 0, root)) return false;
      haveValue = true;
    }
    if (!haveValue) return fail(ErrorCode::kBadSyntax, top.offset, "plist without a value");
  } else if (!parseValue(top, 0, root)) {
    return false;
  }
  if (!skipMisc(ErrorCode::kBadSyntax, false)) return false;
  if (pos != doc.size()) return fail(ErrorCode::kBadSyntax, pos, "content after the root element");
  return true;
}

}  // namespace

bool ReadXml(std::string bytes, Document* document, Error* error) {
  Error ignored;
  if (error == nullptr) error = &ignored;
  if (bytes.size() > kMaxInputBytes) {
    return Fail(error, ErrorCode::kTooLarge, 0, "input above the size ceiling");
  }
  std::string converted;
  std::string_view text;
  size_t start = 0;
  if (!DecodeXmlText(bytes, &converted, &text, &start, error)) return false;
  // The document keeps the text parsed: the input itself, or what it was converted to.
  Document read;
  DocumentBuilder build(&read);
  // The text is the input whole, or what it was converted to, whole.
  build.bytes() = text.data() == bytes.data() ? std::move(bytes) : std::move(converted);
  text = build.bytes();
  const Node* root = nullptr;
  if (!Parser(&read, text, error).parseDocument(start, &root)) return false;
  build.setRoot(root);
  *document = std::move(read);
  return true;
}

}  // namespace plist
