#include "report/Noise.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <numeric>
#include <ostream>
#include <random>
#include <utility>

#include "report/Summary.h"
#include "report/TextTable.h"

namespace orvel {

namespace {

using SectionKey = std::pair<std::string, std::string>;

// Steps indices (ascending, below n) to the next combination in
// lexicographic order; false after the last.
bool nextCombination(std::vector<size_t>* indices, size_t n) {
  std::vector<size_t>& c = *indices;
  const size_t k = c.size();
  for (size_t i = k; i-- > 0;) {
    if (c[i] < n - k + i) {
      ++c[i];
      for (size_t j = i + 1; j < k; ++j) {
        c[j] = c[j - 1] + 1;
      }
      return true;
    }
  }
  return false;
}

// Every ordered split of n runs into two halves of k, as lists of indices.
std::vector<Split> everySplit(size_t n, size_t k) {
  std::vector<Split> splits;
  std::vector<size_t> first(k);
  std::iota(first.begin(), first.end(), 0);
  do {
    std::vector<size_t> rest;
    for (size_t i = 0, j = 0; i < n; ++i) {
      if (j < k && first[j] == i) {
        ++j;
      } else {
        rest.push_back(i);
      }
    }
    std::vector<size_t> second(k);
    std::iota(second.begin(), second.end(), 0);
    do {
      std::vector<size_t> picked(k);
      for (size_t i = 0; i < k; ++i) {
        picked[i] = rest[second[i]];
      }
      splits.emplace_back(first, picked);
    } while (nextCombination(&second, rest.size()));
  } while (nextCombination(&first, n));
  return splits;
}

// Splits drawn at random by a partial Fisher-Yates shuffle. The engine is
// specified to the bit, unlike the library's distributions, so every
// build draws the same splits.
std::vector<Split> drawnSplits(size_t n, size_t k, size_t draws) {
  std::mt19937 engine(1);
  std::vector<Split> splits;
  std::vector<size_t> order(n);
  for (size_t d = 0; d < draws; ++d) {
    std::iota(order.begin(), order.end(), 0);
    for (size_t i = 0; i < 2 * k; ++i) {
      std::swap(order[i], order[i + engine() % (n - i)]);
    }
    splits.emplace_back(std::vector<size_t>(order.begin(), order.begin() + k),
                        std::vector<size_t>(order.begin() + k, order.begin() + 2 * k));
  }
  return splits;
}

}  // namespace

// Both must hold: the whole interval above percent, and the p-value
// through Holm's first step. Scaling a side scales every ratio, and with
// them the interval; the p-value falls below alpha / judged once enough
// ratios exceed 1, which is where the interval at that level starts above 1.
double factorCaught(const DiffRow& row, size_t judged, double alpha, double percent) {
  const size_t m = row.before.size(), n = row.after.size();
  const size_t k = intervalRank(m, n, alpha);
  const size_t strict = intervalRank(m, n, alpha / static_cast<double>(judged));
  if (k == 0 || strict == 0) {
    return NAN;
  }
  std::vector<double> ratios;
  for (double before : row.before) {
    for (double after : row.after) {
      ratios.push_back(after / before);
    }
  }
  std::sort(ratios.begin(), ratios.end());
  return std::max(1 / ratios[strict - 1], (1 + percent / 100) / ratios[k - 1]);
}

std::vector<Split> splitRuns(size_t n, size_t k, size_t draws) {
  if (k == 0 || 2 * k > n) {
    return {};
  }
  const double ways = binomial(n, k) * binomial(n - k, k);
  return ways <= static_cast<double>(draws) ? everySplit(n, k) : drawnSplits(n, k, draws);
}

Noise measureNoise(const std::vector<RunMedians>& runs, const NoiseOptions& options) {
  Noise noise;
  noise.runs = runs.size();
  noise.aSide = options.aSide != 0 ? options.aSide : runs.size() / 2;
  const size_t k = noise.aSide;
  if (k == 0 || 2 * k > runs.size()) {
    return noise;
  }
  noise.ways = binomial(runs.size(), k) * binomial(runs.size() - k, k);
  const std::vector<Split> splits = splitRuns(runs.size(), k, options.draws);
  noise.splits = splits.size();
  std::map<SectionKey, std::vector<double>> caught;  // per split, NaN where never
  for (const auto& [first, second] : splits) {
    std::vector<RunMedians> before, after;
    for (size_t i = 0; i < k; ++i) {
      before.push_back(runs[first[i]]);
      after.push_back(runs[second[i]]);
    }
    const std::vector<DiffRow> rows = compareRuns(before, after, options.diff);
    const Gate gate = judge(rows, options.percent, options.diff.alpha);
    noise.tripped += !gate.slower.empty();
    noise.undecided += !gate.canJudge;
    for (const DiffRow& row : rows) {
      caught[{row.name, row.location}].push_back(
          std::isnan(row.adjustedP)
              ? NAN
              : factorCaught(row, gate.judged, options.diff.alpha, options.percent));
    }
  }
  // Every section with its run medians: the runs compared with none.
  for (DiffRow& row : compareRuns(runs, {}, options.diff)) {
    NoiseSection section;
    section.name = std::move(row.name);
    section.location = std::move(row.location);
    section.medians = std::move(row.before);
    section.median = row.medianBefore;
    const std::vector<double>& factors = caught[{section.name, section.location}];
    // Splits that could never name it count as the largest factors.
    std::vector<double> known;
    for (double factor : factors) {
      if (!std::isnan(factor)) {
        known.push_back(factor);
      }
    }
    const size_t rank = static_cast<size_t>((95 * static_cast<uint64_t>(noise.splits) + 99) / 100);
    section.caught = NAN;
    if (rank >= 1 && rank <= known.size()) {
      std::nth_element(known.begin(), known.begin() + (rank - 1), known.end());
      section.caught = known[rank - 1];
    }
    noise.sections.push_back(std::move(section));
  }
  return noise;
}

void writeNoiseTable(const Noise& noise, const NoiseOptions& options, std::ostream& out) {
  char line[512];
  const bool every = static_cast<double>(noise.splits) >= noise.ways;
  std::snprintf(line, sizeof line, "%zu runs: %s%zu splits into %zu against %zu%s\n", noise.runs,
                every ? "all " : "", noise.splits, noise.aSide, noise.aSide,
                every ? "" : ", drawn at random");
  out << line;
  const double share = noise.splits > 0 ? 100.0 * noise.tripped / noise.splits : 0;
  std::snprintf(line, sizeof line,
                "--fail-above %g at alpha %g: tripped on %zu of %zu splits (%.1f%%); could not "
                "judge %zu\n",
                options.percent, options.diff.alpha, noise.tripped, noise.splits, share,
                noise.undecided);
  out << line;
  std::vector<std::vector<std::string>> lines = {
      {"section", "runs", "median", "run medians", "slowdown caught in 95%"}};
  for (const NoiseSection& section : noise.sections) {
    const auto [lowest, highest] =
        std::minmax_element(section.medians.begin(), section.medians.end());
    lines.push_back(
        {sectionText(section.name, section.location), std::to_string(section.medians.size()),
         durationText(section.median),
         section.medians.empty() ? "-" : durationText(*lowest) + " to " + durationText(*highest),
         std::isnan(section.caught)
             ? "needs " + std::to_string(runsNeeded(noise.sections.size(), options.diff.alpha)) +
                   " runs a side"
             : changeText(section.caught)});
  }
  writeTextTable(lines, 1, out);
}

}  // namespace orvel
