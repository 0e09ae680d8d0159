#include <deque>
#include <string>

#include <gtest/gtest.h>

#include "app/StringIndex.h"

namespace orvel {
namespace {

// Keys of every length up to 40, and for each its variants that differ in
// one byte at each position; the table grows many times on the way.
TEST(StringIndex, FindsEveryKeyAndNoOther) {
  std::deque<std::string> keys;  // the index keeps views: the keys stay put
  StringIndex index;
  EXPECT_EQ(StringIndex::kMissing, index.find("absent"));
  keys.emplace_back("");
  index.insert(keys.back(), 0);
  for (size_t length = 1; length <= 40; ++length) {
    const std::string base(length, 'k');
    for (size_t at = 0; at <= length; ++at) {
      std::string key = base;
      if (at < length) {
        key[at] = '\0';  // a NUL is a byte like any other
      }
      keys.push_back(key);
      index.insert(keys.back(), static_cast<uint32_t>(keys.size() - 1));
    }
  }
  for (size_t i = 0; i < keys.size(); ++i) {
    ASSERT_EQ(i, index.find(keys[i])) << "key of length " << keys[i].size();
    EXPECT_EQ(StringIndex::kMissing, index.find(keys[i] + "x"));
  }
  EXPECT_EQ(StringIndex::kMissing, index.find(std::string(8, 'j')));

  index.clear();
  EXPECT_EQ(StringIndex::kMissing, index.find(keys[1]));
}

}  // namespace
}  // namespace orvel
