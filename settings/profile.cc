// Configuration profiles and their UUIDs.
#include "settings/profile.h"

#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>

#include "platform/platform.h"

namespace brtconfig {
namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";
// Where the hyphens of a UUID's text stand.
constexpr size_t kHyphens[] = {8, 13, 18, 23};
constexpr size_t kUuidLength = 36;

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsHyphenPlace(size_t i) {
  for (const size_t place : kHyphens) {
    if (i == place) return true;
  }
  return false;
}

// The 16 bytes of a UUID's text; false when it is none.
bool UuidBytes(std::string_view text, unsigned char (&bytes)[16]) {
  if (text.size() != kUuidLength) return false;
  size_t n = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (IsHyphenPlace(i)) {
      if (text[i] != '-') return false;
      continue;
    }
    const int digit = HexValue(text[i]);
    if (digit < 0) return false;
    bytes[n / 2] = static_cast<unsigned char>(n % 2 ? (bytes[n / 2] | digit) : digit << 4);
    ++n;
  }
  return true;
}

std::string UuidText(const unsigned char (&bytes)[16]) {
  std::string text;
  text.reserve(kUuidLength);
  for (size_t i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) text += '-';
    text += kHexDigits[bytes[i] >> 4];
    text += kHexDigits[bytes[i] & 15];
  }
  return text;
}

// SplitMix64's output function: a bijection of 64-bit words in which every input bit
// changes about half of the output bits.
uint64_t Mix(uint64_t z) {
  z += 0x9E3779B97F4A7C15u;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
  return z ^ (z >> 31);
}

const char* ScopeName(int8_t side) { return side == UserSetting ? "User" : "System"; }

plist::Value DictionaryOf(std::initializer_list<std::pair<const char*, plist::Value>> entries) {
  plist::Dictionary dictionary;
  dictionary.reserve(entries.size());
  for (const auto& entry : entries) dictionary.append(entry.first, entry.second);
  return plist::Value(std::move(dictionary));
}

plist::Value ArrayOf(plist::Value value) {
  plist::Array array;
  array.push_back(std::move(value));
  return plist::Value(std::move(array));
}

}  // namespace

std::string DefaultProfileIdentifier(int8_t side) {
  return side == UserSetting ? "com.brellan.brtconfig.teacher" : "com.brellan.brtconfig.global";
}

std::string ProfileDisplayName(int8_t side) {
  return side == UserSetting ? "brtconfig: teacher settings" : "brtconfig: global settings";
}

std::string PreferenceDomainOfFile(std::string_view path) {
  const size_t slash = path.rfind('/');
  if (slash != std::string_view::npos) path.remove_prefix(slash + 1);
  constexpr std::string_view kSuffix = ".plist";
  if (path.size() > kSuffix.size() && path.substr(path.size() - kSuffix.size()) == kSuffix) {
    path.remove_suffix(kSuffix.size());
  }
  return std::string(path);
}

plist::Value MakeProfile(const ProfileRequest& request) {
  plist::Dictionary domains;
  domains.reserve(request.domains.size());
  for (const ProfileDomain& domain : request.domains) {
    domains.set(domain.domain,
                DictionaryOf({{"Forced", ArrayOf(DictionaryOf({{"mcx_preference_settings",
                                                            plist::Value(domain.settings)}}))}}));
  }
  // Keys in the order the XML writer lists them (by UTF-16 code units), so that the
  // binary form, which keeps the order built, reads the same.
  plist::Value payload = DictionaryOf({
      {"PayloadContent", plist::Value(std::move(domains))},
      {"PayloadIdentifier", plist::Value(request.identifier + ".preferences")},
      {"PayloadType", plist::Value("com.apple.ManagedClient.preferences")},
      {"PayloadUUID", plist::Value(request.payloadUuid)},
      {"PayloadVersion", plist::Value::fromInteger(1)},
  });
  return DictionaryOf({
      {"PayloadContent", ArrayOf(std::move(payload))},
      {"PayloadDisplayName", plist::Value(request.displayName)},
      {"PayloadIdentifier", plist::Value(request.identifier)},
      {"PayloadScope", plist::Value(ScopeName(request.side))},
      {"PayloadType", plist::Value("Configuration")},
      {"PayloadUUID", plist::Value(request.uuid)},
      {"PayloadVersion", plist::Value::fromInteger(1)},
  });
}

std::string FormatUuidV4(const unsigned char (&bytes)[16]) {
  unsigned char uuid[16];
  for (size_t i = 0; i < 16; ++i) uuid[i] = bytes[i];
  uuid[6] = static_cast<unsigned char>((uuid[6] & 0x0F) | 0x40);  // Version 4.
  uuid[8] = static_cast<unsigned char>((uuid[8] & 0x3F) | 0x80);  // Variant 10xx.
  return UuidText(uuid);
}

std::optional<std::string> RandomUuid(Platform* platform, std::string* error) {
  unsigned char bytes[16];
  if (!platform->randomBytes(bytes, sizeof bytes, error)) return std::nullopt;
  return FormatUuidV4(bytes);
}

std::optional<std::string> NormalizeUuid(std::string_view text) {
  unsigned char bytes[16];
  if (!UuidBytes(text, bytes)) return std::nullopt;
  return UuidText(bytes);
}

std::string DerivePayloadUuid(std::string_view uuid) {
  unsigned char bytes[16];
  if (!UuidBytes(uuid, bytes)) return std::string();
  uint64_t high = 0, low = 0;
  for (size_t i = 0; i < 8; ++i) {
    high = high << 8 | bytes[i];
    low = low << 8 | bytes[8 + i];
  }
  // Each half of the result depends on every bit of both halves of the input.
  const uint64_t a = Mix(high ^ Mix(low));
  const uint64_t b = Mix(low ^ Mix(a));
  for (size_t i = 0; i < 8; ++i) {
    bytes[i] = static_cast<unsigned char>(a >> (56 - 8 * i));
    bytes[8 + i] = static_cast<unsigned char>(b >> (56 - 8 * i));
  }
  return FormatUuidV4(bytes);
}

}  // namespace brtconfig
