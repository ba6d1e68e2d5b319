// UTF-8 validation and decoding, and the UTF-16 view of text that the platform's string
// rules (digit tests) work on.
#ifndef BRTCONFIG_TEXT_UTF_H_
#define BRTCONFIG_TEXT_UTF_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace text {

// True when every byte of `bytes` is below 0x80; checked eight bytes at a time. Inline,
// as the binary codec asks it of every string.
inline bool IsAscii(std::string_view bytes) {
  size_t i = 0;
  for (; i + 8 <= bytes.size(); i += 8) {
    uint64_t word;
    std::memcpy(&word, bytes.data() + i, sizeof word);
    if (word & 0x8080808080808080u) return false;
  }
  for (; i < bytes.size(); ++i) {
    if (static_cast<unsigned char>(bytes[i]) & 0x80) return false;
  }
  return true;
}

// True when `bytes` is well-formed UTF-8 (no overlong forms, surrogates or values above
// U+10FFFF).
bool IsValidUtf8(std::string_view bytes);

// The offset of the first byte that does not start a well-formed UTF-8 sequence, or
// `bytes.size()` when there is none. Runs of ASCII are skipped several bytes at a time.
size_t FirstInvalidUtf8(std::string_view bytes);

// The length (1 to 4) of the well-formed sequence that `bytes` starts with, or 0 when
// the sequence there is ill-formed or `bytes` is empty.
size_t Utf8SequenceLength(std::string_view bytes);

// Decodes the code point at `*pos` and advances `*pos` past it. Requires
// *pos < bytes.size(). An ill-formed byte gives U+FFFD and advances `*pos` by one.
char32_t DecodeUtf8(std::string_view bytes, size_t* pos);

// Appends the UTF-8 form of `cp` (a scalar value) to `*out`.
void AppendUtf8(char32_t cp, std::string* out);

// Stores the UTF-8 form of `cp` (a scalar value) at `out`, which has room for four bytes;
// returns the end of what was stored.
char* EncodeUtf8(char32_t cp, char* out);

// The UTF-16 code units of UTF-8 text; each ill-formed byte becomes U+FFFD.
std::u16string ToUtf16(std::string_view utf8);

// True when valid UTF-8 `bytes` holds a control character (general category Cc) other
// than tab, line feed and carriage return.
bool HasForbiddenControl(std::string_view utf8);

}  // namespace text

#endif  // BRTCONFIG_TEXT_UTF_H_
