// Looking a group up in the text of a group file: lines of "name:password:gid:members".
#ifndef BRTCONFIG_PLATFORM_GROUP_FILE_H_
#define BRTCONFIG_PLATFORM_GROUP_FILE_H_

#include <cstdint>
#include <optional>
#include <string_view>

namespace brtconfig {

// The id on the first line that names `name` and gives a decimal id of at most 32 bits;
// none when no line does. Lines that name the group with a malformed id are passed over.
std::optional<uint32_t> FindGroupId(std::string_view groupFile, std::string_view name);

}  // namespace brtconfig

#endif  // BRTCONFIG_PLATFORM_GROUP_FILE_H_
