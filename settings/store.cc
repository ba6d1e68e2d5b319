// The store for one preference file: the instance half of PListFileSettings.
#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <utility>

#include "platform/platform.h"
#include "plist/plist.h"
#include "settings/plist_file_settings.h"
#include "text/number_text.h"

namespace brtconfig {
namespace {

// Seconds from 1970-01-01 to 2001-01-01, where property-list dates count from.
constexpr double kUnixSecondsAt2001 = 978307200;
// Dates further out than about 3 million years are shown as their raw seconds.
constexpr double kMaxShownDateSeconds = 1e14;

// An integer number read as a signed 32-bit value keeps the low 32 bits of its 64-bit
// pattern, as the platform's intValue does for a larger number.
int32_t Int32Of(const plist::Integer& integer) {
  return static_cast<int32_t>(static_cast<uint32_t>(integer.bits));
}

// A real number read as a signed 32-bit value: its integer part, held to the 32-bit
// range, NaN as 0 (the plain C conversion would be undefined for all three).
int32_t Int32Of(double real) {
  if (std::isnan(real)) return 0;
  if (real >= 2147483647.0) return INT32_MAX;
  if (real <= -2147483648.0) return INT32_MIN;
  return static_cast<int32_t>(real);
}

std::string Decimal(int64_t n) {
  char text[24];
  std::snprintf(text, sizeof text, "%" PRId64, n);
  return text;
}

std::string DecimalOf(const plist::Integer& integer) {
  if (!integer.isUnsigned) return Decimal(integer.asSigned());
  char text[24];
  std::snprintf(text, sizeof text, "%" PRIu64, integer.bits);
  return text;
}

// The shortest %g text that reads back as the same number (at its stored width).
std::string ShortestReal(const plist::Real& real) {
  char text[40];
  for (int precision = 1; precision <= 17; ++precision) {
    std::snprintf(text, sizeof text, "%.*g", precision, real.value);
    const double back = std::strtod(text, nullptr);
    if (real.isFloat32 ? static_cast<float>(back) == static_cast<float>(real.value)
                       : back == real.value) {
      break;
    }
  }
  return text;
}

// "2026-12-08 15:05:45 +0000": the date in UTC, whole seconds.
std::string DateText(const plist::Date& date) {
  if (!(std::fabs(date.seconds) <= kMaxShownDateSeconds))
    return ShortestReal(plist::Real{date.seconds, false});
  const time_t seconds = static_cast<time_t>(std::floor(date.seconds + kUnixSecondsAt2001));
  struct tm utc;
  char text[64];
  if (!gmtime_r(&seconds, &utc) || !strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S +0000", &utc)) {
    return ShortestReal(plist::Real{date.seconds, false});
  }
  return text;
}

// "<0a1b2c3d 4e5f>": hexadecimal in groups of four bytes.
std::string DataText(const plist::Data& data) {
  static const char kHex[] = "0123456789abcdef";
  std::string text = "<";
  for (size_t i = 0; i < data.size(); ++i) {
    if (i > 0 && i % 4 == 0) text += ' ';
    text += kHex[data[i] >> 4];
    text += kHex[data[i] & 15];
  }
  return text + ">";
}

}  // namespace

// Numbers in decimal at full width, booleans as 1 and 0, strings as their text,
// containers on one line, as the platform's description of a value would show them.
std::string ElementText(const plist::Value& value) {
  switch (value.kind()) {
    case plist::Kind::kString:
      return std::string(value.string());
    case plist::Kind::kInteger:
      return DecimalOf(value.integer());
    case plist::Kind::kReal:
      return ShortestReal(value.real());
    case plist::Kind::kBoolean:
      return value.boolean() ? "1" : "0";
    case plist::Kind::kDate:
      return DateText(value.date());
    case plist::Kind::kData:
      return DataText(value.data());
    case plist::Kind::kUid:
      return DecimalOf(plist::Integer{value.uid().value, true});
    case plist::Kind::kArray: {
      std::string text = "(";
      for (size_t i = 0; i < value.array().size(); ++i) {
        if (i > 0) text += ", ";
        text += ElementText(value.array()[i]);
      }
      return text + ")";
    }
    case plist::Kind::kDictionary: {
      const plist::Dictionary& dict = value.dictionary();
      std::string text = "{";
      for (size_t i = 0; i < dict.size(); ++i) {
        if (i > 0) text += "; ";
        text.append(dict.keyAt(i)).append(" = ").append(ElementText(dict.valueAt(i)));
      }
      return text + "}";
    }
  }
  return std::string();
}

std::string DisplayText(const plist::Value& value) {
  switch (value.kind()) {
    case plist::Kind::kBoolean:
      return value.boolean() ? "true" : "false";
    case plist::Kind::kInteger:
      return Decimal(Int32Of(value.integer()));
    case plist::Kind::kReal:
      return Decimal(Int32Of(value.real().value));
    case plist::Kind::kArray: {
      // Every element is followed by a blank, the last one too.
      std::string text;
      for (const plist::Value& element : value.array()) text += ElementText(element) + " ";
      return text;
    }
    default:
      return ElementText(value);
  }
}

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

// Settings are copied out of a document one at a time, shared values at each place they
// stand, and a listing makes a few more copies of each. A valid value takes a few
// bytes; together the settings of a file may take as much as its bytes, at least this.
constexpr uint64_t kMinSettingsCopy = 4u << 20;

// Whether the values of the settings in `document` fit that budget: a file whose values
// would not is refused whole, so that no copy made later can take more.
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

// A single string becomes a list of one; a list is taken as it is.
bool ToList(plist::Value* value) {
  if (value->isString()) {
    *value = plist::Array{std::move(*value)};
    return true;
  }
  return value->isArray();
}

}  // namespace

PListFileSettings::PListFileSettings(std::string path, Platform* system)
    : settingsFile(std::move(path)), platform(system ? system : Platform::Default()) {}

PListFileSettings::~PListFileSettings() = default;

bool PListFileSettings::fail(StoreError::Kind kind, std::string reason) {
  error = StoreError{kind, std::move(reason)};
  return false;
}

bool PListFileSettings::open() { return read(false); }

bool PListFileSettings::read(bool mustExist) {
  document.reset();
  error = StoreError();
  std::string bytes, failure;
  switch (platform->readFile(settingsFile, plist::kMaxInputBytes, &bytes, &failure)) {
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

bool PListFileSettings::updateValueForKey(const SettingValue& value, std::string_view key) {
  const std::string cannot = "cannot store " + std::string(key) + " in " + settingsFile;
  if (!document) return fail(StoreError::Kind::kUnconvertible, cannot + ": it was not read");
  const Setting* setting = settingFromKey(key);
  if (!setting) return fail(StoreError::Kind::kUnconvertible, cannot + ": not a setting");
  plist::Value stored = value;
  bool fits = ConvertForType(setting->valueType, &stored);
  if (fits && key == "subnets") {
    fits = ToList(&stored);
    // Longer lists are refused before they get here and are kept as they are.
    while (fits && stored.array().size() < 3) stored.array().push_back("0.0.0.0");
  } else if (fits && key == "channels") {
    fits = ToList(&stored);
  }
  if (!fits) {
    return fail(StoreError::Kind::kUnconvertible,
                cannot + ": a value of that kind does not fit the setting");
  }
  document->set(key, stored);
  return true;
}

bool PListFileSettings::save() {
  format = platform->realUserId() == 0 ? kXmlFormat : kBinaryFormat;
  // The lock goes when the save is over, whatever its outcome.
  const std::unique_ptr<FileLock> held = std::move(lock);
  if (!document) return fail(StoreError::Kind::kUnwritable, settingsFile + " was not read");
  if (held) platform->removeStaleTemporaryFiles(settingsFile);

  const plist::Document& top = *document;
  const plist::Format target = format == kXmlFormat ? plist::Format::kXml : plist::Format::kBinary;
  const FileContent serialised = [&top, target](const ByteWriter& write) {
    std::string bytes;
    return plist::Write(top, target, &bytes, nullptr) && write(bytes);
  };
  // As root the file goes to root, before it takes the old one's place.
  const Ownership rootOwned{"root", "wheel", 0644};
  const Ownership* ownership = platform->realUserId() == 0 ? &rootOwned : nullptr;
  std::string failure, ownershipFailure;
  if (!platform->writeFileAtomically(settingsFile, serialised, ownership, &failure,
                                     &ownershipFailure)) {
    return fail(StoreError::Kind::kUnwritable, failure);
  }
  // A file that could not be given to root still holds the new settings.
  if (!ownershipFailure.empty()) logPermissionFailure(ownershipFailure);
  return true;
}

bool PListFileSettings::setFilePermissions(const std::string& path, const std::string& owner,
                                           const std::string& group, int32_t permissions) {
  std::string failure;
  if (platform->setOwnerGroupMode(path, owner, group, static_cast<unsigned>(permissions),
                                  &failure)) {
    return true;
  }
  logPermissionFailure(failure);
  return false;
}

void PListFileSettings::logPermissionFailure(const std::string& failure) {
  platform->log("setFilePermissions failed: " + failure);
}

void PListFileSettings::restartPrefsDaemonForCurrentUser(Platform* system) {
  if (!system) system = Platform::Default();
  // Elsewhere no daemon caches preference files, so there is nothing to restart (and the
  // name need not be looked up).
  if (!system->hasPrefsDaemon()) return;
  restartPrefsDaemonForUser(system->userName(), system);
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
