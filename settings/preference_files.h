// The names of the suite's preference files: the tool edits them, and profiles and
// manifests name their domains after them.
#ifndef BRTCONFIG_SETTINGS_PREFERENCE_FILES_H_
#define BRTCONFIG_SETTINGS_PREFERENCE_FILES_H_

namespace brtconfig {

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

}  // namespace brtconfig

#endif  // BRTCONFIG_SETTINGS_PREFERENCE_FILES_H_
