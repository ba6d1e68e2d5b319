// Feeds arbitrary bytes to the reader of files to apply, and checks what it promises:
// success gives entries of one to 64 texts each; failure is either a fault of the whole
// input, placed within it (or its UTF-8 form), or a list of invalid entries each with its
// reason. JSON that nlohmann-json's own validator refuses is refused (perhaps for a fault
// found earlier, such as too deep a nesting), and JSON it accepts is never called invalid.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "plist/fuzz/fuzz_checks.h"
#include "settings/apply_input.h"
#include "settings/setting.h"

using plist::fuzz::Require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes = plist::fuzz::Bytes(data, size);
  std::vector<brtconfig::ApplyEntry> entries;
  brtconfig::ApplyInputError error;
  brtconfig::ApplyInputFormat format = brtconfig::ApplyInputFormat::kJson;
  const bool ok = brtconfig::ParseApplyInput(bytes, &entries, &error, &format);
  // Valid entries come back also beside invalid ones, never after a fault of the whole.
  Require(entries.size() <= brtconfig::kMaxApplyMembers, "more entries than members");
  for (const brtconfig::ApplyEntry& entry : entries) {
    Require(!entry.texts.empty(), "an entry without a text");
    Require(entry.texts.size() <= brtconfig::kMaxListValues, "a list longer than kept");
  }
  if (ok) {
    Require(error.message.empty() && error.invalidEntries.empty(), "success with an error");
  } else {
    Require(error.message.empty() || entries.empty(), "entries beside a fault of the whole");
    Require(error.message.empty() != error.invalidEntries.empty(),
            "a failure must be a whole-input fault or invalid entries, not both");
    // XML in UTF-16 or ISO-8859-1 is placed in its UTF-8 form, at most twice as long.
    const size_t textSize = format == brtconfig::ApplyInputFormat::kXmlPlist ? 2 * size : size;
    Require(!error.offset || *error.offset <= textSize, "error offset beyond the input");
    for (const brtconfig::InvalidApplyEntry& invalid : error.invalidEntries) {
      Require(!invalid.reason.empty(), "an invalid entry without a reason");
    }
  }
  if (format == brtconfig::ApplyInputFormat::kJson) {
    const bool refusedAsJson = !ok && error.message.compare(0, 14, "not valid JSON") == 0;
    const bool valid = nlohmann::json::accept(bytes);
    Require(valid || !ok, "JSON that nlohmann-json refuses was taken");
    Require(!valid || !refusedAsJson, "JSON that nlohmann-json accepts was called invalid");
  }
  return 0;
}
