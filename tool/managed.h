// Configuration profiles: the managed preferences they leave in the managed folder take
// precedence over the preference files for an application that reads its settings
// through the system, so the tool tells when a setting it handles is forced there.
#ifndef BRTCONFIG_TOOL_MANAGED_H_
#define BRTCONFIG_TOOL_MANAGED_H_

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "plist/document.h"
#include "plist/value.h"
#include "tool/run.h"

namespace brtconfig {

// A value that a profile forces, as the managed file holds it.
struct ForcedValue {
  plist::Value value;
  std::string shown;  // Its display text, as a query would show it.
};

// The managed preferences of the teacher-side domains (a domain's managed file has the
// name of its preference file), read once at the start of a run: the folder belongs to
// root, and a run for another user can no longer read it once it acts as that user.
class ManagedPreferences {
 public:
  // Reads, for each teacher-side domain, the teacher's own managed file (a run on the
  // teacher side only) and the device-wide one. A file that is missing or cannot be read
  // forces nothing; without the managed folder nothing more is looked at.
  explicit ManagedPreferences(const Run& run);
  // No profile at all, for a run that does not report them.
  ManagedPreferences() = default;

  // The value forced for `key` in the domain of any of `paths` (the teacher-side files
  // the run handles), the teacher's own profile before the device's; nothing when no
  // profile forces it.
  std::optional<ForcedValue> forcedValue(std::string_view key,
                                         const std::vector<std::string>& paths) const;

  // True when no profile forces anything in these domains.
  bool empty() const { return files.empty(); }

 private:
  struct File {
    std::string name;          // The domain's file name.
    plist::Document settings;  // Its top a dictionary.
  };
  std::vector<File> files;  // In the order they count.
};

// Writes the line that says a profile forces `key` to standard error.
void WarnForced(std::string_view key, const ForcedValue& forced);

}  // namespace brtconfig

#endif  // BRTCONFIG_TOOL_MANAGED_H_
