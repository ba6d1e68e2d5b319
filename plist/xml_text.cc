#include "plist/xml_text.h"

#include <initializer_list>

#include "text/utf.h"

namespace plist {

bool EqualsIgnoringCase(std::string_view a, std::string_view lower) {
  if (a.size() != lower.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (x != lower[i]) return false;
  }
  return true;
}

namespace {

// Converts UTF-16 `in` (which starts at `base` in the input) to UTF-8.
bool ConvertUtf16(std::string_view in, size_t base, bool bigEndian, std::string* out,
                  Error* error) {
  if (in.size() % 2 != 0) {
    return Fail(error, ErrorCode::kBadEncoding, base + in.size() - 1, "odd length of UTF-16 text");
  }
  const auto* p = reinterpret_cast<const unsigned char*>(in.data());
  auto unit = [&](size_t i) -> char32_t {
    return bigEndian ? char32_t{p[i]} << 8 | p[i + 1] : char32_t{p[i + 1]} << 8 | p[i];
  };
  out->reserve(in.size() / 2 * 3);
  for (size_t i = 0; i < in.size(); i += 2) {
    char32_t cp = unit(i);
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 2 < in.size() && unit(i + 2) >= 0xDC00 &&
        unit(i + 2) <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (unit(i + 2) - 0xDC00);
      i += 2;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      return Fail(error, ErrorCode::kBadEncoding, base + i, "unpaired UTF-16 surrogate");
    }
    text::AppendUtf8(cp, out);
  }
  return true;
}

// Reads the pseudo-attributes of an XML declaration that starts at `start`; stores the
// encoding name (empty when absent) and the offset just past "?>".
bool ReadDeclaration(std::string_view doc, size_t start, std::string_view* encoding, size_t* end,
                     Error* error) {
  size_t pos = start + 5;  // "<?xml"
  *encoding = {};
  for (;;) {
    const size_t spaceStart = pos;
    while (pos < doc.size() && IsXmlSpace(doc[pos])) ++pos;
    if (pos + 1 >= doc.size()) return Fail(error, ErrorCode::kTruncated, doc.size(), "cut short");
    if (doc[pos] == '?' && doc[pos + 1] == '>') {
      *end = pos + 2;
      return true;
    }
    const size_t nameStart = pos;
    while (pos < doc.size() && doc[pos] >= 'a' && doc[pos] <= 'z') ++pos;
    const std::string_view name = doc.substr(nameStart, pos - nameStart);
    if (name.empty() || spaceStart == nameStart) {
      return Fail(error, ErrorCode::kBadSyntax, nameStart, "malformed XML declaration");
    }
    while (pos < doc.size() && IsXmlSpace(doc[pos])) ++pos;
    if (pos == doc.size() || doc[pos] != '=') {
      return Fail(error, ErrorCode::kBadSyntax, pos, "malformed XML declaration");
    }
    ++pos;
    while (pos < doc.size() && IsXmlSpace(doc[pos])) ++pos;
    if (pos >= doc.size() || (doc[pos] != '"' && doc[pos] != '\'')) {
      return Fail(error, ErrorCode::kBadSyntax, pos, "malformed XML declaration");
    }
    const size_t close = doc.find(doc[pos], pos + 1);
    if (close == std::string_view::npos) {
      return Fail(error, ErrorCode::kTruncated, doc.size(), "cut short");
    }
    const std::string_view content = doc.substr(pos + 1, close - pos - 1);
    // Non-ASCII here would shift every later offset when ISO-8859-1 text is converted.
    for (const char c : content) {
      if (static_cast<unsigned char>(c) < 0x21 || static_cast<unsigned char>(c) > 0x7E ||
          c == '<') {
        return Fail(error, ErrorCode::kBadSyntax, pos, "malformed XML declaration");
      }
    }
    if (name == "encoding") *encoding = content;
    pos = close + 1;
  }
}

enum class Source { kEightBit, kUtf8WithBom, kUtf16 };

}  // namespace

bool DecodeXmlText(std::string_view bytes, std::string* converted, std::string_view* doc, size_t* start,
            Error* error) {
  auto startsWith = [&](std::string_view prefix) {
    return bytes.substr(0, prefix.size()) == prefix;
  };
  using namespace std::string_view_literals;
  if (startsWith("\xFF\xFE\0\0"sv) || startsWith("\0\0"sv)) {
    return Fail(error, ErrorCode::kBadEncoding, 0, "UTF-32 is not supported");
  }
  Source source = Source::kEightBit;
  *doc = bytes;
  *start = 0;
  if (startsWith("\xEF\xBB\xBF")) {
    source = Source::kUtf8WithBom;
    *start = 3;
  } else if (bytes.size() >= 2 && (startsWith("\xFF\xFE") || startsWith("\xFE\xFF") ||
                                   bytes[0] == '\0' || bytes[1] == '\0')) {
    source = Source::kUtf16;
    const bool bom = startsWith("\xFF\xFE") || startsWith("\xFE\xFF");
    const bool bigEndian = startsWith("\xFE\xFF") || bytes[0] == '\0';
    if (!ConvertUtf16(bytes.substr(bom ? 2 : 0), bom ? 2 : 0, bigEndian, converted, error)) {
      return false;
    }
    *doc = *converted;
  }
  std::string_view encoding;
  const size_t declaration = *start;
  const std::string_view rest = doc->substr(*start);
  if (rest.substr(0, 5) == "<?xml" && rest.size() > 5 && IsXmlSpace(rest[5])) {
    if (!ReadDeclaration(*doc, *start, &encoding, start, error)) return false;
  }
  auto named = [&](std::initializer_list<std::string_view> names) {
    for (const auto name : names) {
      if (EqualsIgnoringCase(encoding, name)) return true;
    }
    return false;
  };
  const bool utf8 = encoding.empty() || named({"utf-8", "utf8"});
  if (source == Source::kUtf16) {
    if (encoding.empty() || named({"utf-16", "utf-16le", "utf-16be"})) return true;
  } else if (utf8) {
    return true;  // Checked as it is parsed.
  } else if (source == Source::kEightBit && named({"us-ascii", "ascii"})) {
    for (size_t i = 0; i < doc->size(); ++i) {
      if (static_cast<unsigned char>((*doc)[i]) >= 0x80) {
        return Fail(error, ErrorCode::kBadEncoding, i, "a byte outside US-ASCII");
      }
    }
    return true;
  } else if (source == Source::kEightBit && named({"iso-8859-1", "iso8859-1", "latin1"})) {
    converted->reserve(bytes.size() * 2);
    for (const char c : bytes) {
      text::AppendUtf8(static_cast<unsigned char>(c), converted);
    }
    *doc = *converted;
    return true;
  }
  return Fail(error, ErrorCode::kBadEncoding, declaration, "unsupported encoding");
}


}  // namespace plist
