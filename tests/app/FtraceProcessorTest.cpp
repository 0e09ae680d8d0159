#include <climits>
#include <memory>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "tests/app/Conversion.h"

namespace orvel {
namespace {

using testing::convert;
using testing::marker;

std::string ftrace(const std::string& input) {
  return convert("ftrace_marker", input);
}

// Each thread below tries a family of marker texts.
TEST(FtraceProcessor, MarkerFormsThatBeginAndEnd) {
  const std::string input =
      marker(1, "1.0", "B||draw") + marker(1, "1.25", "E") + marker(2, "1.5", "B|1234|") +
      marker(2, "1.75", "B|1234") + marker(2, "1.8", "B") + marker(2, "1.9", "Bx|1|f") +
      marker(3, "2.0", "B|1|a|b") + marker(3, "2.25", "E|1234") + marker(3, "2.5", "Ex") +
      marker(3, "2.75", "E done") + marker(4, "3.0", "b|1|draw|view.c:88") +
      marker(4, "3.25", "b|1|draw|") + marker(4, "3.5", "b|1|draw") +
      marker(4, "3.75", "b|1||lib.c:9|x") + marker(4, "4.0", "E") + marker(4, "4.25", "E") +
      marker(4, "4.5", "E") + marker(5, "4.75", "C|5|counter|5") + marker(6, "5.0", "E");
  EXPECT_EQ(R"({"sections":["draw","a|b",""],"pc":[["",0],["",1],["view.c:88",0],["lib.c:9|x",2]],)"
            R"("threads":{"1":{"trace":[[0,250000,0]]},"3":{"trace":[[1,750000,1]]},)"
            R"("4":{"trace":[[2,1500000,2],[2.25,1000000,0],[2.75,250000,3]]}}})",
            ftrace(input));
}

TEST(FtraceProcessor, LinesThatAreNotMarkersAreIgnored) {
  const std::string input =
      "# tracer: nop\n"
      "#           TASK-PID     CPU#  |||||  TIMESTAMP  FUNCTION\n"
      "  <idle>-0  [001] d..2.  0.5: sched_switch: prev_comm=swapper/1 prev_pid=0 ==> next_pid=7\n"
      "  my-task-7  [000] .....  0.75: tracing_mark_write: B|7|hyphen\n"
      "  task-7  [000]  0.8: tracing_mark_write: B|7|no flags\n"
      "  task-7  [000] .....  0.9: tracing_mark_write: \n"
      "  task-7  [000] .....  0.95: print: B|7|other event\n" +
      marker(7, "1.0", "C|7|counter|1") +  // fixes the start though it is no event
      marker(7, "2.0", "B|7|f") + marker(7, "2.5", "E") + marker(7, "3.0", "E");
  EXPECT_EQ(R"({"sections":["f"],"pc":[["",0]],"threads":{"7":{"trace":[[1,500000,0]]}}})",
            ftrace(input));
}

// After a read error nothing more is parsed: the report covers what came
// before it.
TEST(FtraceProcessor, NothingIsParsedAfterAnError) {
  std::unique_ptr<CustomProcessor> processor(getProcessor("ftrace_marker"));
  std::ostringstream out;
  processor->setup(&out, 0, 0, 1, 0);
  const std::string before = marker(1, "1.0", "B|1|f") + marker(1, "1.5", "E");
  const std::string after = marker(1, "2.0", "B|1|g") + marker(1, "2.5", "E");
  processor->processBuffer(before.data(), static_cast<int>(before.size()));
  processor->processError("File processing error -2");
  processor->processBuffer(after.data(), static_cast<int>(after.size()));
  processor->processEOF();
  EXPECT_EQ(R"({"sections":["f"],"pc":[["",0]],"threads":{"1":{"trace":[[0,500000,0]]}}})",
            out.str());
}

TEST(FtraceProcessor, MarkerTextIsCutAfter512Characters) {
  const std::string name(600, 'n');
  EXPECT_EQ(R"({"sections":[")" + name.substr(0, 508) +
                R"("],"pc":[["",0]],"threads":{"1":{"trace":[[0,500000,0]]}}})",
            ftrace(marker(1, "1.0", "B|1|" + name) + marker(1, "1.5", "E")));
  // A bar just past the 512 characters kept is not part of the marker.
  EXPECT_EQ(R"({"sections":[],"pc":[],"threads":{}})",
            ftrace(marker(1, "1.0", "B|" + std::string(510, 'x') + "|name")));
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
            ftrace(input));
}

}  // namespace
}  // namespace orvel
