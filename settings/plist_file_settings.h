// PListFileSettings: the catalogue of settings and the rules for their values (class
// operations), and the store for one preference file (instances).
#ifndef BRTCONFIG_SETTINGS_PLIST_FILE_SETTINGS_H_
#define BRTCONFIG_SETTINGS_PLIST_FILE_SETTINGS_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "plist/document.h"
#include "plist/value.h"
#include "settings/display.h"
#include "settings/setting.h"

namespace brtconfig {

class FileLock;
class Platform;

// Property-list format codes kept in `format`.
inline constexpr uint64_t kXmlFormat = 100;
inline constexpr uint64_t kBinaryFormat = 200;

// How long a change waits for another run to let go of a preference file before it
// gives that file up. A save of even a large file takes a fraction of a second, so this
// covers a queue of many overlapping runs, and a stopped run holds no one up for long.
inline constexpr unsigned kLockWaitSeconds = 5;

// Why the last open, update or save of a store failed.
struct StoreError {
  enum class Kind {
    kNone,
    kUnreadable,      // The file could not be read.
    kNotPropertyList, // Its bytes are not a property list, or one too large to copy.
    kNotDictionary,   // The top level is not a dictionary.
    kBusy,            // Another run held its lock for the whole wait.
    kAbsent,          // A change found no file: it went after the run looked for it.
    kUnconvertible,   // The new value cannot be stored as the setting's kind.
    kUnwritable,      // The file could not be written.
  };
  Kind kind = Kind::kNone;
  std::string reason;  // One sentence that names the file and the cause.
};

// True when `text` is not empty and every UTF-16 code unit of it is a decimal digit.
bool isStringANumber(std::string_view text);

// Whether the values of the settings in `document`, a preference file's, can be copied
// out within the memory the file's size allows: a file whose values would expand further
// (a binary file's shared objects) is refused whole, so that no copy made later can
// take more.
bool SettingsFitCopy(const plist::Document& document);

class PListFileSettings {
 public:
  // ---- The catalogue. Keys match exactly: case-sensitive, nothing trimmed. ----

  // The whole table, in catalogue order.
  static const std::vector<Setting>& allSettings();
  // The entry of `key`, or null when the catalogue has none.
  static const Setting* settingFromKey(std::string_view key);
  static bool isValidSetting(std::string_view key);
  // True when the user the run began as (`root` or not) may handle the setting: a global
  // one only as root, a teacher-specific one only as another user. False for unknown keys.
  static bool canSetSetting(std::string_view key, bool root);
  static bool isStringSetting(std::string_view key);
  static bool isUserSetting(std::string_view key);
  static bool settingAppliesToStudents(std::string_view key);
  // The hint, or "" for an unknown key.
  static std::string stringForSetting(std::string_view key);
  // One "\t%-30s%s" line (at most 255 bytes) per setting of `type`, in table order.
  static std::vector<std::string> listOfType(SettingType type);
  static std::vector<std::string> globalSettingStrings();
  static std::vector<std::string> userSettingStrings();

  // ---- Value validation. Null stands for "no value". ----

  static bool isValidValueForSetting(const SettingValue* value, std::string_view key);
  static bool valueIsBool(const SettingValue* value);
  static bool valueIsInt(const SettingValue* value);
  static bool isValidIpAddress(std::string_view text);

  // ---- The store for one preference file. ----

  // Makes a store for `path`; nothing is read yet. `platform` defaults to the real one.
  // `side` is the side of the run the file serves, which decides how it is saved: the
  // global side's files as XML, owned by root; a teacher's as binary.
  explicit PListFileSettings(std::string path, Platform* platform = nullptr,
                             SettingType side = UserSetting);
  ~PListFileSettings();
  PListFileSettings(const PListFileSettings&) = delete;
  PListFileSettings& operator=(const PListFileSettings&) = delete;

  // Reads the file. A missing file gives an empty dictionary. Returns false, and keeps
  // no document, when the file cannot be read or holds no dictionary at its top.
  // Reading needs no lock: a save replaces the file whole, so a reader sees the old file
  // or the new one.
  bool open();
  // As open, for a change: first takes the file's lock, waiting at most
  // kLockWaitSeconds for another run to let go of it, and holds it until the save ends
  // (or the store goes), so that overlapping changes follow one another and none is
  // lost. Where no lock can be had safely (see Platform::lockFile) the file is read
  // without one. Only an existing file is changed: a missing one is not taken for an
  // empty one. Returns false when the wait ran out (error kBusy), the file is missing
  // (kAbsent) or the open failed.
  bool openForChange();
  // The display text of the value under `key`: "" without a document, nothing when
  // the key is absent. Booleans show as "true"/"false"; integers as the low 32 bits of
  // their value taken as signed; reals as their integer part held to the 32-bit range
  // (NaN as 0); a list as each element followed by a blank. Elements, and kinds the tool
  // never writes, show on one line: numbers in full, booleans as 1/0, dates as
  // "2001-01-01 00:00:00 +0000", data as "<0a1b2c3d 4e>", lists as "(a, b)",
  // dictionaries as "{k = v; k2 = v2}", UIDs as their number.
  std::optional<std::string> valueForKey(std::string_view key) const;
  // A copy of the value under `key` as the file holds it: nothing without a document or
  // when the key is absent.
  std::optional<plist::Value> storedValue(std::string_view key) const;
  // `value` converted as the key's setting requires, as a change stores it in a file:
  // nothing for a key the catalogue lacks or a value of a kind the setting cannot take.
  static std::optional<plist::Value> storedForm(const SettingValue& value, std::string_view key);
  // Puts the stored form of `value` into the document's top dictionary.
  bool updateValueForKey(const SettingValue& value, std::string_view key);
  // Writes the whole document back: XML on the global side (then owned by root, group
  // wheel, mode 0644, set before the new file takes the old one's place), binary on a
  // teacher's.
  // Returns whether the file was written; a file written but not given to root is
  // logged ("setFilePermissions failed: ...") and still counts as saved. A store that
  // holds the lock first clears temporary files that killed saves left beside the file,
  // and lets the lock go when it is done.
  bool save();

  // Makes the preference-cache daemon of the user named `userName` reread its files,
  // where the system has one; the name is passed to the command as it is. Prints
  // "restartPrefsDaemonForUser excptn: ..." when the command cannot start.
  static void restartPrefsDaemonForUser(const std::string& userName, Platform* platform = nullptr);

  // The file's whole contents as read and changed so far, its top a dictionary; null
  // before a successful open. A run copies out only the few values it shows or compares.
  const plist::Node* contents() const { return document ? &document->root() : nullptr; }

  // The path of the preference file; set at creation.
  std::string settingsFile;
  // kXmlFormat until a save, then the code of the format that save wrote.
  uint64_t format = kXmlFormat;
  // Why the last open, update or save failed.
  StoreError error;

 private:
  bool fail(StoreError::Kind kind, std::string reason);
  // open, or for a change (`mustExist`) the same without taking a missing file for an
  // empty one.
  bool read(bool mustExist);
  void logPermissionFailure(const std::string& failure);

  // The file's whole contents; absent until a successful open.
  std::optional<plist::Document> document;
  Platform* platform;
  SettingType side;
  std::unique_ptr<FileLock> lock;
};

}  // namespace brtconfig

#endif  // BRTCONFIG_SETTINGS_PLIST_FILE_SETTINGS_H_
