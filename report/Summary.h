// Where the time went: per section (a function name with its code location,
// when it has one), or per thread and section, the number of spans and the
// sum, mean, minimum, median, 95th percentile and maximum of their
// durations, and their share of the total.
#ifndef ORVEL_REPORT_SUMMARY_H
#define ORVEL_REPORT_SUMMARY_H

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "report/SpanReport.h"

namespace orvel {

struct SummaryRow {
  std::string name;
  std::string location;  // "" when the spans have none
  std::string thread;    // "" unless split by thread; "<report>:<tid>" with several reports
  uint64_t count = 0;
  // Microseconds. The median of an even count is the mean of the middle
  // two; the 95th percentile is the nearest rank: the ceil(0.95 n)-th
  // smallest duration.
  double total = 0, mean = 0, min = 0, median = 0, p95 = 0, max = 0;
  double self = 0;   // the sum of the spans' self times (see selfTimes)
  double share = 0;  // total / the total of every row; 0 when that is 0
};

// The self time of each span of a thread: its duration less the durations
// of the spans directly nested in it (not counting those nested deeper).
// A span is nested in another when it begins at or after the other's
// start and before its end, and ends no more than a microsecond after its
// end: start times are rounded to microseconds and durations cut to them.
// Spans that only follow one another, as system calls do, never nest.
// Never negative.
std::vector<long long> selfTimes(const std::vector<SpanReport::Span>& spans);

// Rows sorted by total time, largest first (then by name, location and
// thread, so that the order is always the same). The spans of all reports
// are taken together; byThread splits each section's row per thread.
std::vector<SummaryRow> summarize(const std::vector<SpanReport>& reports, bool byThread);

// The rows as an aligned text table, durations in us, ms or s.
void writeSummaryTable(const std::vector<SummaryRow>& rows, bool byThread, std::ostream& out);
// The same numbers as JSON, durations in microseconds.
void writeSummaryJson(const std::vector<SummaryRow>& rows, bool byThread, std::ostream& out);

// A duration for people: "850 us", "12.5 us", "3.204 ms", "1.250 s".
std::string durationText(double micros);

}  // namespace orvel

#endif  // ORVEL_REPORT_SUMMARY_H
