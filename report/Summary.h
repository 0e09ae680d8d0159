// Where the time went: per section (a function name with its code location,
// when it has one), or per thread and section, the number of spans and the
// sum, mean, minimum, median, 95th percentile and maximum of their
// durations, their self time and its share of all self time.
#ifndef ORVEL_REPORT_SUMMARY_H
#define ORVEL_REPORT_SUMMARY_H

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "report/SectionIndex.h"
#include "report/SpanReport.h"

namespace orvel {

// A row names its section and thread by number, so that a row split by
// thread costs its figures and no strings.
struct SummaryRow {
  uint32_t section = 0;  // in the summary's sections
  uint32_t thread = 0;   // in the summary's threads
  uint64_t count = 0;
  // Microseconds. The median of an even count is the mean of the middle
  // two; the 95th percentile is the nearest rank: the ceil(0.95 n)-th
  // smallest duration.
  double total = 0, mean = 0, min = 0, median = 0, p95 = 0, max = 0;
  double self = 0;  // the sum of the spans' self times
  // self / the self time of every row, so that shares add up to 1 and
  // nested time counts once; 0 when that is 0
  double share = 0;
};

struct Summary {
  // Sorted by total time, largest first, then by name and location, then
  // by thread in the order of the reports, so that the order is always the
  // same.
  std::vector<SummaryRow> rows;
  SectionIndex sections;
  // The label of each thread by number: "<tid>", or "<report>:<tid>" with
  // several reports; only "" at 0 unless split by thread.
  std::vector<std::string> threads = {""};
  double total = 0;  // the totals of every row
  double self = 0;   // the self times of every row: the time the spans covered
};

// The spans of all reports taken together; byThread splits each section's
// row per thread. Self times as walkNesting gives them.
Summary summarize(const std::vector<SpanReport>& reports, bool byThread);

// The rows as an aligned text table, durations in us, ms or s.
void writeSummaryTable(const Summary& summary, bool byThread, std::ostream& out);
// The same numbers as JSON, durations in microseconds, with the summary's
// total and self time, which do not change when rows are left out.
void writeSummaryJson(const Summary& summary, bool byThread, std::ostream& out);

// A duration for people: "850 us", "12.5 us", "3.204 ms", "1.250 s".
std::string durationText(double micros);
// A share for people, in percent to a tenth: "12.5%".
std::string shareText(double share);

}  // namespace orvel

#endif  // ORVEL_REPORT_SUMMARY_H
