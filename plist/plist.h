// Reading and writing Apple's property-list formats: XML and binary ("bplist00").
// Bytes in, bytes out: nothing here touches files.
#ifndef BRTCONFIG_PLIST_PLIST_H_
#define BRTCONFIG_PLIST_PLIST_H_

#include <cstddef>
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

// Serialises `value` laid out as Apple's writer does. Returns false with `*error` filled
// (code kUnwritable) when the format cannot carry the value faithfully; `*out` is then
// unchanged.
bool WriteXml(const Value& value, std::string* out, Error* error);
bool WriteBinary(const Value& value, std::string* out, Error* error);
bool Write(const Value& value, Format format, std::string* out, Error* error);

}  // namespace plist

#endif  // BRTCONFIG_PLIST_PLIST_H_
