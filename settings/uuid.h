// UUIDs as configuration profiles carry them: "8-4-4-4-12" upper-case hexadecimal.
#ifndef BRTCONFIG_SETTINGS_UUID_H_
#define BRTCONFIG_SETTINGS_UUID_H_

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace brtconfig {

using Uuid = std::array<unsigned char, 16>;

// The namespace of names that are domain names (RFC 9562, 6ba7b810-9dad-11d1-80b4-...).
extern const Uuid kDnsNamespace;

// The bytes of `text` when it is 32 hexadecimal digits of either case grouped 8-4-4-4-12
// by hyphens (any version); nothing otherwise.
std::optional<Uuid> ParseUuid(std::string_view text);

// `uuid` as text, in upper case.
std::string UuidText(const Uuid& uuid);

// The name-based UUID of version 5 (RFC 9562) for `name` in `space`: the same name
// always gives the same UUID, and two names differ as random UUIDs do.
Uuid NameBasedUuid(const Uuid& space, std::string_view name);

}  // namespace brtconfig

#endif  // BRTCONFIG_SETTINGS_UUID_H_
