// Reading and writing Apple's property-list formats: XML and binary ("bplist00").
// Bytes in, bytes out: nothing here touches files.
#ifndef BRTCONFIG_PLIST_PLIST_H_
#define BRTCONFIG_PLIST_PLIST_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "plist/document.h"
#include "plist/error.h"
#include "plist/format.h"
#include "plist/value.h"

namespace plist {

// Parses `bytes` as a binary property list when they start with "bplist0", else as XML,
// into `*document`, which keeps the bytes. On failure returns false, fills `*error` (when
// not null) and leaves `*document` unchanged.
bool Read(std::string bytes, Document* document, Error* error, Format* format = nullptr);

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
