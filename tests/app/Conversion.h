// Helpers that run text through a whole trace processor (chain, parser,
// model and report) and check what comes out.
#ifndef ORVEL_TESTS_APP_CONVERSION_H
#define ORVEL_TESTS_APP_CONVERSION_H

#include <memory>
#include <sstream>
#include <string>

#include "app/Run.h"
#include "report/SpanReport.h"

namespace orvel {
namespace testing {

struct Window {
  double startTime = 0.0;
  double duration = 0.0;
  double skew = 1.0;
  double offset = 0.0;
};

// The report of a new processor of the given type on input.
inline std::string convert(const char* type, const std::string& input, Window window = {}) {
  std::unique_ptr<CustomProcessor> processor(getProcessor(type));
  std::ostringstream out;
  processor->setup(&out, window.startTime, window.duration, window.skew, window.offset);
  processor->processBuffer(input.data(), static_cast<int>(input.size()));
  processor->processEOF();
  return out.str();
}

// One tracing_mark_write line as the kernel writes it.
inline std::string marker(unsigned tid, const std::string& time, const std::string& text) {
  return "    app_thread-" + std::to_string(tid) + "    [001] ..... " + time +
         ": tracing_mark_write: " + text + "\n";
}

// What spanmill-report finds wrong when it reads text as a report (strict
// JSON, every member in its place); "" when it reads.
inline std::string readBackError(const std::string& text) {
  std::vector<SpanReport> reports;
  std::string error;
  size_t failed;
  return readSpanReports(text, &reports, &error, &failed) ? "" : error;
}

}  // namespace testing
}  // namespace orvel

#endif  // ORVEL_TESTS_APP_CONVERSION_H
