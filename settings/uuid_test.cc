#include "settings/uuid.h"

#include <string>

#include "gtest/gtest.h"
#include "settings/sha1.h"

namespace brtconfig {
namespace {

std::string Hex(const Sha1Digest& digest) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (const unsigned char byte : digest) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 15];
  }
  return text;
}

// The standard's examples, and lengths on each side of the padding's block boundary.
TEST(Sha1Test, MatchesKnownDigests) {
  const struct {
    std::string input;
    const char* digest;
  } cases[] = {
      {"", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
      {"abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
      {std::string(55, 'a'), "c1c8bbdc22796e28c0e15163d20899b65621d65a"},
      {std::string(56, 'a'), "c2db330f6083854c99d4b5bfb6e8f29f201be699"},
      {std::string(64, 'a'), "0098ba824b5c16427bd7a1122a5a442a25ec644d"},
      {std::string(1000000, 'a'), "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
  };
  for (const auto& c : cases) EXPECT_EQ(Hex(Sha1(c.input)), c.digest) << c.input.size();
}

TEST(UuidTest, NameBasedUuidsFollowTheStandard) {
  // RFC 9562's example of version 5.
  EXPECT_EQ(UuidText(NameBasedUuid(kDnsNamespace, "www.example.com")),
            "2ED6657D-E927-568B-95E1-2665A8AEA6A2");
  EXPECT_NE(NameBasedUuid(kDnsNamespace, "www.example.org"),
            NameBasedUuid(kDnsNamespace, "www.example.com"));
}

TEST(UuidTest, TextIsCheckedAndWrittenInUpperCase) {
  const std::optional<Uuid> uuid = ParseUuid("0a1b2c3d-4e5f-1061-c273-8495a6b7c8d9");
  ASSERT_TRUE(uuid.has_value());  // Any version and variant.
  EXPECT_EQ(UuidText(*uuid), "0A1B2C3D-4E5F-1061-C273-8495A6B7C8D9");
  for (const char* bad :
       {"",
        "0A1B2C3D4E5F40618273"
        "8495A6B7C8D9",
        "{0A1B2C3D-4E5F-4061-8273-8495A6B7C8D9}", "0A1B2C3D-4E5F-4061-8273-8495A6B7C8D",
        "0A1B2C3D-4E5F-4061-8273-8495A6B7C8DG", "0A1B2C3D4-E5F-4061-8273-8495A6B7C8D9",
        "0A1B2C3D-4E5F-4061-8273-8495A6B7C8D9 "}) {
    EXPECT_EQ(ParseUuid(bad), std::nullopt) << bad;
  }
}

}  // namespace
}  // namespace brtconfig
