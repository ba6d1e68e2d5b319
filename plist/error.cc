#include "plist/error.h"

namespace plist {

const char* ErrorCodeName(ErrorCode code) {
  switch (code) {
    case ErrorCode::kNone:
      return "none";
    case ErrorCode::kTooLarge:
      return "too large";
    case ErrorCode::kTruncated:
      return "truncated";
    case ErrorCode::kBadHeader:
      return "bad header";
    case ErrorCode::kBadTrailer:
      return "bad trailer";
    case ErrorCode::kBadOffset:
      return "bad offset";
    case ErrorCode::kBadMarker:
      return "bad marker";
    case ErrorCode::kBadCount:
      return "bad count";
    case ErrorCode::kCycle:
      return "cycle";
    case ErrorCode::kTooDeep:
      return "too deep";
    case ErrorCode::kTooManyValues:
      return "too many values";
    case ErrorCode::kBadEncoding:
      return "bad encoding";
    case ErrorCode::kBadKey:
      return "bad key";
    case ErrorCode::kBadSyntax:
      return "bad syntax";
    case ErrorCode::kUnknownElement:
      return "unknown element";
    case ErrorCode::kEntityDeclaration:
      return "entity declaration";
    case ErrorCode::kBadInteger:
      return "bad integer";
    case ErrorCode::kBadReal:
      return "bad real";
    case ErrorCode::kBadDate:
      return "bad date";
    case ErrorCode::kBadData:
      return "bad data";
    case ErrorCode::kUnwritable:
      return "unwritable";
    case ErrorCode::kOutput:
      return "output refused";
  }
  return "unknown";
}

bool Fail(Error* error, ErrorCode code, size_t offset, const char* detail) {
  if (error != nullptr) *error = Error{code, offset, detail};
  return false;
}

}  // namespace plist
