#include "tool/report.h"

#include <cmath>
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string_view>
#include <vector>

#include "plist/plist.h"
#include "settings/plist_file_settings.h"
#include "settings/profile.h"
#include "text/escape.h"
#include "text/utf.h"
#include "settings/preference_files.h"
#include "tool/engine.h"
#include "tool/managed.h"

namespace brtconfig {
namespace {

using Json = nlohmann::ordered_json;

// One setting as read for a report.
struct ReportedSetting {
  const Setting* setting;
  std::optional<plist::Value> value;  // Nothing when the key is not set.
  std::optional<ForcedValue> forced;
};

// The preference files of a run, read: values come from the first.
struct ReadFiles {
  std::vector<std::string> paths;
  std::unique_ptr<PListFileSettings> first;  // Null without files or when it failed.
  bool ok = true;
};

// Opens every teacher-side file of the run, as a query does, reporting each that cannot
// be read.
ReadFiles ReadAll(const Run& run) {
  ReadFiles files;
  files.paths = PreferenceFilePaths(run.platform, run.prefsFolder);
  for (size_t i = 0; i < files.paths.size(); ++i) {
    auto settings = std::make_unique<PListFileSettings>(files.paths[i], run.platform);
    if (!OpenTeacherFile(settings.get(), false, run)) {
      files.ok = false;
      continue;
    }
    if (i == 0) files.first = std::move(settings);
  }
  return files;
}

ReportedSetting EntryFor(const Setting& setting, const ReadFiles& files,
                         const ManagedPreferences& managed) {
  ReportedSetting entry{&setting, std::nullopt, managed.forcedValue(setting.key, files.paths)};
  if (files.first) entry.value = files.first->storedValue(setting.key);
  return entry;
}

const char* KindName(const Setting& setting) {
  const std::string_view type = setting.valueType;
  if (type == kBoolType) return "boolean";
  if (type == kIntType) return "integer";
  if (type == kArrayType) return "list";
  return "string";
}

// A value as JSON, typed as in the file; kinds JSON has no place for (dates, data,
// UIDs, numbers that are not finite) as their display text.
Json ToJson(const plist::Value& value) {
  switch (value.kind()) {
    case plist::Kind::kString:
      return Json(std::string(value.string()));
    case plist::Kind::kInteger:
      if (value.integer().isUnsigned) return Json(value.integer().bits);
      return Json(value.integer().asSigned());
    case plist::Kind::kReal:
      if (!std::isfinite(value.real().value)) return Json(ElementText(value));
      return Json(value.real().value);
    case plist::Kind::kBoolean:
      return Json(value.boolean());
    case plist::Kind::kArray: {
      Json list = Json::array();
      for (const plist::Value& element : value.array()) list.push_back(ToJson(element));
      return list;
    }
    case plist::Kind::kDictionary: {
      Json object = Json::object();
      const plist::Dictionary& dict = value.dictionary();
      for (size_t i = 0; i < dict.size(); ++i) {
        object[std::string(dict.keyAt(i))] = ToJson(dict.valueAt(i));
      }
      return object;
    }
    default:
      return Json(ElementText(value));
  }
}

// The members of one setting's object, after "key" where there is one.
void AddMembers(const ReportedSetting& entry, const ReadFiles& files, Json* object) {
  (*object)["value"] = entry.value ? ToJson(*entry.value) : Json(nullptr);
  (*object)["kind"] = KindName(*entry.setting);
  (*object)["file"] = files.first ? Json(files.first->settingsFile) : Json(nullptr);
  (*object)["forced"] = entry.forced.has_value();
  if (entry.forced) (*object)["forcedValue"] = ToJson(entry.forced->value);
}

// A value for a property-list listing: as in the file, except for the kinds that the
// JSON listing shows as text (dates, data, UIDs), so that both carry the same content.
plist::Value ForListing(const plist::Value& value) {
  switch (value.kind()) {
    case plist::Kind::kDate:
    case plist::Kind::kData:
    case plist::Kind::kUid:
      return plist::Value(ElementText(value));
    case plist::Kind::kArray: {
      plist::Array list;
      for (const plist::Value& element : value.array()) list.push_back(ForListing(element));
      return plist::Value(std::move(list));
    }
    case plist::Kind::kDictionary: {
      plist::Dictionary dict;
      const plist::Dictionary& from = value.dictionary();
      for (size_t i = 0; i < from.size(); ++i) {
        dict.append(from.keyAt(i), ForListing(from.valueAt(i)));
      }
      return plist::Value(std::move(dict));
    }
    default:
      return value;
  }
}

// The members of AddMembers for a property list, which has no null: a value that is not
// set, or a file that does not exist, has no member.
plist::Value ListingEntry(const ReportedSetting& entry, const ReadFiles& files) {
  plist::Dictionary members;
  if (entry.value) members.append("value", ForListing(*entry.value));
  members.append("kind", KindName(*entry.setting));
  if (files.first) members.append("file", files.first->settingsFile);
  members.append("forced", entry.forced.has_value());
  if (entry.forced) members.append("forcedValue", ForListing(entry.forced->value));
  return plist::Value(std::move(members));
}

// `text`, a writer's output, with each hidden character (text::IsHiddenCharacter) from
// `first` up written by `escape`. The writers escape what their formats require and
// leave these as they are; they occur only inside strings, where any reader takes the
// escape for the same character.
template <typename Escape>
std::string EscapeHidden(std::string_view text, char32_t first, Escape escape) {
  std::string out;
  out.reserve(text.size());
  for (size_t pos = 0; pos < text.size();) {
    const size_t start = pos;
    const char32_t cp = text::DecodeUtf8(text, &pos);
    if (cp >= first && text::IsHiddenCharacter(cp)) {
      char code[16];
      out.append(code, escape(cp, code, sizeof code));
    } else {
      out.append(text, start, pos - start);
    }
  }
  return out;
}

// Writes `value` to standard output as an XML property list, laid out as the writer lays
// out files, except that a carriage return, which XML readers would read as a line
// feed, and the other hidden characters are written as character references. Answers
// false, printing nothing, when XML cannot carry a text of `value`.
bool PrintXml(const plist::Value& value) {
  std::string text;
  if (!IsXmlValue(value) || !plist::Write(value, plist::Format::kXml, &text, nullptr))
    return false;
  text = EscapeHidden(text, U'\r', [](char32_t cp, char* code, size_t size) {
    return static_cast<size_t>(
        snprintf(code, size, cp == U'\r' ? "&#%u;" : "&#x%04X;", static_cast<unsigned>(cp)));
  });
  fwrite(text.data(), 1, text.size(), stdout);
  return true;
}

// Writes `json` to standard output, with the hidden characters that JSON lets through
// raw (DEL and above) escaped as the writer escapes the others ("\u202e"), above U+FFFF
// as a pair of them.
void PrintJson(const Json& json) {
  // Text that is not UTF-8 cannot reach here from the readers, but is replaced rather
  // than thrown about should it ever.
  const std::string dump = json.dump(2, ' ', false, Json::error_handler_t::replace);
  const std::string text = EscapeHidden(dump, 0x7F, [](char32_t cp, char* code, size_t size) {
    const unsigned value = static_cast<unsigned>(cp);
    const int length =
        value <= 0xFFFF ? snprintf(code, size, "\\u%04x", value)
                        : snprintf(code, size, "\\u%04x\\u%04x", 0xD800 + ((value - 0x10000) >> 10),
                                   0xDC00 + ((value - 0x10000) & 0x3FF));
    return static_cast<size_t>(length);
  });
  printf("%s\n", text.c_str());
}

// "KEY = value" or "KEY is not set.", as a query prints it, and what a profile forces.
void PrintLine(const ReportedSetting& entry, const Run& run) {
  std::optional<std::string> shown;
  if (entry.value) shown = DisplayText(*entry.value);
  PrintValue(entry.setting->key, shown, run,
             entry.forced ? "  [a profile forces " + entry.forced->shown + "]" : "");
}

bool Finish(const ReadFiles& files, bool teacherSpecific, const Run& run) {
  TellDaemons(false, teacherSpecific, run);
  return files.ok;
}

}  // namespace

bool ShowSettingAsJson(const std::string& key, const ManagedPreferences& managed, const Run& run) {
  const ReadFiles files = ReadAll(run);
  // As a query, a first file that cannot be read prints nothing.
  if (files.first || files.paths.empty()) {
    Json object = Json::object();
    object["key"] = key;
    AddMembers(EntryFor(*PListFileSettings::settingFromKey(key), files, managed), files, &object);
    PrintJson(object);
  }
  return Finish(files, PListFileSettings::isUserSetting(key), run);
}

bool ListSettings(const ManagedPreferences& managed, const Run& run) {
  const ReadFiles files = ReadAll(run);
  if (files.first || files.paths.empty()) {
    Json all = Json::object();
    plist::Dictionary listing;
    bool carried = true;
    for (const Setting& setting : PListFileSettings::allSettings()) {
      if (setting.settingType != run.side) continue;
      const ReportedSetting entry = EntryFor(setting, files, managed);
      if (run.options.json) {
        AddMembers(entry, files, &all[setting.key]);
      } else if (run.options.plist) {
        plist::Value members = ListingEntry(entry, files);
        // Output that a reader would refuse, or read as other values, is no listing.
        if (!IsXmlValue(members)) {
          fprintf(stderr,
                  "%s cannot be listed as a property list: it holds a character that "
                  "XML cannot carry.\n",
                  ShownText(setting.key, run).c_str());
          carried = false;
        }
        listing.append(setting.key, std::move(members));
      } else {
        PrintLine(entry, run);
      }
    }
    if (run.options.json) PrintJson(all);
    if (run.options.plist && carried) PrintXml(plist::Value(std::move(listing)));
    if (!carried) {
      Finish(files, run.side == UserSetting, run);
      return false;
    }
  }
  return Finish(files, run.side == UserSetting, run);
}

void PrintOutcomeAsJson(const ChangeOutcome& outcome) {
  Json files = Json::array();
  for (const FileOutcome& file : outcome.files) {
    Json changed = Json::object();
    for (const ChangedValue& value : file.changed) {
      Json& entry = changed[value.key];
      entry["old"] = value.before ? ToJson(*value.before) : Json(nullptr);
      entry["new"] = value.after ? ToJson(*value.after) : Json(nullptr);
    }
    Json failure(nullptr);
    if (file.failedStep) failure = Json{{"step", file.failedStep}, {"cause", file.cause}};
    files.push_back(Json{{"file", file.path},
                         {"changed", std::move(changed)},
                         {"inPlace", file.inPlace},
                         {"failure", std::move(failure)}});
  }
  PrintJson(Json{{"changed", outcome.changed}, {"files", std::move(files)}});
}

bool ExportProfile(const std::vector<Change>* fromApply, const Run& run) {
  std::vector<Change> changes;
  ReadFiles files;
  if (fromApply) {
    changes = *fromApply;
  } else {
    files = ReadAll(run);
    if (!files.first && !files.paths.empty()) return false;
    // Only values that a change could set go in: a file may hold anything.
    for (const Setting& setting : PListFileSettings::allSettings()) {
      if (setting.settingType != run.side || !files.first) continue;
      std::optional<plist::Value> value = files.first->storedValue(setting.key);
      if (value && PListFileSettings::isValidValueForSetting(&*value, setting.key)) {
        changes.push_back({setting.key, std::move(*value)});
      }
    }
  }

  // The values typed as the store writes them.
  plist::Dictionary settings;
  for (const Change& change : changes) {
    if (auto stored = PListFileSettings::storedForm(change.value, change.key)) {
      settings.set(change.key, std::move(*stored));
    }
  }

  if (settings.empty()) {
    // An empty profile would take away what an earlier one of its identifier forced.
    fprintf(stderr, "Nothing to export: the profile would force no setting.\n");
    return false;
  }

  ProfileRequest request;
  request.side = run.side;
  request.identifierPrefix = run.options.identifier.value_or(kDefaultIdentifierPrefix);
  request.displayName = run.options.displayName;
  request.organization = run.options.organization;
  request.description = run.options.description;
  request.removalDisallowed = run.options.removalDisallowed;
  request.uuid = run.options.uuid;
  request.domains = ProfileDomains(settings);

  if (const std::optional<std::string> key = SettingXmlCannotCarry(request.domains)) {
    fprintf(stderr, "The value of %s holds a character that a profile cannot carry.\n",
            key->c_str());
    return false;
  }
  std::string xml;
  if (!ProfileXml(MakeProfile(request), &xml)) {
    fprintf(stderr, "Unable to write the profile.\n");
    return false;
  }
  fwrite(xml.data(), 1, xml.size(), stdout);
  return files.ok;
}

}  // namespace brtconfig
