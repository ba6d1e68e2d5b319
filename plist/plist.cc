#include "plist/plist.h"

#include <algorithm>
#include <cstdint>
#include <utility>

#include "plist/binary_format.h"
#include "plist/codec.h"

namespace plist {
namespace {

// A document shares a binary file's objects; a value holds a copy at each place. So that
// a small file cannot make a value of gigabytes, a copy is charged the memory it takes:
// each element and dictionary entry, and each byte of text, data and keys, at every
// place it stands. It may take this much, or this many bytes per byte read if more: an
// unshared file of the densest kind needs some six.
constexpr uint64_t kMinCopyBudget = 64u << 20;
constexpr uint64_t kCopyBytesPerInputByte = 8;

bool Charge(uint64_t bytes, uint64_t* budget) {
  if (bytes > *budget) return false;
  *budget -= bytes;
  return true;
}

// Copies the document into `*value`, within the copy budget.
bool CopyOut(const Document& document, Value* value, Error* error) {
  if (!FitsCopy(document, document.root())) {
    return Fail(error, ErrorCode::kTooManyValues, 0, "shared objects expand too far");
  }
  *value = document.root().toValue();
  return true;
}

}  // namespace

bool ChargeCopy(const Node& node, uint64_t* budget) {
  switch (node.kind()) {
    case Kind::kString:
    case Kind::kData:
      return Charge(node.string().size(), budget);
    case Kind::kArray:
      for (size_t i = 0; i < node.size(); ++i) {
        if (!Charge(sizeof(Value), budget) || !ChargeCopy(node.item(i), budget)) return false;
      }
      return true;
    case Kind::kDictionary:
      for (size_t i = 0; i < node.size(); ++i) {
        if (!Charge(sizeof(Dictionary::Entry) + node.keyAt(i).size(), budget) ||
            !ChargeCopy(node.valueAt(i), budget)) {
          return false;
        }
      }
      return true;
    default:
      return true;
  }
}

bool FitsCopy(const Document& document, const Node& node) {
  uint64_t budget =
      std::max<uint64_t>(kMinCopyBudget, kCopyBytesPerInputByte * document.inputSize());
  return ChargeCopy(node, &budget);
}

bool Read(text::Bytes bytes, Document* document, Error* error, Format* format) {
  // Each reader refuses input above the size ceiling.
  const bool binary = std::string_view(bytes).substr(0, kBinaryMagic.size()) == kBinaryMagic;
  if (format) *format = binary ? Format::kBinary : Format::kXml;
  return binary ? ReadBinary(std::move(bytes), document, error)
                : ReadXml(std::move(bytes), document, error);
}

bool Read(std::string_view bytes, Document* document, Error* error, Format* format) {
  return Read(text::Bytes::CopyOf(bytes), document, error, format);
}

bool Read(std::string_view bytes, Value* value, Error* error, Format* format) {
  Document document;
  return Read(bytes, &document, error, format) && CopyOut(document, value, error);
}

bool ReadXml(std::string_view bytes, Value* value, Error* error) {
  Document document;
  return ReadXml(text::Bytes::CopyOf(bytes), &document, error) && CopyOut(document, value, error);
}

bool ReadBinary(std::string_view bytes, Value* value, Error* error) {
  Document document;
  return ReadBinary(text::Bytes::CopyOf(bytes), &document, error) &&
         CopyOut(document, value, error);
}

bool Write(const Document& document, Format format, const ByteSink& sink, Error* error) {
  return format == Format::kBinary ? WriteBinary(document, sink, error)
                                   : WriteXml(document, sink, error);
}

bool Write(const Document& document, Format format, std::string* out, Error* error) {
  std::string text;
  // Room for a little more than the file read, so that the text is not copied as it
  // grows when it is written in the format it was read in: memory reserved but not
  // written costs nothing.
  text.reserve(document.inputSize() + document.inputSize() / 8);
  const ByteSink append = [&text](std::string_view bytes) {
    text.append(bytes);
    return true;
  };
  if (!Write(document, format, append, error)) return false;
  out->swap(text);
  return true;
}

bool Write(const Value& value, Format format, std::string* out, Error* error) {
  return Write(Document::fromValue(value), format, out, error);
}

}  // namespace plist
