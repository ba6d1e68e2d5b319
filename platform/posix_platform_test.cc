#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "platform/group_file.h"
#include "platform/platform.h"
#include "testing/temp_dir.h"
#include "text/bytes.h"

namespace brtconfig {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

Platform* const os = Platform::Default();

mode_t ModeOf(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

bool IsLink(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

TEST(PosixPlatformTest, ReadFileAndPresenceTellMissingFromUnreachable) {
  TempDir dir;
  ASSERT_TRUE(TempDir::writeFile(dir.file("four"), "abcd"));
  ASSERT_EQ(symlink("missing", dir.file("dangling").c_str()), 0);
  ASSERT_EQ(symlink("loop", dir.file("loop").c_str()), 0);
  ASSERT_EQ(mkdir(dir.file("closed").c_str(), 0), 0);  // Root may search it all the same.
  const Presence closed = getuid() == 0 ? Presence::kAbsent : Presence::kUnreachable;
  struct Case {
    std::string path;
    size_t maxBytes;
    ReadStatus status;
    Presence presence;
  } cases[] = {
      {dir.file("four"), 4, ReadStatus::kOk, Presence::kPresent},
      {dir.file("four"), 3, ReadStatus::kError, Presence::kPresent},  // Larger than allowed.
      {dir.file("missing"), 9, ReadStatus::kNotFound, Presence::kAbsent},
      {dir.file("dangling"), 9, ReadStatus::kNotFound, Presence::kAbsent},
      {dir.file("loop"), 9, ReadStatus::kError, Presence::kUnreachable},
      {dir.file("four/below"), 9, ReadStatus::kError, Presence::kUnreachable},
      {dir.file("closed/inside"), 9,
       closed == Presence::kAbsent ? ReadStatus::kNotFound : ReadStatus::kError, closed},
      {dir.path, 9, ReadStatus::kError, Presence::kPresent},  // A folder.
  };
  for (const Case& c : cases) {
    text::Bytes bytes = text::Bytes::CopyOf("untouched");
    std::string error;
    EXPECT_EQ(os->readFile(c.path, c.maxBytes, 0, &bytes, &error), c.status) << c.path;
    EXPECT_EQ(std::string_view(bytes), c.status == ReadStatus::kOk ? "abcd" : "untouched")
        << c.path;
    EXPECT_EQ(error.empty(), c.status != ReadStatus::kError) << c.path;
    EXPECT_EQ(os->presence(c.path), c.presence) << c.path;
  }
}

TEST(PosixPlatformTest, AtomicWriteKeepsModeOrGivesNewFileUmaskedMode) {
  struct Case {
    mode_t umask, oldMode, newMode;  // oldMode 0: no file before.
  } cases[] = {{022, 0, 0644}, {077, 0, 0600},    {0, 0, 0644},
               {027, 0, 0640}, {077, 0640, 0640}, {0, 0604, 0604}};
  for (const Case& c : cases) {
    TempDir dir;
    const std::string path = dir.file("prefs.plist");
    if (c.oldMode) {
      ASSERT_TRUE(TempDir::writeFile(path, "old contents"));
      ASSERT_EQ(chmod(path.c_str(), c.oldMode), 0);
    }
    const mode_t previous = umask(c.umask);
    std::string error;
    const bool written = os->writeFileAtomically(path, std::string_view("new"), nullptr, &error, nullptr);
    umask(previous);
    ASSERT_TRUE(written) << error;
    EXPECT_EQ(ModeOf(path), c.newMode) << std::oct << c.umask << " " << c.oldMode;
    EXPECT_EQ(TempDir::readFile(path), "new");
    EXPECT_THAT(TempDir::list(dir.path), ElementsAre("prefs.plist"));
  }
}

TEST(PosixPlatformTest, ReadFileTakesFilesLargerThanTheyClaim) {
  TempDir dir;
  // Read in more than one piece, and read into memory of its own (in large pages where
  // the system has them), each with the spare room asked for.
  const std::string large(300000, 'x');
  const std::string larger = std::string(5u << 20, 'y') + "z";
  ASSERT_TRUE(TempDir::writeFile(dir.file("large"), large));
  ASSERT_TRUE(TempDir::writeFile(dir.file("larger"), larger));
  ASSERT_TRUE(TempDir::writeFile(dir.file("empty"), ""));
  text::Bytes bytes;
  std::string error;
  for (const std::string* content : {&large, &larger}) {
    const std::string path = dir.file(content == &large ? "large" : "larger");
    ASSERT_EQ(os->readFile(path, content->size(), 2, &bytes, &error), ReadStatus::kOk);
    EXPECT_EQ(std::string_view(bytes), *content);
    EXPECT_EQ(bytes.data()[bytes.size()], '\0');
    ASSERT_GE(bytes.spareSize(), 2 * content->size());
    std::memset(bytes.spare(), 's', bytes.spareSize());  // Writable, and the bytes' own.
    EXPECT_EQ(std::string_view(bytes), *content);
  }
  ASSERT_EQ(os->readFile(dir.file("empty"), 0, 2, &bytes, &error), ReadStatus::kOk);
  EXPECT_EQ(std::string_view(bytes), "");
  // Files of the process file system claim to be empty and hold more.
  if (!os->exists("/proc/self/status")) GTEST_SKIP() << "no /proc";
  ASSERT_EQ(os->readFile("/proc/self/status", 1 << 20, 0, &bytes, &error), ReadStatus::kOk);
  EXPECT_THAT(std::string(bytes), HasSubstr("Pid:"));
  EXPECT_EQ(os->readFile("/proc/self/status", 10, 0, &bytes, &error), ReadStatus::kError);
  EXPECT_THAT(error, HasSubstr("too large"));
}

TEST(PosixPlatformTest, AtomicWriteReplacesTheWholeFileOrLeavesItAsItWas) {
  TempDir dir;
  const std::string path = dir.file("prefs.plist");
  ASSERT_TRUE(TempDir::writeFile(path, "old"));
  std::string error;
  const std::string large(200000, 'x');
  ASSERT_TRUE(os->writeFileAtomically(path, large, nullptr, &error, nullptr)) << error;
  EXPECT_EQ(TempDir::readFile(path), large);

  // A write in pieces goes into place whole; one never committed leaves the file as it
  // was and nothing beside it.
  for (const bool commit : {true, false}) {
    ASSERT_TRUE(TempDir::writeFile(path, "old"));
    std::unique_ptr<AtomicWrite> file = os->startAtomicWrite(path, nullptr, &error);
    ASSERT_TRUE(file) << error;
    EXPECT_TRUE(file->write("new ") && file->write(large));
    EXPECT_EQ(TempDir::readFile(path), "old");
    if (commit) {
      EXPECT_TRUE(file->commit(&error, nullptr)) << error;
    }
    file.reset();
    EXPECT_EQ(TempDir::readFile(path), commit ? "new " + large : "old");
    EXPECT_THAT(TempDir::list(dir.path), ElementsAre("prefs.plist"));
  }

  // A write that fails partway (files may not grow past 1 KB in this child) leaves the
  // file as it was and nothing beside it.
  ASSERT_TRUE(TempDir::writeFile(path, "old"));
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    const struct rlimit limit = {1024, 1024};
    setrlimit(RLIMIT_FSIZE, &limit);
    std::string failure;
    const bool written = os->writeFileAtomically(path, large, nullptr, &failure, nullptr);
    _exit(!written && failure.find("cannot write") == 0 ? 0 : 1);
  }
  int status = -1;
  while (waitpid(child, &status, 0) < 0) {
  }
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(TempDir::readFile(path), "old");
  EXPECT_THAT(TempDir::list(dir.path), ElementsAre("prefs.plist"));
}

TEST(PosixPlatformTest, AtomicWriteThroughLinksReplacesTheirTarget) {
  TempDir dir;
  ASSERT_TRUE(TempDir::writeFile(dir.file("real"), "old"));
  ASSERT_EQ(symlink("real", dir.file("relative").c_str()), 0);
  ASSERT_EQ(symlink(dir.file("relative").c_str(), dir.file("absolute").c_str()), 0);
  ASSERT_EQ(symlink("created", dir.file("dangling").c_str()), 0);
  std::string error;
  ASSERT_TRUE(
      os->writeFileAtomically(dir.file("absolute"), std::string_view("new"), nullptr, &error, nullptr))
      << error;
  ASSERT_TRUE(
      os->writeFileAtomically(dir.file("dangling"), std::string_view("made"), nullptr, &error, nullptr))
      << error;

  for (const char* link : {"absolute", "relative", "dangling"}) EXPECT_TRUE(IsLink(dir.file(link)));
  EXPECT_EQ(TempDir::readFile(dir.file("real")), "new");
  EXPECT_EQ(TempDir::readFile(dir.file("created")), "made");
  EXPECT_THAT(TempDir::list(dir.path),
              ElementsAre("absolute", "created", "dangling", "real", "relative"));

  // Written in full but not renamable over a folder: the temporary file goes again.
  ASSERT_EQ(mkdir(dir.file("folder").c_str(), 0755), 0);
  EXPECT_FALSE(
      os->writeFileAtomically(dir.file("folder"), std::string_view("x"), nullptr, &error, nullptr));
  EXPECT_THAT(error, HasSubstr("folder"));
  EXPECT_EQ(TempDir::list(dir.path).size(), 6u);
}

// Puts `kind` of thing under the name `path`: "" nothing, "link", "fifo", "folder", or a
// file: "0644" (that mode), "hard link" (a second name), "65534" (that user's), "0600".
bool Plant(const std::string& kind, const std::string& path) {
  if (kind.empty()) return true;
  if (kind == "link") return symlink("elsewhere", path.c_str()) == 0;
  if (kind == "fifo") return mkfifo(path.c_str(), 0600) == 0;
  if (kind == "folder") return mkdir(path.c_str(), 0700) == 0;
  if (!TempDir::writeFile(path, "") || chmod(path.c_str(), kind == "0644" ? 0644 : 0600) != 0) {
    return false;
  }
  if (kind == "hard link") return link(path.c_str(), (path + "2").c_str()) == 0;
  if (kind == "65534") return chown(path.c_str(), 65534, 65534) == 0;
  return true;
}

// Locks conflict between two opens of a file even within one process, so one process
// can play both runs.
TEST(PosixPlatformTest, LockIsALockFileOnlyItsUserMayOpenAndGoesWithTheLock) {
  TempDir dir;
  const std::string path = dir.file("prefs.plist");
  const std::string lockFile = dir.file(".prefs.plist.brtconfig-lock");
  ASSERT_TRUE(TempDir::writeFile(path, "old"));
  ASSERT_EQ(symlink("prefs.plist", dir.file("link").c_str()), 0);
  // A reader's lock on the file itself holds no one up.
  const int reader = open(path.c_str(), O_RDONLY);
  ASSERT_EQ(flock(reader, LOCK_SH), 0);
  std::unique_ptr<FileLock> first, second;
  ASSERT_EQ(os->lockFile(path, 0, &first), LockStatus::kLocked);
  close(reader);
  struct stat st;
  ASSERT_EQ(lstat(lockFile.c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_uid, geteuid());
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  // The file a link leads to is the one locked; a save does not let the lock go.
  EXPECT_EQ(os->lockFile(dir.file("link"), 30, &second), LockStatus::kTimedOut);
  ASSERT_TRUE(os->writeFileAtomically(path, std::string_view("new"), nullptr, nullptr, nullptr));
  EXPECT_EQ(os->lockFile(path, 0, &second), LockStatus::kTimedOut);
  EXPECT_EQ(second, nullptr);
  first.reset();
  EXPECT_THAT(TempDir::list(dir.path), ElementsAre("link", "prefs.plist"));

  // What a run killed outright leaves is taken over, and goes with the next lock.
  ASSERT_TRUE(Plant("0600", lockFile));
  ASSERT_EQ(os->lockFile(path, 0, &second), LockStatus::kLocked);
  second.reset();
  EXPECT_THAT(TempDir::list(dir.path), ElementsAre("link", "prefs.plist"));
}

TEST(PosixPlatformTest, NoLockWhereItsFileCouldBeOpenedByAnotherUser) {
  const bool root = getuid() == 0;
  struct Case {
    const char* what;
    std::string planted;  // What lies under the lock file's name (see Plant).
    unsigned folderMode;
  } cases[] = {
      {"a folder others may write to", "", 01777},
      {"a link in the lock file's place", "link", 0700},
      {"a lock file others may open", "0644", 0700},
      {"a lock file with a second name", "hard link", 0700},
      {"a pipe in the lock file's place", "fifo", 0700},
      {"a folder in the lock file's place", "folder", 0700},
      {"another user's lock file", "65534", 0700},       // Root only.
      {"a folder the user may not write to", "", 0500},  // Root may.
  };
  for (const Case& c : cases) {
    if ((c.planted == "65534") != root && (c.planted == "65534" || c.folderMode == 0500)) continue;
    TempDir dir;
    const std::string path = dir.file("prefs.plist");
    ASSERT_TRUE(TempDir::writeFile(path, "x"));
    ASSERT_TRUE(Plant(c.planted, dir.file(".prefs.plist.brtconfig-lock"))) << c.what;
    const std::vector<std::string> before = TempDir::list(dir.path);
    ASSERT_EQ(chmod(dir.path.c_str(), static_cast<mode_t>(c.folderMode)), 0);
    std::unique_ptr<FileLock> lock;
    EXPECT_EQ(os->lockFile(path, 1000, &lock), LockStatus::kNone) << c.what;
    ASSERT_EQ(chmod(dir.path.c_str(), 0700), 0);
    EXPECT_EQ(TempDir::list(dir.path), before) << c.what;
  }
}

// By path, and for a write through its file before the rename, which goes on when the
// ownership cannot be had and leaves the file as a write without it would.
TEST(PosixPlatformTest, AWriteGivesItsFileToRootAndWheelOrSaysWhyNot) {
  TempDir dir;
  const std::string written = dir.file("written.plist");
  const bool root = getuid() == 0;
  struct Case {
    std::string owner, group, failure;  // failure "": succeeds.
  } cases[] = {
      {"no-such-user-brt", "wheel", "no-such-user-brt"},
      {"root", "no-such-group-brt", "no-such-group-brt"},
      {"root", "wheel", root ? "" : "cannot change the owner"},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(TempDir::writeFile(written, "x"));
    ASSERT_EQ(chmod(written.c_str(), 0604), 0);
    if (root) {
      ASSERT_EQ(chown(written.c_str(), 65534, 65534), 0);
    }
    std::string error, ownershipError;
    const Ownership ownership{c.owner, c.group, 0640};
    ASSERT_TRUE(
        os->writeFileAtomically(written, std::string_view("y"), &ownership, &error, &ownershipError));
    EXPECT_THAT(ownershipError, HasSubstr(c.failure));
    EXPECT_EQ(ownershipError.empty(), c.failure.empty());
    EXPECT_EQ(ModeOf(written), c.failure.empty() ? 0640u : 0604u) << c.owner << c.group;
    EXPECT_EQ(TempDir::readFile(written), "y");
  }
  if (!root) return;
#if defined(__APPLE__)
  const struct group* wheel = getgrnam("wheel");
  const gid_t wheelId = wheel ? wheel->gr_gid : 0;
#else
  // Elsewhere the local group file decides; where it has no wheel, gid 0 stands for it.
  const gid_t wheelId = FindGroupId(TempDir::readFile("/etc/group"), "wheel").value_or(0);
#endif
  struct stat st;
  ASSERT_EQ(stat(written.c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, 0u);
  EXPECT_EQ(st.st_gid, wheelId);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST(PosixPlatformTest, RunProgramWaitsAndDaemonRestartPassesNameAsOneArgument) {
  // A stand-in killall on the PATH records its arguments one per line; the file is
  // complete when runProgram returns.
  TempDir dir;
  const std::string killall = dir.file("killall");
  ASSERT_TRUE(TempDir::writeFile(killall,
                                 "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; "
                                 "done > '" +
                                     dir.file("args") + "'\n"));
  ASSERT_EQ(chmod(killall.c_str(), 0755), 0);
  const char* oldPath = std::getenv("PATH");
  const std::string savedPath = oldPath ? oldPath : "";
  setenv("PATH", dir.path.c_str(), 1);
  for (const std::string name : {"teacher", "Mrs Smith", "a\"b'c; touch pwned", "$(id) `id` *"}) {
    const std::vector<std::string> command = PrefsDaemonRestartCommand(name);
    ASSERT_EQ(command.at(0).at(0), '/') << "argv[0] must be an absolute path";
    std::string error;
    EXPECT_TRUE(os->runProgram(command, &error)) << error;
    EXPECT_EQ(TempDir::readFile(dir.file("args")), "-u\n" + name + "\ncfprefsd\n") << name;
  }
  setenv("PATH", savedPath.c_str(), 1);
  std::string error;
  EXPECT_FALSE(os->runProgram({dir.file("no-such-program")}, &error));
  EXPECT_THAT(error, HasSubstr("no-such-program"));
}

TEST(PosixPlatformTest, LogLineHasStampProgramPidAndText) {
  EXPECT_EQ(FormatLogLine("2026-12-08 15:05:45.123", "brtconfig", 4242, "setFilePermissions x"),
            "2026-12-08 15:05:45.123 brtconfig[4242] setFilePermissions x");
  testing::internal::CaptureStderr();
  os->log("hello there");
  EXPECT_THAT(testing::internal::GetCapturedStderr(),
              ::testing::MatchesRegex("[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\\."
                                      "[0-9]{3} [^ ]+\\[" +
                                      std::to_string(getpid()) + "\\] hello there\n"));
}

}  // namespace
}  // namespace brtconfig
