// Rank statistics of two independent samples, as a comparison of runs needs
// them: the Mann-Whitney U test, the Hodges-Lehmann estimate of a ratio
// with its confidence interval, and Holm's correction of several p-values.
// Rank methods make no assumption about the shape of the distribution, and
// one odd run moves them little.
#ifndef ORVEL_REPORT_RANKSTATS_H
#define ORVEL_REPORT_RANKSTATS_H

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

namespace orvel {

// Up to this many values in both samples together, p-values are counted
// exactly; beyond, the normal approximation is close enough and counting
// would cost the fourth power of the size.
constexpr size_t kExactRankValues = 64;

// The two-sided p-value of the Mann-Whitney U test that x and y come from
// one distribution: the chance that, were the pooled values dealt to
// samples of these sizes at random, x's rank sum would lie at least as far
// from its mean as it does. Tied values share the mean of their ranks, and
// the dealing keeps the ties as they are, so that ties are counted, not
// approximated. Exact up to kExactRankValues values; beyond, the normal
// approximation with tie and continuity correction. 1 when a sample is
// empty.
double mannWhitneyP(const std::vector<double>& x, const std::vector<double>& y);

// C(n, k), the number of ways to choose k of n, as a double: it is used as a
// count of splits and in chances, where its rounding past 2^53 is harmless.
double binomial(size_t n, size_t k);

// The smallest p-value mannWhitneyP gives for samples of sizes m and n
// (those that do not overlap): 2 / C(m + n, m), at most 1.
double smallestP(size_t m, size_t n);

// The change from x to y as a factor, y about factor times x.
struct RatioChange {
  // The Hodges-Lehmann estimate: the median of the ratios y[j] / x[i] over
  // every pair (for an even number of pairs, the geometric mean of the
  // middle two, as a median of logarithms). Not a number when a sample is
  // empty or holds a value that is not above 0.
  double estimate = NAN;
  // The confidence interval [r(k), r(mn + 1 - k)] of the sorted ratios,
  // where k is the largest count for which U < k has a chance of at most
  // alpha / 2 when both samples come from one distribution (without ties).
  // It covers the true factor with a chance of at least 1 - alpha when y is
  // x scaled. Not a number when no such k exists: at alpha 0.05 from 4
  // values a side.
  double low = NAN, high = NAN;
};
RatioChange ratioChange(const std::vector<double>& x, const std::vector<double>& y, double alpha);

// The smallest count k that the interval of ratioChange is taken at for
// samples of sizes m and n; 0 when there is none.
size_t intervalRank(size_t m, size_t n, double alpha);

// Holm's step-down correction of p-values taken together: p-values adjusted
// so that calling those at most alpha significant keeps the chance of any
// false call at most alpha. In ascending order of p, the i-th (from 0) of
// m becomes the largest of min(1, (m - j) p(j)) for j up to i. Not a
// number stays not a number and does not count.
std::vector<double> holmAdjusted(const std::vector<double>& p);

// The median of values, which it reorders: the mean of the middle two for
// an even count. Not a number for none.
template <typename T>
double medianOf(std::vector<T>* values) {
  std::vector<T>& v = *values;
  const size_t n = v.size();
  if (n == 0) {
    return NAN;
  }
  std::nth_element(v.begin(), v.begin() + n / 2, v.end());
  const double upper = static_cast<double>(v[n / 2]);
  // nth_element leaves every smaller value before the middle one.
  const double lower =
      n % 2 == 1 ? upper : static_cast<double>(*std::max_element(v.begin(), v.begin() + n / 2));
  return (lower + upper) / 2;
}

}  // namespace orvel

#endif  // ORVEL_REPORT_RANKSTATS_H
