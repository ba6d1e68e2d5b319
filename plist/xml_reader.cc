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
#include <limits>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "plist/base64.h"
#include "plist/bits.h"
#include "plist/codec.h"
#include "plist/date.h"
#include "plist/document_builder.h"
#include "plist/key_order.h"
#include "plist/plist.h"
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

constexpr char kNotUtf8[] = "invalid UTF-8";
constexpr uint64_t kHighBits = 0x8080808080808080u;

// Bytes of text that end a run of plain ASCII: '<', '&' and those above ASCII, marked by
// their high bit, eight at a time.
uint64_t TextMarks(uint64_t word) {
  return BytesEqual(word, '<') | BytesEqual(word, '&') | (word & kHighBits);
}

// The eight bytes at `p`, as memory holds them.
uint64_t Load(const char* p) {
  uint64_t word;
  std::memcpy(&word, p, sizeof word);
  return word;
}

// `name` (at most eight bytes) as Load reads it, padded with zero bytes.
constexpr uint64_t Word(std::string_view name) {
  uint64_t word = 0;
  for (size_t i = 0; i < name.size(); ++i) {
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    word |= uint64_t{static_cast<uint8_t>(name[i])} << (8 * i);
#else
    word |= uint64_t{static_cast<uint8_t>(name[i])} << (56 - 8 * i);
#endif
  }
  return word;
}

// The element named by the first `size` bytes of `word` (as Load reads them): the
// vocabulary told apart by length and a compare of one word.
inline Element ElementNamed(uint64_t word, size_t size) {
  const auto is = [word](std::string_view name) {
    return (word & FirstBytes(name.size())) == Word(name);
  };
  switch (size) {
    case 3:
      if (is("key")) return Element::kKey;
      break;
    case 4:
      if (is("dict")) return Element::kDict;
      if (is("true")) return Element::kTrue;
      if (is("date")) return Element::kDate;
      if (is("data")) return Element::kData;
      if (is("real")) return Element::kReal;
      break;
    case 5:
      if (is("array")) return Element::kArray;
      if (is("false")) return Element::kFalse;
      if (is("plist")) return Element::kPlist;
      break;
    case 6:
      if (is("string")) return Element::kString;
      break;
    case 7:
      if (is("integer")) return Element::kInteger;
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
  // "nan", and "inf" or "infinity" with or without a sign, in any case.
  const bool minus = !text.empty() && text[0] == '-';
  const std::string_view word = text.substr(!text.empty() && (minus || text[0] == '+'));
  if (EqualsIgnoringCase(word, "inf") || EqualsIgnoringCase(word, "infinity")) {
    *out = (minus ? -1 : 1) * std::numeric_limits<double>::infinity();
    return true;
  }
  if (EqualsIgnoringCase(text, "nan")) {
    *out = std::numeric_limits<double>::quiet_NaN();
    return true;
  }
  while (!text.empty() && IsXmlSpace(text[0])) text.remove_prefix(1);
  if (text.empty()) return false;
  for (const char c : text) {
    if (!((c >= '0' && c <= '9') || c == '.' || c == '+' || c == '-' || c == 'e' || c == 'E')) {
      return false;
    }
  }
#if defined(__cpp_lib_to_chars)
  // As strtod reads the same text, bit for bit, but faster; it takes no '+', and leaves
  // values out of range, which strtod makes infinities and zeros, to strtod.
  const char* first = text.data();
  const char* const last = first + text.size();
  if (*first == '+' && last - first > 1 && first[1] != '+' && first[1] != '-') ++first;
  double d;
  const auto [end, fault] = std::from_chars(first, last, d);
  if (fault != std::errc::result_out_of_range) {
    if (fault != std::errc() || end != last) return false;
    *out = d;
    return true;
  }
#endif
  // strtod wants a terminated copy with the locale's decimal point: on the stack unless long.
  char small[64];
  std::string large(text.size() < sizeof small ? 0 : text.size(), '\0');
  char* const number = large.empty() ? small : &large[0];
  const char point = *std::localeconv()->decimal_point;
  for (size_t i = 0; i < text.size(); ++i) number[i] = text[i] == '.' ? point : text[i];
  number[text.size()] = '\0';
  char* stop = nullptr;
  const double value = std::strtod(number, &stop);
  if (stop != number + text.size()) return false;
  *out = value;
  return true;
}

class Parser {
 public:
  // `text` is the document's own text, which strings are decoded into.
  Parser(Document* document, std::string_view text, Error* sink)
      : out(document), doc(text), buffer(const_cast<char*>(text.data())), error(sink) {}

  // Parses the text from `start` (past any BOM and XML declaration) to its end.
  bool parse(size_t start, Staged* root) {
    if (parseDocument(start, root)) {
      return !out.full() || fail(ErrorCode::kTooLarge, 0, "the document outgrows its memory");
    }
    // UTF-8 is checked where it is read, which may be after some other fault: a refusal
    // names the first ill-formed byte, as a check of the whole text first would. The
    // text before `decoded` was checked before it was decoded in place.
    const size_t bad = decoded + text::FirstInvalidUtf8(doc.substr(decoded));
    if (bad != doc.size()) fail(ErrorCode::kBadEncoding, bad, kNotUtf8);
    return false;
  }

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
  bool countValue(size_t offset) {
    return ++values <= kMaxValues || fail(ErrorCode::kTooManyValues, offset, "too many values");
  }
  // Fails unless the text from `from` to the reading position is UTF-8. Text is checked
  // as it is scanned; markup skipped whole, which may hold any bytes, is checked here.
  bool checkUtf8(size_t from) {
    const size_t bad = text::FirstInvalidUtf8(doc.substr(from, pos - from));
    return from + bad == pos || fail(ErrorCode::kBadEncoding, from + bad, kNotUtf8);
  }

  // The text ends in the NUL of the string that holds it, which is not white space.
  bool skipSpace() {
    const char* const d = doc.data();
    size_t i = pos;
    while (IsXmlSpace(d[i])) ++i;
    const bool skipped = i != pos;
    pos = i;
    return skipped;
  }
  // Skips white space, comments, processing instructions and (when allowed) one DOCTYPE,
  // stopping at the '<' of a tag or at the end. Any other text fails with `textCode`.
  // White space and then a tag, the common case, is told here.
  bool skipMisc(ErrorCode textCode, bool doctypeAllowed) {
    skipSpace();
    if (doc.size() - pos >= 2 && doc[pos] == '<' && doc[pos + 1] != '!' && doc[pos + 1] != '?') {
      return true;
    }
    return skipMarkup(textCode, doctypeAllowed);
  }
  [[gnu::noinline]] bool skipMarkup(ErrorCode textCode, bool doctypeAllowed);
  bool skipComment();
  bool skipProcessingInstruction();
  bool skipDoctype();
  bool skipQuoted();
  // Reads a start tag at '<' (not "</", "<!" or "<?").
  bool readStartTag(Tag* tag) {
    // A tag of the vocabulary without attributes, as they are written: the name ends at
    // the first '>' or '/', and is told by its length and one compare.
    if (doc.size() - pos >= 10) {
      const char* const p = doc.data() + pos;
      const uint64_t word = Load(p + 1);
      const uint64_t ends = BytesEqual(word, '>') | BytesEqual(word, '/');
      const size_t size = ends == 0 ? 8 : FirstMarkedByte(ends);
      const Element element = ElementNamed(word, size);
      if (element != Element::kOther) {
        const bool empty = p[1 + size] == '/';
        if (p[1 + size + empty] == '>') {
          *tag = Tag{element, std::string_view(p + 1, size), empty, pos};
          pos += size + 2 + empty;
          return true;
        }
      }
    }
    return readOtherStartTag(tag);
  }
  [[gnu::noinline]] bool readOtherStartTag(Tag* tag);
  // Reads "</name>" for `tag` at "</", allowing white space before the '>'.
  bool readEndTag(const Tag& tag) {
    // Names of the vocabulary are at most seven bytes: one compare of eight does. The
    // start tag's name lies before, so eight bytes can be read from it too.
    const size_t size = tag.name.size();
    if (size < 8 && doc.size() - pos >= 10 && doc[pos + 2 + size] == '>' &&
        ((Load(tag.name.data()) ^ Load(doc.data() + pos + 2)) & FirstBytes(size)) == 0) {
      pos += size + 3;
      return true;
    }
    return readSpacedEndTag(tag);
  }
  [[gnu::noinline]] bool readSpacedEndTag(const Tag& tag);
  // The offset of the first '<', '&' or byte above ASCII from `from`, or of the end.
  size_t findMarkupOrHigh(size_t from) const {
    const char* p = doc.data() + from;
    const char* const end = doc.data() + doc.size();
    uint64_t marks = 0;
    while (end - p >= 8 && (marks = TextMarks(Load(p))) == 0) p += 8;
    if (marks != 0) {
      p += FirstMarkedByte(marks);
    } else {
      while (p != end && *p != '<' && *p != '&' && static_cast<uint8_t>(*p) < 0x80) ++p;
    }
    return static_cast<size_t>(p - doc.data());
  }
  [[gnu::noinline]] size_t findMarkup(size_t from) const;
  // Reads the character data of `tag` and its end tag. References are decoded, comments
  // and processing instructions dropped, CDATA taken as it stands; elements are refused.
  bool readText(const Tag& tag, std::string_view* text) {
    if (tag.empty) {
      *text = doc.substr(pos, 0);  // Empty, but where it stands, as text decoded in place is.
      return true;
    }
    const size_t start = pos;
    size_t end = findMarkupOrHigh(pos);
    if (end < doc.size() && static_cast<uint8_t>(doc[end]) >= 0x80) end = findMarkup(end);
    if (doc.size() - end >= 2 && doc[end] == '<' && doc[end + 1] == '/') {
      // The common case: plain text directly followed by the end tag.
      pos = end;
      if (!readEndTag(tag)) return false;
      *text = std::string_view(doc.data() + start, end - start);
      return true;
    }
    if (std::memchr(doc.data() + end, '<', doc.size() - end) == nullptr) return truncated();
    return readDecodedText(tag, text);
  }
  [[gnu::noinline]] bool readDecodedText(const Tag& tag, std::string_view* text);
  bool decodeReference(char** to);
  void moveText(size_t from, size_t n, char** to);
  bool parseValue(const Tag& tag, size_t depth, Staged* node);
  // Out of line, so that reading a scalar, the common case, needs a small frame.
  [[gnu::noinline]] bool parseArray(const Tag& tag, size_t depth, Staged* node);
  [[gnu::noinline]] bool parseDict(const Tag& tag, size_t depth, Staged* node);
  bool parseDocument(size_t start, Staged* root);
  // The elements of the containers being read (a dictionary's keys and values in turn)
  // are gathered in the document (DocumentBuilder::push) until each container ends.
  bool push(Staged node, size_t offset) {
    Node* slot = out.push();
    if (slot == nullptr) return outgrown(offset);
    out.place(slot, node);
    return true;
  }
  bool outgrown(size_t offset) {
    return fail(ErrorCode::kTooLarge, offset, "the document outgrows its memory");
  }

  DocumentBuilder out;
  std::string_view doc;
  char* buffer;  // The same text, written to where it is decoded in place.
  size_t pos = 0;
  Error* error;
  size_t values = 0;
  size_t decoded = 0;
};

bool Parser::skipMarkup(ErrorCode textCode, bool doctypeAllowed) {
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
  const size_t start = pos;
  const size_t end = doc.find("-->", pos + 4);
  if (end == std::string_view::npos) return truncated();
  pos = end + 3;
  return checkUtf8(start);
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
  return checkUtf8(start);
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
  return checkUtf8(start);
}

// Reads any other start tag, checking its attributes' syntax.
bool Parser::readOtherStartTag(Tag* tag) {
  tag->offset = pos++;
  const size_t nameStart = pos;
  while (pos < doc.size() && !IsXmlSpace(doc[pos]) && doc[pos] != '/' && doc[pos] != '>') ++pos;
  if (pos == doc.size()) return truncated();
  if (pos == nameStart) return fail(ErrorCode::kBadSyntax, tag->offset, "element without a name");
  tag->name = doc.substr(nameStart, pos - nameStart);
  uint64_t word = 0;
  std::memcpy(&word, tag->name.data(), std::min(tag->name.size(), sizeof word));
  tag->element = ElementNamed(word, tag->name.size());
  for (;;) {
    const bool spaced = skipSpace();
    if (pos == doc.size()) return truncated();
    if (doc[pos] == '>') {
      ++pos;
      tag->empty = false;
      return checkUtf8(tag->offset);
    }
    if (doc[pos] == '/') {
      if (pos + 1 == doc.size()) return truncated();
      if (doc[pos + 1] != '>') return fail(ErrorCode::kBadSyntax, pos, "'/' inside a tag");
      pos += 2;
      tag->empty = true;
      return checkUtf8(tag->offset);
    }
    const size_t attributeStart = pos;
    while (pos < doc.size() && !IsXmlSpace(doc[pos]) &&
           std::strchr("=>/<\"'", doc[pos]) == nullptr) {
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

bool Parser::readSpacedEndTag(const Tag& tag) {
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

// Reads text from the reading position that needs decoding, and decodes it where it
// lies: `to` follows the reading position, never ahead of it.
bool Parser::readDecodedText(const Tag& tag, std::string_view* text) {
  char* const start = buffer + pos;
  char* to = start;
  for (;;) {
    const size_t next = findMarkup(pos);
    moveText(pos, next - pos, &to);
    pos = next;
    if (pos == doc.size()) return truncated();
    if (doc[pos] == '&') {
      if (!decodeReference(&to)) return false;
    } else if (doc[pos] != '<') {
      return fail(ErrorCode::kBadEncoding, pos, kNotUtf8);
    } else if (at("</")) {
      if (!readEndTag(tag)) return false;
      *text = std::string_view(start, static_cast<size_t>(to - start));
      return true;
    } else if (at("<!--")) {
      if (!skipComment()) return false;
    } else if (at("<![CDATA[")) {
      const size_t content = pos + 9;
      const size_t close = doc.find("]]>", content);
      if (close == std::string_view::npos) return truncated();
      pos = close;
      if (!checkUtf8(content)) return false;
      moveText(content, close - content, &to);
      pos = close + 3;
    } else if (at("<?")) {
      if (!skipProcessingInstruction()) return false;
    } else {
      return fail(ErrorCode::kBadSyntax, pos, "markup inside text");
    }
  }
}

// The offset of the first '<' or '&' from `from`, of the first byte of ill-formed UTF-8,
// or of the end. ASCII goes eight bytes a step; UTF-8 is checked where bytes above it are.
size_t Parser::findMarkup(size_t from) const {
  size_t at = findMarkupOrHigh(from);
  while (at < doc.size() && static_cast<uint8_t>(doc[at]) >= 0x80) {
    const size_t n = text::Utf8SequenceLength(doc.substr(at));
    if (n == 0) break;
    at += n;
    if (at < doc.size() && static_cast<uint8_t>(doc[at]) < 0x80) at = findMarkupOrHigh(at);
  }
  return at;
}

// Moves `n` bytes of text from `from` to `*to`, which is not past `from`.
void Parser::moveText(size_t from, size_t n, char** to) {
  decoded = from + n;
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
  const auto [stop, fault] =
      std::from_chars(digits.data(), digits.data() + digits.size(), cp, hex ? 16 : 10);
  // Digits beyond U+10FFFF make it invalid, whatever follows them.
  const bool beyond = fault == std::errc::result_out_of_range || cp > 0x10FFFF;
  if (stop != digits.data() + digits.size() && !beyond) {
    return fail(ErrorCode::kBadSyntax, start, "malformed character reference");
  }
  if (digits.empty() || cp == 0 || beyond || (cp >= 0xD800 && cp <= 0xDFFF)) {
    return fail(ErrorCode::kBadSyntax, start, "invalid character reference");
  }
  // "&#N;" takes at least four bytes, and a code point needs four at most.
  *to = text::EncodeUtf8(cp, *to);
  decoded = pos;
  return true;
}

// Reads the value that `tag` starts.
bool Parser::parseValue(const Tag& tag, size_t depth, Staged* node) {
  if (!countValue(tag.offset)) return false;
  switch (tag.element) {
    case Element::kDict:
      return parseDict(tag, depth + 1, node);
    case Element::kArray:
      return parseArray(tag, depth + 1, node);
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
      return fail(ErrorCode::kUnknownElement, tag.offset, "unknown element");
    default:
      break;
  }
  std::string_view text;
  if (!readText(tag, &text)) return false;
  switch (tag.element) {
    case Element::kInteger: {
      Integer integer;
      if (!ParseInteger(text, &integer)) {
        return fail(ErrorCode::kBadInteger, tag.offset, "malformed or out-of-range integer");
      }
      *node = out.integer(integer);
      return true;
    }
    case Element::kReal: {
      double real;
      if (!ParseReal(text, &real)) return fail(ErrorCode::kBadReal, tag.offset, "malformed real");
      *node = out.real(Real{real, false});
      return true;
    }
    case Element::kDate: {
      double seconds;
      if (!ParseDate(text, &seconds))
        return fail(ErrorCode::kBadDate, tag.offset, "malformed date");
      *node = out.date(Date{seconds});
      return true;
    }
    case Element::kData: {
      size_t size = 0;
      char* const bytes = buffer + (text.data() - doc.data());
      decoded = std::max(decoded, static_cast<size_t>(text.data() + text.size() - doc.data()));
      if (!Base64Decode(text, bytes, &size)) {
        return fail(ErrorCode::kBadData, tag.offset, "invalid base64");
      }
      *node = out.data(std::string_view(bytes, size));
      return true;
    }
    default:
      *node = out.string(text);
      return true;
  }
}

bool Parser::parseArray(const Tag& tag, size_t depth, Staged* node) {
  if (depth > kMaxDepth) return fail(ErrorCode::kTooDeep, tag.offset, "nested too deeply");
  // This array's elements follow those of the containers that contain it.
  const size_t first = out.mark();
  Tag child;
  while (!tag.empty) {
    if (!skipMisc(ErrorCode::kBadSyntax, false)) return false;
    if (pos == doc.size()) return truncated();
    if (at("</")) {
      if (!readEndTag(tag)) return false;
      break;
    }
    Staged element;
    if (!readStartTag(&child) || !parseValue(child, depth, &element) ||
        !push(element, child.offset)) {
      return false;
    }
  }
  const size_t n = (out.mark() - first) / sizeof(Node);
  Node* const made = out.gather(first, n, depth == 1);
  if (made == nullptr) return outgrown(tag.offset);
  *node = out.array(made, n);
  return true;
}

bool Parser::parseDict(const Tag& tag, size_t depth, Staged* node) {
  if (depth > kMaxDepth) return fail(ErrorCode::kTooDeep, tag.offset, "nested too deeply");
  // This dictionary's entries follow those of the containers that contain it.
  const size_t first = out.mark();
  bool awaitingValue = false;
  Tag child;
  while (!tag.empty) {
    if (!skipMisc(ErrorCode::kBadSyntax, false)) return false;
    if (pos == doc.size()) return truncated();
    if (at("</")) {
      if (awaitingValue) return fail(ErrorCode::kBadKey, pos, "key without a value");
      if (!readEndTag(tag)) return false;
      break;
    }
    if (!readStartTag(&child)) return false;
    if (child.element == Element::kKey) {
      if (awaitingValue) return fail(ErrorCode::kBadKey, child.offset, "key without a value");
      std::string_view key;
      if (!countValue(child.offset) || !readText(child, &key)) return false;
      if (!push(out.string(key), child.offset)) return false;
      awaitingValue = true;
    } else {
      if (!awaitingValue) return fail(ErrorCode::kBadKey, child.offset, "value without a key");
      Staged value;
      if (!parseValue(child, depth, &value) || !push(value, child.offset)) return false;
      awaitingValue = false;
    }
  }
  size_t n = (out.mark() - first) / (2 * sizeof(Node));
  Node* const made = out.at(first);
  // A repeated key keeps its first position and takes the last value, as the platform's
  // XML reader does.
  std::vector<uint32_t> firstOf;
  const bool ascending = FindRepeatedKeys(
      n, [made](size_t i) { return made[2 * i].string(); }, &firstOf);
  if (!firstOf.empty()) {
    for (size_t i = 0; i < n; ++i) out.place(&made[2 * firstOf[i] + 1], out.stage(made[2 * i + 1]));
    size_t kept = 0;
    for (size_t i = 0; i < n; ++i) {
      if (firstOf[i] != i) continue;
      out.place(&made[2 * kept], out.stage(made[2 * i]));
      out.place(&made[2 * kept + 1], out.stage(made[2 * i + 1]));
      ++kept;
    }
    n = kept;
    out.pop(first + 2 * n * sizeof(Node));
  }
  // The keyed-archive convention for object references, as the platform reads it.
  if (n == 1 && made[0].string() == "CF$UID" && made[1].kind() == Kind::kInteger) {
    const Integer reference = made[1].integer();
    if (reference.isUnsigned || reference.asSigned() >= 0) {
      out.pop(first);
      *node = out.uid(Uid{reference.bits});
      return true;
    }
  }
  Node* const list = out.gather(first, 2 * n, depth == 1);
  if (list == nullptr) return outgrown(tag.offset);
  *node = out.dictionary(list, n, ascending);
  return true;
}

bool Parser::parseDocument(size_t start, Staged* root) {
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

bool ReadXml(text::Bytes bytes, Document* document, Error* error) {
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
  build.adopt(text.data() == bytes.data() ? std::move(bytes) : text::Bytes::CopyOf(converted),
              kXmlRoomPerByte);
  text = build.bytes();
  Staged root;
  if (!Parser(&read, text, error).parse(start, &root)) return false;
  build.setRoot(root);
  if (build.full()) return Fail(error, ErrorCode::kTooLarge, 0, "the document outgrows its memory");
  *document = std::move(read);
  return true;
}

}  // namespace plist
