#include "settings/preference_files.h"

#include <optional>

#include "platform/platform.h"

namespace brtconfig {

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

std::string UserPrefsFolder(Platform* platform) {
  std::optional<std::string> home = platform->homeFolder();
  if (!home || home->empty()) return "";
  return JoinPath(JoinPath(*home, "Library"), "Preferences");
}

std::vector<std::string> PreferenceFilePaths(Platform* platform, const std::string& folder) {
  std::vector<std::string> paths;
  for (const char* name : kTeacherFileNames) {
    std::string path = JoinPath(folder, name);
    // A file that cannot be reached is there for all the run can tell: opening it fails
    // and says why.
    if (platform->presence(path) != Presence::kAbsent) paths.push_back(path);
  }
  return paths;
}

std::string StudentFilePath(Platform* platform, const std::string& systemFolder) {
  for (const char* name : kStudentFileNames) {
    std::string path = JoinPath(systemFolder, name);
    if (platform->exists(path)) return path;
  }
  return "";
}

}  // namespace brtconfig
