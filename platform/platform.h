// The one seam between the tool and the operating system. Everything the tool asks of
// the system (who runs it, files, attributes, programs, the diagnostic log) goes through
// a Platform, so tests can substitute a fake that records what was asked.
#ifndef BRTCONFIG_PLATFORM_PLATFORM_H_
#define BRTCONFIG_PLATFORM_PLATFORM_H_

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "text/bytes.h"

namespace brtconfig {

enum class ReadStatus { kOk, kNotFound, kError };

// Whether a path names something: kUnreachable when the system could not tell (a folder
// on the way that cannot be searched, a loop of links, a failing disk).
enum class Presence { kAbsent, kPresent, kUnreachable };

// One entry of the password database.
struct UserAccount {
  std::string name;
  unsigned uid = 0;
  unsigned gid = 0;  // The primary group.
  std::string home;  // As the database holds it; may be empty.
};

// The owner (a user name), group (a group name) and permission bits a file is given.
struct Ownership {
  std::string owner;
  std::string group;
  unsigned mode = 0;
};

// An exclusive lock on one file, held until the object is destroyed (or the process
// ends, however it ends). SIGINT, SIGTERM and SIGHUP wait while it is held.
class FileLock {
 public:
  virtual ~FileLock() = default;
};

enum class LockStatus {
  kLocked,    // The lock is held.
  kNone,      // No lock could be taken safely (see lockFile). The caller goes on
              // without one.
  kTimedOut,  // Another process held the lock for the whole wait.
};

// A file being written in place of another: see Platform::startAtomicWrite.
class AtomicWrite {
 public:
  // Removes the temporary file unless the write was committed.
  virtual ~AtomicWrite() = default;
  // Appends `bytes` to the file. False once a write failed; commit then says why.
  virtual bool write(std::string_view bytes) = 0;
  // Gives the file its owner and mode, flushes it and renames it over the target.
  // Returns false with `*error` set on failure, the target then untouched. Once only.
  virtual bool commit(std::string* error, std::string* ownershipError) = 0;
};

class Platform {
 public:
  virtual ~Platform() = default;

  // The real platform, a process-wide object that lives for the whole run.
  static Platform* Default();

  // The process's real user id (getuid); 0 is root. Read anew on every call.
  virtual unsigned realUserId() = 0;

  // The login name of the user the process runs as, or "" when it cannot be found.
  virtual std::string userName() = 0;

  // The login name of the user who ran the tool through sudo ($SUDO_USER), or "" when
  // it is not set.
  virtual std::string sudoUser() = 0;

  // The current user's home folder: $HOME when it is an absolute path, else the
  // password database's entry for the real user id; nothing when neither is known.
  virtual std::optional<std::string> homeFolder() = 0;

  // The password database's entry for the login name `name`, or nothing when it has
  // none. The environment ($HOME) is never consulted.
  virtual std::optional<UserAccount> lookUpUser(const std::string& name) = 0;

  // Gives up root for good and becomes `account`: its supplementary groups (initgroups),
  // its group and its user id, real, effective and saved. Answers true only when the
  // process then runs as exactly that user and group and cannot become root again;
  // otherwise false with `*error` set (the process may then be half changed and must
  // touch no file).
  virtual bool becomeUser(const UserAccount& account, std::string* error) = 0;

  // Whether anything (file, folder, other) exists at `path`; links are followed, and a
  // link that leads nowhere is absent.
  virtual Presence presence(const std::string& path) = 0;
  bool exists(const std::string& path) { return presence(path) == Presence::kPresent; }

  // Reads the whole regular file at `path` into `*bytes`, through memory that is not
  // cleared first (in large pages where the system offers them), with `sparePerByte`
  // bytes of spare room reserved after it for each byte read, for the caller to fill
  // (text::Bytes::spare). kNotFound when nothing exists there (presence would say
  // kAbsent); kError when it cannot be reached or read, is not a regular file, or is
  // larger than `maxBytes` (then `*error` says why).
  virtual ReadStatus readFile(const std::string& path, size_t maxBytes, size_t sparePerByte,
                              text::Bytes* bytes, std::string* error) = 0;

  // Reads all of standard input into `*bytes`, at most `maxBytes` (kError beyond, with
  // `*error` set). Never kNotFound.
  virtual ReadStatus readStandardInput(size_t maxBytes, text::Bytes* bytes, std::string* error) = 0;

  // Replaces the file at `path` atomically with what is written to the object handed
  // out, once it is committed: a temporary file in the same folder is written, flushed
  // and renamed over the target, so a failure leaves the old file as it was and no
  // temporary file behind; so does an object destroyed uncommitted. A symbolic link at
  // `path` stays a link and its target is replaced. An existing file keeps its
  // permission bits; a new one gets 0644 less the umask. Given `ownership`, the new file
  // gets it instead, through its descriptor and before it takes the target's place; when
  // it cannot (a name not found, an owner the process may not give files to), commit's
  // `*ownershipError` says why and the file goes into place as it would have without.
  // Returns null with `*error` set when no temporary file can be made. SIGINT, SIGTERM
  // and SIGHUP wait while the temporary file exists: the save finishes or is undone,
  // then they act.
  virtual std::unique_ptr<AtomicWrite> startAtomicWrite(const std::string& path,
                                                        const Ownership* ownership,
                                                        std::string* error) = 0;

  // The same for `bytes` whole, started, written and committed at once.
  bool writeFileAtomically(const std::string& path, std::string_view bytes,
                           const Ownership* ownership, std::string* error,
                           std::string* ownershipError);

  // Takes the lock of the file that `path` finally names (links followed), waiting at
  // most `waitMillis` for another holder to let go; on kLocked `*lock` holds it. The lock
  // is an advisory lock on a lock file beside that file, which only the process's
  // effective user may open (mode 0600) and which the holder removes when it lets go, so
  // a user who can only read the file cannot hold it. kNone, without waiting, where no
  // lock file can be had safely: a folder that another user than this one or root may
  // write to, a lock file name taken by anything but such a file of this user's, a
  // folder the process may not write to, a file system that refuses locks.
  virtual LockStatus lockFile(const std::string& path, unsigned waitMillis,
                              std::unique_ptr<FileLock>* lock) = 0;

  // Removes the temporary files that saves of `path` by this process's user left behind
  // when they were killed outright. Only files of startAtomicWrite's own naming,
  // beside the file that `path` finally names, are touched; the caller must hold the
  // file's lock, so that no save of it is under way.
  virtual void removeStaleTemporaryFiles(const std::string& path) = 0;

  // Starts the program `argv[0]` (an absolute path) with `argv` and waits for it to end;
  // its output goes where the tool's goes. Returns false with `*error` set when it cannot
  // be started or waited for; the program's own exit status is not reported.
  virtual bool runProgram(const std::vector<std::string>& argv, std::string* error) = 0;

  // Runs `commandLine` through the shell, as system() does, and waits for it to end.
  virtual void runShellCommand(const std::string& commandLine) = 0;

  // Emits one diagnostic line on standard error, prefixed with a time stamp and the
  // program's name and process id.
  virtual void log(const std::string& message) = 0;

  // Sends `message` to the system log (syslog(3), facility authpriv, level notice, as
  // the program's name with its process id). A log that cannot be reached loses the
  // line: a run never fails for it.
  virtual void systemLog(const std::string& message) = 0;

  // True where the system runs a per-user preference-cache daemon (cfprefsd) that must
  // be told to forget cached preferences after a change.
  virtual bool hasPrefsDaemon() = 0;

  // Readies the standard streams for a run, once, before anything is read or written:
  // writing to a pipe that nobody reads then fails with EPIPE instead of ending the
  // process (SIGPIPE is ignored), and a standard descriptor that is closed is taken by
  // /dev/null opened the other way round, so that it still fails as a closed one does
  // while no file the run opens can land on it and receive what is printed.
  virtual void prepareStandardStreams() = 0;
};

// The command that makes the preference-cache daemon of `userName` reread its files.
// The name is passed as an argument of its own, never spliced into shell text.
std::vector<std::string> PrefsDaemonRestartCommand(const std::string& userName);

// Formats the diagnostic line's prefix and text, such as
// "2026-12-08 15:05:45.123 brtconfig[4242] text"; used by the real Platform's log.
std::string FormatLogLine(std::string_view timestamp, std::string_view program, long pid,
                          std::string_view message);

}  // namespace brtconfig

#endif  // BRTCONFIG_PLATFORM_PLATFORM_H_
