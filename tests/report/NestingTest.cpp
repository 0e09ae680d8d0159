#include <cstdint>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "report/CallTree.h"
#include "report/CallTreeText.h"
#include "report/Nesting.h"
#include "report/Speedscope.h"
#include "report/Summary.h"

namespace orvel {
namespace {

// Spans of one section from (start in microseconds, duration) pairs.
std::vector<SpanReport::Span> spansOf(const std::vector<std::pair<long long, long long>>& pairs) {
  std::vector<SpanReport::Span> spans;
  for (const auto& [start, micros] : pairs) {
    spans.push_back({static_cast<double>(start) / 1e6, micros, 0});
  }
  return spans;
}

TEST(Nesting, SelfTimes) {
  struct Case {
    const char* what;
    std::vector<std::pair<long long, long long>> spans;
    std::vector<long long> self;
  };
  const Case cases[] = {
      {"children at the parent's start and end", {{0, 100}, {0, 30}, {70, 30}}, {40, 30, 30}},
      {"a child that begins at the parent's end follows it", {{0, 10}, {10, 5}}, {10, 5}},
      {"equal spans: the earlier row is the outer",
       {{1000000, 500000}, {1000000, 500000}},
       {0, 500000}},
      {"the same, out of order", {{5, 2}, {0, 10}, {5, 2}}, {0, 8, 2}},
      {"a child a microsecond too long is cut to its parent", {{0, 100}, {50, 51}}, {50, 50}},
      {"zero-length spans, at the start and inside", {{0, 10}, {0, 0}, {4, 0}}, {10, 0, 0}},
      {"siblings that overlap: the first ends where the next begins",
       {{0, 100}, {10, 30}, {20, 30}},
       {60, 10, 30}},
      {"an end before its begin lasts 0", {{0, 2000000}, {100, -2500000}}, {2000000, 0}},
      {"a duration near 2^63 around a negative one does not overflow",
       {{1, 9223372036854769999}, {1000000, -500000}},
       {9223372036854769999, 0}},
      {"system calls that follow one another", {{0, 5}, {5, 5}, {10, 5}}, {5, 5, 5}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.self, selfTimes(spansOf(c.spans))) << c.what;
  }
}

// Nested spans drawn at random with their true paths and self times: a
// span's children lie within it, one after another, touching its start,
// its end and each other; some take no time. Sections repeat, so that a
// section calls itself and appears on several paths.
class Trees {
 public:
  explicit Trees(uint32_t seed) : random(seed) {}

  std::vector<SpanReport::Span> spans;
  std::map<std::string, long long> selfByPath;
  std::vector<long long> self;  // by row

  void span(long long begin, long long end, const std::string& parent, int depth) {
    const uint32_t section = draw(3);
    const std::string path = parent + (parent.empty() ? "" : ";") + "abc"[section];
    const size_t row = spans.size();
    spans.push_back({static_cast<double>(begin) / 1e6, end - begin, section});
    self.push_back(end - begin);
    for (long long at = begin + draw(2); depth < 4 && at < end && draw(4) != 0;) {
      const long long length = draw(2) == 0 ? 0 : 1 + draw(static_cast<uint32_t>(end - at));
      if (length == 0 && at + 1 >= end) {
        break;  // a span of no time at its parent's end would follow it
      }
      span(at, at + length, path, depth + 1);
      self[row] -= length;
      at += length + (length == 0 ? 1 : draw(2));
    }
    selfByPath[path] += self[row];
  }

 private:
  uint32_t draw(uint32_t below) { return static_cast<uint32_t>(random() % below); }
  std::mt19937 random;
};

TEST(Nesting, GeneratedTreesGiveTheirSelfTimesAndPaths) {
  for (uint32_t seed = 1; seed <= 80; ++seed) {
    Trees trees(seed);
    for (long long root = 0; root < 5; ++root) {
      trees.span(root * 1000, root * 1000 + 200 + root * 150, "", 0);
    }
    EXPECT_EQ(trees.self, selfTimes(trees.spans)) << "seed " << seed;
    SpanReport report;
    report.sections = {"a", "b", "c"};
    report.pcs = {{"", 0}, {"", 1}, {"", 2}};
    report.threads = {{"7", trees.spans}};
    std::ostringstream folded;
    writeFolded(buildCallTree({report}, false), folded);
    std::string expected;
    for (const auto& [path, self] : trees.selfByPath) {
      expected += self > 0 ? path + " " + std::to_string(self) + "\n" : "";
    }
    // The order of lines aside.
    std::istringstream lines(folded.str());
    std::map<std::string, int> written;
    for (std::string line; std::getline(lines, line);) {
      written[line] += 1;
    }
    std::string got;
    for (const auto& [line, count] : written) {
      got += line + (count > 1 ? " (twice)" : "") + "\n";
    }
    ASSERT_EQ(expected, got) << "seed " << seed;
  }
}

TEST(Nesting, PathsPerThreadAddUpToTheSummary) {
  SpanReport r;
  r.name = "r.json";
  r.sections = {"a;b\nc", "d"};
  r.pcs = {{"", 0}, {"x.c:1", 1}};
  r.threads = {{"1", {{0, 10, 0}, {0.000002, 3, 1}}}, {"2", {{0, 4, 1}}}};
  SpanReport s = r;
  s.name = "s.json";
  s.threads.pop_back();
  std::ostringstream folded;
  writeFolded(buildCallTree({r, s}, true), folded);
  EXPECT_EQ(
      "r.json:tid 1;a,b?c 7\n"
      "r.json:tid 1;a,b?c;d (x.c:1) 3\n"
      "s.json:tid 1;a,b?c 7\n"
      "s.json:tid 1;a,b?c;d (x.c:1) 3\n"
      "r.json:tid 2;d (x.c:1) 4\n",
      folded.str());
  const CallTree tree = buildCallTree({r, s}, false);
  const Summary summary = summarize({r, s}, false);
  EXPECT_EQ(summary.self, tree.self);
  std::ostringstream table;
  writeTreeTable(tree, TreeOptions{0.2, 0}, table);
  EXPECT_EQ(
      "path         spans  total   self  share\n"
      "a;b?c            2  20 us  14 us  83.3%\n"
      "  d (x.c:1)      2   6 us   6 us  25.0%\n",
      table.str());
  std::ostringstream json;
  writeTreeJson(buildCallTree({r}, true), TreeOptions{0, 0}, json);
  // A thread counts all its spans, and the time of those nested in none.
  const auto node = [](const std::string& head, int spans, int total, int self, const char* share,
                       const std::string& children) {
    return "{" + head + ",\"spans\":" + std::to_string(spans) +
           ",\"total_us\":" + std::to_string(total) + ",\"self_us\":" + std::to_string(self) +
           ",\"share\":" + share + ",\"children\":[" + children + "]}";
  };
  const std::string d = "\"section\":\"d\",\"location\":\"x.c:1\"";
  EXPECT_EQ(
      "{\"self_us\":14,\"paths\":[" +
          node("\"thread\":\"tid 1\"", 2, 10, 0, "0.714286",
               node("\"section\":\"a;b\\u000ac\",\"location\":\"\"", 1, 10, 7, "0.714286",
                    node(d, 1, 3, 3, "0.214286", ""))) +
          "," +
          node("\"thread\":\"tid 2\"", 1, 4, 0, "0.285714", node(d, 1, 4, 4, "0.285714", "")) +
          "]}\n",
      json.str());
}

// Events as speedscope takes them: a child that outlasts its parent by the
// microsecond of rounding closes with it, times count from the report's
// first span, and a thread without spans has no profile.
TEST(Nesting, SpeedscopeEventsNestExactly) {
  SpanReport report;
  report.name = "ss.json";
  report.sections = {"a", "b"};
  report.pcs = {{"", 0}, {"x.c:1", 1}};
  report.threads = {{"1", {{1.0, 100, 0}, {1.00005, 51, 1}}}, {"2", {{1.0001, 5, 1}}}, {"3", {}}};
  std::ostringstream out;
  writeSpeedscope({report}, out);
  EXPECT_EQ(
      "{\"$schema\":\"https://www.speedscope.app/file-format-schema.json\",\"exporter\":"
      "\"spanmill-report\",\"name\":\"ss.json\",\"activeProfileIndex\":0,\"shared\":{"
      "\"frames\":[\n{\"name\":\"a\"},\n{\"name\":\"b\",\"file\":\"x.c:1\"}]},\"profiles\":[\n"
      "{\"type\":\"evented\",\"name\":\"tid 1\",\"unit\":\"microseconds\",\"events\":["
      "{\"type\":\"O\",\"frame\":0,\"at\":0},{\"type\":\"O\",\"frame\":1,\"at\":50},"
      "{\"type\":\"C\",\"frame\":1,\"at\":100},{\"type\":\"C\",\"frame\":0,\"at\":100}],"
      "\"startValue\":0,\"endValue\":100},\n"
      "{\"type\":\"evented\",\"name\":\"tid 2\",\"unit\":\"microseconds\",\"events\":["
      "{\"type\":\"O\",\"frame\":1,\"at\":100},{\"type\":\"C\",\"frame\":1,\"at\":105}],"
      "\"startValue\":100,\"endValue\":105}\n]}\n",
      out.str());
}

}  // namespace
}  // namespace orvel
