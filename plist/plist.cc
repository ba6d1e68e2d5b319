#include "plist/plist.h"

#include "plist/binary_format.h"

namespace plist {

bool Read(std::string_view bytes, Value* value, Error* error, Format* format) {
  // Each reader refuses input above the size ceiling.
  const bool binary = bytes.substr(0, kBinaryMagic.size()) == kBinaryMagic;
  if (format) *format = binary ? Format::kBinary : Format::kXml;
  return binary ? ReadBinary(bytes, value, error) : ReadXml(bytes, value, error);
}

bool Write(const Value& value, Format format, const ByteSink& sink, Error* error) {
  return format == Format::kBinary ? WriteBinary(value, sink, error) : WriteXml(value, sink, error);
}

bool Write(const Value& value, Format format, std::string* out, Error* error) {
  std::string text;
  const ByteSink append = [&text](std::string_view bytes) {
    text.append(bytes);
    return true;
  };
  if (!Write(value, format, append, error)) return false;
  out->swap(text);
  return true;
}

bool WriteXml(const Value& value, std::string* out, Error* error) {
  return Write(value, Format::kXml, out, error);
}

bool WriteBinary(const Value& value, std::string* out, Error* error) {
  return Write(value, Format::kBinary, out, error);
}

}  // namespace plist
