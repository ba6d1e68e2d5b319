#include "testing/fake_platform.h"

namespace brtconfig {

// Files are real: tests work in temporary folders and look at the bytes on disk.
bool FakePlatform::exists(const std::string& path) { return Default()->exists(path); }

ReadStatus FakePlatform::readFile(const std::string& path, size_t maxBytes, std::string* bytes,
                                  std::string* error) {
  return Default()->readFile(path, maxBytes, bytes, error);
}

bool FakePlatform::writeFileAtomically(const std::string& path, const FileContent& content,
                                       std::string* error) {
  return Default()->writeFileAtomically(path, content, error);
}

LockStatus FakePlatform::lockFile(const std::string& path, unsigned waitMillis,
                                  std::unique_ptr<FileLock>* lock) {
  return Default()->lockFile(path, waitMillis, lock);
}

void FakePlatform::removeStaleTemporaryFiles(const std::string& path) {
  Default()->removeStaleTemporaryFiles(path);
}

bool FakePlatform::setOwnerGroupMode(const std::string& path, const std::string& owner,
                                     const std::string& group, unsigned mode, std::string* error) {
  attributeCalls.push_back({path, owner, group, mode});
  if (!failSetAttributes) return true;
  if (error) *error = "cannot change the owner of " + path + ": Operation not permitted";
  return false;
}

bool FakePlatform::runProgram(const std::vector<std::string>& argv, std::string* error) {
  programs.push_back(argv);
  if (!failRunProgram) return true;
  if (error)
    *error =
        "cannot start " + (argv.empty() ? std::string() : argv[0]) + ": No such file or directory";
  return false;
}

void FakePlatform::runShellCommand(const std::string& commandLine) {
  shellCommands.push_back(commandLine);
}

void FakePlatform::log(const std::string& message) { logLines.push_back(message); }

bool FakePlatform::randomBytes(void* buffer, size_t size, std::string* error) {
  randomRequests.push_back(size);
  if (failRandomBytes) {
    if (error) *error = "cannot read random bytes: Function not implemented";
    return false;
  }
  auto* out = static_cast<unsigned char*>(buffer);
  for (size_t i = 0; i < size; ++i) out[i] = nextRandomByte++;
  return true;
}

}  // namespace brtconfig
