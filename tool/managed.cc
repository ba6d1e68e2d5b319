#include "tool/managed.h"

#include <cstdio>

#include "plist/plist.h"
#include "settings/plist_file_settings.h"
#include "settings/preference_files.h"
#include "text/bytes.h"

namespace brtconfig {

ManagedPreferences::ManagedPreferences(const Run& run) {
  // Most machines have no profile at all; then nothing else is looked up.
  if (!run.platform->exists(run.managedFolder)) return;
  std::vector<std::string> folders;
  if (run.side == UserSetting && !run.userName.empty()) {
    folders.push_back(JoinPath(run.managedFolder, run.userName));
  }
  folders.push_back(run.managedFolder);
  for (const char* name : kTeacherFileNames) {
    for (const std::string& folder : folders) {
      // A file that is missing or cannot be read forces nothing.
      text::Bytes bytes;
      std::string unread;
      plist::Document settings;
      if (run.platform->readFile(JoinPath(folder, name), plist::kMaxInputBytes,
                                 plist::kSparePerInputByte, &bytes, &unread) == ReadStatus::kOk &&
          plist::Read(std::move(bytes), &settings, nullptr) && settings.root().isDictionary() &&
          settings.root().size() != 0 && SettingsFitCopy(settings)) {
        files.push_back({name, std::move(settings)});
      }
    }
  }
}

std::optional<ForcedValue> ManagedPreferences::forcedValue(
    std::string_view key, const std::vector<std::string>& paths) const {
  for (const std::string& path : paths) {
    const std::string_view name = std::string_view(path).substr(path.rfind('/') + 1);
    for (const File& file : files) {
      if (file.name != name) continue;
      if (const plist::Node* node = file.settings.root().find(key)) {
        plist::Value value = node->toValue();
        std::string shown = DisplayText(value);
        return ForcedValue{std::move(value), std::move(shown)};
      }
    }
  }
  return std::nullopt;
}

void WarnForced(std::string_view key, const ForcedValue& forced) {
  fprintf(stderr,
          "Warning: a configuration profile sets %.*s = %s; the profile's value takes "
          "precedence until the profile is removed.\n",
          static_cast<int>(key.size()), key.data(), forced.shown.c_str());
}

}  // namespace brtconfig
