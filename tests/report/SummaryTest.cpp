#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "report/Summary.h"

namespace orvel {
namespace {

// One report: thread 1 and 2, sections a and b, b with a location.
SpanReport twoThreads(const std::vector<long long>& a1, const std::vector<long long>& b1,
                      const std::vector<long long>& a2) {
  SpanReport report;
  report.name = "r.json";
  report.sections = {"a", "b"};
  report.pcs = {{"", 0}, {"b.c:9", 1}};
  report.threads = {{"1", {}}, {"2", {}}};
  for (long long micros : a1) {
    report.threads[0].spans.push_back({0.0, micros, 0});
  }
  for (long long micros : b1) {
    report.threads[0].spans.push_back({0.0, micros, 1});
  }
  for (long long micros : a2) {
    report.threads[1].spans.push_back({0.0, micros, 0});
  }
  return report;
}

TEST(Summary, StatisticsOfOddEvenSingleZeroAndNegativeCounts) {
  // a: 50 10 40 20 30 and 60 on thread 2: an even count of six.
  std::vector<SummaryRow> rows = summarize({twoThreads({50, 10, 40, 20, 30}, {7}, {60})}, false);
  ASSERT_EQ(2u, rows.size());
  const SummaryRow& a = rows[0];
  EXPECT_EQ("a", a.name);
  EXPECT_EQ(6u, a.count);
  EXPECT_EQ(210, a.total);
  EXPECT_EQ(35, a.mean);
  EXPECT_EQ(10, a.min);
  EXPECT_EQ(35, a.median);  // (30 + 40) / 2
  EXPECT_EQ(60, a.p95);     // the ceil(5.7) = 6th of six
  EXPECT_EQ(60, a.max);
  EXPECT_DOUBLE_EQ(210.0 / 217, a.share);
  EXPECT_EQ("b.c:9", rows[1].location);
  EXPECT_EQ(7, rows[1].median);  // a single span is every statistic
  EXPECT_EQ(7, rows[1].p95);

  // An odd count; the 95th percentile of twenty-one is the twentieth.
  std::vector<long long> many;
  for (long long i = 21; i >= 1; --i) {
    many.push_back(i);
  }
  rows = summarize({twoThreads(many, {0, 0}, {})}, false);
  EXPECT_EQ(11, rows[0].median);
  EXPECT_EQ(20, rows[0].p95);
  EXPECT_EQ(0, rows[1].total);
  EXPECT_EQ(0, rows[1].share);

  // Negative durations (an end before its begin) count as they are.
  rows = summarize({twoThreads({-5, 5, -10}, {}, {})}, false);
  EXPECT_EQ(-10, rows[0].total);
  EXPECT_EQ(-5, rows[0].median);
  EXPECT_EQ(1, rows[0].share);
}

TEST(Summary, RowsPerThreadAndAcrossReports) {
  const SpanReport report = twoThreads({1, 2}, {100}, {4});
  std::vector<SummaryRow> rows = summarize({report}, true);
  ASSERT_EQ(3u, rows.size());
  EXPECT_EQ("1", rows[0].thread);  // b on thread 1: 100
  EXPECT_EQ("2", rows[1].thread);  // a on thread 2: 4
  EXPECT_EQ("1", rows[2].thread);  // a on thread 1: 3
  SpanReport other = report;
  other.name = "s.json";
  rows = summarize({report, other}, true);
  EXPECT_EQ("r.json:1", rows[0].thread);
  EXPECT_EQ("s.json:1", rows[1].thread);
  rows = summarize({report, other}, false);
  ASSERT_EQ(2u, rows.size());
  EXPECT_EQ(6u, rows[1].count);  // a from both reports, both threads
}

TEST(Summary, TableAndJson) {
  EXPECT_EQ("850 us", durationText(850));
  EXPECT_EQ("12.5 us", durationText(12.5));
  EXPECT_EQ("3.204 ms", durationText(3204));
  EXPECT_EQ("-1.250 s", durationText(-1250000));
  const std::vector<SummaryRow> rows = summarize({twoThreads({1500, 2500}, {40}, {})}, false);
  std::ostringstream table;
  writeSummaryTable(rows, false, table);
  EXPECT_EQ(
      "section    spans     total      mean       min    median       p95       max  share\n"
      "a              2  4.000 ms  2.000 ms  1.500 ms  2.000 ms  2.500 ms  2.500 ms  99.0%\n"
      "b (b.c:9)      1     40 us     40 us     40 us     40 us     40 us     40 us   1.0%\n",
      table.str());
  std::ostringstream json;
  writeSummaryJson(rows, false, json);
  EXPECT_EQ(
      "{\"rows\":[{\"section\":\"a\",\"location\":\"\",\"spans\":2,\"total_us\":4000,"
      "\"mean_us\":2000,\"min_us\":1500,\"median_us\":2000,\"p95_us\":2500,\"max_us\":2500,"
      "\"share\":0.990099},{\"section\":\"b\",\"location\":\"b.c:9\",\"spans\":1,\"total_us\":40,"
      "\"mean_us\":40,\"min_us\":40,\"median_us\":40,\"p95_us\":40,\"max_us\":40,"
      "\"share\":0.009901}],\"total_us\":4040}\n",
      json.str());
}

}  // namespace
}  // namespace orvel
