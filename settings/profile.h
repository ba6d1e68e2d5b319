// Configuration profiles that enforce settings through managed preferences, and the
// UUIDs that name them.
#ifndef BRTCONFIG_SETTINGS_PROFILE_H_
#define BRTCONFIG_SETTINGS_PROFILE_H_

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "plist/value.h"
#include "settings/setting.h"

namespace brtconfig {

class Platform;

// The settings a profile forces in one preference domain, such as "com.brellan.teacher":
// each key with its value typed as the tool stores it.
struct ProfileDomain {
  std::string domain;
  plist::Dictionary settings;
};

struct ProfileRequest {
  // GlobalSetting gives PayloadScope "System", UserSetting gives "User".
  int8_t side = GlobalSetting;
  // The profile's PayloadIdentifier; the preferences payload's is this + ".preferences".
  std::string identifier;
  std::string displayName;
  // PayloadUUID of the profile and of its preferences payload, as they are written.
  std::string uuid;
  std::string payloadUuid;
  // In the order they are to be listed (the XML writer sorts keys anyway).
  std::vector<ProfileDomain> domains;
};

// The identifier a profile of `side` has unless the user names one:
// "com.brellan.brtconfig.global" or "com.brellan.brtconfig.teacher".
std::string DefaultProfileIdentifier(int8_t side);
// "brtconfig: global settings" or "brtconfig: teacher settings".
std::string ProfileDisplayName(int8_t side);
// The preference domain of a preference file: its name without folder and ".plist".
std::string PreferenceDomainOfFile(std::string_view path);

// The profile, as a dictionary whose keys stand in the order the XML writer lists them:
//   PayloadContent      [ {
//       PayloadContent      { DOMAIN: { Forced: [ { mcx_preference_settings: {KEY: value} } ] } }
//       PayloadIdentifier   IDENTIFIER.preferences
//       PayloadType         com.apple.ManagedClient.preferences
//       PayloadUUID         PAYLOAD-UUID
//       PayloadVersion      1 } ]
//   PayloadDisplayName  DISPLAY NAME
//   PayloadIdentifier   IDENTIFIER
//   PayloadScope        System | User
//   PayloadType         Configuration
//   PayloadUUID         UUID
//   PayloadVersion      1
plist::Value MakeProfile(const ProfileRequest& request);

// ---- UUIDs: "8-4-4-4-12" upper-case hexadecimal, as the platform writes them. ----

// The version-4 UUID made of 16 random bytes; the version and variant bits of `bytes`
// are overwritten.
std::string FormatUuidV4(const unsigned char (&bytes)[16]);

// A fresh version-4 UUID from the platform's random source; nothing, with `*error` set,
// when the source fails.
std::optional<std::string> RandomUuid(Platform* platform, std::string* error);

// `text` as a UUID of any version, in upper case, when it is 32 hexadecimal digits of
// either case grouped 8-4-4-4-12 by hyphens; nothing otherwise.
std::optional<std::string> NormalizeUuid(std::string_view text);

// The preferences payload's UUID for a profile whose UUID is `uuid` (as NormalizeUuid
// takes it): a version-4 UUID whose other bits are a fixed scrambling of all 128 bits of
// `uuid`, so that the same profile UUID always gives the same payload UUID, and two
// profile UUIDs (or a profile's and its payload's) differ as random ones do. "" when
// `uuid` is no UUID.
std::string DerivePayloadUuid(std::string_view uuid);

}  // namespace brtconfig

#endif  // BRTCONFIG_SETTINGS_PROFILE_H_
