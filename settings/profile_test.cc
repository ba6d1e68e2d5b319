#include "settings/profile.h"

#include <string>

#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "plist/plist.h"
#include "testing/fake_platform.h"

namespace brtconfig {
namespace {

using ::testing::MatchesRegex;

constexpr char kUuidV4Pattern[] =
    "[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}";

// The whole layout, as the XML writer lays it out: a change of key, type or nesting shows.
TEST(ProfileTest, ForcesEachDomainsSettingsInOnePreferencesPayload) {
  ProfileRequest request;
  request.side = UserSetting;
  request.identifier = DefaultProfileIdentifier(UserSetting);
  request.displayName = ProfileDisplayName(UserSetting);
  request.uuid = "0A1B2C3D-4E5F-4061-8273-8495A6B7C8D9";
  request.payloadUuid = DerivePayloadUuid(request.uuid);
  plist::Dictionary teacher;
  teacher.append("thumbnailDelay", plist::Value::fromInteger(5000));
  teacher.append("showNames", plist::Value(true));
  plist::Dictionary student;
  plist::Array channels;
  channels.push_back(plist::Value("1"));
  student.append("channels", plist::Value(std::move(channels)));
  request.domains.push_back({PreferenceDomainOfFile("/Users/t/Library/Preferences/"
                                                    "com.brellan.teacher.plist"),
                             teacher});
  request.domains.push_back({"com.brellan.student.settings", student});

  const plist::Value profile = MakeProfile(request);
  std::string xml;
  ASSERT_TRUE(plist::WriteXml(profile, &xml, nullptr));
  EXPECT_EQ(xml, R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
	<key>PayloadContent</key>
	<array>
		<dict>
			<key>PayloadContent</key>
			<dict>
				<key>com.brellan.student.settings</key>
				<dict>
					<key>Forced</key>
					<array>
						<dict>
							<key>mcx_preference_settings</key>
							<dict>
								<key>channels</key>
								<array>
									<string>1</string>
								</array>
							</dict>
						</dict>
					</array>
				</dict>
				<key>com.brellan.teacher</key>
				<dict>
					<key>Forced</key>
					<array>
						<dict>
							<key>mcx_preference_settings</key>
							<dict>
								<key>showNames</key>
								<true/>
								<key>thumbnailDelay</key>
								<integer>5000</integer>
							</dict>
						</dict>
					</array>
				</dict>
			</dict>
			<key>PayloadIdentifier</key>
			<string>com.brellan.brtconfig.teacher.preferences</string>
			<key>PayloadType</key>
			<string>com.apple.ManagedClient.preferences</string>
			<key>PayloadUUID</key>
			<string>)" + request.payloadUuid + R"(</string>
			<key>PayloadVersion</key>
			<integer>1</integer>
		</dict>
	</array>
	<key>PayloadDisplayName</key>
	<string>brtconfig: teacher settings</string>
	<key>PayloadIdentifier</key>
	<string>com.brellan.brtconfig.teacher</string>
	<key>PayloadScope</key>
	<string>User</string>
	<key>PayloadType</key>
	<string>Configuration</string>
	<key>PayloadUUID</key>
	<string>0A1B2C3D-4E5F-4061-8273-8495A6B7C8D9</string>
	<key>PayloadVersion</key>
	<integer>1</integer>
</dict>
</plist>
)");
  // The payload keys are built in the writer's order: a binary profile, which keeps the
  // order built, reads back the same as the XML one.
  std::string binary;
  ASSERT_TRUE(plist::WriteBinary(profile, &binary, nullptr));
  plist::Value fromXml, fromBinary;
  ASSERT_TRUE(plist::Read(xml, &fromXml, nullptr));
  ASSERT_TRUE(plist::Read(binary, &fromBinary, nullptr));
  const plist::Value* payloads = fromBinary.dictionary().find("PayloadContent");
  ASSERT_NE(payloads, nullptr);
  EXPECT_TRUE(payloads->array()[0].dictionary().hasKeysOf(
      fromXml.dictionary().find("PayloadContent")->array()[0].dictionary()));
  EXPECT_TRUE(fromBinary.dictionary().hasKeysOf(fromXml.dictionary()));
  // A global profile differs in scope, name and identifier only.
  request.side = GlobalSetting;
  const plist::Dictionary global = MakeProfile(request).dictionary();
  EXPECT_EQ(global.find("PayloadScope")->string(), "System");
  EXPECT_EQ(ProfileDisplayName(GlobalSetting), "brtconfig: global settings");
  EXPECT_EQ(DefaultProfileIdentifier(GlobalSetting), "com.brellan.brtconfig.global");
}

TEST(ProfileTest, UuidsAreVersion4UpperCaseAndTheirTextIsChecked) {
  FakePlatform platform;
  std::string error;
  const std::optional<std::string> first = RandomUuid(&platform, &error);
  const std::optional<std::string> second = RandomUuid(&platform, &error);
  // The fake hands out bytes 0, 1, 2, ...: version and variant bits are set over them.
  EXPECT_EQ(first, "00010203-0405-4607-8809-0A0B0C0D0E0F");
  EXPECT_EQ(second, "10111213-1415-4617-9819-1A1B1C1D1E1F");
  EXPECT_THAT(platform.randomRequests, testing::ElementsAre(16u, 16u));
  platform.failRandomBytes = true;
  EXPECT_EQ(RandomUuid(&platform, &error), std::nullopt);
  EXPECT_THAT(error, testing::HasSubstr("random"));

  EXPECT_EQ(NormalizeUuid("0a1b2c3d-4e5f-1061-c273-8495a6b7c8d9"),
            "0A1B2C3D-4E5F-1061-C273-8495A6B7C8D9");  // Any version and variant.
  for (const char* bad : {"", "0A1B2C3D4E5F40618273" "8495A6B7C8D9",
                          "{0A1B2C3D-4E5F-4061-8273-8495A6B7C8D9}",
                          "0A1B2C3D-4E5F-4061-8273-8495A6B7C8D", "0A1B2C3D-4E5F-4061-8273-8495A6B7C8DG",
                          "0A1B2C3D4-E5F-4061-8273-8495A6B7C8D9",
                          "0A1B2C3D-4E5F-4061-8273-8495A6B7C8D9 "}) {
    EXPECT_EQ(NormalizeUuid(bad), std::nullopt) << bad;
  }
}

TEST(ProfileTest, PayloadUuidIsDerivedFromEveryBitOfTheProfileUuid) {
  const std::string uuid = "0A1B2C3D-4E5F-4061-8273-8495A6B7C8D9";
  const std::string derived = DerivePayloadUuid(uuid);
  EXPECT_THAT(derived, MatchesRegex(kUuidV4Pattern));
  // Fixed for good: a re-export with the same --uuid must give the same bytes.
  EXPECT_EQ(derived, "A99B1D32-E4C4-4DD0-8B42-171C3B6B6131");
  EXPECT_EQ(DerivePayloadUuid("0a1b2c3d-4e5f-4061-8273-8495a6b7c8d9"), derived);
  // A change in the first or the last digit changes the derived UUID throughout.
  for (const char* other :
       {"1A1B2C3D-4E5F-4061-8273-8495A6B7C8D9", "0A1B2C3D-4E5F-4061-8273-8495A6B7C8D8"}) {
    const std::string changed = DerivePayloadUuid(other);
    EXPECT_THAT(changed, MatchesRegex(kUuidV4Pattern));
    EXPECT_NE(changed.substr(0, 8), derived.substr(0, 8)) << other;
    EXPECT_NE(changed.substr(24), derived.substr(24)) << other;
  }
  EXPECT_NE(derived, uuid);
  EXPECT_EQ(DerivePayloadUuid("not a uuid"), "");
}

}  // namespace
}  // namespace brtconfig
