#include "plist/plist.h"

#include <utility>

#include "plist/binary_format.h"

namespace plist {

bool Read(std::string bytes, Document* document, Error* error, Format* format) {
  // Each reader refuses input above the size ceiling.
  const bool binary = std::string_view(bytes).substr(0, kBinaryMagic.size()) == kBinaryMagic;
  if (format) *format = binary ? Format::kBinary : Format::kXml;
  return binary ? ReadBinary(std::move(bytes), document, error)
                : ReadXml(std::move(bytes), document, error);
}

bool Read(std::string_view bytes, Value* value, Error* error, Format* format) {
  Document document;
  if (!Read(std::string(bytes), &document, error, format)) return false;
  *value = document.root().toValue();
  return true;
}

bool ReadXml(std::string_view bytes, Value* value, Error* error) {
  Document document;
  if (!ReadXml(std::string(bytes), &document, error)) return false;
  *value = document.root().toValue();
  return true;
}

bool ReadBinary(std::string_view bytes, Value* value, Error* error) {
  Document document;
  if (!ReadBinary(std::string(bytes), &document, error)) return false;
  *value = document.root().toValue();
  return true;
}

bool Write(const Document& document, Format format, const ByteSink& sink, Error* error) {
  return format == Format::kBinary ? WriteBinary(document, sink, error)
                                   : WriteXml(document, sink, error);
}

bool Write(const Document& document, Format format, std::string* out, Error* error) {
  std::string text;
  const ByteSink append = [&text](std::string_view bytes) {
    text.append(bytes);
    return true;
  };
  if (!Write(document, format, append, error)) return false;
  out->swap(text);
  return true;
}

bool WriteXml(const Value& value, const ByteSink& sink, Error* error) {
  return WriteXml(Document::fromValue(value), sink, error);
}

bool WriteBinary(const Value& value, const ByteSink& sink, Error* error) {
  return WriteBinary(Document::fromValue(value), sink, error);
}

bool Write(const Value& value, Format format, const ByteSink& sink, Error* error) {
  return Write(Document::fromValue(value), format, sink, error);
}

bool Write(const Value& value, Format format, std::string* out, Error* error) {
  return Write(Document::fromValue(value), format, out, error);
}

bool WriteXml(const Value& value, std::string* out, Error* error) {
  return Write(value, Format::kXml, out, error);
}

bool WriteBinary(const Value& value, std::string* out, Error* error) {
  return Write(value, Format::kBinary, out, error);
}

}  // namespace plist
