// The store for one preference file: the instance half of PListFileSettings.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>

#include "platform/platform.h"
#include "plist/plist.h"
#include "settings/plist_file_settings.h"
#include "text/bytes.h"
#include "text/number_text.h"

namespace brtconfig {

namespace {

// Converts a new value to the kind the file keeps for `valueType`. Values from the
// command line are text; a number is also taken, as the file holds it. Any other kind
// cannot be read as a truth value or number and is refused.
bool ConvertForType(std::string_view valueType, plist::Value* value) {
  const bool toBool = valueType == kBoolType;
  if (!toBool && valueType != kIntType) return true;
  switch (value->kind()) {
    case plist::Kind::kString:
      *value = toBool ? plist::Value(text::BoolValue(value->string()))
                      : plist::Value::fromInteger(text::IntValue(value->string()));
      return true;
    case plist::Kind::kBoolean:
      if (!toBool) *value = plist::Value::fromInteger(value->boolean() ? 1 : 0);
      return true;
    case plist::Kind::kInteger: {
      const int32_t n = Int32Of(value->integer());
      *value = toBool ? plist::Value(n != 0) : plist::Value::fromInteger(n);
      return true;
    }
    case plist::Kind::kReal: {
      const int32_t n = Int32Of(value->real().value);
      *value = toBool ? plist::Value(n != 0) : plist::Value::fromInteger(n);
      return true;
    }
    default:
      return false;
  }
}

// A single string becomes a list of one; a list is taken as it is.
bool ToList(plist::Value* value) {
  if (value->isString()) {
    *value = plist::Array{std::move(*value)};
    return true;
  }
  return value->isArray();
}

}  // namespace

// Settings are copied out of a document one at a time, shared values at each place they
// stand, and a listing makes a few more copies of each. A valid value takes a few
// bytes; together the settings of a file may take as much as its bytes, at least this.
constexpr uint64_t kMinSettingsCopy = 4u << 20;

bool SettingsFitCopy(const plist::Document& document) {
  uint64_t budget = std::max<uint64_t>(kMinSettingsCopy, document.inputSize());
  const plist::Node& top = document.root();
  for (size_t i = 0; i < top.size(); ++i) {
    if (PListFileSettings::settingFromKey(top.keyAt(i)) &&
        !plist::ChargeCopy(top.valueAt(i), &budget)) {
      return false;
    }
  }
  return true;
}

PListFileSettings::PListFileSettings(std::string path, Platform* system, SettingType sideOfRun)
    : settingsFile(std::move(path)),
      platform(system ? system : Platform::Default()),
      side(sideOfRun) {}

PListFileSettings::~PListFileSettings() = default;

bool PListFileSettings::fail(StoreError::Kind kind, std::string reason) {
  error = StoreError{kind, std::move(reason)};
  return false;
}

bool PListFileSettings::open() { return read(false); }

bool PListFileSettings::read(bool mustExist) {
  document.reset();
  error = StoreError();
  text::Bytes bytes;
  std::string failure;
  switch (platform->readFile(settingsFile, plist::kMaxInputBytes, plist::kSparePerInputByte, &bytes,
                             &failure)) {
    case ReadStatus::kNotFound:
      if (mustExist) return fail(StoreError::Kind::kAbsent, settingsFile + ": no such file");
      document = plist::Document::fromValue(plist::Dictionary());
      return true;
    case ReadStatus::kError:
      return fail(StoreError::Kind::kUnreadable, failure);
    case ReadStatus::kOk:
      break;
  }
  // The document keeps the bytes: text that needs no decoding stays where it lies in them.
  plist::Document read;
  plist::Error parse;
  if (!plist::Read(std::move(bytes), &read, &parse)) {
    return fail(StoreError::Kind::kNotPropertyList,
                settingsFile + " is not a property list: " +
                    (parse.detail.empty() ? plist::ErrorCodeName(parse.code) : parse.detail) +
                    " at byte " + std::to_string(parse.offset));
  }
  if (!read.root().isDictionary()) {
    return fail(StoreError::Kind::kNotDictionary,
                settingsFile + ": the top level is not a dictionary");
  }
  if (!SettingsFitCopy(read)) {
    return fail(StoreError::Kind::kNotPropertyList,
                settingsFile + ": its settings' values expand too far to be read");
  }
  document = std::move(read);
  return true;
}

bool PListFileSettings::openForChange() {
  lock.reset();
  if (platform->lockFile(settingsFile, kLockWaitSeconds * 1000, &lock) == LockStatus::kTimedOut) {
    document.reset();
    return fail(StoreError::Kind::kBusy, settingsFile + ": another brtconfig run held the file for " +
                                             std::to_string(kLockWaitSeconds) + " seconds");
  }
  if (read(true)) return true;
  lock.reset();
  return false;
}

std::optional<std::string> PListFileSettings::valueForKey(std::string_view key) const {
  if (!document) return std::string();
  const std::optional<plist::Value> value = storedValue(key);
  if (!value) return std::nullopt;
  return DisplayText(*value);
}

std::optional<plist::Value> PListFileSettings::storedValue(std::string_view key) const {
  const plist::Node* node = document ? document->root().find(key) : nullptr;
  if (!node) return std::nullopt;
  return node->toValue();
}

std::optional<plist::Value> PListFileSettings::storedForm(const SettingValue& value,
                                                        std::string_view key) {
  const Setting* setting = settingFromKey(key);
  if (!setting) return std::nullopt;
  plist::Value stored = value;
  bool fits = ConvertForType(setting->valueType, &stored);
  if (fits && key == "subnets") {
    fits = ToList(&stored);
    // Longer lists are refused before they get here and are kept as they are.
    while (fits && stored.array().size() < 3) stored.array().push_back("0.0.0.0");
  } else if (fits && key == "channels") {
    fits = ToList(&stored);
  }
  if (!fits) return std::nullopt;
  return stored;
}

bool PListFileSettings::updateValueForKey(const SettingValue& value, std::string_view key) {
  const std::string cannot = "cannot store " + std::string(key) + " in " + settingsFile;
  if (!document) return fail(StoreError::Kind::kUnconvertible, cannot + ": it was not read");
  if (!settingFromKey(key)) return fail(StoreError::Kind::kUnconvertible, cannot + ": not a setting");
  const std::optional<plist::Value> stored = storedForm(value, key);
  if (!stored) {
    return fail(StoreError::Kind::kUnconvertible,
                cannot + ": a value of that kind does not fit the setting");
  }
  if (!document->set(key, *stored)) {
    return fail(StoreError::Kind::kUnwritable, cannot + ": the file would grow too large");
  }
  return true;
}

bool PListFileSettings::save() {
  const bool global = side == GlobalSetting;
  format = global ? kXmlFormat : kBinaryFormat;
  // The lock goes when the save is over, whatever its outcome.
  const std::unique_ptr<FileLock> held = std::move(lock);
  if (!document) return fail(StoreError::Kind::kUnwritable, settingsFile + " was not read");
  if (held) platform->removeStaleTemporaryFiles(settingsFile);

  // On the global side the file goes to root, before it takes the old one's place.
  const Ownership rootOwned{"root", "wheel", 0644};
  std::string failure, ownershipFailure;
  const std::unique_ptr<AtomicWrite> file =
      platform->startAtomicWrite(settingsFile, global ? &rootOwned : nullptr, &failure);
  if (!file) return fail(StoreError::Kind::kUnwritable, failure);
  // The text goes straight to the file as it is made; a document the writer refuses
  // leaves the old file as it was, the temporary file going with `file`.
  const plist::ByteSink toFile = [&file](std::string_view bytes) { return file->write(bytes); };
  plist::Error written;
  if (!plist::Write(*document, global ? plist::Format::kXml : plist::Format::kBinary, toFile,
                    &written) &&
      written.code != plist::ErrorCode::kOutput) {
    return fail(StoreError::Kind::kUnwritable,
                settingsFile + " cannot be written as a property list: " + written.detail);
  }
  // A write the file refused fails the commit, which says why.
  if (!file->commit(&failure, &ownershipFailure)) {
    return fail(StoreError::Kind::kUnwritable, failure);
  }
  // A file that could not be given to root still holds the new settings.
  if (!ownershipFailure.empty()) logPermissionFailure(ownershipFailure);
  return true;
}

void PListFileSettings::logPermissionFailure(const std::string& failure) {
  platform->log("setFilePermissions failed: " + failure);
}

void PListFileSettings::restartPrefsDaemonForUser(const std::string& userName, Platform* system) {
  if (!system) system = Platform::Default();
  if (!system->hasPrefsDaemon()) return;
  std::string error;
  if (!system->runProgram(PrefsDaemonRestartCommand(userName), &error)) {
    std::fprintf(stderr, "restartPrefsDaemonForUser excptn: %s", error.c_str());
  }
}

}  // namespace brtconfig
