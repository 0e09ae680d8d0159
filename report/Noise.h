// What a set of runs of unchanged code can tell. Split into two halves many
// times and compared as diff compares runs, they show how often the gate
// trips on identical code (its false alarms), and per section the smallest
// slowdown it would catch.
#ifndef ORVEL_REPORT_NOISE_H
#define ORVEL_REPORT_NOISE_H

#include <cstddef>
#include <iosfwd>
#include <string>
#include <utility>
#include <vector>

#include "report/Diff.h"

namespace orvel {

struct NoiseOptions {
  DiffOptions diff;
  double percent = 5;   // the gate's threshold, as --fail-above takes it
  size_t aSide = 0;     // runs in each half; 0 for half of them
  size_t draws = 1000;  // splits tried at most; all of them when there are no more
};

struct NoiseSection {
  std::string name;
  std::string location;
  std::vector<double> medians;  // of the runs that count for it, in run order
  double median = 0;            // of those
  // The smallest factor by which the second half's medians would have to
  // grow for the gate to name the section, on 95 % of the splits (the
  // nearest rank); not a number when more than 5 % of the splits could
  // not name it at any factor.
  double caught = 0;
};

struct Noise {
  size_t runs = 0;
  size_t aSide = 0;
  double ways = 0;                     // ordered splits into the two halves that there are
  size_t splits = 0;                   // those tried: every one, or draws of them at random
  size_t tripped = 0;                  // splits on which the gate tripped
  size_t undecided = 0;                // splits on which it could not judge
  std::vector<NoiseSection> sections;  // by name and location
};

// Two halves of k runs each, as indices of the runs, first and second.
using Split = std::pair<std::vector<size_t>, std::vector<size_t>>;

// Every ordered split of n runs into two halves of k when there are at most
// draws of them, else draws splits drawn at random, the same from one call
// to the next; none unless 2 k <= n and k >= 1.
std::vector<Split> splitRuns(size_t n, size_t k, size_t draws);

// Needs 2 aSide runs or more. The splits drawn at random are the same from
// one call to the next.
Noise measureNoise(const std::vector<RunMedians>& runs, const NoiseOptions& options);

// The factor by which the medians of row's second side would have to grow
// for the gate at percent to name it, were it the only change among
// judged rows; not a number when its runs can never be called significant.
double factorCaught(const DiffRow& row, size_t judged, double alpha, double percent);

void writeNoiseTable(const Noise& noise, const NoiseOptions& options, std::ostream& out);

}  // namespace orvel

#endif  // ORVEL_REPORT_NOISE_H
