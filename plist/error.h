// How reading or writing a property list failed.
#ifndef BRTCONFIG_PLIST_ERROR_H_
#define BRTCONFIG_PLIST_ERROR_H_

#include <cstddef>
#include <string>

namespace plist {

enum class ErrorCode {
  kNone,
  kTooLarge,           // The input is above the size ceiling.
  kTruncated,          // The bytes end before the structure does.
  kBadHeader,          // Neither "bplist0?" nor a property-list XML document.
  kBadTrailer,         // Binary trailer fields out of range.
  kBadOffset,          // A binary offset or object reference points outside its table.
  kBadMarker,          // An unknown or unsupported binary object marker.
  kBadCount,           // A count or size that cannot fit the file.
  kCycle,              // A binary container contains itself.
  kTooDeep,            // Nesting beyond the depth limit.
  kTooManyValues,      // More values than the budget allows.
  kBadEncoding,        // Invalid UTF-8 / UTF-16 / ASCII text, or an unsupported encoding.
  kBadKey,             // A dictionary key that is not a string, or a key without value.
  kBadSyntax,          // Malformed XML.
  kUnknownElement,     // An XML element that is not part of the property-list vocabulary.
  kEntityDeclaration,  // A DOCTYPE with an internal subset.
  kBadInteger,         // Integer text that is malformed or out of range.
  kBadReal,            // Real text that is malformed.
  kBadDate,            // Date text that is malformed or out of range.
  kBadData,            // Invalid base64.
  kUnwritable,         // A value the chosen format cannot carry faithfully.
  kOutput,             // The receiver of a writer's output refused it.
};

struct Error {
  ErrorCode code = ErrorCode::kNone;
  size_t offset = 0;   // Byte offset in the input where the fault was found (readers).
  std::string detail;  // A short English phrase for diagnostics.
};

// A stable lower-case name of the code, such as "truncated".
const char* ErrorCodeName(ErrorCode code);

// Fills `*error` (when not null) with the code, offset and detail, and returns false: every
// reader and writer reports a failure through this one call.
bool Fail(Error* error, ErrorCode code, size_t offset, const char* detail);

}  // namespace plist

#endif  // BRTCONFIG_PLIST_ERROR_H_
