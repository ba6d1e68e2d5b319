#include "testing/temp_dir.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace brtconfig {
namespace {

// Removes `path` and, for a folder, everything below it. Links are removed, never
// followed. Folders are made accessible first, since tests take permissions away.
void RemoveTree(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return;
  if (!S_ISDIR(st.st_mode)) {
    unlink(path.c_str());
    return;
  }
  chmod(path.c_str(), 0700);
  for (const std::string& name : TempDir::list(path)) RemoveTree(path + "/" + name);
  rmdir(path.c_str());
}

}  // namespace

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/brtconfig-test.XXXXXX";
  if (!mkdtemp(&pattern[0])) {
    // Nothing a test could do would be safe without its folder.
    std::fprintf(stderr, "cannot create a temporary folder %s: %s\n", pattern.c_str(),
                 std::strerror(errno));
    std::abort();
  }
  path = pattern;
}

TempDir::~TempDir() { RemoveTree(path); }

bool TempDir::writeFile(const std::string& path, const std::string& bytes) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && written;
}

std::string TempDir::readFile(const std::string& path) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return std::string();
  std::string bytes;
  char chunk[4096];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes.append(chunk, n);
  std::fclose(file);
  return bytes;
}

std::vector<std::string> TempDir::list(const std::string& dir) {
  std::vector<std::string> names;
  DIR* folder = opendir(dir.c_str());
  if (!folder) return names;
  while (const struct dirent* entry = readdir(folder)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(folder);
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace brtconfig
