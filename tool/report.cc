#include "tool/report.h"

#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <optional>
#include <string_view>
#include <vector>

#include "settings/plist_file_settings.h"
#include "tool/fan_out.h"
#include "tool/managed.h"

namespace brtconfig {
namespace {

using Json = nlohmann::ordered_json;

// One setting as read for a report.
struct Entry {
  const Setting* setting;
  const plist::Value* value;  // Null when the key is not set.
  std::optional<ForcedValue> forced;
};

// The preference files of a run, read: values come from the first.
struct ReadFiles {
  std::vector<std::string> paths;
  std::optional<PListFileSettings> first;  // Absent without files or when it failed.
  bool ok = true;
};

// Opens every teacher-side file of the run, as a query does, reporting each that cannot
// be read.
ReadFiles ReadAll(const Run& run) {
  ReadFiles files;
  files.paths = PreferenceFilePaths(run);
  for (size_t i = 0; i < files.paths.size(); ++i) {
    PListFileSettings settings(files.paths[i], run.platform);
    if (!settings.open()) {
      fprintf(stderr, "Unable to open teacher preference file.\n");
      files.ok = false;
      continue;
    }
    if (i == 0) files.first = std::move(settings);
  }
  return files;
}

Entry EntryFor(const Setting& setting, const ReadFiles& files, const ManagedPreferences& managed) {
  Entry entry{&setting, nullptr, managed.forcedValue(setting.key, files.paths)};
  if (files.first) entry.value = files.first->settingsDict->find(setting.key);
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
void AddMembers(const Entry& entry, const ReadFiles& files, Json* object) {
  (*object)["value"] = entry.value ? ToJson(*entry.value) : Json(nullptr);
  (*object)["kind"] = KindName(*entry.setting);
  (*object)["file"] = files.first ? Json(files.first->settingsFile) : Json(nullptr);
  (*object)["forced"] = entry.forced.has_value();
  if (entry.forced) (*object)["forcedValue"] = ToJson(entry.forced->value);
}

void PrintJson(const Json& json) {
  // Text that is not UTF-8 cannot reach here from the readers, but is replaced rather
  // than thrown about should it ever.
  const std::string text = json.dump(2, ' ', false, Json::error_handler_t::replace);
  printf("%s\n", text.c_str());
}

// "KEY = value" or "KEY is not set.", as a query prints it, and what a profile forces.
void PrintLine(const Entry& entry) {
  const char* key = entry.setting->key;
  const std::string shown = entry.value ? DisplayText(*entry.value) : std::string();
  if (shown.empty()) {
    printf("%s is not set.", key);
  } else {
    printf("%s = %s", key, shown.c_str());
  }
  if (entry.forced) printf("  [a profile forces %s]", entry.forced->shown.c_str());
  printf("\n");
}

int Finish(const ReadFiles& files, bool teacherSpecific, const Run& run) {
  TellDaemons(false, teacherSpecific, run);
  return files.ok ? 0 : 1;
}

}  // namespace

int ShowSettingAsJson(const std::string& key, const ManagedPreferences& managed, const Run& run) {
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

int ListSettings(const ManagedPreferences& managed, const Run& run) {
  const ReadFiles files = ReadAll(run);
  if (files.first || files.paths.empty()) {
    const int8_t side = run.teacherSide ? UserSetting : GlobalSetting;
    Json all = Json::object();
    for (const Setting& setting : PListFileSettings::allSettings()) {
      if (setting.settingType != side) continue;
      const Entry entry = EntryFor(setting, files, managed);
      if (run.options.json) {
        AddMembers(entry, files, &all[setting.key]);
      } else {
        PrintLine(entry);
      }
    }
    if (run.options.json) PrintJson(all);
  }
  return Finish(files, run.teacherSide, run);
}

}  // namespace brtconfig
