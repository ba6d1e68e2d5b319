// The readers and writers of each format, a document's bytes handed out as they are
// made, and reading into a value of its own: for the library, its tests, fuzzers and
// tools. Private to the plist library.
#ifndef BRTCONFIG_PLIST_CODEC_H_
#define BRTCONFIG_PLIST_CODEC_H_

#include <functional>
#include <string>
#include <string_view>

#include "plist/document.h"
#include "plist/error.h"
#include "plist/format.h"
#include "plist/value.h"

namespace plist {

// As Read (plist/plist.h), each for its own format.
bool ReadXml(std::string bytes, Document* document, Error* error);
bool ReadBinary(std::string bytes, Document* document, Error* error);

// Whether a copy of `node`, a node of `document`, fits the copy budget: a floor, or a
// multiple of the bytes the document was read from.
bool FitsCopy(const Document& document, const Node& node);

// A read into a value of its own: a copy of everything read, refused (kTooManyValues)
// when it does not fit the copy budget.
bool Read(std::string_view bytes, Value* value, Error* error, Format* format = nullptr);
bool ReadXml(std::string_view bytes, Value* value, Error* error);
bool ReadBinary(std::string_view bytes, Value* value, Error* error);

// Receives a serialised property list a piece at a time, in order; answers false when it
// cannot take a piece, which stops the writer.
using ByteSink = std::function<bool(std::string_view bytes)>;

// As Write (plist/plist.h), handing the bytes to `sink` as they are made; fails also when
// the sink refused a piece (kOutput), which may then have received part of the output.
bool WriteXml(const Document& document, const ByteSink& sink, Error* error);
bool WriteBinary(const Document& document, const ByteSink& sink, Error* error);
bool Write(const Document& document, Format format, const ByteSink& sink, Error* error);

}  // namespace plist

#endif  // BRTCONFIG_PLIST_CODEC_H_
