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
    double start;      // seconds on the report's time line
    long long micros;  // duration in microseconds
    uint32_t pc;       // index in pcs
  };
  struct Thread {
    std::string tid;  // the label, decimal digits
    std::vector<Span> spans;
  };

  std::string name;  // what the report is called in messages and exports: its file name
  std::vector<std::string> sections;
  std::vector<Pc> pcs;
  std::vector<Thread> threads;
};

// Reads a report from text. Strings may hold any byte but an unescaped
// quote or backslash, as spanmill writes them. On failure returns false and
// sets error to what is wrong, for example "not JSON: expected ',' or ']'
// at byte 1200" or "missing \"threads\"".
bool readSpanReport(const std::string& text, SpanReport* report, std::string* error);

// Reads the report in the file at path ("-": standard input); the same
// errors, and "cannot read: <system text>".
bool loadSpanReport(const std::string& path, SpanReport* report, std::string* error);

}  // namespace orvel

#endif  // ORVEL_REPORT_SPANREPORT_H
