// SHA-1 (FIPS 180-4), for name-based UUIDs only: it names content, it guards nothing.
#ifndef BRTCONFIG_SETTINGS_SHA1_H_
#define BRTCONFIG_SETTINGS_SHA1_H_

#include <array>
#include <string_view>

namespace brtconfig {

using Sha1Digest = std::array<unsigned char, 20>;

// The SHA-1 digest of `bytes`.
Sha1Digest Sha1(std::string_view bytes);

}  // namespace brtconfig

#endif  // BRTCONFIG_SETTINGS_SHA1_H_
