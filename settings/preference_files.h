// The suite's preference files: their names, and where a run finds them. The tool edits
// them, and profiles and manifests name their domains after them.
#ifndef BRTCONFIG_SETTINGS_PREFERENCE_FILES_H_
#define BRTCONFIG_SETTINGS_PREFERENCE_FILES_H_

#include <string>
#include <vector>

namespace brtconfig {

class Platform;

// The names of the teacher-side preference files, in the order they are handled and
// printed from.
inline constexpr const char* kTeacherFileNames[] = {
    "com.brellan.teacher.plist",
    "com.tovrika.teacher.plist",
    "com.brellan.techconsole.plist",
    "com.tovrika.techconsole.plist",
};

// The names of the student settings file, the first preferred when both exist.
inline constexpr const char* kStudentFileNames[] = {
    "com.brellan.student.settings.plist",
    "com.tovrika.student.settings.plist",
};

// Joins with exactly one "/"; an empty folder leaves the bare name, which the file
// system then looks up in the working folder.
std::string JoinPath(const std::string& folder, const std::string& name);

// The current user's preferences folder, "Library/Preferences" inside the home folder,
// or "" when the home folder is unknown.
std::string UserPrefsFolder(Platform* platform);

// The teacher-side preference files in `folder`, in their fixed order: those of the four
// names that exist or cannot be reached (which then fail to open). May be empty.
std::vector<std::string> PreferenceFilePaths(Platform* platform, const std::string& folder);

// The student settings file in `systemFolder` that exists (the newer name preferred),
// or "" when there is none.
std::string StudentFilePath(Platform* platform, const std::string& systemFolder);

}  // namespace brtconfig

#endif  // BRTCONFIG_SETTINGS_PREFERENCE_FILES_H_
