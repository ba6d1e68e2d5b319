// The real Platform: POSIX calls, with the few macOS differences kept in this file.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <syslog.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/group_file.h"
#include "platform/platform.h"

extern char** environ;

namespace brtconfig {
namespace {

// initgroups takes the group as an int on macOS and as a gid_t elsewhere.
#if defined(__APPLE__)
using InitGroupsId = int;
#else
using InitGroupsId = gid_t;
#endif

// Symbolic links followed at most this many times, as the kernel's own limit does.
constexpr int kMaxLinkHops = 40;

#if !defined(__APPLE__)
constexpr char kLocalGroupFile[] = "/etc/group";
constexpr size_t kMaxGroupFileBytes = 16u << 20;
#endif

std::string ErrnoText(const std::string& what, const std::string& path, int err) {
  return what + " " + path + ": " + std::strerror(err);
}

// Sets `*error` when the caller asked for it, and answers false for a one-line return.
bool Fail(std::string* error, std::string text) {
  if (error) *error = std::move(text);
  return false;
}

// Temporary files of a save are named ".NAME.brtconfig-" and six characters that mkstemp
// picks (letters and digits), beside the file NAME they replace.
constexpr char kTemporaryMark[] = ".brtconfig-";
constexpr size_t kTemporaryRandomChars = 6;

std::string TemporaryPrefix(const std::string& baseName) { return "." + baseName + kTemporaryMark; }

// The lock file of a file NAME is ".NAME.brtconfig-lock" beside it, never a temporary
// file's name.
std::string LockName(const std::string& baseName) { return "." + baseName + ".brtconfig-lock"; }

bool IsTemporaryName(const std::string& name, const std::string& prefix) {
  if (name.size() != prefix.size() + kTemporaryRandomChars) return false;
  if (name.compare(0, prefix.size(), prefix) != 0) return false;
  for (size_t i = prefix.size(); i < name.size(); ++i) {
    const char c = name[i];
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) {
      return false;
    }
  }
  return true;
}

// Holds SIGINT, SIGTERM and SIGHUP back while it lives; those that arrived meanwhile act
// when the last one alive ends, whatever the order they end in (a lock may outlive a save
// and the other way round). The tool runs a single thread.
class SignalsHeld {
 public:
  SignalsHeld() {
    if (alive++ > 0) return;
    sigset_t held;
    sigemptyset(&held);
    sigaddset(&held, SIGINT);
    sigaddset(&held, SIGTERM);
    sigaddset(&held, SIGHUP);
    sigprocmask(SIG_BLOCK, &held, &previous);
  }
  ~SignalsHeld() {
    if (--alive == 0) sigprocmask(SIG_SETMASK, &previous, nullptr);
  }
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;

 private:
  static inline int alive = 0;
  static inline sigset_t previous;
};

long long MonotonicMillis() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

void SleepMillis(long long millis) {
  struct timespec pause = {static_cast<time_t>(millis / 1000),
                           static_cast<long>(millis % 1000) * 1000000L};
  while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
  }
}

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// A lock file held: `fd` locked, named `name` in the folder open as `folder`.
class PosixFileLock : public FileLock {
 public:
  PosixFileLock(int folderFd, int lockedFd, std::string lockName)
      : folder(folderFd), fd(lockedFd), name(std::move(lockName)) {}
  // The file goes while it is still locked: a run that waits for it finds, once it holds
  // it, that the name no longer leads there, and starts over. The signals held act last.
  ~PosixFileLock() override {
    struct stat held, named;
    if (fstat(fd, &held) == 0 && fstatat(folder, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
        SameFile(held, named)) {
      unlinkat(folder, name.c_str(), 0);
    }
    close(fd);
    close(folder);
  }
  PosixFileLock(const PosixFileLock&) = delete;
  PosixFileLock& operator=(const PosixFileLock&) = delete;

 private:
  // A run stopped by a signal between taking the lock and saving would leave the lock
  // file behind; it finishes the file instead.
  const SignalsHeld signalsHeld;
  int folder;
  int fd;
  std::string name;
};

// True when no user but this process's effective user and root may change what the
// folder holds.
bool OnlyOwnerWrites(const struct stat& folder) {
  return S_ISDIR(folder.st_mode) && (folder.st_uid == geteuid() || folder.st_uid == 0) &&
         (folder.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

enum class LockAttempt {
  kHeld,     // Locked; the descriptor is handed out.
  kBusy,     // Another process holds it.
  kGone,     // The lock file went or changed meanwhile: try again at once.
  kRefused,  // No lock file can be had safely here.
};

// One try at the lock file `name` in the folder open as `folder`, made when there is
// none. Only a regular file of this user's that only this user may open, with no other
// name, is taken: any other thing under the name could be opened, and then held, by
// someone else.
LockAttempt TryLock(int folder, const std::string& name, int* lockedFd) {
  struct stat st;
  if (fstat(folder, &st) != 0 || !OnlyOwnerWrites(st)) return LockAttempt::kRefused;
  const int flags = O_RDONLY | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC | O_NONBLOCK;
  bool made = true;
  int fd = openat(folder, name.c_str(), flags | O_CREAT | O_EXCL, 0600);
  if (fd < 0 && errno == EEXIST) {
    made = false;
    fd = openat(folder, name.c_str(), flags);
  }
  if (fd < 0) return errno == ENOENT || errno == EINTR ? LockAttempt::kGone : LockAttempt::kRefused;
  if (made) fchmod(fd, 0600);  // Whatever the umask took away.
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid() ||
      (st.st_mode & 077) != 0 || st.st_nlink > 1) {
    close(fd);
    return LockAttempt::kRefused;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int err = errno;
    if (made && err != EWOULDBLOCK && err != EINTR) unlinkat(folder, name.c_str(), 0);
    close(fd);
    return err == EWOULDBLOCK || err == EINTR ? LockAttempt::kBusy : LockAttempt::kRefused;
  }
  // The holder before removed the file as it let go.
  struct stat named;
  if (fstatat(folder, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 || !SameFile(st, named)) {
    close(fd);
    return LockAttempt::kGone;
  }
  *lockedFd = fd;
  return LockAttempt::kHeld;
}

std::string DirName(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string BaseName(const std::string& path) { return path.substr(path.rfind('/') + 1); }

// Follows a chain of symbolic links at `path` to the path that is finally not a link,
// which need not exist yet (a dangling link names the file a write should create).
// Replacing that path leaves every link of the chain in place.
bool ResolveLinks(const std::string& path, std::string* target, std::string* error) {
  std::string current = path;
  for (int hop = 0; hop < kMaxLinkHops; ++hop) {
    struct stat st;
    if (lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
      *target = current;
      return true;
    }
    std::vector<char> buffer(static_cast<size_t>(st.st_size > 0 ? st.st_size : 255) + 1);
    const ssize_t n = readlink(current.c_str(), buffer.data(), buffer.size());
    if (n < 0) return Fail(error, ErrnoText("cannot read link", current, errno));
    if (static_cast<size_t>(n) >= buffer.size()) {
      return Fail(error, "link " + current + " changed while it was read");
    }
    std::string next(buffer.data(), static_cast<size_t>(n));
    current = (!next.empty() && next[0] == '/') ? next : DirName(current) + "/" + next;
  }
  return Fail(error, ErrnoText("cannot follow", path, ELOOP));
}

// The process's file-creation mask. POSIX offers no way to read it without setting it,
// so it is set and put back at once; the tool runs a single thread.
mode_t CurrentUmask() {
  const mode_t mask = umask(0);
  umask(mask);
  return mask;
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

#if defined(__linux__)
// Files are read into memory of their own, in large pages where it is this large: a
// first touch of fresh memory costs the system a fault per page, which for a large
// file weighed more than reading it.
constexpr size_t kLargePage = size_t{2} << 20;

void Unmap(char* memory, size_t reserved) { munmap(memory, reserved); }
#endif

// Memory for `capacity` bytes and a NUL, not cleared; none when there is no room.
text::Bytes Reserve(size_t capacity) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  if (capacity >= kLargePage) {
    // A page more than needed is mapped, so that a start on a page boundary can be cut
    // out of it; large pages only go where whole ones fit.
    const size_t reserved = (capacity + kLargePage) & ~(kLargePage - 1);
    void* mapped = mmap(nullptr, reserved + kLargePage, PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped != MAP_FAILED) {
      char* base = static_cast<char*>(mapped);
      const size_t skip = (0 - reinterpret_cast<uintptr_t>(base)) & (kLargePage - 1);
      if (skip > 0) munmap(base, skip);
      munmap(base + skip + reserved, kLargePage - skip);
      // Advice only: where the system has no large pages, the memory is as any other.
      madvise(base + skip, reserved, MADV_HUGEPAGE);
      return text::Bytes(base + skip, reserved, Unmap);
    }
  }
#endif
  return text::Bytes::Allocate(capacity);
}

// Reads `fd` (named `name` in messages) to its end, after the bytes `*bytes` holds
// already, at most `maxBytes` in all; grows the memory when it is full.
ReadStatus ReadToEnd(int fd, const std::string& name, size_t maxBytes, text::Bytes* bytes,
                     std::string* error) {
  size_t got = bytes->size();
  for (;;) {
    if (got > maxBytes) {
      Fail(error, name + " is too large");
      return ReadStatus::kError;
    }
    if (got == bytes->capacity()) {
      text::Bytes larger = Reserve(got + std::max<size_t>(got, 65536));
      if (larger.capacity() <= got) {
        Fail(error, ErrnoText("cannot read", name, ENOMEM));
        return ReadStatus::kError;
      }
      std::memcpy(larger.data(), bytes->data(), got);
      *bytes = std::move(larger);
    }
    // One byte past the ceiling is enough to tell that the input is too large.
    const size_t want = std::min(bytes->capacity() - got, maxBytes + 1 - got);
    const ssize_t n = read(fd, bytes->data() + got, want);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      Fail(error, ErrnoText("cannot read", name, errno));
      return ReadStatus::kError;
    }
    got += static_cast<size_t>(n);
    bytes->resize(got);
  }
  bytes->resize(got);
  return ReadStatus::kOk;
}

// Reads all of the open file `fd` (named `path` in messages), at most `maxBytes`, with
// `sparePerByte` bytes of room after it for each byte of the file.
ReadStatus ReadOpenFile(int fd, const std::string& path, size_t maxBytes, size_t sparePerByte,
                        text::Bytes* bytes, std::string* error) {
  struct stat st;
  if (fstat(fd, &st) != 0) {
    Fail(error, ErrnoText("cannot examine", path, errno));
    return ReadStatus::kError;
  }
  if (!S_ISREG(st.st_mode)) {
    Fail(error, path + " is not a regular file");
    return ReadStatus::kError;
  }
  if (static_cast<unsigned long long>(st.st_size) > maxBytes) {
    Fail(error, path + " is too large");
    return ReadStatus::kError;
  }
  // The file was opened without blocking only so that a FIFO could not stall the open.
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  // Sized for the file as it was examined; one that has grown since (or claims a size of
  // 0, as the process file system does) goes on into larger memory.
  const size_t size = static_cast<size_t>(st.st_size);
  const size_t spare = size <= SIZE_MAX / 4 / (sparePerByte + 1) ? size * sparePerByte : 0;
  text::Bytes read = Reserve(size + spare);
  // Without room to spare, the document takes memory as it goes.
  if (read.capacity() < size + spare) read = Reserve(size);
  const ReadStatus status = ReadToEnd(fd, path, maxBytes, &read, error);
  if (status == ReadStatus::kOk) *bytes = std::move(read);
  return status;
}

// The id of the "wheel" group, gid 0 where no group has that name (which is what the
// name means on macOS). Outside macOS only the local group file is read: asking the whole
// group database for a name it lacks goes on to every directory service configured,
// which took a third of a millisecond, a fifth of a small save, on a plain Debian machine.
gid_t WheelGroupId() {
#if defined(__APPLE__)
  const struct group* wheel = getgrnam("wheel");
  return wheel ? wheel->gr_gid : 0;
#else
  const int fd = open(kLocalGroupFile, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  text::Bytes text;
  const ReadStatus status =
      ReadOpenFile(fd, kLocalGroupFile, kMaxGroupFileBytes, 0, &text, nullptr);
  close(fd);
  if (status != ReadStatus::kOk) return 0;
  return FindGroupId(text, "wheel").value_or(0);
#endif
}

// Looks up user and group ids.
bool LookUpIds(const std::string& owner, const std::string& group, uid_t* uid, gid_t* gid,
               std::string* error) {
  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  const long groupSize = sysconf(_SC_GETGR_R_SIZE_MAX);
  if (groupSize > size) size = groupSize;
  std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);

  struct passwd pw;
  struct passwd* pwResult = nullptr;
  while (getpwnam_r(owner.c_str(), &pw, buffer.data(), buffer.size(), &pwResult) == ERANGE) {
    buffer.resize(buffer.size() * 2);
  }
  if (!pwResult) return Fail(error, "no user named \"" + owner + "\"");
  *uid = pw.pw_uid;

  if (group == "wheel") {
    *gid = WheelGroupId();
    return true;
  }
  struct group gr;
  struct group* grResult = nullptr;
  while (getgrnam_r(group.c_str(), &gr, buffer.data(), buffer.size(), &grResult) == ERANGE) {
    buffer.resize(buffer.size() * 2);
  }
  if (!grResult) return Fail(error, "no group named \"" + group + "\"");
  *gid = gr.gr_gid;
  return true;
}

// A file being written in place of another (Platform::startAtomicWrite).
class PosixAtomicWrite : public AtomicWrite {
 public:
  PosixAtomicWrite() = default;
  PosixAtomicWrite(const PosixAtomicWrite&) = delete;
  PosixAtomicWrite& operator=(const PosixAtomicWrite&) = delete;
  ~PosixAtomicWrite() override {
    if (fd >= 0) close(fd);
    if (!temp.empty()) unlink(temp.c_str());
  }

  bool start(const std::string& path, const Ownership* ownership, std::string* error) {
    shownPath = path;
    if (!ResolveLinks(path, &target, error)) return false;
    existed = stat(target.c_str(), &old) == 0;
    mode = static_cast<mode_t>(existed ? (old.st_mode & 07777) : (0644 & ~CurrentUmask()));
    giveAway =
        ownership && LookUpIds(ownership->owner, ownership->group, &uid, &gid, &ownershipFailure);
    if (giveAway) givenMode = static_cast<mode_t>(ownership->mode);

    const size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
    std::string name = folder + TemporaryPrefix(target.substr(slash + 1)) + "XXXXXX";
    fd = mkstemp(&name[0]);
    if (fd < 0) return Fail(error, ErrnoText("cannot create a temporary file for", target, errno));
    temp = std::move(name);
    fcntl(fd, F_SETFD, FD_CLOEXEC);
    return true;
  }

  bool write(std::string_view bytes) override {
    if (!failure.empty()) return false;
    if (WriteAll(fd, bytes)) return true;
    failure = ErrnoText("cannot write", temp, errno);
    return false;
  }

  bool commit(std::string* error, std::string* ownershipError) override {
    if (failure.empty()) finish();
    const int closed = close(fd);
    fd = -1;
    if (closed != 0 && failure.empty()) failure = ErrnoText("cannot close", temp, errno);
    if (failure.empty() && rename(temp.c_str(), target.c_str()) != 0) {
      failure = ErrnoText("cannot replace", target, errno);
    }
    if (!failure.empty()) return Fail(error, failure);
    temp.clear();  // In place: nothing is left to remove.
    if (!ownershipFailure.empty() && ownershipError) *ownershipError = ownershipFailure;

    // The new name must reach the disk too. The file is already in place, so a folder
    // that cannot be flushed (some file systems refuse) is no failure of the write.
    const int dirFd = open(DirName(target).c_str(), O_RDONLY | O_CLOEXEC);
    if (dirFd >= 0) {
      fsync(dirFd);
      close(dirFd);
    }
    return true;
  }

 private:
  // Owner and mode are set here, on the file this process made, while no other name
  // leads to it: after the rename the path could lead elsewhere. Then the bytes are
  // flushed.
  void finish() {
    if (giveAway && fchown(fd, uid, gid) != 0) {
      ownershipFailure = ErrnoText("cannot change the owner of", shownPath, errno);
      giveAway = false;
    }
    if (giveAway) {
      mode = givenMode;
    } else if (existed) {
      // An overwrite in place kept the file's owner; the replacement keeps it where the
      // process may give it away (root may, others usually may not), and otherwise
      // belongs to whoever wrote it.
      const int kept = fchown(fd, old.st_uid, old.st_gid);
      static_cast<void>(kept);
    }
    // After fchown, which may clear set-id bits.
    if (fchmod(fd, mode) != 0) {
      failure = ErrnoText("cannot set the mode of", temp, errno);
    } else if (fsync(fd) != 0) {
      failure = ErrnoText("cannot flush", temp, errno);
    }
  }

  // Held from before the temporary file is made until it is gone or in place.
  const SignalsHeld signalsHeld;
  std::string shownPath, target;
  std::string temp;  // The temporary file's name while it exists under it.
  int fd = -1;
  bool existed = false;
  struct stat old = {};
  mode_t mode = 0;
  bool giveAway = false;
  mode_t givenMode = 0;
  uid_t uid = 0;
  gid_t gid = 0;
  std::string failure;           // Why the write failed: the first failure only.
  std::string ownershipFailure;  // Why the file could not be given away.
};

// Reads the password database entry of `uid` and hands it to `use`.
template <typename Use>
bool WithPasswordEntry(uid_t uid, Use use) {
  const long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
  struct passwd pw;
  struct passwd* result = nullptr;
  while (getpwuid_r(uid, &pw, buffer.data(), buffer.size(), &result) == ERANGE) {
    buffer.resize(buffer.size() * 2);
  }
  if (!result) return false;
  use(pw);
  return true;
}

const char* ProgramName() {
#if defined(__APPLE__)
  const char* name = getprogname();
#elif defined(__GLIBC__)
  const char* name = program_invocation_short_name;
#else
  const char* name = nullptr;
#endif
  return (name && *name) ? name : "brtconfig";
}

std::string LocalTimestamp() {
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  struct tm local;
  char text[64] = "0000-00-00 00:00:00";
  if (localtime_r(&now.tv_sec, &local)) strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  char millis[24];
  std::snprintf(millis, sizeof millis, ".%03d", static_cast<int>(now.tv_nsec / 1000000L % 1000));
  return std::string(text) + millis;
}

class PosixPlatform : public Platform {
 public:
  unsigned realUserId() override { return getuid(); }

  std::string userName() override {
    std::string name;
    WithPasswordEntry(geteuid(), [&](const struct passwd& pw) { name = pw.pw_name; });
    return name;
  }

  std::string sudoUser() override {
    const char* name = std::getenv("SUDO_USER");
    return name ? name : "";
  }

  std::optional<std::string> homeFolder() override {
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/') return std::string(home);
    std::optional<std::string> folder;
    WithPasswordEntry(getuid(), [&](const struct passwd& pw) {
      if (pw.pw_dir && pw.pw_dir[0] == '/') folder = pw.pw_dir;
    });
    return folder;
  }

  std::optional<UserAccount> lookUpUser(const std::string& name) override {
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
    struct passwd pw;
    struct passwd* result = nullptr;
    while (getpwnam_r(name.c_str(), &pw, buffer.data(), buffer.size(), &result) == ERANGE) {
      buffer.resize(buffer.size() * 2);
    }
    if (!result) return std::nullopt;
    UserAccount account;
    account.name = pw.pw_name;
    account.uid = pw.pw_uid;
    account.gid = pw.pw_gid;
    account.home = pw.pw_dir ? pw.pw_dir : "";
    return account;
  }

  bool becomeUser(const UserAccount& account, std::string* error) override {
    const uid_t uid = static_cast<uid_t>(account.uid);
    const gid_t gid = static_cast<gid_t>(account.gid);
    // Groups first, while root may still set them; setuid as root then sets the real,
    // effective and saved user ids alike, which is what makes the change permanent.
    if (initgroups(account.name.c_str(), static_cast<InitGroupsId>(gid)) != 0) {
      return Fail(error, ErrnoText("cannot take the groups of", account.name, errno));
    }
    if (setgid(gid) != 0)
      return Fail(error, ErrnoText("cannot take the group of", account.name, errno));
    if (setuid(uid) != 0) return Fail(error, ErrnoText("cannot become", account.name, errno));
    if (getuid() != uid || geteuid() != uid || getgid() != gid || getegid() != gid) {
      return Fail(error, "the user and group ids of " + account.name + " did not take");
    }
    // A drop that could be undone is no drop.
    if (uid != 0 && (setuid(0) == 0 || seteuid(0) == 0)) {
      return Fail(error, "root could be regained after becoming " + account.name);
    }
    return true;
  }

  Presence presence(const std::string& path) override {
    struct stat st;
    if (stat(path.c_str(), &st) == 0) return Presence::kPresent;
    return errno == ENOENT ? Presence::kAbsent : Presence::kUnreachable;
  }

  ReadStatus readFile(const std::string& path, size_t maxBytes, size_t sparePerByte,
                      text::Bytes* bytes, std::string* error) override {
    int fd;
    do {
      fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
      if (errno == ENOENT) return ReadStatus::kNotFound;
      Fail(error, ErrnoText("cannot open", path, errno));
      return ReadStatus::kError;
    }
    const ReadStatus status = ReadOpenFile(fd, path, maxBytes, sparePerByte, bytes, error);
    close(fd);
    return status;
  }

  ReadStatus readStandardInput(size_t maxBytes, text::Bytes* bytes, std::string* error) override {
    // A pipe or a terminal has no size to read up to: read until the end.
    text::Bytes read;
    const ReadStatus status = ReadToEnd(STDIN_FILENO, "standard input", maxBytes, &read, error);
    if (status == ReadStatus::kOk) *bytes = std::move(read);
    return status;
  }

  std::unique_ptr<AtomicWrite> startAtomicWrite(const std::string& path, const Ownership* ownership,
                                                std::string* error) override {
    auto file = std::make_unique<PosixAtomicWrite>();
    if (!file->start(path, ownership, error)) return nullptr;
    return file;
  }

  LockStatus lockFile(const std::string& path, unsigned waitMillis,
                      std::unique_ptr<FileLock>* lock) override {
    const long long deadline = MonotonicMillis() + waitMillis;
    long long pause = 1;
    for (;;) {
      std::string target;
      if (!ResolveLinks(path, &target, nullptr)) return LockStatus::kNone;
      const int folder = open(DirName(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      if (folder < 0) return LockStatus::kNone;
      const std::string name = LockName(BaseName(target));
      std::unique_ptr<PosixFileLock> held;
      LockAttempt attempt;
      {
        // A signal between making the lock file and holding it would leave the file behind.
        const SignalsHeld making;
        int fd = -1;
        attempt = TryLock(folder, name, &fd);
        if (attempt == LockAttempt::kHeld) held = std::make_unique<PosixFileLock>(folder, fd, name);
      }
      if (held) {
        // A link re-pointed meanwhile: the lock guards a file the path no longer names.
        std::string now;
        if (ResolveLinks(path, &now, nullptr) && now == target) {
          *lock = std::move(held);
          return LockStatus::kLocked;
        }
      } else {
        close(folder);
        if (attempt == LockAttempt::kRefused) return LockStatus::kNone;
      }
      const long long left = deadline - MonotonicMillis();
      if (left <= 0) return LockStatus::kTimedOut;
      if (attempt == LockAttempt::kBusy) {
        SleepMillis(pause < left ? pause : left);
        if (pause < 16) pause *= 2;
      }
    }
  }

  void removeStaleTemporaryFiles(const std::string& path) override {
    std::string target;
    if (!ResolveLinks(path, &target, nullptr)) return;
    const size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : target.substr(0, slash + 1);
    const std::string prefix = TemporaryPrefix(target.substr(slash + 1));
    DIR* dir = opendir(folder.c_str());
    if (!dir) return;
    const uid_t self = geteuid();
    while (const struct dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (!IsTemporaryName(name, prefix)) continue;
      struct stat st;
      if (fstatat(dirfd(dir), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
      if (!S_ISREG(st.st_mode) || st.st_uid != self) continue;
      unlinkat(dirfd(dir), name.c_str(), 0);
    }
    closedir(dir);
  }


  bool runProgram(const std::vector<std::string>& argv, std::string* error) override {
    if (argv.empty()) return Fail(error, "no program to start");
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    // The program starts as though the tool had not touched its signals: SIGPIPE is
    // ignored here and the signals that would cut a save short may be held.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t pid;
    const int rc = posix_spawn(&pid, args[0], nullptr, &attributes, args.data(), environ);
    posix_spawnattr_destroy(&attributes);
    if (rc != 0) return Fail(error, ErrnoText("cannot start", argv[0], rc));
    int status;
    while (waitpid(pid, &status, 0) < 0) {
      if (errno != EINTR) return Fail(error, ErrnoText("cannot wait for", argv[0], errno));
    }
    return true;
  }

  void runShellCommand(const std::string& commandLine) override {
    // The command's status is not looked at; it reports for itself. The shell and what
    // it runs get SIGPIPE back as the tool found it: an ignored signal stays ignored
    // through exec, and a shell cannot undo that.
    struct sigaction pipeDefault = {}, pipeBefore;
    pipeDefault.sa_handler = SIG_DFL;
    sigaction(SIGPIPE, &pipeDefault, &pipeBefore);
    const int status = std::system(commandLine.c_str());
    sigaction(SIGPIPE, &pipeBefore, nullptr);
    static_cast<void>(status);
  }

  void log(const std::string& message) override {
    const std::string line =
        FormatLogLine(LocalTimestamp(), ProgramName(), static_cast<long>(getpid()), message) + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
  }

  void systemLog(const std::string& message) override {
    // Authpriv, where sudo records the same kind of act: a record of who changed a
    // classroom's settings, kept from the users whose settings it names.
    static const bool opened = (openlog(ProgramName(), LOG_PID, LOG_AUTHPRIV), true);
    static_cast<void>(opened);
    syslog(LOG_NOTICE, "%s", message.c_str());
  }

  bool hasPrefsDaemon() override {
#if defined(__APPLE__)
    return true;
#else
    return false;
#endif
  }


  void prepareStandardStreams() override {
    signal(SIGPIPE, SIG_IGN);
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
      if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
      // The lower descriptors are open, so open() answers with `fd` itself.
      const int held = open("/dev/null", fd == STDIN_FILENO ? O_WRONLY : O_RDONLY);
      if (held >= 0 && held != fd) close(held);
    }
  }
};

}  // namespace

Platform* Platform::Default() {
  // Never destroyed, so it outlives every static that might still log at exit.
  static Platform* const platform = new PosixPlatform;
  return platform;
}

bool Platform::writeFileAtomically(const std::string& path, std::string_view bytes,
                                   const Ownership* ownership, std::string* error,
                                   std::string* ownershipError) {
  const std::unique_ptr<AtomicWrite> file = startAtomicWrite(path, ownership, error);
  if (!file) return false;
  file->write(bytes);
  return file->commit(error, ownershipError);
}

std::vector<std::string> PrefsDaemonRestartCommand(const std::string& userName) {
  // The shell finds killall on the PATH, as a plain command line would, while the name
  // reaches it as the positional parameter $1: no character of it is shell syntax.
  return {"/bin/sh", "-c", "killall -u \"$1\" cfprefsd", "sh", userName};
}

std::string FormatLogLine(std::string_view timestamp, std::string_view program, long pid,
                          std::string_view message) {
  std::string line;
  line.reserve(timestamp.size() + program.size() + message.size() + 24);
  line.append(timestamp).append(" ").append(program);
  line.append("[").append(std::to_string(pid)).append("] ").append(message);
  return line;
}

}  // namespace brtconfig
