// Reading and writing Apple's property-list formats: XML and binary ("bplist00").
// Bytes in, bytes out: nothing here touches files.
#ifndef BRTCONFIG_PLIST_PLIST_H_
#define BRTCONFIG_PLIST_PLIST_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "plist/document.h"
#include "plist/error.h"
#include "plist/value.h"

namespace plist {

enum class Format { kXml, kBinary };

// Inputs above this size are refused before they are parsed.
constexpr size_t kMaxInputBytes = 64u << 20;
// Containers nest at most this deep.
constexpr size_t kMaxDepth = 512;

// Parses `bytes` as a binary property list when they start with "bplist0", else as XML,
// into `*document`, which keeps the bytes. On failure returns false, fills `*error` (when
// not null) and leaves `*document` unchanged.
bool Read(std::string bytes, Document* document, Error* error, Format* format = nullptr);
bool ReadXml(std::string bytes, Document* document, Error* error);
bool ReadBinary(std::string bytes, Document* document, Error* error);

// Takes from `*budget` the memory a copy of `node` takes: each element and dictionary
// entry, and each byte of text, data and keys, at every place it stands (a shared node
// once per place). False once the copy would take more than `*budget`.
bool ChargeCopy(const Node& node, uint64_t* budget);

// Whether a copy of `node`, a node of `document`, fits the copy budget: a floor, or a
// multiple of the bytes the document was read from. Check a copy from an untrusted
// document (Node::toValue) against it or a budget of one's own: a small file can make a
// copy of any size.
bool FitsCopy(const Document& document, const Node& node);

// The same into a value of its own: a copy of everything read, refused (kTooManyValues)
// when it does not fit the copy budget.
bool Read(std::string_view bytes, Value* value, Error* error, Format* format = nullptr);
bool ReadXml(std::string_view bytes, Value* value, Error* error);
bool ReadBinary(std::string_view bytes, Value* value, Error* error);

// Receives a serialised property list a piece at a time, in order; answers false when it
// cannot take a piece, which stops the writer.
using ByteSink = std::function<bool(std::string_view bytes)>;

// Serialises the document laid out as Apple's writer does, handing the bytes to `sink`
// as they are made. Returns false with `*error` filled when the format cannot carry the
// value faithfully or the output would be larger than a reader accepts (code
// kUnwritable), or the sink refused a piece (kOutput); the sink may then have received
// part of the output.
bool WriteXml(const Document& document, const ByteSink& sink, Error* error);
bool WriteBinary(const Document& document, const ByteSink& sink, Error* error);
bool Write(const Document& document, Format format, const ByteSink& sink, Error* error);
bool Write(const Document& document, Format format, std::string* out, Error* error);

// The same for a value; into a string, `*out` is unchanged on failure.
bool WriteXml(const Value& value, const ByteSink& sink, Error* error);
bool WriteBinary(const Value& value, const ByteSink& sink, Error* error);
bool Write(const Value& value, Format format, const ByteSink& sink, Error* error);
bool WriteXml(const Value& value, std::string* out, Error* error);
bool WriteBinary(const Value& value, std::string* out, Error* error);
bool Write(const Value& value, Format format, std::string* out, Error* error);

}  // namespace plist

#endif  // BRTCONFIG_PLIST_PLIST_H_
