// Base64 (standard alphabet, '=' padding) as the XML property-list <data> element uses it.
// Private to the plist library.
#ifndef BRTCONFIG_PLIST_BASE64_H_
#define BRTCONFIG_PLIST_BASE64_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "plist/value.h"

namespace plist {

// Appends the base64 form of `size` bytes at `bytes` to `*out`, padded with '=' to a
// whole number of 4-character groups.
void Base64Encode(const uint8_t* bytes, size_t size, std::string* out);

// Decodes `text`, skipping space, tab, line feed and carriage return. Returns false when
// any other byte lies outside the alphabet, when '=' padding is misplaced, or when the
// characters do not form whole 4-character groups; `*out` is then unspecified.
bool Base64Decode(std::string_view text, Data* out);

}  // namespace plist

#endif  // BRTCONFIG_PLIST_BASE64_H_
