// The two formats of a property list, and the limits every reader keeps.
#ifndef BRTCONFIG_PLIST_FORMAT_H_
#define BRTCONFIG_PLIST_FORMAT_H_

#include <cstddef>

namespace plist {

enum class Format { kXml, kBinary };

// Inputs above this size are refused before they are parsed.
constexpr size_t kMaxInputBytes = 64u << 20;
// Containers nest at most this deep.
constexpr size_t kMaxDepth = 512;

}  // namespace plist

#endif  // BRTCONFIG_PLIST_FORMAT_H_
