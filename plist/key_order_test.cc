#include "plist/key_order.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <map>
#include <string>
#include <vector>

namespace plist {
namespace {

using namespace std::string_literals;

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

TEST(KeyOrderTest, FindRepeatedKeysPointsEachRepeatAtTheFirstEqualKey) {
  const std::vector<std::string> cases[] = {
      {},
      {"a", "b", "c"},
      {"a", "a"},
      {"b", "a", "b", "c", "a", "b"},
      Numbered("key", 300, ""),  // Ascending: known distinct after one pass.
      Shuffled(Numbered("key", 300, "")),
      Shuffled(Joined(Numbered("key", 500, ""), Numbered("key", 300, ""))),
      Shuffled(Joined({"", "\0"s, "\0\0"s, ""}, Numbered("same-first-twelve-", 100, ""))),
      Shuffled(Joined(std::vector<std::string>(200, "same"), Numbered("k", 50, ""))),
  };
  for (const auto& keys : cases) {
    std::map<std::string, uint32_t> first;
    std::vector<uint32_t> expected;
    bool repeats = false;
    for (uint32_t i = 0; i < keys.size(); ++i) {
      const auto seen = first.emplace(keys[i], i);
      repeats |= !seen.second;
      expected.push_back(seen.first->second);
    }
    if (!repeats) expected.clear();
    bool ascending = true;
    for (size_t i = 1; i < keys.size(); ++i) ascending &= KeyLess(keys[i - 1], keys[i]);
    std::vector<uint32_t> firstOf;
    EXPECT_EQ(FindRepeatedKeys(
                  keys.size(), [&keys](size_t i) { return std::string_view(keys[i]); }, &firstOf),
              ascending);
    EXPECT_EQ(firstOf, expected) << keys.size() << " keys";
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
