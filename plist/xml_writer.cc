// Lays a value out as XML byte for byte as the platform's own writer does: tabs, sorted
// keys, empty containers as <dict/> and <array/>, base64 lines whose width shrinks with
// depth, and only '&', '<' and '>' escaped (control characters and CR stay raw).
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "plist/base64.h"
#include "plist/date.h"
#include "plist/key_order.h"
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

// Entries of an unsorted dictionary are written this many steps after they are prefetched.
constexpr size_t kPrefetchDistance = 8;

void Prefetch(const void* address) {
#if defined(__GNUC__) || defined(__clang__)
  __builtin_prefetch(address);
#else
  static_cast<void>(address);
#endif
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
  // The sorted keys of the dictionaries being written, one per depth, reused.
  std::vector<std::vector<KeyRank>> orders;
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
  if (!sorted) {
    // The sort numbers keys in 32 bits; no dictionary that fits in memory comes near.
    if (n > UINT32_MAX) return fail("dictionary too large");
    if (orders.size() <= depth) orders.resize(depth + 1);
    SortKeys(
        n, [&dictionary](size_t i) { return std::string_view(dictionary.keyAt(i)); },
        &orders[depth]);
  }
  for (size_t k = 0; k < n; ++k) {
    // Writing a value may add depths to `orders`, so the vector is indexed afresh.
    const size_t i = sorted ? k : orders[depth][k].index;
    if (!sorted && k + kPrefetchDistance < n) {
      // Sorted order visits entries at random: fetch those a few steps ahead meanwhile.
      const size_t ahead = orders[depth][k + kPrefetchDistance].index;
      Prefetch(&dictionary.keyAt(ahead));
      Prefetch(&dictionary.valueAt(ahead));
    }
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
