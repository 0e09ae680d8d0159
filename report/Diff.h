// Runs compared as samples. Each report is one run; per section (a function
// name with its code location) the run's median duration is one sample.
// Between identical runs that median moves with scheduling, frequency and
// the neighbours on the machine, so only more runs can tell a change from
// that noise, and the comparison says when it cannot.
#ifndef ORVEL_REPORT_DIFF_H
#define ORVEL_REPORT_DIFF_H

#include <cmath>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "report/RankStats.h"
#include "report/SpanReport.h"

namespace orvel {

// A run reduced to what a comparison needs: per section, its spans and
// their median duration in microseconds. Sorted by name, then location.
struct RunSection {
  std::string name;
  std::string location;  // "" when the spans have none
  uint64_t spans = 0;
  double median = 0;
};
using RunMedians = std::vector<RunSection>;

RunMedians summarizeRun(const SpanReport& report);

struct DiffOptions {
  double alpha = 0.05;    // the significance level, and 1 - the interval's confidence
  uint64_t minSpans = 1;  // a run counts for a section when it has this many of its spans
};

enum class Verdict {
  kSlower,          // significant after Holm's correction, and slower
  kFaster,          // the same, faster
  kNotSignificant,  // judged, and not significant
  kTooFewRuns,      // too few runs a side for an interval at the level asked
  kNoRatio,         // a run median of 0 us: no ratio to take
  kAdded,           // no run before counts for the section
  kRemoved,         // no run after does
};

struct DiffRow {
  std::string name;
  std::string location;
  // The medians of the runs that count for the section, in run order.
  std::vector<double> before, after;
  double medianBefore = NAN, medianAfter = NAN;  // the medians of those; none without runs
  RatioChange change;                            // after about change times before
  double p = NAN;  // Mann-Whitney, two-sided; none unless both sides have runs
  // p after Holm's correction across the judged rows (those with an
  // interval); none for the others.
  double adjustedP = NAN;
  Verdict verdict = Verdict::kTooFewRuns;
};

// The sections of the runs compared. Significant changes come first, then
// the other sections on both sides, then those added or removed; within
// each, the largest change first, then by name and location.
std::vector<DiffRow> compareRuns(const std::vector<RunMedians>& before,
                                 const std::vector<RunMedians>& after, const DiffOptions& options);

// Whether the rows were judged, and what the gate found.
struct Gate {
  size_t compared = 0;  // rows with runs on both sides
  size_t judged = 0;    // rows with an interval, those Holm's correction counts
  // False when no row can reach significance with the runs it has: no
  // judged row, or none whose smallest p-value passes Holm's first step.
  bool canJudge = false;
  // Runs a side with which the compared rows could be judged.
  size_t runsNeeded = 0;
  // Rows significantly slower whose whole interval lies above the threshold.
  std::vector<const DiffRow*> slower;
};
Gate judge(const std::vector<DiffRow>& rows, double percent, double alpha);

// The smallest equal number of runs a side with which one of sections
// compared can pass Holm's first step at alpha.
size_t runsNeeded(size_t sections, double alpha);

// Whether a factor's change lies above percent. Compared at a millionth of
// a percent, so that 1000 us -> 1070 us is 7 %, not above it.
bool changeAbove(double factor, double percent);

// The rows as an aligned text table: runs, medians before and after, the
// change ("~" when not significant), its interval and p.
void writeDiffTable(const std::vector<DiffRow>& rows, std::ostream& out);
// That table's lines, the head first.
std::vector<std::vector<std::string>> diffTableLines(const std::vector<DiffRow>& rows);
// Every number of the rows as JSON, durations in microseconds; with a
// gate, its threshold and outcome. gate may be null.
void writeDiffJson(const std::vector<DiffRow>& rows, double alpha, const Gate* gate, double percent,
                   std::ostream& out);

// "+100.0%", "-3.5%", "+0.0%" for a factor of 2, 0.965 and 1; "n/a" for
// one that is not a number.
std::string changeText(double factor);
// "[+95.0%, +108.2%]", or "" without an interval.
std::string intervalText(const RatioChange& change);

}  // namespace orvel

#endif  // ORVEL_REPORT_DIFF_H
