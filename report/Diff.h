// Two runs compared: per section (a function name with its code location),
// the spans, median, 95th percentile and total before and after, and how
// much the median and the total changed.
#ifndef ORVEL_REPORT_DIFF_H
#define ORVEL_REPORT_DIFF_H

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "report/Summary.h"

namespace orvel {

struct DiffRow {
  std::string name;
  std::string location;  // "" when the spans have none
  // The section's numbers in each run; a count of 0 where it has no spans
  // (the section was added or removed).
  SummaryRow before, after;
  // The median's change in percent of the median before; not a number
  // where that is 0 and the median after is not.
  double medianChange = 0;
  double totalChange = 0;  // microseconds, after less before
};

// The rows of two summaries without threads, sorted by the size of the
// total's change, largest first (then by name and location).
std::vector<DiffRow> compareRuns(const std::vector<SummaryRow>& before,
                                 const std::vector<SummaryRow>& after);

// The sections whose median grew by more than percent, among those with at
// least minSpans spans in each run.
std::vector<const DiffRow*> slowerThan(const std::vector<DiffRow>& rows, double percent,
                                       uint64_t minSpans);

// The rows as an aligned text table, durations in us, ms or s.
void writeDiffTable(const std::vector<DiffRow>& rows, std::ostream& out);
// The same numbers as JSON, durations in microseconds.
void writeDiffJson(const std::vector<DiffRow>& rows, std::ostream& out);

// "+100.0%", "-3.5%", "+0.0%"; "n/a" for a change that is not a number.
std::string percentText(double percent);

}  // namespace orvel

#endif  // ORVEL_REPORT_DIFF_H
