// Reading and writing Apple's property-list formats: XML and binary ("bplist00").
// Bytes in, bytes out: nothing here touches files.
#ifndef BRTCONFIG_PLIST_PLIST_H_
#define BRTCONFIG_PLIST_PLIST_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "plist/byte_sink.h"
#include "plist/document.h"
#include "plist/error.h"
#include "plist/format.h"
#include "plist/value.h"
#include "text/bytes.h"

namespace plist {

// Spare room (text::Bytes::spare) to read a file with, for each of its bytes: a
// document's nodes go there, after the bytes they were read from, so that a document
// takes one reservation. A reader given less copies the bytes to memory that has it:
// this is a byte more than the binary reader asks for, for the few bytes any document
// takes. The benchmark files take 0.26 (XML) to 1.43 (binary) bytes for each byte read;
// room never touched costs only address space.
constexpr size_t kSparePerInputByte = 9;

// Parses `bytes` as a binary property list when they start with "bplist0", else as XML,
// into `*document`, which keeps the bytes and their spare room. On failure returns
// false, fills `*error` (when not null) and leaves `*document` unchanged.
bool Read(text::Bytes bytes, Document* document, Error* error, Format* format = nullptr);
// The same for a copy of `bytes`.
bool Read(std::string_view bytes, Document* document, Error* error, Format* format = nullptr);

// Serialises the document, handing the bytes to `sink` as they are made. Fails as the
// next Write does, and also when the sink refused a piece (kOutput), which may then
// have received part of the output.
bool Write(const Document& document, Format format, const ByteSink& sink, Error* error);

// Serialises the document into `*out`, laid out as Apple's writer does. Returns false with
// `*error` filled when the format cannot carry the value faithfully or the output would
// be larger than a reader accepts (code kUnwritable); `*out` is then unchanged.
bool Write(const Document& document, Format format, std::string* out, Error* error);
// The same for a value.
bool Write(const Value& value, Format format, std::string* out, Error* error);

// Takes from `*budget` the memory a copy of `node` takes: each element and dictionary
// entry, and each byte of text, data and keys, at every place it stands (a shared node
// once per place). False once the copy would take more than `*budget`. Check a copy from
// an untrusted document (Node::toValue) against a budget: a small file can make a copy
// of any size.
bool ChargeCopy(const Node& node, uint64_t* budget);

}  // namespace plist

#endif  // BRTCONFIG_PLIST_PLIST_H_
