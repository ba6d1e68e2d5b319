#include "platform/group_file.h"

namespace brtconfig {
namespace {

// The decimal number that is all of `text`, when it fits 32 bits.
std::optional<uint32_t> ParseId(std::string_view text) {
  if (text.empty()) return std::nullopt;
  uint64_t id = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    id = id * 10 + static_cast<uint64_t>(c - '0');
    if (id > UINT32_MAX) return std::nullopt;
  }
  return static_cast<uint32_t>(id);
}

}  // namespace

std::optional<uint32_t> FindGroupId(std::string_view groupFile, std::string_view name) {
  while (!groupFile.empty()) {
    const size_t end = groupFile.find('\n');
    std::string_view line = groupFile.substr(0, end);
    groupFile.remove_prefix(end == std::string_view::npos ? groupFile.size() : end + 1);

    const size_t nameEnd = line.find(':');
    if (nameEnd == std::string_view::npos || line.substr(0, nameEnd) != name) continue;
    line.remove_prefix(nameEnd + 1);
    const size_t passwordEnd = line.find(':');
    if (passwordEnd == std::string_view::npos) continue;
    line.remove_prefix(passwordEnd + 1);
    const std::optional<uint32_t> id = ParseId(line.substr(0, line.find(':')));
    if (id) return id;
  }
  return std::nullopt;
}

}  // namespace brtconfig
