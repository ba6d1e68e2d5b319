// Lays a value out as XML byte for byte as the platform's own writer does: tabs, sorted
// keys, empty containers as <dict/> and <array/>, base64 lines whose width shrinks with
// depth, and only '&', '<' and '>' escaped (control characters and CR stay raw).
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "plist/base64.h"
#include "plist/date.h"
#include "plist/plist.h"
#include "text/utf.h"

namespace plist {
namespace {

constexpr std::string_view kProlog =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
    "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
    "<plist version=\"1.0\">\n";
constexpr std::string_view kEpilog = "</plist>\n";
// Base64 lines take this many characters at depth 0 and 8 fewer per tab of indentation.
constexpr size_t kBase64LineChars = 76;
constexpr size_t kMaxBase64Tabs = 8;

// UTF-8 bytes sort as code points; UTF-16 code units put U+E000..U+FFFF (lead bytes EE
// and EF) after the supplementary planes (lead bytes F0..F4, surrogates in UTF-16).
unsigned Utf16Rank(unsigned char byte) {
  return byte == 0xEE || byte == 0xEF ? byte + 0x10u : byte;
}

// Orders keys by their UTF-16 code units, a shorter prefix first, as the platform sorts.
bool KeyLess(std::string_view a, std::string_view b) {
  const size_t common = std::min(a.size(), b.size());
  size_t i = 0;
  for (uint64_t x, y; i + 8 <= common; i += 8) {
    std::memcpy(&x, a.data() + i, 8);
    std::memcpy(&y, b.data() + i, 8);
    if (x != y) break;
  }
  while (i < common && a[i] == b[i]) ++i;
  if (i == common) return a.size() < b.size();
  // Both bytes start a character, or both continue one after the same lead byte.
  return Utf16Rank(static_cast<unsigned char>(a[i])) < Utf16Rank(static_cast<unsigned char>(b[i]));
}

bool IsAscii(std::string_view s) {
  size_t i = 0;
  for (; i + 8 <= s.size(); i += 8) {
    uint64_t word;
    std::memcpy(&word, s.data() + i, 8);
    if ((word & 0x8080808080808080u) != 0) return false;
  }
  for (; i < s.size(); ++i) {
    if (static_cast<unsigned char>(s[i]) >= 0x80) return false;
  }
  return true;
}

class Writer {
 public:
  explicit Writer(std::string* buffer) : out(buffer) {}

  // Appends `value` at `depth` tabs; false (with failure() set) when it cannot be written.
  bool write(const Value& value, size_t depth);
  const char* failure() const { return reason; }

 private:
  bool fail(const char* why) {
    reason = why;
    return false;
  }
  void indent(size_t depth) { out->append(depth, '\t'); }
  bool appendText(std::string_view text);
  void appendReal(double value);
  void appendData(const Data& data, size_t depth);
  bool appendDictionary(const Dictionary& dictionary, size_t depth);

  std::string* out;
  const char* reason = nullptr;
};

bool Writer::appendText(std::string_view text) {
  if (!IsAscii(text) && !text::IsValidUtf8(text)) return fail("a string is not valid UTF-8");
  size_t run = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c != '&' && c != '<' && c != '>') continue;
    out->append(text.data() + run, i - run);
    out->append(c == '&' ? "&amp;" : c == '<' ? "&lt;" : "&gt;");
    run = i + 1;
  }
  out->append(text.data() + run, text.size() - run);
  return true;
}

void Writer::appendReal(double value) {
  if (std::isnan(value)) {
    out->append("nan");
  } else if (std::isinf(value)) {
    out->append(value > 0 ? "+infinity" : "-infinity");
  } else if (value == 0) {
    out->append("0.0");  // The platform drops the sign of -0.0 too.
  } else {
    char buffer[40];
#if defined(__cpp_lib_to_chars)
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 17);
    out->append(buffer, result.ptr);
#else
    const int length = std::snprintf(buffer, sizeof buffer, "%.17g", value);
    // printf follows the locale's decimal point; the format always uses '.'.
    std::replace(buffer, buffer + length, ',', '.');
    out->append(buffer, static_cast<size_t>(length));
#endif
  }
}

void Writer::appendData(const Data& data, size_t depth) {
  indent(depth);
  out->append("<data>\n");
  const size_t tabs = std::min(depth, kMaxBase64Tabs);
  const size_t lineBytes = (kBase64LineChars - 8 * tabs) / 4 * 3;
  for (size_t offset = 0; offset < data.size(); offset += lineBytes) {
    indent(tabs);
    Base64Encode(data.data() + offset, std::min(lineBytes, data.size() - offset), out);
    out->push_back('\n');
  }
  indent(depth);
  out->append("</data>\n");
}

bool Writer::appendDictionary(const Dictionary& dictionary, size_t depth) {
  indent(depth);
  out->append("<dict>\n");
  const size_t n = dictionary.size();
  bool sorted = true;
  for (size_t i = 1; sorted && i < n; ++i) {
    sorted = KeyLess(dictionary.keyAt(i - 1), dictionary.keyAt(i));
  }
  // Dictionaries read from XML arrive sorted; only others pay for sorting.
  struct Entry {
    std::string_view key;
    size_t index;
  };
  std::vector<Entry> order;
  if (!sorted) {
    order.reserve(n);
    for (size_t i = 0; i < n; ++i) order.push_back(Entry{dictionary.keyAt(i), i});
    std::sort(order.begin(), order.end(),
              [](const Entry& x, const Entry& y) { return KeyLess(x.key, y.key); });
  }
  for (size_t k = 0; k < n; ++k) {
    const size_t i = sorted ? k : order[k].index;
    indent(depth + 1);
    out->append("<key>");
    if (!appendText(dictionary.keyAt(i))) return false;
    out->append("</key>\n");
    if (!write(dictionary.valueAt(i), depth + 1)) return false;
  }
  indent(depth);
  out->append("</dict>\n");
  return true;
}

bool Writer::write(const Value& value, size_t depth) {
  char number[24];
  switch (value.kind()) {
    case Kind::kString:
      indent(depth);
      out->append("<string>");
      if (!appendText(value.string())) return false;
      out->append("</string>\n");
      return true;
    case Kind::kInteger: {
      const Integer& integer = value.integer();
      const auto result = integer.isUnsigned
                              ? std::to_chars(number, number + sizeof number, integer.bits)
                              : std::to_chars(number, number + sizeof number, integer.asSigned());
      indent(depth);
      out->append("<integer>");
      out->append(number, result.ptr);
      out->append("</integer>\n");
      return true;
    }
    case Kind::kReal:
      indent(depth);
      out->append("<real>");
      appendReal(value.real().value);
      out->append("</real>\n");
      return true;
    case Kind::kBoolean:
      indent(depth);
      out->append(value.boolean() ? "<true/>\n" : "<false/>\n");
      return true;
    case Kind::kDate:
      indent(depth);
      out->append("<date>");
      if (!FormatDate(value.date().seconds, out))
        return fail("a date is not finite or too far out");
      out->append("</date>\n");
      return true;
    case Kind::kData:
      appendData(value.data(), depth);
      return true;
    case Kind::kArray:
      // A reader refuses what nests deeper than this, so it is not written either.
      if (depth >= kMaxDepth) return fail("nested too deeply");
      indent(depth);
      if (value.array().empty()) {
        out->append("<array/>\n");
        return true;
      }
      out->append("<array>\n");
      for (const Value& item : value.array()) {
        if (!write(item, depth + 1)) return false;
      }
      indent(depth);
      out->append("</array>\n");
      return true;
    case Kind::kDictionary:
      if (depth >= kMaxDepth) return fail("nested too deeply");
      if (value.dictionary().empty()) {
        indent(depth);
        out->append("<dict/>\n");
        return true;
      }
      return appendDictionary(value.dictionary(), depth);
    case Kind::kUid: {
      if (depth >= kMaxDepth) return fail("nested too deeply");
      const auto result = std::to_chars(number, number + sizeof number, value.uid().value);
      indent(depth);
      out->append("<dict>\n");
      indent(depth + 1);
      out->append("<key>CF$UID</key>\n");
      indent(depth + 1);
      out->append("<integer>");
      out->append(number, result.ptr);
      out->append("</integer>\n");
      indent(depth);
      out->append("</dict>\n");
      return true;
    }
  }
  return fail("unknown kind");
}

}  // namespace

bool WriteXml(const Value& value, std::string* out, Error* error) {
  std::string buffer;
  buffer.reserve(size_t{64} << 10);
  buffer.append(kProlog);
  Writer writer(&buffer);
  if (!writer.write(value, 0)) {
    if (error != nullptr) *error = Error{ErrorCode::kUnwritable, 0, writer.failure()};
    return false;
  }
  buffer.append(kEpilog);
  *out = std::move(buffer);
  return true;
}

}  // namespace plist
