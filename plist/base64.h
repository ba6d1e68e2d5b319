// Base64 (standard alphabet, '=' padding) as the XML property-list <data> element uses it.
// Private to the plist library.
#ifndef BRTCONFIG_PLIST_BASE64_H_
#define BRTCONFIG_PLIST_BASE64_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>


namespace plist {

// Appends the base64 form of `size` bytes at `bytes` to `*out`, padded with '=' to a
// whole number of 4-character groups.
void Base64Encode(const uint8_t* bytes, size_t size, std::string* out);

// Decodes `text` to `out`, which has room for text.size() bytes and may be text.data()
// itself (every group of four characters becomes at most three bytes, so the bytes never
// overtake the text), and sets
// `*size` to the bytes decoded. Space, tab, line feed and carriage return are skipped.
// Returns false when any other byte lies outside the alphabet, when '=' padding is
// misplaced, or when the characters do not form whole 4-character groups; what was
// written to `out` is then unspecified.
bool Base64Decode(std::string_view text, char* out, size_t* size);

}  // namespace plist

#endif  // BRTCONFIG_PLIST_BASE64_H_
