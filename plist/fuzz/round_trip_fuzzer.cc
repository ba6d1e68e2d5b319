// Read, write, read again. Whatever the reader accepts must be writable in its own format
// (or refused as unwritable), and the writer's output must read back:
// - binary: the value read back equals the first one exactly;
// - XML: the format drops float32 width, date fractions and the sign of zero, and sorts
//   keys, so the first value is not compared; instead the second and third generations
//   (read, write, read, write) must be identical bytes.
// A document read from the same bytes must write exactly what the value does.
// The value is also written in the other format, because a binary file saved by root
// becomes XML: that must succeed or refuse as unwritable, and must read back.
#include <cstddef>
#include <cstdint>
#include <string>

#include "plist/codec.h"
#include "plist/plist.h"
#include "plist/fuzz/fuzz_checks.h"

namespace {

using plist::Error;
using plist::ErrorCode;
using plist::Format;
using plist::Kind;
using plist::Value;
using plist::fuzz::Require;

// Shared binary objects can describe a tree far larger than the input, and XML writes
// every copy indented; past this estimate the cross-format write would only measure
// the machine's memory, so it is skipped.
constexpr size_t kMaxXmlEstimate = 16u << 20;

// A rough upper bound of the XML text for `value` at `depth`, stopping once above `limit`.
size_t XmlEstimate(const Value& value, size_t depth, size_t limit) {
  size_t total = 2 * depth + 40;
  switch (value.kind()) {
    case Kind::kString:
      return total + value.string().size() * 5;
    case Kind::kData:
      return total + value.data().size() * 2;
    case Kind::kArray:
      for (const Value& element : value.array()) {
        if (total > limit) break;
        total += XmlEstimate(element, depth + 1, limit);
      }
      return total;
    case Kind::kDictionary: {
      const plist::Dictionary& dict = value.dictionary();
      for (size_t i = 0; i < dict.size() && total <= limit; ++i) {
        total += 2 * depth + 20 + dict.keyAt(i).size() * 5;
        total += XmlEstimate(dict.valueAt(i), depth + 1, limit);
      }
      return total;
    }
    default:
      return total;
  }
}

// Writes `value` as `format` into `*out` (which starts empty). Returns false when the
// writer refused the value as unwritable; any other failure aborts.
bool WriteOrRefuse(const Value& value, Format format, std::string* out) {
  Error error;
  if (plist::Write(value, format, out, &error)) return true;
  Require(error.code == ErrorCode::kUnwritable, "writer failed with a code other than unwritable");
  Require(out->empty(), "refused write changed its output");
  return false;
}

// Reads back what a writer produced; that must succeed in the same format.
Value ReadBack(const std::string& bytes, Format format) {
  Value value;
  Error error;
  Format detected = Format::kXml;
  const bool ok = plist::Read(bytes, &value, &error, &detected);
  if (!ok) std::fprintf(stderr, "read back: %s at %zu\n", ErrorCodeName(error.code), error.offset);
  Require(ok, "written output does not read back");
  Require(detected == format, "written output detected as the other format");
  plist::fuzz::CheckTree(value);
  return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Value first;
  Error error;
  Format format = Format::kXml;
  if (!plist::Read(plist::fuzz::Bytes(data, size), &first, &error, &format)) return 0;
  plist::fuzz::CheckTree(first);

  // The document read directly, its binary objects shared, writes what the value copied
  // out of it writes.
  plist::Document document;
  Require(plist::Read(std::string(plist::fuzz::Bytes(data, size)), &document, &error),
          "a document cannot be read where a value can");
  std::string second;
  const bool written = WriteOrRefuse(first, format, &second);
  std::string direct;
  Require(plist::Write(document, format, &direct, nullptr) == written && direct == second,
          "a document and the value copied out of it write differently");
  if (written) {
    const Value reread = ReadBack(second, format);
    if (format == Format::kBinary) {
      Require(reread == first, "binary round trip changed the value");
    } else {
      std::string third;
      Require(WriteOrRefuse(reread, format, &third), "XML writer refused its own output's value");
      Require(third == second, "XML rewrite of written XML is not identical");
    }
  }

  const Format other = format == Format::kBinary ? Format::kXml : Format::kBinary;
  if (other == Format::kXml && XmlEstimate(first, 0, kMaxXmlEstimate) > kMaxXmlEstimate) return 0;
  std::string converted;
  if (WriteOrRefuse(first, other, &converted)) ReadBack(converted, other);
  return 0;
}
