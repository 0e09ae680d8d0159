#include <dirent.h>

#include <climits>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "app/FtraceProcessor.h"
#include "tests/app/Conversion.h"
#include "tests/app/Subprocess.h"

namespace orvel {
namespace {

using testing::convert;
using testing::marker;
using testing::readBackError;
using testing::Window;

const char kEmptyReport[] = R"({"sections":[],"pc":[],"threads":{}})";

TEST(Report, WrittenOnlyAfterSetupAndFromWhatWasCollected) {
  FtraceProcessor processor;
  const std::string input = marker(3, "1.0", "B|3|f") + marker(3, "1.5", "E");
  processor.processBuffer(input.data(), static_cast<int>(input.size()));
  processor.processEOF();  // no stream yet: nothing is written, nothing dropped

  // The start was fixed while the skew was still 0, leaving the offset at 0.
  std::ostringstream out;
  processor.setup(&out, 0, 0, 1, 0);
  processor.processEOF();
  processor.processEOF();  // the collections are empty now
  EXPECT_EQ(
      std::string(R"({"sections":["f"],"pc":[["",0]],"threads":{"3":{"trace":[[1,500000,0]]}}})") +
          kEmptyReport,
      out.str());

  // After a read error nothing more is parsed: the report covers what came
  // before it.
  FtraceProcessor failed;
  std::ostringstream report;
  failed.setup(&report, 0, 0, 1, 0);
  const std::string after = marker(1, "2.0", "B|1|g") + marker(1, "2.5", "E");
  failed.processBuffer(input.data(), static_cast<int>(input.size()));
  failed.processError("File processing error -2");
  failed.processBuffer(after.data(), static_cast<int>(after.size()));
  failed.processEOF();
  EXPECT_EQ(R"({"sections":["f"],"pc":[["",0]],"threads":{"3":{"trace":[[0,500000,0]]}}})",
            report.str());
}

// The report of a capture fed a byte at a time through processChar.
std::string convertByChar(const char* type, const std::string& input, Window window) {
  std::unique_ptr<CustomProcessor> processor(getProcessor(type));
  std::ostringstream out;
  processor->setup(&out, window.startTime, window.duration, window.skew, window.offset);
  for (char c : input) {
    processor->processChar(c);
  }
  processor->processEOF();
  return out.str();
}

// The window of a case's NAME.args: spanmill's -s, -d, -A and -B.
Window windowOf(const std::string& args) {
  Window window;
  std::istringstream words(args);
  for (std::string option, value; words >> option >> value;) {
    const double number = std::strtod(value.c_str(), nullptr);
    (option == "-s"   ? window.startTime
     : option == "-d" ? window.duration
     : option == "-A" ? window.skew
                      : window.offset) = number;
  }
  return window;
}

// Each capture of the test data (NAME.ftrace or NAME.strace, with the
// options in NAME.args) gives the report in NAME.json, through the
// block-wise fast path and a byte at a time; every report reads back.
TEST(Report, EveryCaptureOfTheTestDataGivesItsReport) {
  int checked = 0;
  for (const std::string folder : {ORVEL_TEST_DATA, ORVEL_TEST_DATA "/cases"}) {
    DIR* entries = opendir(folder.c_str());
    ASSERT_NE(nullptr, entries) << folder;
    while (dirent* entry = readdir(entries)) {
      const std::string file = entry->d_name;
      const size_t dot = file.rfind('.');
      const std::string kind = dot == std::string::npos ? "" : file.substr(dot);
      if (kind != ".ftrace" && kind != ".strace") {
        continue;
      }
      const std::string base = folder + "/" + file.substr(0, dot);
      const char* type = kind == ".strace" ? "strace" : "ftrace_marker";
      const std::string input = testing::readWholeFile(folder + "/" + file);
      const Window window = windowOf(testing::readWholeFile(base + ".args"));
      const std::string expected = testing::readWholeFile(base + ".json");
      EXPECT_EQ(expected, convert(type, input, window)) << file;
      EXPECT_EQ(expected, convertByChar(type, input, window)) << file << " a byte at a time";
      // spanmill writes a start as its input has it; the report tool takes
      // none past 2^53 microseconds, such as this case's stamp of 1e300 s.
      const char* refused = file != "durations-past-64-bits.strace"
                                ? ""
                                : "thread 2: span 1 starts at a time that cannot be held to the "
                                  "microsecond at byte 154";
      EXPECT_EQ(refused, readBackError(expected)) << file;
      ++checked;
    }
    closedir(entries);
  }
  EXPECT_GE(checked, 25);
  EXPECT_EQ(kEmptyReport, convert("ftrace_marker", ""));
}

// A thread id is read as an unsigned long, then kept in 32 bits: past 32 bits
// it wraps where long has 64 bits and saturates where long has 32.
TEST(FtraceProcessor, ThreadIdsPastThirtyTwoBitsDependOnTheWidthOfLong) {
  const std::string input =
      " a-4294967296 [000] .... 1.0: tracing_mark_write: B|1|wide\n"
      " a-4294967296 [000] .... 2.0: tracing_mark_write: E\n"
      " a--1 [000] .... 3.0: tracing_mark_write: B|1|negative\n";
  const std::string threads = ULONG_MAX > UINT_MAX
                                  ? R"("0":{"trace":[[0,1000000,0]]},"4294967295":{"trace":[]})"
                                  : R"("4294967295":{"trace":[[0,1000000,0]]})";
  EXPECT_EQ(R"({"sections":["wide","negative"],"pc":[["",0],["",1]],"threads":{)" + threads + "}}",
            convert("ftrace_marker", input));
}

}  // namespace
}  // namespace orvel
