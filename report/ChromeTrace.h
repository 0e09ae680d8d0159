// Chrome's Trace Event Format, which Perfetto UI, chrome://tracing and
// speedscope open: one complete event ("ph":"X") per span, with metadata
// events that name each process (a report, by its file name) and each
// thread ("tid N"). Several reports make one time line, one process each.
#ifndef ORVEL_REPORT_CHROMETRACE_H
#define ORVEL_REPORT_CHROMETRACE_H

#include <cstdint>
#include <iosfwd>
#include <vector>

#include "report/SpanReport.h"

namespace orvel {

// The name shown for a span whose function name is empty: some viewers
// drop or merge events without a name.
extern const char kUnnamedSpan[];

struct ChromeTraceSize {
  uint64_t events = 0;
  uint64_t bytes = 0;
};

// Whether an export passes what viewers of the format open: speedscope,
// Perfetto UI and chrome://tracing stop at about a million events and
// 256 MB.
inline bool beyondViewers(const ChromeTraceSize& size) {
  return size.events > 1000000 || size.bytes > (uint64_t{256} << 20);
}

// Writes the events of reports as one JSON object with "traceEvents" and
// "displayTimeUnit". Process ids count the reports from 1; "ts" and "dur"
// are microseconds; "args" holds the location of spans that have one.
// Strings are strict JSON and valid UTF-8 whatever bytes the reports hold.
// Returns how many events and bytes it wrote.
ChromeTraceSize writeChromeTrace(const std::vector<SpanReport>& reports, std::ostream& out);

}  // namespace orvel

#endif  // ORVEL_REPORT_CHROMETRACE_H
