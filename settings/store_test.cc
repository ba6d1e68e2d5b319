#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "platform/platform.h"
#include "plist/plist.h"
#include "settings/plist_file_settings.h"
#include "testing/fake_platform.h"
#include "testing/temp_dir.h"

namespace brtconfig {
namespace {

using plist::Array;
using plist::Dictionary;
using plist::Value;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

constexpr char kName[] = "com.tovrika.teacher.plist";

Dictionary Dict(std::vector<std::pair<std::string, Value>> entries) {
  Dictionary dict;
  for (auto& [key, value] : entries) dict.append(key, std::move(value));
  return dict;
}

bool WritePlist(const std::string& path, const Dictionary& dict, plist::Format format) {
  std::string bytes;
  return plist::Write(Value(dict), format, &bytes, nullptr) && TempDir::writeFile(path, bytes);
}

std::optional<Dictionary> ReadPlist(const std::string& path, plist::Format* format = nullptr) {
  plist::Document document;
  if (!plist::Read(TempDir::readFile(path), &document, nullptr, format) ||
      !document.root().isDictionary()) {
    return std::nullopt;
  }
  return document.root().toValue().dictionary();
}

// The whole contents of the store's document, or nothing when it holds none.
std::optional<Value> Contents(const PListFileSettings& store) {
  if (!store.contents()) return std::nullopt;
  return store.contents()->toValue();
}

// Entries of every kind that the consoles might keep beside the settings.
Dictionary EveryKind() {
  Dictionary inner = Dict({{"deep", Value::fromInteger(-3)}, {"list", Array{"x", Value(true)}}});
  return Dict({{"AlertOnUpdate", Value(false)},
               {"name", "Room 12 \xE2\x98\x85"},
               {"empty", ""},
               {"negative", Value::fromInteger(-42)},
               {"large", Value::fromInteger(INT64_MAX)},
               {"huge", Value(plist::Integer::fromUnsigned(UINT64_MAX))},
               {"ratio", Value::fromReal(-2.75)},
               {"on", Value(true)},
               {"when", Value(plist::Date{787658400})},
               {"blob", plist::Data{0, 1, 0xfe, 0xff}},
               {"nested", Array{Array{"a", Value::fromInteger(1)}, Value(inner), Array{}}},
               {"table", Value(inner)}});
}

class StoreTest : public ::testing::Test {
 protected:
  std::string path() const { return dir.file(kName); }

  TempDir dir;
  FakePlatform fake;
};

TEST_F(StoreTest, OpenRefusesFileWithoutDictionaryAndNeverWritesIt) {
  std::string array;
  ASSERT_TRUE(plist::Write(Value(Array{"a"}), plist::Format::kXml, &array, nullptr));
  for (const std::string& bytes :
       {std::string("not a property list"), std::string(), array, std::string("bplist00\1", 9)}) {
    unlink(path().c_str());
    PListFileSettings store(path(), &fake);
    ASSERT_TRUE(store.open());  // Nothing there yet; the next open drops the document.
    ASSERT_TRUE(TempDir::writeFile(path(), bytes));
    EXPECT_FALSE(store.open()) << bytes;
    EXPECT_EQ(store.contents(), nullptr);
    EXPECT_FALSE(store.updateValueForKey(Value("1"), "StealthMode"));
    EXPECT_FALSE(store.save());
    EXPECT_EQ(TempDir::readFile(path()), bytes);
  }
  PListFileSettings folder(dir.path, &fake);
  EXPECT_FALSE(folder.open());
  if (getuid() != 0) {  // Root reads any file.
    ASSERT_EQ(chmod(path().c_str(), 0200), 0);
    PListFileSettings unreadable(path(), &fake);
    EXPECT_FALSE(unreadable.open());
    EXPECT_FALSE(unreadable.save());
  }
}

TEST_F(StoreTest, ShowsEveryKindAsDisplayText) {
  const std::pair<Value, std::string> cases[] = {
      {Value(true), "true"},
      {Value(false), "false"},
      {Value::fromInteger(5000), "5000"},
      {Value::fromInteger(-7), "-7"},
      {Value::fromInteger((int64_t{1} << 32) + 5), "5"},  // The low 32 bits.
      {Value::fromInteger(int64_t{1} << 31), "-2147483648"},
      {Value(plist::Integer::fromUnsigned(UINT64_MAX)), "-1"},
      {Value::fromReal(2.7), "2"},
      {Value::fromReal(-2.7), "-2"},
      {Value::fromReal(1e20), "2147483647"},
      {Value::fromReal(-1e20), "-2147483648"},
      {Value::fromReal(std::nan("")), "0"},
      {Array{"1", "2"}, "1 2 "},
      {Array{}, ""},
      {Array{Value::fromInteger(5), Value(true), Value(false), Value::fromReal(2.5), "x y"},
       "5 1 0 2.5 x y "},
      {Array{Array{"a", Value::fromInteger(2)}, Dict({{"k", "v"}, {"n", Array{}}})},
       "(a, 2) {k = v; n = ()} "},
      {"", ""},
      {"text", "text"},
      {Value(plist::Date{0}), "2001-01-01 00:00:00 +0000"},
      {Value(plist::Date{-1.5}), "2000-12-31 23:59:58 +0000"},
      {Value(plist::Date{1e300}), "1e+300"},
      {plist::Data{0x0a, 0x1b, 0x2c, 0x3d, 0x4e}, "<0a1b2c3d 4e>"},
      {Dict({{"a", Value::fromInteger(1)}, {"b", "x"}}), "{a = 1; b = x}"},
      {Value(plist::Uid{7}), "7"},
  };
  PListFileSettings store(path(), &fake);
  EXPECT_EQ(store.valueForKey("StealthMode"), "");  // Not opened.
  EXPECT_EQ(store.storedValue("StealthMode"), std::nullopt);
  ASSERT_TRUE(store.open());  // No file yet.
  EXPECT_EQ(Contents(store), Value(Dictionary()));
  for (const auto& [value, text] : cases) {
    ASSERT_TRUE(WritePlist(path(), Dict({{"key", value}}), plist::Format::kBinary)) << text;
    ASSERT_TRUE(store.open()) << text;
    EXPECT_EQ(store.valueForKey("key"), text);
    EXPECT_EQ(store.storedValue("key"), value) << text;
  }
  EXPECT_EQ(store.valueForKey("Key"), std::nullopt);
  EXPECT_EQ(store.storedValue("Key"), std::nullopt);
}

TEST_F(StoreTest, ChangeConvertsByValueTypeAndListRules) {
  const Array two = {"1.1.1.1", "2.2.2.2"}, four = {"1", "2", "3", "4"};
  struct Case {
    const char* key;
    Value given, stored;
  } cases[] = {
      {"AlertOnUpdate", "true", Value(true)},
      {"AlertOnUpdate", "false", Value(false)},
      {"useSingleChannel", " +0Yes", Value(true)},
      {"MaxThumbnailStudents", "40", Value::fromInteger(40)},
      {"MaxThumbnailStudents", "", Value::fromInteger(0)},
      {"channel", "12", "12"},
      {"ClassroomServerAddress", Array{"a", "b"}, Array{"a", "b"}},
      {"subnets", "10.0.0.1", Array{"10.0.0.1", "0.0.0.0", "0.0.0.0"}},
      {"subnets", two, Array{"1.1.1.1", "2.2.2.2", "0.0.0.0"}},
      {"subnets", Array{"1", "2", "3"}, Array{"1", "2", "3"}},
      {"subnets", four, four},
      {"channels", "7", Array{"7"}},
      {"channels", Array{"1", "16000"}, Array{"1", "16000"}},
  };
  for (const Case& c : cases) {
    PListFileSettings store(path(), &fake);
    ASSERT_TRUE(store.open());
    ASSERT_TRUE(store.updateValueForKey(c.given, c.key)) << c.key;
    EXPECT_EQ(Contents(store), Value(Dict({{c.key, c.stored}}))) << c.key;
  }
}

TEST_F(StoreTest, ChangeRefusesUnknownKeysAndUnlistableValues) {
  const std::pair<const char*, Value> cases[] = {
      {"NoSuchSetting", "1"},
      {"stealthMode", "1"},
      {"StealthMode ", "1"},
      {"subnets", Value(true)},
      {"channels", Dict({{"a", "1"}})},
      {"AlertOnUpdate", Array{}},
  };
  for (const auto& [key, value] : cases) {
    ASSERT_TRUE(WritePlist(path(), EveryKind(), plist::Format::kBinary));
    PListFileSettings store(path(), &fake);
    ASSERT_TRUE(store.open());
    EXPECT_FALSE(store.updateValueForKey(value, key)) << key;
    EXPECT_EQ(Contents(store), Value(EveryKind())) << key;
  }
}

TEST_F(StoreTest, SaveWritesFormatOfUserAndKeepsEveryOtherEntry) {
  struct Case {
    unsigned uid;
    plist::Format format;
    uint64_t code;
    size_t attributeCalls;
  } cases[] = {{0, plist::Format::kXml, kXmlFormat, 1},
               {501, plist::Format::kBinary, kBinaryFormat, 0}};
  for (const Case& c : cases) {
    fake.attributeCalls.clear();
    ASSERT_TRUE(WritePlist(path(), EveryKind(), plist::Format::kBinary));
    PListFileSettings store(path(), &fake, c.uid == 0 ? GlobalSetting : UserSetting);
    ASSERT_TRUE(store.open());
    ASSERT_TRUE(store.updateValueForKey(Value("true"), "AlertOnUpdate"));
    ASSERT_TRUE(store.updateValueForKey(Value("4"), "thumbnailDelay"));
    ASSERT_TRUE(store.save());
    EXPECT_EQ(store.format, c.code);

    Dictionary expected = EveryKind();
    expected.set("AlertOnUpdate", Value(true));
    expected.set("thumbnailDelay", Value::fromInteger(4));
    EXPECT_EQ(Contents(store), Value(expected));  // Replaced in place, new key at the end.
    plist::Format format;
    const std::optional<Dictionary> saved = ReadPlist(path(), &format);
    EXPECT_EQ(format, c.format);
    ASSERT_EQ(saved->size(), expected.size());  // XML keys come back sorted.
    for (size_t i = 0; i < expected.size(); ++i) {
      const Value* value = saved->find(expected.keyAt(i));
      EXPECT_TRUE(value && *value == expected.valueAt(i)) << expected.keyAt(i) << " " << c.uid;
    }
    ASSERT_EQ(fake.attributeCalls.size(), c.attributeCalls);
    for (const FakePlatform::AttributeCall& call : fake.attributeCalls) {
      EXPECT_EQ(call.path + " " + call.owner + " " + call.group, path() + " root wheel");
      EXPECT_EQ(call.mode, 0644u);
    }
  }
}

TEST_F(StoreTest, SaveAsRealUserReplacesLinkTargetWithOwnershipOfIdentity) {
  const std::string real = dir.file("real.plist");
  ASSERT_TRUE(WritePlist(real, Dict({{"a", "y"}}), plist::Format::kXml));
  ASSERT_EQ(chmod(real.c_str(), 0640), 0);
  ASSERT_EQ(symlink("real.plist", path().c_str()), 0);
  const bool root = getuid() == 0;
  if (root) {
    ASSERT_EQ(chown(real.c_str(), 65534, 65534), 0);
  }

  PListFileSettings store(path(), nullptr, root ? GlobalSetting : UserSetting);
  ASSERT_TRUE(store.open());
  ASSERT_TRUE(store.updateValueForKey(Value("2"), "transport"));
  ASSERT_TRUE(store.save());

  plist::Format format;
  EXPECT_EQ(ReadPlist(real, &format), Dict({{"a", "y"}, {"transport", Value::fromInteger(2)}}));
  EXPECT_EQ(format, root ? plist::Format::kXml : plist::Format::kBinary);
  struct stat st;
  ASSERT_EQ(lstat(path().c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  ASSERT_EQ(stat(real.c_str(), &st), 0);
  const struct group* wheel = getgrnam("wheel");
  EXPECT_EQ(st.st_uid, getuid());
  if (root) {
    EXPECT_EQ(st.st_gid, wheel ? wheel->gr_gid : 0u);
  }
  EXPECT_EQ(st.st_mode & 07777, root ? 0644u : 0640u);
  EXPECT_THAT(TempDir::list(dir.path), ElementsAre(kName, "real.plist"));
}

TEST_F(StoreTest, FailedSaveKeepsOriginalBytesAndLeavesNoTemporaryFile) {
  ASSERT_TRUE(WritePlist(path(), Dict({{"StealthMode", Value::fromInteger(0)}}), plist::Format::kXml));
  const std::string original = TempDir::readFile(path());

  // Neither format can hold text that is not UTF-8: the writer refuses, and says why.
  for (unsigned uid : {0u, 501u}) {
    PListFileSettings store(path(), &fake, uid == 0 ? GlobalSetting : UserSetting);
    ASSERT_TRUE(store.open());
    ASSERT_TRUE(store.updateValueForKey(Value(std::string("\xFF")), "CleverURL"));
    EXPECT_FALSE(store.save()) << uid;
    EXPECT_THAT(store.error.reason, HasSubstr(" cannot be written as a property list: ")) << uid;
  }
  EXPECT_THAT(fake.attributeCalls, IsEmpty());

  // A child whose files may not grow past 1 KB: the write fails midway, and the file's
  // refusal is the cause given, not the writer's.
  const pid_t pid = fork();
  if (pid == 0) {
    signal(SIGXFSZ, SIG_IGN);
    const struct rlimit limit = {1024, 1024};
    setrlimit(RLIMIT_FSIZE, &limit);
    PListFileSettings store(path());
    const bool saved = store.open() &&
                       store.updateValueForKey(Value(std::string(65536, 'a')), "CleverURL") &&
                       store.save();
    _exit(!saved && store.error.reason.rfind("cannot write " + dir.path + "/.", 0) == 0 ? 1 : 0);
  }
  int status = -1;
  while (waitpid(pid, &status, 0) < 0) {
  }
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;

  if (getuid() != 0) {  // A folder the user may not write to.
    ASSERT_EQ(chmod(dir.path.c_str(), 0555), 0);
    PListFileSettings store(path());
    EXPECT_TRUE(store.open() && !store.save());
    ASSERT_EQ(chmod(dir.path.c_str(), 0755), 0);
  }
  EXPECT_EQ(TempDir::readFile(path()), original);
  EXPECT_THAT(TempDir::list(dir.path), ElementsAre(kName));
}

TEST_F(StoreTest, FailedOwnershipChangeIsLoggedButSaveSucceeds) {
  fake.failSetAttributes = true;
  PListFileSettings store(path(), &fake, GlobalSetting);
  ASSERT_TRUE(store.open());
  EXPECT_TRUE(store.save());
  EXPECT_EQ(ReadPlist(path()), Dictionary());  // Created, although not given to root.
  EXPECT_THAT(fake.logLines, ElementsAre("setFilePermissions failed: cannot change the owner of " +
                                         path() + ": Operation not permitted"));
}

// The real platform, but for a link that another user re-points the moment a write is
// done: whatever is then done by path lands on the victim.
class LinkSwappingPlatform : public FakePlatform {
 public:
  LinkSwappingPlatform() { giveOwnership = true; }
  bool committed(const std::string&) override {
    unlink(link.c_str());
    return symlink(victim.c_str(), link.c_str()) == 0;
  }
  std::string link, victim;
};

TEST_F(StoreTest, RootSaveGivesTheFileToRootBeforeItIsInPlace) {
  if (getuid() != 0) GTEST_SKIP() << "needs root to give files away";
  const std::string real = dir.file("real.plist");
  LinkSwappingPlatform swapping;
  swapping.uid = 0;
  swapping.link = path();
  swapping.victim = dir.file("victim");
  ASSERT_TRUE(WritePlist(real, Dict({{"a", "y"}}), plist::Format::kBinary));
  ASSERT_TRUE(TempDir::writeFile(swapping.victim, "secret"));
  for (const std::string& file : {real, swapping.victim}) {
    ASSERT_EQ(chown(file.c_str(), 65534, 65534), 0);
    ASSERT_EQ(chmod(file.c_str(), 0600), 0);
  }
  ASSERT_EQ(symlink("real.plist", path().c_str()), 0);

  PListFileSettings store(path(), &swapping, GlobalSetting);
  ASSERT_TRUE(store.open());
  ASSERT_TRUE(store.updateValueForKey(Value("1"), "StealthMode"));
  ASSERT_TRUE(store.save());
  struct stat st;
  ASSERT_EQ(stat(swapping.victim.c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, 65534u);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  ASSERT_EQ(stat(real.c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, 0u);
  EXPECT_EQ(st.st_mode & 07777, 0644u);
  EXPECT_EQ(ReadPlist(real), Dict({{"StealthMode", Value::fromInteger(1)}, {"a", "y"}}));
  EXPECT_THAT(swapping.logLines, IsEmpty());
}

TEST(PrefsDaemonTest, RestartRunsCommandForTheNameOnlyWhereDaemonExists) {
  FakePlatform absent, present;
  present.prefsDaemon = true;
  present.name = "Mrs \"O'Neil\"; x";
  testing::internal::CaptureStderr();
  PListFileSettings::restartPrefsDaemonForUser(present.name, &absent);
  PListFileSettings::restartPrefsDaemonForUser(present.name, &present);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_THAT(absent.programs, IsEmpty());
  EXPECT_THAT(present.programs, ElementsAre(PrefsDaemonRestartCommand(present.name)));

  present.failRunProgram = true;
  testing::internal::CaptureStderr();
  PListFileSettings::restartPrefsDaemonForUser(present.name, &present);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "restartPrefsDaemonForUser excptn: cannot start /bin/sh: No such file or directory");
}

}  // namespace
}  // namespace brtconfig
