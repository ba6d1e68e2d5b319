#include "settings/profile.h"

#include <string>

#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "plist/plist.h"

namespace brtconfig {
namespace {

using ::testing::MatchesRegex;

constexpr char kUuidV5Pattern[] =
    "[0-9A-F]{8}-[0-9A-F]{4}-5[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}";

ProfileRequest TeacherRequest() {
  ProfileRequest request;
  request.side = UserSetting;
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
  return request;
}

std::string Field(const plist::Value& profile, const char* key) {
  const plist::Value* value = profile.dictionary().find(key);
  return value && value->isString() ? std::string(value->string()) : "(none)";
}

std::string PayloadUuid(const plist::Value& profile) {
  return Field(profile.dictionary().find("PayloadContent")->array()[0], "PayloadUUID");
}

// The whole layout, as the XML writer lays it out: a change of key, type or nesting shows.
TEST(ProfileTest, ForcesEachDomainsSettingsInOnePreferencesPayload) {
  ProfileRequest request = TeacherRequest();
  request.uuid = "0A1B2C3D-4E5F-4061-8273-8495A6B7C8D9";
  const plist::Value profile = MakeProfile(request);
  std::string xml;
  ASSERT_TRUE(ProfileXml(profile, &xml));
  const std::string payloadUuid = PayloadUuid(profile);
  EXPECT_THAT(payloadUuid, MatchesRegex(kUuidV5Pattern));
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
			<string>)" +
                     payloadUuid + R"(</string>
			<key>PayloadVersion</key>
			<integer>1</integer>
		</dict>
	</array>
	<key>PayloadDisplayName</key>
	<string>brtconfig: teacher settings (com.brellan.brtconfig.teacher)</string>
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
  ASSERT_TRUE(plist::Write(profile, plist::Format::kBinary, &binary, nullptr));
  plist::Document xmlDocument, binaryDocument;
  ASSERT_TRUE(plist::Read(xml, &xmlDocument, nullptr));
  ASSERT_TRUE(plist::Read(binary, &binaryDocument, nullptr));
  const plist::Value fromXml = xmlDocument.root().toValue();
  const plist::Value fromBinary = binaryDocument.root().toValue();
  const plist::Value* payloads = fromBinary.dictionary().find("PayloadContent");
  ASSERT_NE(payloads, nullptr);
  EXPECT_TRUE(payloads->array()[0].dictionary().hasKeysOf(
      fromXml.dictionary().find("PayloadContent")->array()[0].dictionary()));
  EXPECT_TRUE(fromBinary.dictionary().hasKeysOf(fromXml.dictionary()));
}

// Two profiles with one prefix live side by side on a server; each follows its content.
TEST(ProfileTest, IdentifiersNamesAndUuidsTellProfilesApart) {
  ProfileRequest request = TeacherRequest();
  request.identifierPrefix = "org.school.lab";
  const plist::Value teacher = MakeProfile(request);
  request.side = GlobalSetting;
  const plist::Value global = MakeProfile(request);
  EXPECT_EQ(Field(teacher, "PayloadIdentifier"), "org.school.lab.teacher");
  EXPECT_EQ(Field(global, "PayloadIdentifier"), "org.school.lab.global");
  EXPECT_EQ(Field(global, "PayloadScope"), "System");
  EXPECT_EQ(Field(global, "PayloadDisplayName"),
            "brtconfig: global settings (org.school.lab.global)");
  EXPECT_NE(Field(global, "PayloadDisplayName"), Field(teacher, "PayloadDisplayName"));
  EXPECT_THAT(Field(global, "PayloadUUID"), MatchesRegex(kUuidV5Pattern));
  EXPECT_NE(Field(global, "PayloadUUID"), Field(teacher, "PayloadUUID"));
  EXPECT_NE(PayloadUuid(global), PayloadUuid(teacher));
  EXPECT_NE(PayloadUuid(global), Field(global, "PayloadUUID"));

  // The same request gives the same profile; any change, the value of one setting or
  // only the description, gives both UUIDs anew, also under a given profile UUID.
  EXPECT_EQ(MakeProfile(request), global);
  ProfileRequest changed = request;
  changed.domains[0].settings.set("thumbnailDelay", plist::Value::fromInteger(5001));
  ProfileRequest described = request;
  described.description = "Room 12";
  for (const ProfileRequest& other : {changed, described}) {
    const plist::Value profile = MakeProfile(other);
    EXPECT_NE(Field(profile, "PayloadUUID"), Field(global, "PayloadUUID"));
    EXPECT_NE(PayloadUuid(profile), PayloadUuid(global));
  }
  request.uuid = changed.uuid = "0A1B2C3D-4E5F-4061-8273-8495A6B7C8D9";
  EXPECT_EQ(Field(MakeProfile(changed), "PayloadUUID"), *request.uuid);
  EXPECT_EQ(PayloadUuid(MakeProfile(request)), PayloadUuid(global));
  EXPECT_NE(PayloadUuid(MakeProfile(changed)), PayloadUuid(global));
}

// The optional keys stand where the writer sorts them, so a binary profile reads the same.
TEST(ProfileTest, NamesOrganizationDescriptionAndRemovalAreSetWhenGiven) {
  ProfileRequest request = TeacherRequest();
  request.displayName = "Room 12\r\n<teachers> & co";
  request.organization = "School";
  request.description = "Room 12";
  request.removalDisallowed = true;
  const plist::Value profile = MakeProfile(request);
  std::vector<std::string> keys;
  for (size_t i = 0; i < profile.dictionary().size(); ++i) {
    keys.emplace_back(profile.dictionary().keyAt(i));
  }
  EXPECT_THAT(keys, testing::ElementsAre(
                        "PayloadContent", "PayloadDescription", "PayloadDisplayName",
                        "PayloadIdentifier", "PayloadOrganization", "PayloadRemovalDisallowed",
                        "PayloadScope", "PayloadType", "PayloadUUID", "PayloadVersion"));
  EXPECT_EQ(*profile.dictionary().find("PayloadRemovalDisallowed"), plist::Value(true));
  // A carriage return comes back through an XML parser only as a reference.
  std::string xml;
  ASSERT_TRUE(ProfileXml(profile, &xml));
  EXPECT_THAT(xml, testing::HasSubstr("<string>Room 12&#13;\n&lt;teachers&gt; &amp; co</string>"));
  EXPECT_EQ(xml.find('\r'), std::string::npos);
}

TEST(ProfileTest, IdentifierPrefixesAreReverseDnsNames) {
  // The longest prefix leaves room for ".teacher.preferences".
  const std::string longest = "x." + std::string(kMaxIdentifierPrefixLength - 2, 'a');
  ASSERT_EQ(ProfileIdentifier(longest, UserSetting).size() + 12, kMaxIdentifierLength);
  for (const std::string& good : {std::string("org.example"), std::string("a.b-c.D9"),
                                  std::string(kDefaultIdentifierPrefix), longest}) {
    EXPECT_TRUE(IsUsableIdentifierPrefix(good)) << good;
  }
  for (const std::string& bad :
       {std::string(""), std::string("lab"), std::string(".org.lab"), std::string("org..lab"),
        std::string("org.lab."), std::string("org.lab_1"),
        std::string("org.l\x01"
                    "ab"),
        std::string("org.lab room"), std::string("org.\xc3\xa9"), longest + "a"}) {
    EXPECT_FALSE(IsUsableIdentifierPrefix(bad)) << bad;
  }
}

TEST(ProfileTest, TextThatXmlCannotCarryIsFound) {
  for (const char* good :
       {"", "tab\tcr\rlf\n", "<&>", "\x7f\xc2\x85 \xef\xbf\xbd", "\xf0\x9f\x98\x80"}) {
    EXPECT_TRUE(IsXmlText(good)) << good;
  }
  for (const char* bad : {"\x01", "a\x1f", "\xef\xbf\xbe", "\xef\xbf\xbf", "\xc3"}) {
    EXPECT_FALSE(IsXmlText(bad)) << bad;
  }
  ProfileRequest request = TeacherRequest();
  EXPECT_EQ(SettingXmlCannotCarry(request.domains), std::nullopt);
  plist::Array list;
  list.push_back(plist::Value("1"));
  list.push_back(plist::Value("2\xef\xbf\xbf"));
  request.domains[1].settings.set("channels", plist::Value(std::move(list)));
  EXPECT_EQ(SettingXmlCannotCarry(request.domains), "channels");
}

}  // namespace
}  // namespace brtconfig
