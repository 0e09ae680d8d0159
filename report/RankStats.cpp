#include "report/RankStats.h"

#include <algorithm>
#include <numeric>
#include <utility>

namespace orvel {

namespace {

// The number of ways to choose k of the values whose doubled ranks are
// given, per sum of their doubled ranks (the index). Doubled, so that the
// mean rank of a tie, a half at times, is a whole number. Counted in
// doubles: beyond 2^53 ways the counts round, far below what a p-value
// shows.
std::vector<double> rankSumCounts(const std::vector<int>& doubledRanks, size_t k) {
  const int most = std::accumulate(doubledRanks.begin(), doubledRanks.end(), 0);
  const size_t width = static_cast<size_t>(most) + 1;
  // ways[j * width + s]: subsets of j values so far with sum s.
  std::vector<double> ways((k + 1) * width, 0.0);
  ways[0] = 1;
  int reached = 0;  // the largest sum any subset so far has
  for (size_t i = 0; i < doubledRanks.size(); ++i) {
    const int rank = doubledRanks[i];
    reached += rank;
    for (size_t j = std::min(i + 1, k); j >= 1; --j) {
      double* to = &ways[j * width];
      const double* from = &ways[(j - 1) * width];
      for (int s = reached; s >= rank; --s) {
        to[s] += from[s - rank];
      }
    }
  }
  return std::vector<double>(ways.begin() + static_cast<std::ptrdiff_t>(k * width), ways.end());
}

// z with a chance of alpha that a standard normal value lies beyond
// -z or z.
double twoSidedQuantile(double alpha) {
  double low = 0, high = 40;
  for (int i = 0; i < 100; ++i) {
    const double middle = (low + high) / 2;
    (std::erfc(middle / std::sqrt(2.0)) > alpha ? low : high) = middle;
  }
  return low;
}

}  // namespace

double mannWhitneyP(const std::vector<double>& x, const std::vector<double>& y) {
  const size_t m = x.size(), n = y.size(), all = m + n;
  if (m == 0 || n == 0) {
    return 1;
  }
  // The pooled values in order, each marked with its sample.
  std::vector<std::pair<double, bool>> pooled;
  pooled.reserve(all);
  for (double value : x) {
    pooled.emplace_back(value, true);
  }
  for (double value : y) {
    pooled.emplace_back(value, false);
  }
  std::sort(pooled.begin(), pooled.end());
  // The values of the smaller sample are the ones counted.
  const bool countX = m <= n;
  const size_t k = countX ? m : n;
  std::vector<int> doubledRanks(all);
  long long observed = 0;  // the doubled rank sum of the counted sample
  double tieTerm = 0;      // the sum of t^3 - t over ties of t values
  for (size_t first = 0; first < all;) {
    size_t last = first;
    while (last + 1 < all && pooled[last + 1].first == pooled[first].first) {
      ++last;
    }
    // Positions first..last hold ranks first+1..last+1: doubled mean first+last+2.
    const int doubled = static_cast<int>(first + last + 2);
    for (size_t i = first; i <= last; ++i) {
      doubledRanks[i] = doubled;
      observed += pooled[i].second == countX ? doubled : 0;
    }
    const double t = static_cast<double>(last - first + 1);
    tieTerm += t * t * t - t;
    first = last + 1;
  }
  const long long center = static_cast<long long>(k * (all + 1));  // the doubled mean
  const long long distance = observed > center ? observed - center : center - observed;
  if (all <= kExactRankValues) {
    const std::vector<double> counts = rankSumCounts(doubledRanks, k);
    double far = 0, ways = 0;
    for (size_t s = 0; s < counts.size(); ++s) {
      const long long sum = static_cast<long long>(s);
      ways += counts[s];
      far += sum - center >= distance || center - sum >= distance ? counts[s] : 0;
    }
    return std::min(1.0, far / ways);
  }
  const double dm = static_cast<double>(m), dn = static_cast<double>(n);
  const double dall = static_cast<double>(all);
  const double variance = dm * dn / 12 * (dall + 1 - tieTerm / (dall * (dall - 1)));
  if (variance <= 0) {
    return 1;  // every value the same
  }
  const double z = (static_cast<double>(distance) / 2 - 0.5) / std::sqrt(variance);
  return z <= 0 ? 1 : std::min(1.0, std::erfc(z / std::sqrt(2.0)));
}

double binomial(size_t n, size_t k) {
  double ways = 1;  // built up as C(n - k + i, i)
  for (size_t i = 1; i <= k; ++i) {
    ways = ways * static_cast<double>(n - k + i) / static_cast<double>(i);
  }
  return ways;
}

double smallestP(size_t m, size_t n) {
  return std::min(1.0, 2 / binomial(m + n, m));
}

size_t intervalRank(size_t m, size_t n, double alpha) {
  if (m == 0 || n == 0) {
    return 0;
  }
  const size_t all = m + n;
  if (all > kExactRankValues) {
    const double pairs = static_cast<double>(m) * static_cast<double>(n);
    const double spread = std::sqrt(pairs * static_cast<double>(all + 1) / 12);
    const double k = std::floor(pairs / 2 + 0.5 - twoSidedQuantile(alpha) * spread);
    return k < 1 ? 0 : static_cast<size_t>(k);
  }
  std::vector<int> doubledRanks(all);
  for (size_t i = 0; i < all; ++i) {
    doubledRanks[i] = static_cast<int>(2 * (i + 1));
  }
  const std::vector<double> counts = rankSumCounts(doubledRanks, m);
  const double ways = std::accumulate(counts.begin(), counts.end(), 0.0);
  // U = W - m(m+1)/2 for the rank sum W; W's doubled sums are even.
  const size_t lowest = m * (m + 1);
  size_t k = 0;
  double below = 0;  // the chance of U < k
  for (size_t s = lowest; s < counts.size(); s += 2) {
    below += counts[s] / ways;
    if (below > alpha / 2) {
      break;
    }
    ++k;
  }
  return k;
}

RatioChange ratioChange(const std::vector<double>& x, const std::vector<double>& y, double alpha) {
  RatioChange change;
  const auto positive = [](double value) { return value > 0 && std::isfinite(value); };
  if (x.empty() || y.empty() || !std::all_of(x.begin(), x.end(), positive) ||
      !std::all_of(y.begin(), y.end(), positive)) {
    return change;
  }
  std::vector<double> ratios;
  ratios.reserve(x.size() * y.size());
  for (double before : x) {
    for (double after : y) {
      ratios.push_back(after / before);
    }
  }
  std::sort(ratios.begin(), ratios.end());
  const size_t pairs = ratios.size();
  change.estimate =
      pairs % 2 == 1 ? ratios[pairs / 2] : std::sqrt(ratios[pairs / 2 - 1] * ratios[pairs / 2]);
  if (const size_t k = intervalRank(x.size(), y.size(), alpha); k >= 1) {
    change.low = ratios[k - 1];
    change.high = ratios[pairs - k];
  }
  return change;
}

std::vector<double> holmAdjusted(const std::vector<double>& p) {
  std::vector<size_t> order;
  for (size_t i = 0; i < p.size(); ++i) {
    if (!std::isnan(p[i])) {
      order.push_back(i);
    }
  }
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return p[a] < p[b]; });
  std::vector<double> adjusted(p.size(), NAN);
  double largest = 0;
  for (size_t i = 0; i < order.size(); ++i) {
    const double scaled = static_cast<double>(order.size() - i) * p[order[i]];
    largest = std::max(largest, std::min(1.0, scaled));
    adjusted[order[i]] = largest;
  }
  return adjusted;
}

}  // namespace orvel
