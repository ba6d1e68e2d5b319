// A reader for the property-list subset of XML. It is not a general XML parser: it knows
// the plist vocabulary, refuses internal DTD subsets (so no custom entities), keeps CR and
// control characters in text exactly as they stand, and bounds nesting and the number of
// values built. Error offsets count bytes of the UTF-8 text parsed, which is the input
// itself unless the input was UTF-16 or ISO-8859-1 and had to be converted first.
#include <algorithm>
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
#include "plist/date.h"
#include "plist/key_order.h"
#include "plist/plist.h"
#include "plist/xml_text.h"
#include "text/utf.h"

namespace plist {
namespace {

// XML cannot share subtrees, so the values built are already bounded by the input size;
// the budget only keeps memory reasonable for large inputs of tiny values (an empty
// element costs 7 bytes of XML but some 60 bytes of memory). A legitimate dictionary of
// 200,000 entries counts 400,001 values.
constexpr size_t kMaxValues = size_t{1} << 22;
static_assert(kMaxValues <= UINT32_MAX, "keys are sorted by 32-bit positions");
// Containers are gathered in a buffer kept per depth and then copied to one of their exact
// size, which saves the slack of a growing vector in the many small ones; from this many
// elements on, the buffer itself is handed over instead, saving the copy.
constexpr size_t kHandOverElements = 1024;

// The bytes that end an element name in a tag, as a table: names are scanned byte by byte.
struct NameEnds {
  bool table[256];
  constexpr NameEnds() : table() {
    for (const char c : {' ', '\t', '\n', '\r', '/', '>'})
      table[static_cast<unsigned char>(c)] = true;
  }
};
constexpr NameEnds kNameEnds;

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

// Names are told apart by length first, so that each comparison has a fixed size and
// compiles to a load and a compare rather than a call.
Element ElementNamed(std::string_view name) {
  const char* p = name.data();
  switch (name.size()) {
    case 3:
      if (std::memcmp(p, "key", 3) == 0) return Element::kKey;
      break;
    case 4:
      if (std::memcmp(p, "dict", 4) == 0) return Element::kDict;
      if (std::memcmp(p, "real", 4) == 0) return Element::kReal;
      if (std::memcmp(p, "true", 4) == 0) return Element::kTrue;
      if (std::memcmp(p, "date", 4) == 0) return Element::kDate;
      if (std::memcmp(p, "data", 4) == 0) return Element::kData;
      break;
    case 5:
      if (std::memcmp(p, "array", 5) == 0) return Element::kArray;
      if (std::memcmp(p, "false", 5) == 0) return Element::kFalse;
      if (std::memcmp(p, "plist", 5) == 0) return Element::kPlist;
      break;
    case 6:
      if (std::memcmp(p, "string", 6) == 0) return Element::kString;
      break;
    case 7:
      if (std::memcmp(p, "integer", 7) == 0) return Element::kInteger;
      break;
    default:
      break;
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
  uint64_t magnitude = 0;
  size_t digitsStart;
  if (i + 1 < n && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    digitsStart = i += 2;
    for (; i < n && HexDigit(text[i]) >= 0; ++i) {
      if (magnitude >> 60 != 0) return false;
      magnitude = magnitude << 4 | static_cast<uint64_t>(HexDigit(text[i]));
    }
  } else {
    digitsStart = i;
    for (; i < n && text[i] >= '0' && text[i] <= '9'; ++i) {
      const auto digit = static_cast<uint64_t>(text[i] - '0');
      if (magnitude > (UINT64_MAX - digit) / 10) return false;
      magnitude = magnitude * 10 + digit;
    }
  }
  if (i == digitsStart) return false;
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
  Parser(std::string_view document, Error* sink) : doc(document), error(sink) {}

  // Parses the document from `start` (past any BOM and XML declaration) to its end.
  bool parseDocument(size_t start, Value* root);

 private:
  bool fail(ErrorCode code, size_t offset, const char* detail) {
    return Fail(error, code, offset, detail);
  }
  bool truncated() { return fail(ErrorCode::kTruncated, doc.size(), "the document is cut short"); }
  // Inline, so that the literals passed compile to fixed-size compares.
  bool at(std::string_view s) const {
    return pos <= doc.size() && doc.size() - pos >= s.size() &&
           std::memcmp(doc.data() + pos, s.data(), s.size()) == 0;
  }
  bool skipSpace() {
    const size_t start = pos;
    while (pos < doc.size() && IsXmlSpace(doc[pos])) ++pos;
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
  bool readEndTag(std::string_view name);
  bool readText(const Tag& tag, std::string_view* text);
  bool appendReference(std::string* out);
  // Before an element is added to a full buffer of a large container that began at
  // `start`: reserves room for as many elements as the rest of the document would hold at
  // the rate so far, and a quarter more. Doubling instead would touch twice the memory
  // the elements need; room reserved beyond them is never touched.
  template <typename T>
  void makeRoom(CompactVector<T>* items, size_t start) {
    const size_t n = items->size();
    if (n < kHandOverElements || n < items->capacity()) return;
    const size_t bytesPerElement = std::max<size_t>(1, (pos - start) / n);
    const size_t expected = n + (doc.size() - pos) / bytesPerElement;
    items->reserve(std::min(expected + expected / 4, CompactVector<T>::kMaxSize));
  }
  bool parseValue(const Tag& tag, size_t depth, Value* out);
  bool parseArray(const Tag& tag, size_t depth, Value* out);
  bool parseDict(const Tag& tag, size_t depth, Value* out);

  std::string_view doc;
  size_t pos = 0;
  Error* error;
  size_t values = 0;
  std::string scratch;  // Text that needed decoding; valid until the next readText.
  // The elements of the containers being read, one buffer per depth (see kHandOverElements).
  std::vector<Array> arrayItems;
  std::vector<CompactVector<Dictionary::Entry>> dictEntries;
  std::vector<KeyRank> keyOrder;  // For finding repeated keys.
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

// Reads a start tag at '<' (not "</", "<!" or "<?"), checking its attributes' syntax.
bool Parser::readStartTag(Tag* tag) {
  tag->offset = pos++;
  const size_t nameStart = pos;
  while (pos < doc.size() && !kNameEnds.table[static_cast<unsigned char>(doc[pos])]) ++pos;
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

// Reads "</name>" at "</", allowing white space before the '>'.
bool Parser::readEndTag(std::string_view name) {
  const size_t start = pos;
  pos += 2;
  const std::string_view rest = doc.substr(pos);
  // Names are a few bytes long: a loop beats a call to compare them.
  bool same = rest.size() >= name.size();
  for (size_t i = 0; same && i < name.size(); ++i) same = rest[i] == name[i];
  if (!same) {
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
    *text = {};
    return true;
  }
  const size_t start = pos;
  const char* base = doc.data();
  const auto* lt = static_cast<const char*>(std::memchr(base + pos, '<', doc.size() - pos));
  if (lt == nullptr) return truncated();
  const auto end = static_cast<size_t>(lt - base);
  if (end + 1 < doc.size() && doc[end + 1] == '/' &&
      std::memchr(base + pos, '&', end - pos) == nullptr) {
    // The common case: plain text directly followed by the end tag.
    pos = end;
    if (!readEndTag(tag.name)) return false;
    *text = doc.substr(start, end - start);
    return true;
  }
  scratch.clear();
  for (;;) {
    size_t next = pos;
    while (next < doc.size() && doc[next] != '<' && doc[next] != '&') ++next;
    scratch.append(doc, pos, next - pos);
    pos = next;
    if (pos == doc.size()) return truncated();
    if (doc[pos] == '&') {
      if (!appendReference(&scratch)) return false;
    } else if (at("</")) {
      if (!readEndTag(tag.name)) return false;
      *text = scratch;
      return true;
    } else if (at("<!--")) {
      if (!skipComment()) return false;
    } else if (at("<![CDATA[")) {
      const size_t close = doc.find("]]>", pos + 9);
      if (close == std::string_view::npos) return truncated();
      scratch.append(doc, pos + 9, close - pos - 9);
      pos = close + 3;
    } else if (at("<?")) {
      if (!skipProcessingInstruction()) return false;
    } else {
      return fail(ErrorCode::kBadSyntax, pos, "markup inside text");
    }
  }
}

// Decodes the entity or character reference at '&' and appends it as UTF-8.
bool Parser::appendReference(std::string* out) {
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
      out->push_back(entry.second);
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
  text::AppendUtf8(cp, out);
  return true;
}

bool Parser::parseValue(const Tag& tag, size_t depth, Value* out) {
  if (!countValue(tag.offset)) return false;
  std::string_view text;
  switch (tag.element) {
    case Element::kDict:
      return parseDict(tag, depth + 1, out);
    case Element::kArray:
      return parseArray(tag, depth + 1, out);
    case Element::kString:
      if (!readText(tag, &text)) return false;
      *out = Value(String(text));
      return true;
    case Element::kInteger: {
      Integer integer;
      if (!readText(tag, &text)) return false;
      if (!ParseInteger(text, &integer)) {
        return fail(ErrorCode::kBadInteger, tag.offset, "malformed or out-of-range integer");
      }
      *out = Value(integer);
      return true;
    }
    case Element::kReal: {
      double real;
      if (!readText(tag, &text)) return false;
      if (!ParseReal(text, &real)) return fail(ErrorCode::kBadReal, tag.offset, "malformed real");
      *out = Value::fromReal(real);
      return true;
    }
    case Element::kDate: {
      double seconds;
      if (!readText(tag, &text)) return false;
      if (!ParseDate(text, &seconds))
        return fail(ErrorCode::kBadDate, tag.offset, "malformed date");
      *out = Value(Date{seconds});
      return true;
    }
    case Element::kData: {
      Data data;
      if (!readText(tag, &text)) return false;
      if (!Base64Decode(text, &data))
        return fail(ErrorCode::kBadData, tag.offset, "invalid base64");
      *out = Value(std::move(data));
      return true;
    }
    case Element::kTrue:
    case Element::kFalse:
      if (!tag.empty) {
        if (!at("</")) {
          return pos == doc.size() ? truncated()
                                   : fail(ErrorCode::kBadSyntax, pos, "content inside a boolean");
        }
        if (!readEndTag(tag.name)) return false;
      }
      *out = Value(tag.element == Element::kTrue);
      return true;
    case Element::kKey:
      return fail(ErrorCode::kBadKey, tag.offset, "key outside a dictionary");
    case Element::kPlist:
    case Element::kOther:
      break;
  }
  return fail(ErrorCode::kUnknownElement, tag.offset, "unknown element");
}

// Takes the elements gathered in `*buffer`, leaving it empty: the buffer itself when
// large, else an exactly sized copy.
template <typename T>
CompactVector<T> TakeElements(CompactVector<T>* buffer) {
  CompactVector<T> taken;
  if (buffer->size() >= kHandOverElements) {
    std::swap(taken, *buffer);
  } else {
    taken.reserve(buffer->size());
    for (T& element : *buffer) taken.push_back(std::move(element));
    buffer->clear();
  }
  return taken;
}

bool Parser::parseArray(const Tag& tag, size_t depth, Value* out) {
  if (depth > kMaxDepth) return fail(ErrorCode::kTooDeep, tag.offset, "nested too deeply");
  if (arrayItems.size() <= depth) arrayItems.resize(depth + 1);
  arrayItems[depth].clear();
  while (!tag.empty) {
    if (!skipMisc(ErrorCode::kBadSyntax, false)) return false;
    if (pos == doc.size()) return truncated();
    if (at("</")) {
      if (!readEndTag(tag.name)) return false;
      break;
    }
    Tag child;
    if (!readStartTag(&child)) return false;
    // Deeper containers may grow `arrayItems`, which moves the buffers but not the items.
    makeRoom(&arrayItems[depth], tag.offset);
    arrayItems[depth].emplace_back();
    if (!parseValue(child, depth, &arrayItems[depth].back())) return false;
  }
  *out = Value(TakeElements(&arrayItems[depth]));
  return true;
}

// Removes repeated keys from `*entries`: a repeated key keeps its first position and
// takes the last value, as the platform's XML reader does. `*order` is scratch memory.
void RemoveRepeatedKeys(CompactVector<Dictionary::Entry>* entries, std::vector<KeyRank>* order) {
  CompactVector<Dictionary::Entry>& e = *entries;
  const size_t n = e.size();
  std::vector<uint32_t> firstOf;
  FindRepeatedKeys(
      n, [&e](size_t i) { return std::string_view(e[i].key); }, order, &firstOf);
  if (firstOf.empty()) return;
  for (size_t i = 0; i < n; ++i) {
    if (firstOf[i] != i) e[firstOf[i]].value = std::move(e[i].value);
  }
  size_t kept = 0;
  for (size_t i = 0; i < n; ++i) {
    if (firstOf[i] != i) continue;
    if (kept != i) e[kept] = std::move(e[i]);
    ++kept;
  }
  e.resize(kept);
}

bool Parser::parseDict(const Tag& tag, size_t depth, Value* out) {
  if (depth > kMaxDepth) return fail(ErrorCode::kTooDeep, tag.offset, "nested too deeply");
  if (dictEntries.size() <= depth) dictEntries.resize(depth + 1);
  dictEntries[depth].clear();
  bool awaitingValue = false;
  while (!tag.empty) {
    if (!skipMisc(ErrorCode::kBadSyntax, false)) return false;
    if (pos == doc.size()) return truncated();
    if (at("</")) {
      if (awaitingValue) return fail(ErrorCode::kBadKey, pos, "key without a value");
      if (!readEndTag(tag.name)) return false;
      break;
    }
    Tag child;
    if (!readStartTag(&child)) return false;
    if (child.element == Element::kKey) {
      if (awaitingValue) return fail(ErrorCode::kBadKey, child.offset, "key without a value");
      std::string_view key;
      if (!countValue(child.offset) || !readText(child, &key)) return false;
      makeRoom(&dictEntries[depth], tag.offset);
      dictEntries[depth].push_back(Dictionary::Entry{String(key), Value()});
      awaitingValue = true;
    } else {
      if (!awaitingValue) return fail(ErrorCode::kBadKey, child.offset, "value without a key");
      // Deeper containers may grow `dictEntries`, which moves the buffers but not the entries.
      if (!parseValue(child, depth, &dictEntries[depth].back().value)) return false;
      awaitingValue = false;
    }
  }
  RemoveRepeatedKeys(&dictEntries[depth], &keyOrder);
  Dictionary dictionary(TakeElements(&dictEntries[depth]));
  // The keyed-archive convention for object references, as the platform reads it.
  if (dictionary.size() == 1 && dictionary.keyAt(0) == "CF$UID" &&
      dictionary.valueAt(0).kind() == Kind::kInteger) {
    const Integer& reference = dictionary.valueAt(0).integer();
    if (reference.isUnsigned || reference.asSigned() >= 0) {
      *out = Value(Uid{reference.bits});
      return true;
    }
  }
  *out = Value(std::move(dictionary));
  return true;
}

bool Parser::parseDocument(size_t start, Value* root) {
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
        if (!readEndTag(top.name)) return false;
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

bool ReadXml(std::string_view bytes, Value* value, Error* error) {
  Error ignored;
  if (error == nullptr) error = &ignored;
  if (bytes.size() > kMaxInputBytes) {
    return Fail(error, ErrorCode::kTooLarge, 0, "input above the size ceiling");
  }
  std::string converted;
  std::string_view doc;
  size_t start = 0;
  if (!DecodeXmlText(bytes, &converted, &doc, &start, error)) return false;
  Value root;
  Parser parser(doc, error);
  if (!parser.parseDocument(start, &root)) return false;
  *value = std::move(root);
  return true;
}

}  // namespace plist
