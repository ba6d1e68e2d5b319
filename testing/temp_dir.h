// A temporary folder for a test, removed with everything in it when the object dies.
#ifndef BRTCONFIG_TESTING_TEMP_DIR_H_
#define BRTCONFIG_TESTING_TEMP_DIR_H_

#include <string>
#include <vector>

namespace brtconfig {

class TempDir {
 public:
  TempDir();  // Made with mkdtemp under $TMPDIR, or /tmp.
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // `path` joined with `name`.
  std::string file(const std::string& name) const { return path + "/" + name; }

  // Helpers for fixtures: write, read and list real files.
  static bool writeFile(const std::string& path, const std::string& bytes);
  static std::string readFile(const std::string& path);  // "" when unreadable.
  // Names in the folder `dir`, sorted, without "." and "..".
  static std::vector<std::string> list(const std::string& dir);

  // The folder's absolute path.
  std::string path;
};

}  // namespace brtconfig

#endif  // BRTCONFIG_TESTING_TEMP_DIR_H_
