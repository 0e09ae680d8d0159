// spanmill-capture end to end: the instrumented example captured with
// ftrace, its report compared span by span with the example's own record;
// then the command line, the exit statuses, signals and what is left
// behind. Cases that trace skip themselves where tracefs cannot be written.
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "report/SpanReport.h"
#include "tests/Testing.h"
#include "tests/app/Subprocess.h"

namespace orvel {
namespace {

using namespace testing;

// Can this process make a tracefs instance (mounting tracefs if need be)?
bool tracefsWritable() {
  const char* probe = "/sys/kernel/tracing/instances/spanmill-capture-test-probe";
  const bool mounted = access("/sys/kernel/tracing/instances", F_OK) == 0;
  if (!mounted && mount("nodev", "/sys/kernel/tracing", "tracefs", 0, nullptr) != 0) {
    return false;
  }
  const bool made = mkdir(probe, 0700) == 0 && rmdir(probe) == 0;
  if (!mounted) {
    umount("/sys/kernel/tracing");
  }
  return made;
}

#define SKIP_UNLESS_TRACING()                         \
  if (!tracefsWritable()) {                           \
    GTEST_SKIP() << "tracefs cannot be written here"; \
  }

class CaptureTest : public ScratchTest {
 protected:
  ProgramResult capture(std::vector<std::string> args) {
    return runProgram(SPANMILL_CAPTURE_BINARY, args);
  }
};

// A span of the example's record, or of the report in the same terms.
struct Span {
  std::string name, location;
  int depth;
  double start, micros;  // microseconds
};

// The example's record, by thread id, in the order the spans began.
std::map<std::string, std::vector<Span>> readTruth(const std::string& path) {
  std::map<std::string, std::vector<Span>> threads;
  for (const std::vector<std::string>& row : readTable(path)) {
    if (row.size() == 6) {
      threads[row[0]].push_back(
          {row[1], row[2], std::stoi(row[3]), std::stod(row[4]), std::stod(row[5])});
    }
  }
  for (auto& thread : threads) {
    std::sort(thread.second.begin(), thread.second.end(),
              [](const Span& a, const Span& b) { return a.start < b.start; });
  }
  return threads;
}

// The report's spans in the same terms; a span's depth is the number of
// spans it began in (one that ends at most 1 us after its start has ended).
std::map<std::string, std::vector<Span>> readReport(const std::string& path) {
  std::vector<SpanReport> reports;
  std::string error;
  size_t failed;
  EXPECT_TRUE(loadSpanReports(path, &reports, &error, &failed)) << error;
  std::map<std::string, std::vector<Span>> threads;
  for (const SpanReport::Thread& thread : reports.at(0).threads) {
    std::vector<double> ends;
    for (const SpanReport::Span& span : thread.spans) {
      const SpanReport::Pc& pc = reports[0].pcs.at(span.pc);
      const double start = span.start * 1e6;
      while (!ends.empty() && ends.back() <= start + 1) {
        ends.pop_back();
      }
      threads[thread.tid].push_back({reports[0].sections.at(pc.nameIndex), pc.location,
                                     static_cast<int>(ends.size()), start,
                                     static_cast<double>(span.micros)});
      ends.push_back(start + span.micros);
    }
  }
  return threads;
}

TEST_F(CaptureTest, ReportsTheSpansTheExampleRecorded) {
  SKIP_UNLESS_TRACING();
  setenv("SPANMILL_EXAMPLE_TRUTH", path("truth").c_str(), 1);
  ProgramResult result =
      capture({"-o", path("trace"), "-r", path("report"), "--", SPANMILL_EXAMPLE_BINARY});
  unsetenv("SPANMILL_EXAMPLE_TRUTH");
  ASSERT_EQ(0, result.exitStatus) << result.err;
  EXPECT_EQ("", result.err);

  const auto truth = readTruth(path("truth"));
  const auto report = readReport(path("report"));
  ASSERT_EQ(5u, truth.size());  // the main thread, its child and three threads
  ASSERT_EQ(truth.size(), report.size());
  // Durations agree within 20 us, and so do starts after one shift (the
  // report's count from its first time stamp), but for a thread preempted
  // between a marker and its clock reading: a few of the 69 spans.
  std::vector<double> shifts;
  std::string slow;
  for (const auto& thread : truth) {
    const std::vector<Span>& spans = report.at(thread.first);
    ASSERT_EQ(thread.second.size(), spans.size()) << thread.first;
    for (size_t i = 0; i < spans.size(); ++i) {
      const Span& want = thread.second[i];
      const Span& got = spans[i];
      EXPECT_EQ(want.name, got.name) << thread.first << " " << i;
      EXPECT_EQ(want.location, got.location) << want.name;
      EXPECT_EQ(want.depth, got.depth) << want.name;
      if (std::fabs(want.micros - got.micros) > 20) {
        slow += " " + want.name + " " + std::to_string(got.micros - want.micros) + " us;";
      }
      shifts.push_back(want.start - got.start);
    }
  }
  std::vector<double> sorted = shifts;
  std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
  const size_t late = std::count_if(shifts.begin(), shifts.end(), [&](double shift) {
    return std::fabs(shift - sorted[sorted.size() / 2]) > 20;
  });
  EXPECT_LE(std::count(slow.begin(), slow.end(), ';'), 3) << "durations off by:" << slow;
  EXPECT_LE(late, 3u) << "starts off by more than 20 us";
}

}  // namespace
}  // namespace orvel
