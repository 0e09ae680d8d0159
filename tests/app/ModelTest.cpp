#include <cmath>
#include <cstring>
#include <deque>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/StringIndex.h"
#include "app/ThreadSpans.h"

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

// What a thread's spans must give back: the start exactly as recorded,
// the duration as the report writes it.
struct Expected {
  double start;
  double duration;
  uint32_t pc;
  bool open;
  // No row: NaN, or beyond 64 bits of microseconds.
  bool written() const {
    return !open && duration * 1e6 >= -9223372036854775808.0 &&
           duration * 1e6 < 9223372036854775808.0;
  }
};

bool same(double a, double b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

// Time stamps as traces write them, and the values that cannot be stored
// in whole microseconds: more decimals, -0, inf, NaN, huge, far apart.
double timeStamp(std::mt19937& random, double now) {
  switch (random() % 16) {
    case 0:
      return now + (random() % 1000) * 1e-9;
    case 1: {
      const double odd[] = {INFINITY, NAN, -0.0, 0.0, 1e300, -2.5, 9007199254.740993, 1e13};
      return odd[random() % 8];
    }
    case 2:
      return now + 2200.0 * (random() % 2 == 0 ? 1 : -1);  // beyond 32 bits of microseconds
    default:
      return std::round(now * 1e6) / 1e6;
  }
}

TEST(ThreadSpans, GivesBackEveryValueAsRecordedInAnyRange) {
  for (const double origin : {3842.407805, 1796584942.152334}) {
    std::mt19937 random(7);
    SpanMemory memory;
    ThreadSpans spans(42);
    std::vector<Expected> expected;
    std::vector<size_t> stack;
    double now = origin;
    for (int step = 0; step < 30000; ++step) {
      now += (random() % 400) * 1e-6;
      const uint32_t pc = random() % ThreadSpans::kPcLimit;
      const unsigned kind = random() % 8;
      if (kind < 3 || (kind < 6 && stack.empty())) {
        const double start = timeStamp(random, now);
        spans.open(start, pc, memory);
        stack.push_back(expected.size());
        expected.push_back(Expected{start, 0.0, pc, true});
      } else if (kind < 5) {
        const double end = timeStamp(random, now);
        ASSERT_TRUE(spans.closeAt(end, memory));
        Expected& closed = expected[stack.back()];
        stack.pop_back();
        closed.duration = end - closed.start;
        closed.open = false;
      } else if (kind < 6) {
        const double duration = timeStamp(random, now) - now;
        ASSERT_TRUE(spans.closeAfter(duration, memory));
        Expected& closed = expected[stack.back()];
        stack.pop_back();
        closed.duration = duration;
        closed.open = false;
      } else {
        const double start = timeStamp(random, now);
        const double duration = (random() % 5000) * 1e-6;
        spans.addClosed(start, duration, pc, memory);
        expected.push_back(Expected{start, duration, pc, false});
      }
    }
    ASSERT_EQ(expected.size(), spans.size());
    // Ranges that begin and end inside chunks and on their edges.
    for (const uint32_t from : {0u, 3u, 4u, 9u, 2047u, 4096u, 12000u}) {
      for (const uint32_t to : {from, from + 1, from + 5000, spans.size()}) {
        uint32_t position = from;
        spans.visitClosed(from, std::min(to, spans.size()), memory,
                          [&](double start, int64_t micros, uint32_t pc) {
                            while (!expected[position].written()) {
                              ++position;
                            }
                            const Expected& want = expected[position++];
                            EXPECT_TRUE(same(want.start, start)) << "span " << position - 1;
                            EXPECT_EQ(static_cast<int64_t>(want.duration * 1e6), micros)
                                << "span " << position - 1;
                            EXPECT_EQ(want.pc, pc);
                            return true;
                          });
        while (position < std::min(to, spans.size()) && !expected[position].written()) {
          ++position;
        }
        EXPECT_EQ(std::min(to, spans.size()), position) << from << " to " << to;
      }
    }
    while (!stack.empty()) {
      stack.pop_back();
      EXPECT_TRUE(spans.closeAfter(0.5, memory));
    }
    EXPECT_FALSE(spans.closeAt(now, memory));
    EXPECT_FALSE(spans.closeAfter(0.5, memory));
  }
}

}  // namespace
}  // namespace orvel
