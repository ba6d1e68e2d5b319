// A Platform for tests: file operations go to the real file system (tests work in
// temporary folders), while identity, attributes, programs and the log are faked and
// recorded so tests can see what the code asked of the system.
#ifndef BRTCONFIG_TESTING_FAKE_PLATFORM_H_
#define BRTCONFIG_TESTING_FAKE_PLATFORM_H_

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace brtconfig {

class FakePlatform : public Platform {
 public:
  // Answers of the faked operations; tests set them directly.
  unsigned uid = 501;
  std::string name = "teacher";
  std::optional<std::string> home;
  bool prefsDaemon = false;
  // Giving a written file its owner, group and mode then fails.
  bool failSetAttributes = false;
  // Owner, group and mode asked of a write are then given for real (tests as root).
  bool giveOwnership = false;
  bool failRunProgram = false;                  // runProgram then fails to start the program.
  std::map<std::string, UserAccount> accounts;  // The password database, by name.
  bool failBecomeUser = false;                  // becomeUser then fails.
  std::string standardInput;  // What readStandardInput hands out.
  std::string sudo;           // What sudoUser answers.

  // What was asked. Owner, group and mode asked of a write are recorded as an attribute
  // call, and not set unless giveOwnership: tests need not run as root.
  struct AttributeCall {
    std::string path, owner, group;
    unsigned mode;
  };
  std::vector<AttributeCall> attributeCalls;
  std::vector<std::vector<std::string>> programs;  // runProgram argv lists.
  std::vector<std::string> shellCommands;          // runShellCommand lines.
  std::vector<std::string> logLines;               // log messages, without prefix.
  std::vector<std::string> systemLogLines;         // systemLog messages.
  std::vector<std::string> filesAsked;             // Paths of presence and readFile calls.
  // The names becomeUser was asked for, each with how many entries `filesAsked` had
  // then, so tests can see which files were looked at before the change of user.
  struct BecomeCall {
    std::string name;
    size_t filesAskedBefore;
  };
  std::vector<BecomeCall> becomeCalls;

  unsigned realUserId() override { return uid; }
  std::string userName() override { return name; }
  std::string sudoUser() override { return sudo; }
  std::optional<std::string> homeFolder() override { return home; }
  std::optional<UserAccount> lookUpUser(const std::string& userName) override;
  // Records the call; on success the fake's uid becomes the account's (its name stays,
  // as the database's first name for a uid need not be the account's).
  bool becomeUser(const UserAccount& account, std::string* error) override;
  Presence presence(const std::string& path) override;
  ReadStatus readFile(const std::string& path, size_t maxBytes, size_t sparePerByte,
                      text::Bytes* bytes, std::string* error) override;
  ReadStatus readStandardInput(size_t maxBytes, text::Bytes* bytes, std::string* error) override;
  // Writes the file for real, without the ownership, which it records at the commit.
  std::unique_ptr<AtomicWrite> startAtomicWrite(const std::string& path, const Ownership* ownership,
                                                std::string* error) override;
  // Called once a write is in place; a test that acts then overrides it. False makes
  // the commit fail.
  virtual bool committed(const std::string& path) {
    static_cast<void>(path);
    return true;
  }
  LockStatus lockFile(const std::string& path, unsigned waitMillis,
                      std::unique_ptr<FileLock>* lock) override;
  void removeStaleTemporaryFiles(const std::string& path) override;
  bool runProgram(const std::vector<std::string>& argv, std::string* error) override;
  void runShellCommand(const std::string& commandLine) override;
  void log(const std::string& message) override;
  void systemLog(const std::string& message) override { systemLogLines.push_back(message); }
  bool hasPrefsDaemon() override { return prefsDaemon; }
  void prepareStandardStreams() override {}
};

}  // namespace brtconfig

#endif  // BRTCONFIG_TESTING_FAKE_PLATFORM_H_
