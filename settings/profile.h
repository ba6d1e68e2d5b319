// Configuration profiles that enforce settings through managed preferences.
#ifndef BRTCONFIG_SETTINGS_PROFILE_H_
#define BRTCONFIG_SETTINGS_PROFILE_H_

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "plist/value.h"
#include "settings/setting.h"

namespace brtconfig {

// The settings a profile forces in one preference domain, such as "com.brellan.teacher":
// each key with its value typed as the tool stores it.
struct ProfileDomain {
  std::string domain;
  plist::Dictionary settings;
};

// The identifier prefix a profile has unless the user names one.
inline constexpr char kDefaultIdentifierPrefix[] = "com.brellan.brtconfig";
// The longest identifier a profile or payload may have, and so the longest prefix: one
// that leaves room for the longest ending appended to it, ".teacher.preferences".
inline constexpr size_t kMaxIdentifierLength = 255;
inline constexpr size_t kMaxIdentifierPrefixLength =
    kMaxIdentifierLength - (sizeof ".teacher.preferences" - 1);

struct ProfileRequest {
  // GlobalSetting gives PayloadScope "System", UserSetting gives "User".
  SettingType side = GlobalSetting;
  // REQUIRES: IsUsableIdentifierPrefix. The profile's PayloadIdentifier is the prefix and
  // the side, its payload's that and ".preferences".
  std::string identifierPrefix = kDefaultIdentifierPrefix;
  // Nothing gives the default name, which names the side and the identifier.
  std::optional<std::string> displayName;
  std::optional<std::string> organization;
  std::optional<std::string> description;
  bool removalDisallowed = false;
  // PayloadUUID of the profile as given (upper case); nothing makes it follow the
  // content, as the payload's always does.
  std::optional<std::string> uuid;
  // In the order they are to be listed (the XML writer sorts keys anyway).
  std::vector<ProfileDomain> domains;
};

// The identifier of the profile of `side` with the prefix: "PREFIX.global" or
// "PREFIX.teacher".
std::string ProfileIdentifier(std::string_view prefix, SettingType side);
// True for a reverse-DNS prefix: ASCII letters, digits and hyphens in at least two parts
// separated by single dots, short enough that every identifier made from it keeps to
// kMaxIdentifierLength.
bool IsUsableIdentifierPrefix(std::string_view prefix);
// True when XML 1.0 can carry `text` exactly: well-formed UTF-8 with no control
// character other than tab, line feed and carriage return, and neither U+FFFE nor U+FFFF.
bool IsXmlText(std::string_view text);
// IsXmlText for every string and dictionary key in `value`.
bool IsXmlValue(const plist::Value& value);
// The first setting among `domains` holding a text (alone or in a list) that XML 1.0
// cannot carry, or nothing.
std::optional<std::string> SettingXmlCannotCarry(const std::vector<ProfileDomain>& domains);
// The preference domain of a preference file: its name without folder and ".plist".
std::string PreferenceDomainOfFile(std::string_view path);

// The domains a profile forcing `settings` (each key with its value typed as the store
// keeps it) lists: every teacher-side domain with every setting, and the student
// settings domains with the settings that concern students, when there are any.
std::vector<ProfileDomain> ProfileDomains(const plist::Dictionary& settings);

// The profile, as a dictionary whose keys stand in the order the XML writer lists them:
//   PayloadContent      [ {
//       PayloadContent      { DOMAIN: { Forced: [ { mcx_preference_settings: {KEY: value} } ] } }
//       PayloadIdentifier   IDENTIFIER.preferences
//       PayloadType         com.apple.ManagedClient.preferences
//       PayloadUUID         name-based, from the payload identifier and the content
//       PayloadVersion      1 } ]
//   PayloadDescription  DESCRIPTION (when given)
//   PayloadDisplayName  DISPLAY NAME
//   PayloadIdentifier   IDENTIFIER
//   PayloadOrganization ORGANIZATION (when given)
//   PayloadRemovalDisallowed true (when asked for)
//   PayloadScope        System | User
//   PayloadType         Configuration
//   PayloadUUID         the given UUID, or name-based from the identifier and the content
//   PayloadVersion      1
// The content that names a UUID is the whole profile with both UUIDs left empty, so
// that the same request always gives the same profile and any change new UUIDs.
plist::Value MakeProfile(const ProfileRequest& request);

// The profile as an XML property list, with each carriage return as a character
// reference, which every XML parser keeps where it turns a raw one into a line feed.
// False when the writer refuses a value (text that is not UTF-8).
bool ProfileXml(const plist::Value& profile, std::string* xml);

}  // namespace brtconfig

#endif  // BRTCONFIG_SETTINGS_PROFILE_H_
