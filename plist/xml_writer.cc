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
#include "plist/bits.h"
#include "plist/codec.h"
#include "plist/date.h"
#include "plist/key_order.h"
#include "plist/output_buffer.h"
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

constexpr uint64_t kOnes = 0x0101010101010101u;
constexpr uint64_t kHighBits = 0x8080808080808080u;
// Tabs for indentation, copied as one block (Writer::open).
constexpr std::string_view kTabs = "\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t";

// Whether some byte of `word` is '&', '<' or '>'. '<' and '>' differ only in bit 1, so
// setting that bit turns both into '>'; a zero byte of the XOR marks a match.
bool HasEscapable(uint64_t word) {
  const uint64_t amp = word ^ (kOnes * '&');
  const uint64_t angle = (word | (kOnes * 2)) ^ (kOnes * '>');
  return (((amp - kOnes) & ~amp) | ((angle - kOnes) & ~angle)) & kHighBits;
}

bool IsEscapable(char c) { return c == '&' || c == '<' || c == '>'; }

// The offset of the first '&', '<' or '>' in `text` from `from` on, or its size; ORs every
// byte looked at into `*bits`. Eight bytes are tested at a time, the last fewer than eight
// together too, so that bytes are looked at one by one only where one is to be escaped.
size_t FindEscapable(std::string_view text, size_t from, uint64_t* bits) {
  const char* p = text.data();
  const size_t n = text.size();
  size_t i = from;
  uint64_t word;
  for (; i + 8 <= n; i += 8) {
    std::memcpy(&word, p + i, 8);
    if (HasEscapable(word)) break;
    *bits |= word;
  }
  if (i + 8 > n) {
    // The rest as one word: the last eight bytes where there are as many from `from`
    // (some of them looked at already), else the rest's bytes.
    if (n - from >= 8) {
      std::memcpy(&word, p + n - 8, 8);
    } else {
      word = ShortWord(p + i, n - i);
    }
    if (!HasEscapable(word)) {
      *bits |= word;
      return n;
    }
  }
  for (; i < n; ++i) {
    *bits |= static_cast<unsigned char>(p[i]);
    if (IsEscapable(p[i])) return i;
  }
  return n;
}

// A key being sorted: its position, and its first eight bytes ranked and read as one
// number, which settle most comparisons without reading the key itself (the figure that
// pays for it is in bench/README.md).
struct SortItem {
  uint64_t head;
  size_t index;
};

SortItem SortItemOf(std::string_view key, size_t index) {
  uint64_t head = 0;
  for (size_t i = 0; i < 8; ++i) {
    // Padding with zero keeps a shorter key first or, against a NUL byte, yields a tie
    // that the whole keys settle.
    head = head << 8 | (i < key.size() ? KeyByteRank(static_cast<unsigned char>(key[i])) : 0);
  }
  return SortItem{head, index};
}

class Writer {
 public:
  Writer(OutputBuffer* buffer, Error* sink) : out(buffer), error(sink) {}

  // Appends `value` at `depth` tabs; false (with the error filled) when it cannot be written.
  bool write(const Node& value, size_t depth);

 private:
  bool fail(const char* why) { return Fail(error, ErrorCode::kUnwritable, 0, why); }
  void put(const char* bytes, size_t n) { out->put(bytes, n); }
  void put(std::string_view s) { out->put(s); }
  // Puts `depth` tabs and then `tag` with one request for room, as most lines begin: the
  // tabs are copied as a block of fixed size, of which `depth` are kept.
  template <size_t N>
  void open(size_t depth, const char (&tag)[N]) {
    static_assert(kTabs.size() + N - 1 <= OutputBuffer::kMaxRoom, "a tag fits the room");
    for (; depth > kTabs.size(); depth -= kTabs.size()) put(kTabs);
    char* p = out->room(kTabs.size() + N - 1);
    std::memcpy(p, kTabs.data(), kTabs.size());
    std::memcpy(p + depth, tag, N - 1);
    out->advanceTo(p + depth + N - 1);
  }
  bool appendText(std::string_view text);
  void appendReal(double value);
  void appendData(std::string_view data, size_t depth);
  bool appendDictionary(const Node& dictionary, size_t depth);

  OutputBuffer* out;
  Error* error;
  std::string scratch;  // For pieces formatted by helpers that append to a string.
};

bool Writer::appendText(std::string_view text) {
  uint64_t bits = 0;
  for (size_t run = 0;;) {
    const size_t i = FindEscapable(text, run, &bits);
    put(text.data() + run, i - run);
    if (i == text.size()) break;
    const char c = text[i];
    put(c == '&' ? std::string_view("&amp;") : c == '<' ? "&lt;" : "&gt;");
    run = i + 1;
  }
  // Every byte has been looked at; only text with a byte above 0x7F needs validating. The
  // caller drops the buffer on failure, so what was appended meanwhile does not matter.
  if ((bits & kHighBits) != 0 && !text::IsValidUtf8(text)) {
    return fail("a string is not valid UTF-8");
  }
  return true;
}

void Writer::appendReal(double value) {
  if (std::isnan(value)) {
    put("nan");
  } else if (std::isinf(value)) {
    put(value > 0 ? "+infinity" : "-infinity");
  } else if (value == 0) {
    put("0.0");  // The platform drops the sign of -0.0 too.
  } else {
    char buffer[40];
#if defined(__cpp_lib_to_chars)
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 17);
    put(buffer, static_cast<size_t>(result.ptr - buffer));
#else
    const int length = std::snprintf(buffer, sizeof buffer, "%.17g", value);
    // printf follows the locale's decimal point; the format always uses '.'.
    std::replace(buffer, buffer + length, ',', '.');
    put(buffer, static_cast<size_t>(length));
#endif
  }
}

void Writer::appendData(std::string_view data, size_t depth) {
  open(depth, "<data>\n");
  const size_t tabs = std::min(depth, kMaxBase64Tabs);
  const size_t lineBytes = (kBase64LineChars - 8 * tabs) / 4 * 3;
  for (size_t offset = 0; offset < data.size(); offset += lineBytes) {
    open(tabs, "");
    scratch.clear();
    Base64Encode(reinterpret_cast<const uint8_t*>(data.data()) + offset, std::min(lineBytes, data.size() - offset), &scratch);
    scratch += '\n';
    put(scratch);
  }
  open(depth, "</data>\n");
}

bool Writer::appendDictionary(const Node& dictionary, size_t depth) {
  open(depth, "<dict>\n");
  const size_t n = dictionary.size();
  // Keys and values in turn, found once.
  const Node* const list = &dictionary.keyNode(0);
  const auto keyAt = [list](size_t i) { return list[2 * i].string(); };
  // Keys go out sorted. A reader marks the dictionaries whose keys it found in order, as
  // XML files hold them, and a change keeps the mark when it appends a key in order.
  // Others have the longest run of keys in order kept as it is, and only the remaining
  // keys sorted and merged into it. Keys are unique, so the order is total.
  size_t runStart = 0, runEnd = n;
  if (!dictionary.keysAscending()) {
    runEnd = 1;
    for (size_t start = 0, i = 1; i < n; ++i) {
      if (!KeyLess(keyAt(i - 1), keyAt(i))) start = i;
      if (i + 1 - start > runEnd - runStart) {
        runStart = start;
        runEnd = i + 1;
      }
    }
  }
  const bool sorted = runEnd - runStart == n;
  std::vector<SortItem> order;
  if (!sorted) {
    order.reserve(n);
    for (size_t i = runStart; i < runEnd; ++i) order.push_back(SortItemOf(keyAt(i), i));
    for (size_t i = 0; i < n; ++i) {
      if (i < runStart || i >= runEnd) order.push_back(SortItemOf(keyAt(i), i));
    }
    const auto less = [&keyAt](const SortItem& a, const SortItem& b) {
      if (a.head != b.head) return a.head < b.head;
      return KeyLess(keyAt(a.index), keyAt(b.index));
    };
    const auto rest = order.begin() + static_cast<std::ptrdiff_t>(runEnd - runStart);
    std::stable_sort(rest, order.end(), less);
    std::inplace_merge(order.begin(), rest, order.end(), less);
  }
  for (size_t k = 0; k < n; ++k) {
    const size_t i = sorted ? k : order[k].index;
    open(depth + 1, "<key>");
    if (!appendText(keyAt(i))) return false;
    put("</key>\n");
    if (!write(list[2 * i + 1], depth + 1)) return false;
  }
  open(depth, "</dict>\n");
  return true;
}

bool Writer::write(const Node& value, size_t depth) {
  // A shared value is written out at each place it stands, which can make the text far
  // larger than the file read.
  if (out->full()) return fail("the document is too large written out");
  char number[24];
  switch (value.kind()) {
    case Kind::kString:
      open(depth, "<string>");
      if (!appendText(value.string())) return false;
      put("</string>\n");
      return true;
    case Kind::kInteger: {
      const Integer integer = value.integer();
      const auto result = integer.isUnsigned
                              ? std::to_chars(number, number + sizeof number, integer.bits)
                              : std::to_chars(number, number + sizeof number, integer.asSigned());
      open(depth, "<integer>");
      put(number, static_cast<size_t>(result.ptr - number));
      put("</integer>\n");
      return true;
    }
    case Kind::kReal:
      open(depth, "<real>");
      appendReal(value.real().value);
      put("</real>\n");
      return true;
    case Kind::kBoolean:
      if (value.boolean()) {
        open(depth, "<true/>\n");
      } else {
        open(depth, "<false/>\n");
      }
      return true;
    case Kind::kDate:
      open(depth, "<date>");
      scratch.clear();
      if (!FormatDate(value.date().seconds, &scratch))
        return fail("a date is not finite or too far out");
      put(scratch);
      put("</date>\n");
      return true;
    case Kind::kData:
      appendData(value.data(), depth);
      return true;
    case Kind::kArray:
      // A reader refuses what nests deeper than this, so it is not written either.
      if (depth >= kMaxDepth) return fail("nested too deeply");
      if (value.size() == 0) {
        open(depth, "<array/>\n");
        return true;
      }
      open(depth, "<array>\n");
      for (const Node *item = &value.item(0), *end = item + value.size(); item != end; ++item) {
        if (!write(*item, depth + 1)) return false;
      }
      open(depth, "</array>\n");
      return true;
    case Kind::kDictionary:
      if (depth >= kMaxDepth) return fail("nested too deeply");
      if (value.size() == 0) {
        open(depth, "<dict/>\n");
        return true;
      }
      return appendDictionary(value, depth);
    case Kind::kUid: {
      if (depth >= kMaxDepth) return fail("nested too deeply");
      const auto result = std::to_chars(number, number + sizeof number, value.uid().value);
      open(depth, "<dict>\n");
      open(depth + 1, "<key>CF$UID</key>\n");
      open(depth + 1, "<integer>");
      put(number, static_cast<size_t>(result.ptr - number));
      put("</integer>\n");
      open(depth, "</dict>\n");
      return true;
    }
  }
  return fail("unknown kind");
}

}  // namespace

bool WriteXml(const Document& document, const ByteSink& sink, Error* error) {
  OutputBuffer out(sink);
  out.put(kProlog);
  if (!Writer(&out, error).write(document.root(), 0)) return false;
  out.put(kEpilog);
  return out.finish(error);
}

}  // namespace plist
