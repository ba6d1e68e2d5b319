#include "settings/uuid.h"

#include <string>

#include "settings/sha1.h"

namespace brtconfig {
namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr size_t kUuidLength = 36;

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Where a hyphen stands in the text: before bytes 4, 6, 8 and 10.
bool IsHyphenPlace(size_t i) { return i == 8 || i == 13 || i == 18 || i == 23; }

}  // namespace

const Uuid kDnsNamespace = {0x6b, 0xa7, 0xb8, 0x10, 0x9d, 0xad, 0x11, 0xd1,
                            0x80, 0xb4, 0x00, 0xc0, 0x4f, 0xd4, 0x30, 0xc8};

std::optional<Uuid> ParseUuid(std::string_view text) {
  if (text.size() != kUuidLength) return std::nullopt;
  Uuid uuid{};
  size_t n = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (IsHyphenPlace(i)) {
      if (text[i] != '-') return std::nullopt;
      continue;
    }
    const int digit = HexValue(text[i]);
    if (digit < 0) return std::nullopt;
    uuid[n / 2] = static_cast<unsigned char>(n % 2 ? (uuid[n / 2] | digit) : digit << 4);
    ++n;
  }
  return uuid;
}

std::string UuidText(const Uuid& uuid) {
  std::string text;
  text.reserve(kUuidLength);
  for (size_t i = 0; i < uuid.size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) text += '-';
    text += kHexDigits[uuid[i] >> 4];
    text += kHexDigits[uuid[i] & 15];
  }
  return text;
}

Uuid NameBasedUuid(const Uuid& space, std::string_view name) {
  std::string input(space.begin(), space.end());
  input.append(name);
  const Sha1Digest digest = Sha1(input);
  Uuid uuid;
  for (size_t i = 0; i < uuid.size(); ++i) uuid[i] = digest[i];
  uuid[6] = static_cast<unsigned char>((uuid[6] & 0x0F) | 0x50);  // Version 5.
  uuid[8] = static_cast<unsigned char>((uuid[8] & 0x3F) | 0x80);  // Variant 10xx.
  return uuid;
}

}  // namespace brtconfig
