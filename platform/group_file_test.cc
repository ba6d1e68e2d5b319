#include "platform/group_file.h"

#include <optional>
#include <string>

#include "gtest/gtest.h"

namespace brtconfig {
namespace {

TEST(GroupFileTest, FindsTheFirstWellFormedLineForTheName) {
  struct Case {
    const char* file;
    std::optional<uint32_t> id;
  } cases[] = {
      {"root:x:0:\nwheel:x:10:alice,bob\n", 10},
      {"wheel:*:0:root", 0},                            // Last line without a line end.
      {"wheels:x:11:\nwhee:x:12:\nwheel:x:13:\n", 13},  // Names are compared whole.
      {"staff:x:20:wheel\n", std::nullopt},             // A member is not the group.
      {"wheel:x:abc:\nwheel:x::\nwheel:x:14:\n", 14},   // Malformed ids are passed over.
      {"wheel:x:4294967296:\n", std::nullopt},          // Beyond 32 bits.
      {"wheel:x:4294967295:\n", 4294967295u},
      {"wheel\nwheel:x\n", std::nullopt},  // Too few fields.
      {"wheel:x:15:\nwheel:x:16:\n", 15},
      {"wheel:x:17\r\n", std::nullopt},  // No cleaning up of odd line ends.
      {"", std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FindGroupId(c.file, "wheel"), c.id) << c.file;
  }
}

}  // namespace
}  // namespace brtconfig
