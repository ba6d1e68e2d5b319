// Configuration profiles and the content-named UUIDs that let a server tell a changed
// profile from one it has installed.
#include "settings/profile.h"

#include <initializer_list>
#include <string>
#include <utility>

#include "plist/plist.h"
#include "settings/plist_file_settings.h"
#include "settings/preference_files.h"
#include "settings/uuid.h"
#include "text/utf.h"

namespace brtconfig {
namespace {

constexpr std::string_view kPayloadEnding = ".preferences";

const char* SideName(SettingType side) { return side == UserSetting ? "teacher" : "global"; }
const char* ScopeName(SettingType side) { return side == UserSetting ? "User" : "System"; }

bool IsIdentifierCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
}

plist::Value DictionaryOf(std::initializer_list<std::pair<const char*, plist::Value>> entries) {
  plist::Dictionary dictionary;
  dictionary.reserve(entries.size());
  for (const auto& entry : entries) dictionary.append(entry.first, entry.second);
  return plist::Value(std::move(dictionary));
}

plist::Value ArrayOf(plist::Value value) {
  plist::Array array;
  array.push_back(std::move(value));
  return plist::Value(std::move(array));
}

// The whole profile with the two UUIDs given.
plist::Value Assemble(const ProfileRequest& request, const std::string& identifier,
                      const std::string& uuid, const std::string& payloadUuid) {
  plist::Dictionary domains;
  domains.reserve(request.domains.size());
  for (const ProfileDomain& domain : request.domains) {
    domains.set(
        domain.domain,
        DictionaryOf({{"Forced", ArrayOf(DictionaryOf({{"mcx_preference_settings",
                                                        plist::Value(domain.settings)}}))}}));
  }
  // Keys in the order the XML writer lists them (by UTF-16 code units), so that the
  // binary form, which keeps the order built, reads the same.
  plist::Value payload = DictionaryOf({
      {"PayloadContent", plist::Value(std::move(domains))},
      {"PayloadIdentifier", plist::Value(identifier + std::string(kPayloadEnding))},
      {"PayloadType", plist::Value("com.apple.ManagedClient.preferences")},
      {"PayloadUUID", plist::Value(payloadUuid)},
      {"PayloadVersion", plist::Value::fromInteger(1)},
  });
  plist::Dictionary profile;
  profile.append("PayloadContent", ArrayOf(std::move(payload)));
  if (request.description) profile.append("PayloadDescription", *request.description);
  profile.append("PayloadDisplayName",
                 request.displayName.value_or(std::string("brtconfig: ") + SideName(request.side) +
                                              " settings (" + identifier + ")"));
  profile.append("PayloadIdentifier", identifier);
  if (request.organization) profile.append("PayloadOrganization", *request.organization);
  if (request.removalDisallowed) profile.append("PayloadRemovalDisallowed", true);
  profile.append("PayloadScope", ScopeName(request.side));
  profile.append("PayloadType", "Configuration");
  profile.append("PayloadUUID", uuid);
  profile.append("PayloadVersion", plist::Value::fromInteger(1));
  return plist::Value(std::move(profile));
}

}  // namespace

std::string ProfileIdentifier(std::string_view prefix, SettingType side) {
  return std::string(prefix) + "." + SideName(side);
}

bool IsUsableIdentifierPrefix(std::string_view prefix) {
  if (prefix.size() > kMaxIdentifierPrefixLength) return false;
  size_t parts = 1;
  size_t partLength = 0;
  for (const char c : prefix) {
    if (c == '.') {
      if (partLength == 0) return false;
      ++parts;
      partLength = 0;
    } else if (IsIdentifierCharacter(c)) {
      ++partLength;
    } else {
      return false;
    }
  }
  return parts >= 2 && partLength > 0;
}

bool IsXmlText(std::string_view text) {
  if (!text::IsValidUtf8(text)) return false;
  for (size_t pos = 0; pos < text.size();) {
    const char32_t cp = text::DecodeUtf8(text, &pos);
    if (cp < 0x20 && cp != '\t' && cp != '\n' && cp != '\r') return false;
    if (cp == 0xFFFE || cp == 0xFFFF) return false;
  }
  return true;
}

bool IsXmlValue(const plist::Value& value) {
  switch (value.kind()) {
    case plist::Kind::kString:
      return IsXmlText(value.string());
    case plist::Kind::kArray:
      for (const plist::Value& element : value.array()) {
        if (!IsXmlValue(element)) return false;
      }
      return true;
    case plist::Kind::kDictionary: {
      const plist::Dictionary& dictionary = value.dictionary();
      for (size_t i = 0; i < dictionary.size(); ++i) {
        if (!IsXmlText(dictionary.keyAt(i)) || !IsXmlValue(dictionary.valueAt(i))) return false;
      }
      return true;
    }
    default:
      return true;
  }
}

std::optional<std::string> SettingXmlCannotCarry(const std::vector<ProfileDomain>& domains) {
  for (const ProfileDomain& domain : domains) {
    for (size_t i = 0; i < domain.settings.size(); ++i) {
      if (!IsXmlValue(domain.settings.valueAt(i))) return std::string(domain.settings.keyAt(i));
    }
  }
  return std::nullopt;
}

std::string PreferenceDomainOfFile(std::string_view path) {
  const size_t slash = path.rfind('/');
  if (slash != std::string_view::npos) path.remove_prefix(slash + 1);
  constexpr std::string_view kSuffix = ".plist";
  if (path.size() > kSuffix.size() && path.substr(path.size() - kSuffix.size()) == kSuffix) {
    path.remove_suffix(kSuffix.size());
  }
  return std::string(path);
}

plist::Value MakeProfile(const ProfileRequest& request) {
  const std::string identifier = ProfileIdentifier(request.identifierPrefix, request.side);
  // The names are the identifiers and the profile without UUIDs; the two identifiers
  // differ, and so do the two UUIDs.
  std::string content;
  plist::Write(Assemble(request, identifier, "", ""), plist::Format::kXml, &content, nullptr);
  const Uuid space = NameBasedUuid(kDnsNamespace, "brtconfig.brellan.com");
  const std::string payloadUuid =
      UuidText(NameBasedUuid(space, identifier + std::string(kPayloadEnding) + "\n" + content));
  const std::string uuid =
      request.uuid.value_or(UuidText(NameBasedUuid(space, identifier + "\n" + content)));
  return Assemble(request, identifier, uuid, payloadUuid);
}

bool ProfileXml(const plist::Value& profile, std::string* xml) {
  std::string raw;
  if (!plist::Write(profile, plist::Format::kXml, &raw, nullptr)) return false;
  // The writer lays out markup with line feeds and tabs only, so every carriage return
  // in its output lies inside the text of a value.
  xml->clear();
  xml->reserve(raw.size());
  for (const char c : raw) {
    if (c == '\r') {
      xml->append("&#13;");
    } else {
      xml->push_back(c);
    }
  }
  return true;
}

std::vector<ProfileDomain> ProfileDomains(const plist::Dictionary& settings) {
  std::vector<ProfileDomain> domains;
  for (const char* name : kTeacherFileNames) {
    domains.push_back({PreferenceDomainOfFile(name), settings});
  }
  plist::Dictionary studentSettings;
  for (size_t i = 0; i < settings.size(); ++i) {
    const std::string_view key = settings.keyAt(i);
    if (PListFileSettings::settingAppliesToStudents(key)) {
      studentSettings.append(key, settings.valueAt(i));
    }
  }
  // A domain is listed only with something to force.
  if (!studentSettings.empty()) {
    for (const char* name : kStudentFileNames) {
      domains.push_back({PreferenceDomainOfFile(name), studentSettings});
    }
  }
  return domains;
}

}  // namespace brtconfig
