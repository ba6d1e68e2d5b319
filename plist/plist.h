// Reading and writing Apple's property-list formats: XML and binary ("bplist00").
// Bytes in, bytes out: nothing here touches files.
#ifndef BRTCONFIG_PLIST_PLIST_H_
#define BRTCONFIG_PLIST_PLIST_H_

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "plist/error.h"
#include "plist/value.h"

namespace plist {

enum class Format { kXml, kBinary };

// Inputs above this size are refused before they are parsed.
constexpr size_t kMaxInputBytes = 64u << 20;
// Containers nest at most this deep.
constexpr size_t kMaxDepth = 512;

// Parses `bytes` as a binary property list when they start with "bplist0", else as XML.
// On success stores the whole tree in `*value` and returns true. On failure returns false,
// fills `*error` (when not null) and leaves `*value` unchanged.
bool Read(std::string_view bytes, Value* value, Error* error, Format* format = nullptr);
bool ReadXml(std::string_view bytes, Value* value, Error* error);
bool ReadBinary(std::string_view bytes, Value* value, Error* error);

// Receives a serialised property list a piece at a time, in order; answers false when it
// cannot take a piece, which stops the writer.
using ByteSink = std::function<bool(std::string_view bytes)>;

// Serialises `value` laid out as Apple's writer does, handing the bytes to `sink` as they
// are made. Returns false with `*error` filled when the format cannot carry the value
// faithfully (code kUnwritable) or the sink refused a piece (kOutput); the sink may then
// have received part of the document.
bool WriteXml(const Value& value, const ByteSink& sink, Error* error);
bool WriteBinary(const Value& value, const ByteSink& sink, Error* error);
bool Write(const Value& value, Format format, const ByteSink& sink, Error* error);

// The same into a string; on failure `*out` is unchanged.
bool WriteXml(const Value& value, std::string* out, Error* error);
bool WriteBinary(const Value& value, std::string* out, Error* error);
bool Write(const Value& value, Format format, std::string* out, Error* error);

}  // namespace plist

#endif  // BRTCONFIG_PLIST_PLIST_H_
