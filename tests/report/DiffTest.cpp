#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "report/Diff.h"
#include "report/Noise.h"
#include "report/RankStats.h"
#include "tests/Testing.h"

namespace orvel {
namespace {

std::vector<double> numbers(const std::string& list) {
  std::vector<double> values;
  for (size_t from = 0; from < list.size();) {
    char* end;
    values.push_back(std::strtod(list.c_str() + from, &end));
    from = static_cast<size_t>(end - list.c_str()) + 1;
  }
  return values;
}

void expectNear(double expected, double actual, double relative, const std::string& what) {
  if (std::isnan(expected)) {
    EXPECT_TRUE(std::isnan(actual)) << what << ": " << actual;
  } else {
    EXPECT_NEAR(expected, actual, std::fabs(expected) * relative) << what;
  }
}

// Values counted by brute force in tests/data/make/rank_tests.py: exact
// where the code counts exactly, the normal approximation within 2 %
// beyond.
TEST(RankStats, MatchValuesCountedByBruteForce) {
  const auto rows = testing::readTable(ORVEL_TEST_DATA "/rank-tests.tsv");
  for (const auto& row : rows) {
    if (row.size() < 8 || row[0][0] == '#') {
      continue;
    }
    const std::vector<double> x = numbers(row[0]), y = numbers(row[1]);
    const double alpha = std::strtod(row[2].c_str(), nullptr);
    const bool exact = x.size() + y.size() <= kExactRankValues;
    const std::string what = row[0] + " / " + row[1];
    expectNear(std::strtod(row[3].c_str(), nullptr), mannWhitneyP(x, y), exact ? 1e-9 : 0.02,
               what + ": p");
    expectNear(std::strtod(row[3].c_str(), nullptr), mannWhitneyP(y, x), exact ? 1e-9 : 0.02,
               what + ": p, sides swapped");
    if (row[7] == "-") {
      continue;
    }
    const RatioChange change = ratioChange(x, y, alpha);
    expectNear(std::strtod(row[4].c_str(), nullptr), change.estimate, 1e-9, what + ": estimate");
    expectNear(std::strtod(row[5].c_str(), nullptr), change.low, 1e-9, what + ": low");
    expectNear(std::strtod(row[6].c_str(), nullptr), change.high, 1e-9, what + ": high");
    EXPECT_EQ(std::strtoul(row[7].c_str(), nullptr, 10), intervalRank(x.size(), y.size(), alpha))
        << what;
  }
}

TEST(RankStats, EdgesOfTheInputs) {
  EXPECT_EQ(1, mannWhitneyP({}, {1, 2}));
  EXPECT_TRUE(std::isnan(ratioChange({0, 1, 2, 3}, {1, 2, 3, 4}, 0.05).estimate));
  EXPECT_TRUE(std::isnan(ratioChange({}, {1}, 0.05).estimate));
  EXPECT_DOUBLE_EQ(2.0 / 252, smallestP(5, 5));
  EXPECT_EQ(1, smallestP(1, 1));
  // Past the exact range, the interval rank from the normal approximation:
  // 40 a side at 0.05 is 1600/2 + 0.5 - 1.96 sqrt(1600 * 81 / 12) = 596.8.
  EXPECT_EQ(596u, intervalRank(40, 40, 0.05));
}

TEST(RankStats, HolmAdjustsInOrderAndSkipsTheMissing) {
  const std::vector<double> adjusted = holmAdjusted({0.01, 0.04, 0.03, NAN, 0.5});
  const std::vector<double> expected = {0.04, 0.09, 0.09, NAN, 0.5};
  for (size_t i = 0; i < expected.size(); ++i) {
    expectNear(expected[i], adjusted[i], 1e-12, "p " + std::to_string(i));
  }
}

TEST(Diff, RunsNeededGrowWithTheSectionsHolmCountsAcross) {
  // 2 / C(2n, n) must pass alpha / sections: 5 a side pass 6 sections.
  const std::pair<size_t, size_t> cases[] = {{1, 4}, {3, 5}, {6, 5}, {7, 6}, {23, 6}, {24, 7}};
  for (const auto& [sections, runs] : cases) {
    EXPECT_EQ(runs, runsNeeded(sections, 0.05)) << sections;
  }
  EXPECT_EQ(4u, runsNeeded(1, 2.0 / 70));  // a p-value of exactly alpha passes
  EXPECT_FALSE(changeAbove(1070.0 / 1000, 7));
  EXPECT_TRUE(changeAbove(1.0700001, 7));
  EXPECT_FALSE(changeAbove(NAN, 0));
}

// Runs of sections a (factor times base), b (unchanged, noisy) and c
// (only in some runs), each a single number here.
std::vector<RunMedians> runs(const std::vector<double>& a, const std::vector<double>& b,
                             size_t withC) {
  std::vector<RunMedians> made;
  for (size_t i = 0; i < a.size(); ++i) {
    RunMedians run = {{"a", "", 3, a[i]}, {"b", "x.c:1", 3, b[i]}};
    if (i < withC) {
      run.push_back({"c", "", 1, 0});
    }
    made.push_back(run);
  }
  return made;
}

TEST(Diff, VerdictsAndTheGate) {
  const std::vector<RunMedians> before = runs({10, 11, 12, 13, 14}, {50, 52, 49, 51, 50}, 5);
  const std::vector<RunMedians> after = runs({20, 22, 24, 26, 28}, {51, 49, 50, 52, 48}, 0);
  const std::vector<DiffRow> rows = compareRuns(before, after, DiffOptions{});
  ASSERT_EQ(3u, rows.size());
  EXPECT_EQ("a", rows[0].name);
  EXPECT_EQ(Verdict::kSlower, rows[0].verdict);
  EXPECT_DOUBLE_EQ(2, rows[0].change.estimate);
  EXPECT_DOUBLE_EQ(2.0 / 252, rows[0].p);
  EXPECT_DOUBLE_EQ(2 * 2.0 / 252, rows[0].adjustedP);  // two rows judged
  EXPECT_DOUBLE_EQ(12, rows[0].medianBefore);
  EXPECT_EQ(Verdict::kNotSignificant, rows[1].verdict);
  EXPECT_EQ(Verdict::kRemoved, rows[2].verdict);
  DiffOptions atP;  // a p-value of exactly alpha is significant
  atP.alpha = rows[0].adjustedP;
  EXPECT_EQ(Verdict::kSlower, compareRuns(before, after, atP)[0].verdict);
  // The third smallest of the ratios 20/14, 20/13, 22/14, ...: above +57 %,
  // not above +58 %.
  EXPECT_DOUBLE_EQ(22.0 / 14, rows[0].change.low);
  EXPECT_EQ(1u, judge(rows, 57, 0.05).slower.size());
  EXPECT_TRUE(judge(rows, 58, 0.05).slower.empty());
  EXPECT_TRUE(judge(rows, 58, 0.05).canJudge);

  // A run median of 0 has no ratio; fewer than 4 runs a side no interval.
  const std::vector<DiffRow> zero = compareRuns(runs({0, 1, 1, 1}, {1, 1, 1, 1}, 4),
                                                runs({1, 1, 1, 1}, {1, 1, 1, 1}, 4), DiffOptions{});
  EXPECT_EQ(Verdict::kNoRatio, zero[2].verdict);
  const std::vector<DiffRow> few =
      compareRuns(runs({1, 2, 3}, {1, 2, 3}, 0), runs({9, 9, 9}, {1, 2, 3}, 0), DiffOptions{});
  EXPECT_EQ(Verdict::kTooFewRuns, few[0].verdict);
  const Gate gate = judge(few, 0, 0.05);
  EXPECT_FALSE(gate.canJudge);
  EXPECT_EQ(5u, gate.runsNeeded);

  // --min-spans 2 leaves out c's runs, of one span each.
  DiffOptions options;
  options.minSpans = 2;
  EXPECT_EQ(2u, compareRuns(before, after, options).size());
}

// The factor noise reports for a section is where the gate starts to name
// it: the second side's runs slowed by a little more trip it, by a little
// less do not.
TEST(Noise, TheFactorCaughtIsWhereTheGateTrips) {
  const std::vector<double> a = {10, 12, 11, 15, 13, 10.5, 14, 12.5, 11.5, 13.5, 12.2, 10.9};
  const std::vector<double> b = {50, 52, 49, 51, 50, 53, 48, 50.5, 51.5, 49.5, 52.5, 50.2};
  for (size_t aSide : {5, 6}) {
    const std::vector<RunMedians> before = runs({a.begin(), a.begin() + aSide}, b, 0);
    const std::vector<double> second(a.end() - aSide, a.end());
    const DiffRow row = compareRuns(before, runs(second, b, 0), DiffOptions{})[0];
    for (double percent : {0.0, 5.0, 20.0}) {
      const double factor = factorCaught(row, 2, 0.05, percent);
      ASSERT_FALSE(std::isnan(factor));
      for (double scale : {factor * 1.0001, factor * 0.9999}) {
        std::vector<double> slowed = second;
        for (double& median : slowed) {
          median *= scale;
        }
        const std::vector<DiffRow> rows = compareRuns(before, runs(slowed, b, 0), DiffOptions{});
        EXPECT_EQ(scale > factor, judge(rows, percent, 0.05).slower.size() == 1)
            << aSide << " a side, " << percent << "%, scale " << scale;
      }
    }
  }
  NoiseOptions options;
  options.aSide = 4;
  const Noise noise = measureNoise(runs(a, b, 0), options);
  EXPECT_EQ(1000u, noise.splits);  // drawn, of C(12, 4) C(8, 4)
  EXPECT_EQ(34650, noise.ways);
  EXPECT_EQ(2u, noise.sections.size());
  options.aSide = 3;  // too few a side for any interval
  EXPECT_TRUE(std::isnan(measureNoise(runs(a, b, 0), options).sections[0].caught));
}

// Halves never share a run; drawn ones put every run in either half; every
// split is listed once.
TEST(Noise, Splits) {
  const std::tuple<size_t, size_t, size_t> cases[] = {{12, 4, 1000}, {12, 6, 924}, {8, 4, 70},
                                                      {5, 2, 30},    {12, 7, 0},   {4, 0, 0}};
  for (const auto& [n, k, count] : cases) {
    const std::vector<Split> splits = splitRuns(n, k, 1000);
    EXPECT_EQ(count, splits.size()) << n << " " << k;
    std::set<Split> distinct;
    std::vector<int> inFirst(n), inSecond(n);
    for (const Split& split : splits) {
      std::set<size_t> both(split.first.begin(), split.first.end());
      both.insert(split.second.begin(), split.second.end());
      EXPECT_EQ(2 * k, both.size());
      distinct.insert(split);
      for (size_t i = 0; i < k; ++i) {
        ++inFirst[split.first[i]];
        ++inSecond[split.second[i]];
      }
    }
    EXPECT_EQ(count < 1000 ? count : distinct.size(), distinct.size());
    for (size_t run = 0; run < n && count > 0; ++run) {
      EXPECT_GT(inFirst[run], 0) << run;
      EXPECT_GT(inSecond[run], 0) << run;
    }
  }
}

std::vector<RunMedians> noiseRuns(const char* name) {
  std::vector<SpanReport> reports;
  std::string error;
  size_t failed;
  EXPECT_TRUE(
      loadSpanReports(ORVEL_TEST_DATA "/noise/" + std::string(name), &reports, &error, &failed))
      << error;
  std::vector<RunMedians> runs;
  for (const SpanReport& report : reports) {
    runs.push_back(summarizeRun(report));
  }
  return runs;
}

// Real captures (tests/data/noise): 20 runs of a program, and 20 of it with
// layout made twice as slow, which makes frame slower too; draw is
// unchanged. Five runs against five, drawn at random.
TEST(Diff, TheGateOnRealNoise) {
  const std::vector<RunMedians> same = noiseRuns("same.json"), doubled = noiseRuns("doubled.json");
  ASSERT_EQ(20u, same.size());
  ASSERT_EQ(20u, doubled.size());
  std::mt19937 engine(7);
  const size_t draws = 1000;
  size_t falseAlarms = 0, caught = 0, wronglyNamed = 0;
  for (size_t draw = 0; draw < draws; ++draw) {
    std::vector<size_t> order(same.size());
    std::iota(order.begin(), order.end(), 0);
    for (size_t i = 0; i < 10; ++i) {
      std::swap(order[i], order[i + engine() % (order.size() - i)]);
    }
    std::vector<RunMedians> base, again, slower;
    for (size_t i = 0; i < 5; ++i) {
      base.push_back(same[order[i]]);
      again.push_back(same[order[5 + i]]);
      slower.push_back(doubled[order[5 + i]]);
    }
    const std::vector<DiffRow> identical = compareRuns(base, again, DiffOptions{});
    falseAlarms += !judge(identical, 5, 0.05).slower.empty();
    const std::vector<DiffRow> changed = compareRuns(base, slower, DiffOptions{});
    const Gate gate = judge(changed, 5, 0.05);
    ASSERT_TRUE(gate.canJudge);
    caught += std::any_of(gate.slower.begin(), gate.slower.end(),
                          [](const DiffRow* row) { return row->name == "layout"; });
    wronglyNamed += std::any_of(gate.slower.begin(), gate.slower.end(),
                                [](const DiffRow* row) { return row->name == "draw"; });
  }
  std::printf(
      "identical code tripped on %zu of %zu draws; layout doubled named on %zu, draw on %zu\n",
      falseAlarms, draws, caught, wronglyNamed);
  EXPECT_LE(falseAlarms, draws / 20);
  EXPECT_GE(caught, draws * 95 / 100);
  EXPECT_EQ(0u, wronglyNamed);
}

}  // namespace
}  // namespace orvel
