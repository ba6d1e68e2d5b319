#include "testing/fake_platform.h"

#include <utility>

namespace brtconfig {

std::optional<UserAccount> FakePlatform::lookUpUser(const std::string& userName) {
  auto found = accounts.find(userName);
  if (found == accounts.end()) return std::nullopt;
  return found->second;
}

bool FakePlatform::becomeUser(const UserAccount& account, std::string* error) {
  becomeCalls.push_back({account.name, filesAsked.size()});
  if (failBecomeUser) {
    if (error) *error = "cannot become " + account.name + ": Operation not permitted";
    return false;
  }
  uid = account.uid;
  return true;
}

// Files are real: tests work in temporary folders and look at the bytes on disk.
Presence FakePlatform::presence(const std::string& path) {
  filesAsked.push_back(path);
  return Default()->presence(path);
}

ReadStatus FakePlatform::readFile(const std::string& path, size_t maxBytes, size_t sparePerByte,
                                  text::Bytes* bytes, std::string* error) {
  filesAsked.push_back(path);
  return Default()->readFile(path, maxBytes, sparePerByte, bytes, error);
}

ReadStatus FakePlatform::readStandardInput(size_t maxBytes, text::Bytes* bytes,
                                           std::string* error) {
  if (standardInput.size() > maxBytes) {
    if (error) *error = "standard input is too large";
    return ReadStatus::kError;
  }
  *bytes = text::Bytes::CopyOf(standardInput);
  return ReadStatus::kOk;
}

namespace {

class FakeAtomicWrite : public AtomicWrite {
 public:
  FakeAtomicWrite(FakePlatform* platform, std::string written, const Ownership* asked,
                  std::unique_ptr<AtomicWrite> file)
      : fake(*platform), path(std::move(written)), real(std::move(file)) {
    if (asked) ownership = *asked;
  }
  bool write(std::string_view bytes) override { return real->write(bytes); }
  bool commit(std::string* error, std::string* ownershipError) override {
    if (!real->commit(error, ownershipError)) return false;
    if (ownership) {
      fake.attributeCalls.push_back({path, ownership->owner, ownership->group, ownership->mode});
      if (fake.failSetAttributes && ownershipError) {
        *ownershipError = "cannot change the owner of " + path + ": Operation not permitted";
      }
    }
    return fake.committed(path);
  }

 private:
  FakePlatform& fake;
  std::string path;
  std::optional<Ownership> ownership;
  std::unique_ptr<AtomicWrite> real;
};

}  // namespace

std::unique_ptr<AtomicWrite> FakePlatform::startAtomicWrite(const std::string& path,
                                                            const Ownership* ownership,
                                                            std::string* error) {
  std::unique_ptr<AtomicWrite> real =
      Default()->startAtomicWrite(path, giveOwnership ? ownership : nullptr, error);
  if (!real) return nullptr;
  return std::make_unique<FakeAtomicWrite>(this, path, giveOwnership ? nullptr : ownership,
                                           std::move(real));
}

LockStatus FakePlatform::lockFile(const std::string& path, unsigned waitMillis,
                                  std::unique_ptr<FileLock>* lock) {
  return Default()->lockFile(path, waitMillis, lock);
}

void FakePlatform::removeStaleTemporaryFiles(const std::string& path) {
  Default()->removeStaleTemporaryFiles(path);
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

}  // namespace brtconfig
