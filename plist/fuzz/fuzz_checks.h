// Invariants shared by the fuzz targets. A broken invariant aborts, which libFuzzer
// reports as a crash together with the input that caused it.
#ifndef BRTCONFIG_PLIST_FUZZ_FUZZ_CHECKS_H_
#define BRTCONFIG_PLIST_FUZZ_FUZZ_CHECKS_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "plist/plist.h"
#include "text/utf.h"

namespace plist {
namespace fuzz {

// Prints `what` and aborts when `ok` is false.
inline void Require(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "broken invariant: %s\n", what);
  std::abort();
}

// The fuzzer's bytes as the view the readers take.
inline std::string_view Bytes(const uint8_t* data, size_t size) {
  return std::string_view(reinterpret_cast<const char*>(data), size);
}

// Checks what every successful read promises: keys and strings are valid UTF-8 and the
// tree is no deeper than the reader's limit.
inline void CheckTree(const Value& value, size_t depth = 0) {
  Require(depth <= kMaxDepth, "tree deeper than kMaxDepth");
  switch (value.kind()) {
    case Kind::kString:
      Require(text::IsValidUtf8(value.string()), "string is not valid UTF-8");
      break;
    case Kind::kArray:
      for (const Value& element : value.array()) CheckTree(element, depth + 1);
      break;
    case Kind::kDictionary: {
      const Dictionary& dict = value.dictionary();
      for (size_t i = 0; i < dict.size(); ++i) {
        Require(text::IsValidUtf8(dict.keyAt(i)), "key is not valid UTF-8");
        CheckTree(dict.valueAt(i), depth + 1);
      }
      break;
    }
    default:
      break;
  }
}

// Checks what every read promises: success gives a sound tree; failure names a cause
// and leaves the output untouched.
inline void CheckReadOutcome(bool ok, const Value& value, const Error& error) {
  if (ok) {
    CheckTree(value);
  } else {
    Require(error.code != ErrorCode::kNone, "failed read without an error code");
    Require(error.code != ErrorCode::kUnwritable, "failed read reported as unwritable");
    Require(value == Value(), "failed read changed its output");
  }
}

}  // namespace fuzz
}  // namespace plist

#endif  // BRTCONFIG_PLIST_FUZZ_FUZZ_CHECKS_H_
