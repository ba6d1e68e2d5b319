// The readers and writers of each format, a document's bytes handed out as they are
// made, and reading into a value of its own: for the library, its tests, fuzzers and
// tools. Private to the plist library.
#ifndef BRTCONFIG_PLIST_CODEC_H_
#define BRTCONFIG_PLIST_CODEC_H_

#include <string>
#include <string_view>

#include "plist/byte_sink.h"
#include "plist/document.h"
#include "plist/error.h"
#include "plist/format.h"
#include "plist/value.h"
#include "text/bytes.h"

namespace plist {

// As Read (plist/plist.h), each for its own format.
bool ReadXml(text::Bytes bytes, Document* document, Error* error);
bool ReadBinary(text::Bytes bytes, Document* document, Error* error);

// Whether a copy of `node`, a node of `document`, fits the copy budget: a floor, or a
// multiple of the bytes the document was read from.
bool FitsCopy(const Document& document, const Node& node);

// A read into a value of its own: a copy of everything read, refused (kTooManyValues)
// when it does not fit the copy budget.
bool Read(std::string_view bytes, Value* value, Error* error, Format* format = nullptr);
bool ReadXml(std::string_view bytes, Value* value, Error* error);
bool ReadBinary(std::string_view bytes, Value* value, Error* error);

// As Write (plist/plist.h) to a sink, each for its own format.
bool WriteXml(const Document& document, const ByteSink& sink, Error* error);
bool WriteBinary(const Document& document, const ByteSink& sink, Error* error);

}  // namespace plist

#endif  // BRTCONFIG_PLIST_CODEC_H_
