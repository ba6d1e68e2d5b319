#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "platform/group_file.h"
#include "platform/platform.h"
#include "testing/temp_dir.h"

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

TEST(PosixPlatformTest, ReadFileTellsMissingFromUnreadable) {
  TempDir dir;
  ASSERT_TRUE(TempDir::writeFile(dir.file("four"), "abcd"));
  struct Case {
    std::string path;
    size_t maxBytes;
    ReadStatus status;
  } cases[] = {
      {dir.file("four"), 4, ReadStatus::kOk},
      {dir.file("four"), 3, ReadStatus::kError},  // Larger than the caller allows.
      {dir.file("missing"), 9, ReadStatus::kNotFound},
      {dir.file("four/below"), 9, ReadStatus::kNotFound},
      {dir.path, 9, ReadStatus::kError},  // A folder.
  };
  for (const Case& c : cases) {
    std::string bytes = "untouched", error;
    EXPECT_EQ(os->readFile(c.path, c.maxBytes, &bytes, &error), c.status) << c.path;
    EXPECT_EQ(bytes, c.status == ReadStatus::kOk ? "abcd" : "untouched") << c.path;
    EXPECT_EQ(error.empty(), c.status != ReadStatus::kError) << c.path;
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
    const bool written = os->writeFileAtomically(path, ContentOf("new"), &error);
    umask(previous);
    ASSERT_TRUE(written) << error;
    EXPECT_EQ(ModeOf(path), c.newMode) << std::oct << c.umask << " " << c.oldMode;
    EXPECT_EQ(TempDir::readFile(path), "new");
    EXPECT_THAT(TempDir::list(dir.path), ElementsAre("prefs.plist"));
  }
}

TEST(PosixPlatformTest, ReadFileTakesFilesLargerThanTheyClaim) {
  TempDir dir;
  const std::string large(300000, 'x');  // Read in more than one piece.
  ASSERT_TRUE(TempDir::writeFile(dir.file("large"), large));
  ASSERT_TRUE(TempDir::writeFile(dir.file("empty"), ""));
  std::string bytes, error;
  ASSERT_EQ(os->readFile(dir.file("large"), large.size(), &bytes, &error), ReadStatus::kOk);
  EXPECT_EQ(bytes, large);
  ASSERT_EQ(os->readFile(dir.file("empty"), 0, &bytes, &error), ReadStatus::kOk);
  EXPECT_EQ(bytes, "");
  // Files of the process file system claim to be empty and hold more.
  if (!os->exists("/proc/self/status")) GTEST_SKIP() << "no /proc";
  ASSERT_EQ(os->readFile("/proc/self/status", 1 << 20, &bytes, &error), ReadStatus::kOk);
  EXPECT_THAT(bytes, HasSubstr("Pid:"));
  EXPECT_EQ(os->readFile("/proc/self/status", 10, &bytes, &error), ReadStatus::kError);
  EXPECT_THAT(error, HasSubstr("too large"));
}

TEST(PosixPlatformTest, AtomicWriteTakesContentInPiecesAndDropsItWhenMakingFails) {
  TempDir dir;
  const std::string path = dir.file("prefs.plist");
  ASSERT_TRUE(TempDir::writeFile(path, "old"));
  std::string error;
  const FileContent pieces = [](const ByteWriter& write) {
    return write("first ") && write("") && write(std::string(200000, 'x'));
  };
  ASSERT_TRUE(os->writeFileAtomically(path, pieces, &error)) << error;
  EXPECT_EQ(TempDir::readFile(path), "first " + std::string(200000, 'x'));

  // Content that fails after some of it was written leaves the file as it was.
  ASSERT_TRUE(TempDir::writeFile(path, "old"));
  const FileContent failing = [](const ByteWriter& write) { return write("partial") && false; };
  EXPECT_FALSE(os->writeFileAtomically(path, failing, &error));
  EXPECT_EQ(error, "the content of " + path + " could not be made");
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
  ASSERT_TRUE(os->writeFileAtomically(dir.file("absolute"), ContentOf("new"), &error)) << error;
  ASSERT_TRUE(os->writeFileAtomically(dir.file("dangling"), ContentOf("made"), &error)) << error;

  for (const char* link : {"absolute", "relative", "dangling"}) EXPECT_TRUE(IsLink(dir.file(link)));
  EXPECT_EQ(TempDir::readFile(dir.file("real")), "new");
  EXPECT_EQ(TempDir::readFile(dir.file("created")), "made");
  EXPECT_THAT(TempDir::list(dir.path),
              ElementsAre("absolute", "created", "dangling", "real", "relative"));

  // Written in full but not renamable over a folder: the temporary file goes again.
  ASSERT_EQ(mkdir(dir.file("folder").c_str(), 0755), 0);
  EXPECT_FALSE(os->writeFileAtomically(dir.file("folder"), ContentOf("x"), &error));
  EXPECT_THAT(error, HasSubstr("folder"));
  EXPECT_EQ(TempDir::list(dir.path).size(), 6u);
}

// Locks conflict between two opens of a file even within one process, so one process
// can play both runs.
TEST(PosixPlatformTest, LockWaitsForHolderAndFollowsAFileReplacedMeanwhile) {
  TempDir dir;
  const std::string path = dir.file("prefs.plist");
  ASSERT_TRUE(TempDir::writeFile(path, "old"));
  std::unique_ptr<FileLock> first, second;
  ASSERT_EQ(os->lockFile(path, 0, &first), LockStatus::kLocked);
  EXPECT_EQ(os->lockFile(path, 30, &second), LockStatus::kTimedOut);
  EXPECT_EQ(second, nullptr);

  // A save by the holder renames a new file into place: the lock on the old one no
  // longer guards the path, so the next run locks the new file at once.
  ASSERT_TRUE(os->writeFileAtomically(path, ContentOf("new"), nullptr));
  ASSERT_EQ(os->lockFile(path, 0, &second), LockStatus::kLocked);
  std::unique_ptr<FileLock> third;
  EXPECT_EQ(os->lockFile(path, 0, &third), LockStatus::kTimedOut);
  second.reset();
  EXPECT_EQ(os->lockFile(path, 0, &third), LockStatus::kLocked);

  EXPECT_EQ(os->lockFile(dir.file("missing"), 0, &second), LockStatus::kNone);
  EXPECT_EQ(os->lockFile(dir.path, 0, &second), LockStatus::kNone);  // A folder.
}

TEST(PosixPlatformTest, SetOwnerGroupModeGivesFileToRootAndWheelOrFailsWithReason) {
  TempDir dir;
  const std::string path = dir.file("prefs.plist");
  ASSERT_TRUE(TempDir::writeFile(path, "x"));
  const bool root = getuid() == 0;
  if (root) {
    ASSERT_EQ(chown(path.c_str(), 65534, 65534), 0);
  }
  struct Case {
    std::string owner, group, failure;  // failure "": succeeds.
  } cases[] = {
      {"no-such-user-brt", "wheel", "no-such-user-brt"},
      {"root", "no-such-group-brt", "no-such-group-brt"},
      {"root", "wheel", root ? "" : "cannot change the owner"},
  };
  for (const Case& c : cases) {
    std::string error;
    EXPECT_EQ(os->setOwnerGroupMode(path, c.owner, c.group, 0640, &error), c.failure.empty());
    EXPECT_THAT(error, HasSubstr(c.failure));
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
  ASSERT_EQ(stat(path.c_str(), &st), 0);
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

TEST(PosixPlatformTest, RandomBytesFillTheWholeBufferWithFreshBytes) {
  // 64 bytes drawn twice: equal draws, or a zero tail left unfilled, have odds of 2^-512.
  unsigned char a[64] = {}, b[64] = {};
  std::string error;
  ASSERT_TRUE(os->randomBytes(a, sizeof a, &error)) << error;
  ASSERT_TRUE(os->randomBytes(b, sizeof b, &error)) << error;
  EXPECT_NE(std::string(a, a + sizeof a), std::string(b, b + sizeof b));
  EXPECT_NE(std::string(a + 32, a + sizeof a), std::string(32, '\0'));
}

}  // namespace
}  // namespace brtconfig
