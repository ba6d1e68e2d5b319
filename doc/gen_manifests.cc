// gen_manifests: writes the manifests from which device-management consoles draw a form
// for the suite's settings, made from the catalogue when the tool is built, as the manual
// page is. For each of three sets of settings (the global ones, the teacher-specific ones
// and those the student agent reads) it writes a JSON Schema manifest for Jamf Pro's
// "Application & Custom Settings" payload (NAME.json) and a preference manifest for
// ProfileCreator and iMazing Profile Editor (NAME.plist).
//
//   gen_manifests FOLDER
//
// Types and limits are those validation applies, asked of it (doc/catalogue_probe.h).

#include <cstdint>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "doc/catalogue_probe.h"
#include "plist/plist.h"
#include "plist/value.h"
#include "settings/plist_file_settings.h"
#include "settings/preference_files.h"
#include "settings/profile.h"
#include "settings/setting.h"

namespace brtconfig {
namespace {

using Json = nlohmann::ordered_json;

// Jamf Pro lists properties by this number, lowest first; steps leave room in between.
constexpr int kPropertyOrderStep = 5;
constexpr char kUuidPattern[] =
    "^[0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-"
    "[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12}$";

struct SettingSet {
  std::string domain;
  const char* subdomain;  // Tells two preference manifests of one domain apart; or null.
  const char* title;
  const char* scope;  // What the profile is installed for, as a sentence.
  bool system;        // Installed for the computer rather than for a user.
  bool (*includes)(const Setting&);
  std::vector<std::string> alsoRead;  // Other domains that take the same settings.

  // The manifests' file name, without extension.
  std::string name() const { return subdomain ? domain + "-" + subdomain : domain; }
  std::string description() const {
    std::string text = std::string(scope) + " The same settings apply in ";
    for (size_t i = 0; i < alsoRead.size(); ++i) {
      if (i > 0) text += i + 1 == alsoRead.size() ? " and " : ", ";
      text += alsoRead[i];
    }
    return text + ".";
  }
};

bool IsGlobal(const Setting& setting) { return setting.settingType == GlobalSetting; }
bool IsTeacher(const Setting& setting) { return setting.settingType == UserSetting; }
bool IsStudent(const Setting& setting) { return setting.appliesToStudents; }

// The domains of `names` after the first.
std::vector<std::string> OtherDomains(const char* const* begin, const char* const* end) {
  std::vector<std::string> domains;
  for (const char* const* name = begin + 1; name != end; ++name) {
    domains.push_back(PreferenceDomainOfFile(*name));
  }
  return domains;
}

std::vector<SettingSet> Sets() {
  const std::string teacher = PreferenceDomainOfFile(kTeacherFileNames[0]);
  const std::string student = PreferenceDomainOfFile(kStudentFileNames[0]);
  const std::vector<std::string> teacherAlso =
      OtherDomains(std::begin(kTeacherFileNames), std::end(kTeacherFileNames));
  const std::vector<std::string> studentAlso =
      OtherDomains(std::begin(kStudentFileNames), std::end(kStudentFileNames));
  return {
      {teacher, "global", "Teacher: global settings",
       "The Teacher's settings for every user of the computer: install for the computer "
       "(System scope).",
       true, IsGlobal, teacherAlso},
      {teacher, "teacher", "Teacher: teacher-specific settings",
       "The Teacher's settings of one teacher: install for the user (User scope).", false,
       IsTeacher, teacherAlso},
      {student, nullptr, "Student: settings",
       "The settings the student agent reads: install for the computer (System scope).", true,
       IsStudent, studentAlso},
  };
}

// What a list setting takes: how many elements, and a pattern each must match.
struct ListRule {
  size_t shortest;
  size_t longest;
  std::string element;
};

ListRule ListRuleOf(const Setting& setting) {
  if (std::string_view(setting.key) == "subnets") {
    const std::string part = DecimalRangePattern(0, 255);
    return {ShortestAcceptedList(setting, "10.0.0.1"), LongestAcceptedList(setting, "10.0.0.1"),
            "^(?:" + part + "\\.){3}" + part + "$"};
  }
  return {ShortestAcceptedList(setting, "1"), LongestAcceptedList(setting, "1"),
          "^" +
              DecimalRangePattern(static_cast<uint32_t>(setting.minValue),
                                  static_cast<uint32_t>(setting.maxValue)) +
              "$"};
}

Json JamfProperty(const Setting& setting, int order) {
  Json property = Json::object();
  property["title"] = setting.key;
  property["description"] = setting.hint;
  property["property_order"] = order;
  if (HasType(setting, kBoolType)) {
    property["type"] = "boolean";
  } else if (HasType(setting, kIntType)) {
    property["type"] = "integer";
    property["minimum"] = setting.minValue;
    property["maximum"] = LargestAccepted(setting);
  } else if (HasType(setting, kStringType)) {
    property["type"] = "string";
    property["minLength"] = 1;
  } else {
    const ListRule rule = ListRuleOf(setting);
    property["type"] = "array";
    property["items"] = Json{{"type", "string"}, {"pattern", rule.element}};
    if (rule.shortest > 0) property["minItems"] = rule.shortest;
    property["maxItems"] = rule.longest;
  }
  return property;
}

std::string JamfManifest(const SettingSet& set) {
  Json manifest = Json::object();
  manifest["title"] = std::string(set.title) + " (" + set.domain + ")";
  manifest["description"] = set.description();
  manifest["type"] = "object";
  // Properties left empty in the form are left out of the profile.
  manifest["options"] = Json{{"remove_empty_properties", true}};
  Json properties = Json::object();
  int order = 0;
  for (const Setting& setting : PListFileSettings::allSettings()) {
    if (!set.includes(setting)) continue;
    order += kPropertyOrderStep;
    properties[setting.key] = JamfProperty(setting, order);
  }
  manifest["properties"] = properties;
  return manifest.dump(2) + "\n";
}

plist::Value Strings(std::initializer_list<const char*> items) {
  plist::Array array;
  for (const char* item : items) array.emplace_back(item);
  return plist::Value(std::move(array));
}

plist::Value PayloadKey(const char* name, const char* title, const char* description,
                        plist::Value value, bool required, const char* format = nullptr) {
  plist::Dictionary key;
  key.append("pfm_name", name);
  key.append("pfm_title", title);
  key.append("pfm_description", description);
  key.append("pfm_type", value.isString() ? "string" : "integer");
  key.append("pfm_default", std::move(value));
  if (required) key.append("pfm_require", "always");
  if (format) key.append("pfm_format", format);
  return plist::Value(std::move(key));
}

plist::Value PreferenceSubkey(const Setting& setting) {
  plist::Dictionary key;
  key.append("pfm_name", setting.key);
  key.append("pfm_title", setting.key);
  key.append("pfm_description", setting.hint);
  if (HasType(setting, kBoolType)) {
    key.append("pfm_type", "boolean");
  } else if (HasType(setting, kIntType)) {
    key.append("pfm_type", "integer");
    key.append("pfm_range_min", plist::Value::fromInteger(setting.minValue));
    key.append("pfm_range_max", plist::Value::fromInteger(LargestAccepted(setting)));
  } else if (HasType(setting, kStringType)) {
    key.append("pfm_type", "string");
  } else {
    const ListRule rule = ListRuleOf(setting);
    key.append("pfm_type", "array");
    if (rule.shortest > 0) {
      key.append("pfm_repetition_min",
                 plist::Value::fromInteger(static_cast<int64_t>(rule.shortest)));
    }
    key.append("pfm_repetition_max", plist::Value::fromInteger(static_cast<int64_t>(rule.longest)));
    plist::Dictionary element;
    element.append("pfm_title", setting.key);
    element.append("pfm_type", "string");
    element.append("pfm_format", rule.element);
    plist::Array elements;
    elements.emplace_back(std::move(element));
    key.append("pfm_subkeys", plist::Value(std::move(elements)));
  }
  return plist::Value(std::move(key));
}

std::string PreferenceManifest(const SettingSet& set) {
  // The payload keys every preference manifest describes first, then the settings.
  plist::Array subkeys;
  subkeys.push_back(PayloadKey("PayloadDescription", "Payload Description",
                               "What the payload does, as shown with it.", plist::Value(set.title),
                               false));
  subkeys.push_back(PayloadKey("PayloadDisplayName", "Payload Display Name",
                               "The payload's name, as shown with it.", plist::Value(set.title),
                               true));
  subkeys.push_back(PayloadKey("PayloadIdentifier", "Payload Identifier",
                               "The payload's reverse-DNS identifier, unique in the profile.",
                               plist::Value(set.domain), true));
  subkeys.push_back(PayloadKey("PayloadType", "Payload Type", "The preference domain.",
                               plist::Value(set.domain), true));
  subkeys.push_back(PayloadKey("PayloadUUID", "Payload UUID", "The payload's unique identifier.",
                               plist::Value(""), true, kUuidPattern));
  subkeys.push_back(PayloadKey("PayloadVersion", "Payload Version", "The payload's version.",
                               plist::Value::fromInteger(1), true));
  for (const Setting& setting : PListFileSettings::allSettings()) {
    if (set.includes(setting)) subkeys.push_back(PreferenceSubkey(setting));
  }
  plist::Dictionary manifest;
  manifest.append("pfm_description", set.description());
  manifest.append("pfm_domain", set.domain);
  manifest.append("pfm_format_version", plist::Value::fromInteger(1));
  manifest.append("pfm_platforms", Strings({"macOS"}));
  if (set.subdomain) manifest.append("pfm_subdomain", set.subdomain);
  manifest.append("pfm_subkeys", plist::Value(std::move(subkeys)));
  manifest.append("pfm_targets", set.system ? Strings({"system", "system-managed"})
                                            : Strings({"user", "user-managed"}));
  manifest.append("pfm_title", set.title);
  manifest.append("pfm_unique", true);
  manifest.append("pfm_version", plist::Value::fromInteger(1));
  std::string xml;
  plist::Write(plist::Value(std::move(manifest)), plist::Format::kXml, &xml, nullptr);
  return xml;
}

bool WriteFile(const std::string& path, const std::string& text) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  return std::fclose(file) == 0 && written;
}

}  // namespace
}  // namespace brtconfig

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: gen_manifests FOLDER\n", stderr);
    return 1;
  }
  const std::string folder = argv[1];
  for (const brtconfig::SettingSet& set : brtconfig::Sets()) {
    const std::string base = folder + "/" + set.name();
    if (!brtconfig::WriteFile(base + ".json", brtconfig::JamfManifest(set)) ||
        !brtconfig::WriteFile(base + ".plist", brtconfig::PreferenceManifest(set))) {
      std::fprintf(stderr, "gen_manifests: cannot write %s\n", base.c_str());
      return 1;
    }
  }
  return 0;
}
