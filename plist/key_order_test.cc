#include "plist/key_order.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace plist {
namespace {

using namespace std::string_literals;

// The positions of `keys` in the order SortKeys promises: by KeyLess, equal keys by position.
std::vector<uint32_t> ReferenceOrder(const std::vector<std::string>& keys) {
  std::vector<uint32_t> order(keys.size());
  for (uint32_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(),
                   [&keys](uint32_t a, uint32_t b) { return KeyLess(keys[a], keys[b]); });
  return order;
}

std::vector<uint32_t> SortedOrder(const std::vector<std::string>& keys) {
  std::vector<KeyRank> ranks;
  SortKeys(
      keys.size(), [&keys](size_t i) { return std::string_view(keys[i]); }, &ranks);
  std::vector<uint32_t> order;
  for (const KeyRank& rank : ranks) order.push_back(rank.index);
  return order;
}

std::vector<std::string> Numbered(const std::string& prefix, int n, const std::string& suffix) {
  std::vector<std::string> keys;
  for (int i = 0; i < n; ++i) keys.push_back(prefix + std::to_string(100000 + i) + suffix);
  return keys;
}

std::vector<std::string> Shuffled(std::vector<std::string> keys) {
  std::shuffle(keys.begin(), keys.end(), std::mt19937(2024));
  return keys;
}

std::vector<std::string> Joined(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(KeyOrderTest, SortKeysMatchesAStableSortByKeyLess) {
  // Lead bytes C3, EE, EF and F0 in one large set: EE and EF rank after F0.
  std::vector<std::string> scripts;
  for (const std::string& lead :
       {"\xEE\x80\x80"s, "\xF0\x9F\x98\x80"s, "\xEF\xBF\xBF"s, "\xC3\xA9"s, "z"s}) {
    scripts = Joined(scripts, Numbered(lead, 30, ""));
  }
  // Keys that differ only after their first twelve bytes, or only by NUL bytes at the end.
  std::vector<std::string> nuls{"a", "a\0"s, "a\0\0"s, "a\0b"s, "", "\0"s};
  const struct {
    const char* name;
    std::vector<std::string> keys;
  } cases[] = {
      {"Empty", {}},
      {"FewUnsorted", {"b", "a", "c", "a"}},
      {"ManyDescending",
       [] {
         auto keys = Numbered("key", 300, "");
         std::reverse(keys.begin(), keys.end());
         return keys;
       }()},
      {"ManyShuffled", Shuffled(Numbered("key", 2000, ""))},
      {"SortedWithAppendedTail", Joined(Numbered("key", 300, ""), {"aaa", "key100150x", "zz"})},
      {"UnsortedHeadThenSorted", Joined({"zz", "key100007", "a"}, Numbered("key", 300, ""))},
      {"LongSharedPrefix", Shuffled(Numbered("com.example.application.", 500, ".plist"))},
      {"TiesBeyondTwelveBytes",
       Shuffled(Joined({"different"}, Numbered("same-first-twelve-", 100, "")))},
      {"TrailingNulBytes", Shuffled(Joined(nuls, Joined(nuls, Numbered("a", 60, ""))))},
      {"Utf16OrderOfLeadBytes", Shuffled(scripts)},
      {"RepeatedKeysKeepTheirOrder",
       Shuffled(Joined(Numbered("k", 100, ""), Joined(Numbered("k", 100, ""), {"k100007"})))},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SortedOrder(c.keys), ReferenceOrder(c.keys)) << c.name;
  }
}

TEST(KeyOrderTest, GroupEqualKeysPutsEqualKeysTogetherInPositionOrder) {
  const std::vector<std::string> cases[] = {
      {},
      {"b", "a", "b", "c", "a", "b"},
      Shuffled(Joined(Numbered("key", 500, ""), Numbered("key", 300, ""))),
      Shuffled(Joined({"", "\0"s, "\0\0"s, ""}, Numbered("same-first-twelve-", 100, ""))),
      Shuffled(Joined(std::vector<std::string>(200, "same"), Numbered("k", 50, ""))),
  };
  for (const auto& keys : cases) {
    std::vector<KeyRank> ranks;
    GroupEqualKeys(
        keys.size(), [&keys](size_t i) { return std::string_view(keys[i]); }, &ranks);
    ASSERT_EQ(ranks.size(), keys.size());
    // Every position once; each key's group contiguous and ascending, never resumed.
    std::vector<bool> seen(keys.size(), false);
    std::set<std::string> ended;
    for (size_t k = 0; k < ranks.size(); ++k) {
      const uint32_t i = ranks[k].index;
      ASSERT_LT(i, keys.size());
      EXPECT_FALSE(seen[i]) << i;
      seen[i] = true;
      if (k > 0 && keys[ranks[k - 1].index] == keys[i]) {
        EXPECT_LT(ranks[k - 1].index, i) << keys[i];
      } else {
        EXPECT_EQ(ended.count(keys[i]), 0u) << keys[i];
        if (k > 0) ended.insert(keys[ranks[k - 1].index]);
      }
    }
  }
}

TEST(KeyOrderTest, KeyLessRanksBytesOneToOne) {
  // U+E000 sorts after U+1F600 (a surrogate pair in UTF-16), and after what is shorter.
  EXPECT_TRUE(KeyLess("\xF0\x9F\x98\x80", "\xEE\x80\x80"));
  EXPECT_TRUE(KeyLess("\xEE", "\xEE\x80\x80"));
  EXPECT_FALSE(KeyLess("\xEE\x80\x80", "\xEE\x80\x80"));
  // Bytes foreign to UTF-8 still order strictly, so that sorting them stays well defined.
  EXPECT_NE(KeyLess("\xEE", "\xFE"), KeyLess("\xFE", "\xEE"));
  EXPECT_NE(KeyLess("\xEF", "\xFF"), KeyLess("\xFF", "\xEF"));
}

}  // namespace
}  // namespace plist
