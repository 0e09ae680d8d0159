// A spanmill report read back: the function names, the code locations, and
// per thread the spans with their start times and durations.
#ifndef ORVEL_REPORT_SPANREPORT_H
#define ORVEL_REPORT_SPANREPORT_H

#include <cstdint>
#include <string>
#include <vector>

namespace orvel {

struct SpanReport {
  // A row of "pc": a code location ("" when the spans have none) and the
  // index of its function name in sections.
  struct Pc {
    std::string location;
    uint32_t nameIndex;
  };
  // A row of a thread's "trace".
  struct Span {
    double start;      // seconds on the report's time line, at most 2^53 us from 0
    long long micros;  // duration in microseconds
    uint32_t pc;       // index in pcs
  };
  struct Thread {
    std::string tid;  // the label: decimal digits, no leading zero, once in a report
    std::vector<Span> spans;
  };

  std::string name;  // what the report is called in messages and exports: its file name
  std::vector<std::string> sections;
  std::vector<Pc> pcs;
  std::vector<Thread> threads;
};

// Reads the reports in text and appends them to reports: one, or several
// one after another as spanmill -a writes them, with nothing or white space
// between them. Strings may hold any byte but an unescaped quote or
// backslash, as spanmill writes them. On failure returns false, sets failed
// to the number of the report that is wrong (1 for the first) and error to
// what is wrong, for example "not JSON: expected ',' or ']' at byte 1200"
// or "missing \"threads\"". Byte offsets count from the start of text;
// past the first report, a problem that has no place of its own ends with
// " in the report at byte N", where its report begins.
bool readSpanReports(const std::string& text, std::vector<SpanReport>* reports, std::string* error,
                     size_t* failed);

// The same for the file at path ("-": standard input), and "cannot read:
// <system text>" (report 1) when it cannot be read.
bool loadSpanReports(const std::string& path, std::vector<SpanReport>* reports, std::string* error,
                     size_t* failed);

}  // namespace orvel

#endif  // ORVEL_REPORT_SPANREPORT_H
