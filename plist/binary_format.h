// What the binary reader and writer share: the layout's fixed parts, and the cursor
// through which the reader takes every byte. Private to the plist library.
#ifndef BRTCONFIG_PLIST_BINARY_FORMAT_H_
#define BRTCONFIG_PLIST_BINARY_FORMAT_H_

#include <cstdint>
#include <string_view>

#include "plist/bits.h"

namespace plist {

// Files start with this and one version digit, which no reader checks; the writer
// writes "00".
constexpr std::string_view kBinaryMagic = "bplist0";
constexpr std::string_view kBinaryHeader = "bplist00";
constexpr uint64_t kBinaryTrailerSize = 32;

// The bytes from a position up to a fixed end, read front to back. Every read checks that
// the bytes are there and fails, leaving the cursor where it was, when they are not.
class ByteCursor {
 public:
  ByteCursor(const uint8_t* bytes, uint64_t position, uint64_t limit)
      : data(bytes), at(position), end(limit) {}

  uint64_t position() const { return at; }
  uint64_t remaining() const { return end - at; }

  bool readByte(uint8_t* byte) {
    if (at == end) return false;
    *byte = data[at++];
    return true;
  }
  // An unsigned big-endian number of `width` (1 to 8) bytes.
  bool readNumber(uint64_t width, uint64_t* value) {
    if (width > remaining()) return false;
    *value = ReadBigEndian(data + at, width);
    at += width;
    return true;
  }
  // `count` units of `unit` bytes each: their first byte, the cursor moved past them.
  bool take(uint64_t count, uint64_t unit, const uint8_t** bytes) {
    if (count > remaining() / unit) return false;
    *bytes = data + at;
    at += count * unit;
    return true;
  }

 private:
  const uint8_t* data;
  uint64_t at;
  uint64_t end;
};

}  // namespace plist

#endif  // BRTCONFIG_PLIST_BINARY_FORMAT_H_
