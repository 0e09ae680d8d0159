#include <climits>
#include <memory>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "app/FtraceProcessor.h"
#include "app/StraceProcessor.h"
#include "tests/app/Conversion.h"
#include "tests/app/Subprocess.h"

namespace orvel {
namespace {

using testing::convert;
using testing::marker;
using testing::readBackError;
using testing::Window;

const char kEmptyReport[] = R"({"sections":[],"pc":[],"threads":{}})";

std::string strace(const std::string& input, Window window = {}) {
  return convert("strace", input, window);
}

std::string ftrace(const std::string& input, Window window = {}) {
  return convert("ftrace_marker", input, window);
}

TEST(Report, WorkedExampleAndEmptyInput) {
  EXPECT_EQ(R"({"sections":["draw"],"pc":[["",0]],"threads":{"42":{"trace":[[0,250000,0]]}}})",
            ftrace(marker(42, "100.000000", "B|42|draw") + marker(42, "100.250000", "E")));
  EXPECT_EQ(kEmptyReport, ftrace(""));
  EXPECT_EQ(kEmptyReport, strace("# nothing usable\n\n"));
}

TEST(Report, WindowIncludesItsStartAndExcludesItsEnd) {
  const std::string calls =
      "1 9.9 a() = 0 <0.1>\n1 10.0 b() = 0 <0.1>\n1 14.9 c() = 0 <0.1>\n1 15.0 d() = 0 <0.1>\n";
  EXPECT_EQ(R"({"sections":["b","c"],"pc":[["",0],["",1]],)"
            R"("threads":{"1":{"trace":[[0,100000,0],[4.9,100000,1]]}}})",
            strace(calls, {10, 5}));
  EXPECT_EQ(R"({"sections":["b","c","d"],"pc":[["",0],["",1],["",2]],)"
            R"("threads":{"1":{"trace":[[0,100000,0],[4.9,100000,1],[5,100000,2]]}}})",
            strace(calls, {10, 0}));
}

TEST(Report, SkewAndOffsetRescaleStartsButNotDurations) {
  // The window starts at (12 - 2) / 2 = 5; input 6.0 is output 6 * 2 + 2 - 12 = 2.
  EXPECT_EQ(R"({"sections":["read"],"pc":[["",0]],"threads":{"7":{"trace":[[2,500000,0]]}}})",
            strace("7 4.0 early() = 0 <0.5>\n7 6.0 read() = 0 <0.5>\n", {12, 0, 2.0, 2}));
  // With no start given the first time stamp becomes 0, whatever the offset.
  EXPECT_EQ(
      R"({"sections":["f"],"pc":[["",0]],"threads":{"1":{"trace":[[0,500000,0],[2,250000,0]]}}})",
      ftrace(marker(1, "10.0", "B|1|f") + marker(1, "10.5", "E") + marker(1, "11.0", "B|1|f") +
                 marker(1, "11.25", "E"),
             {0, 0, 2.0, 7}));
}

TEST(Report, FirstTimeStampFixesTheStartUnlessItIsZero) {
  const std::string calls = "1 50.5 a() = 0 <1>\n1 60.0 b() = 0 <1>\n";
  const std::string fromFirst = R"({"sections":["a","b"],"pc":[["",0],["",1]],)"
                                R"("threads":{"1":{"trace":[[0,1000000,0],[9.5,1000000,1]]}}})";
  EXPECT_EQ(fromFirst, strace(calls));
  EXPECT_EQ(fromFirst, strace(calls, {0, 5}));  // no start: the duration counts for nothing

  // 0.0 is in the window but fixes nothing; 5.0 then becomes output time 0.
  EXPECT_EQ(R"({"sections":["a","b"],"pc":[["",0],["",1]],)"
            R"("threads":{"1":{"trace":[[-5,500000,0],[0,100000,1]]}}})",
            strace("1 0.0 a() = 0 <0.5>\n1 5.0 b() = 0 <0.1>\n"));

  // A NaN first time stamp fixes the start at NaN: nothing is ever in range.
  EXPECT_EQ(kEmptyReport, strace("1 nan a() = 0 <1>\n1 5.0 b() = 0 <1>\n"));
}

TEST(Report, EndsCloseTheInnermostOpenSpanOfTheirThread) {
  const std::string input = marker(10, "1.0", "B|10|f") + marker(10, "2.0", "B|10|g") +
                            marker(8, "2.5", "E") +  // thread 8 never began anything
                            marker(10, "3.0", "E") + marker(9, "3.5", "B|9|h") +
                            marker(10, "4.0", "E") + marker(10, "4.5", "E") +
                            marker(10, "5.0", "B|10|f") + marker(10, "5.25", "E");
  EXPECT_EQ(R"({"sections":["f","g","h"],"pc":[["",0],["",1],["",2]],"threads":{)"
            R"("9":{"trace":[]},)"
            R"("10":{"trace":[[0,3000000,0],[1,1000000,1],[4,250000,0]]}}})",
            ftrace(input));
}

TEST(Report, LocationsAreKeysOfTheirOwn) {
  // A location that begins with "@" is the same key as a name without a
  // location: "@odd" and odd, f and "@f" share their rows.
  const std::string input = marker(1, "1.0", "B|1|f") + marker(1, "1.25", "b|1|f|L") +
                            marker(1, "1.5", "b|1|g|L") +  // L keeps f's name
                            marker(1, "1.75", "b|1|h|@odd") + marker(1, "1.8", "B|1|odd") +
                            marker(1, "1.9", "b|1|k|@f") + marker(1, "2.0", "E") +
                            marker(1, "2.1", "E") + marker(1, "2.2", "E") + marker(1, "2.25", "E") +
                            marker(1, "2.5", "E") + marker(1, "2.75", "E");
  EXPECT_EQ(R"({"sections":["f","h"],"pc":[["",0],["L",0],["",1]],"threads":{"1":{"trace":)"
            R"([[0,1750000,0],[0.25,1250000,1],[0.5,750000,1],[0.75,450000,2],)"
            R"([0.8,300000,2],[0.9,100000,0]]}}})",
            ftrace(input));
}

TEST(Report, NumberFormats) {
  EXPECT_EQ(
      R"({"sections":["a","b","c","d"],"pc":[["",0],["",1],["",2],["",3]],"threads":{"1":{"trace":)"
      R"([[1.5,250000,0],[2,123,1],[0.123457,0,2],[3,-500000,3]]}}})",
      strace("1 101.5 a() = 0 <0.25>\n1 102.0 b() = 0 <0.000123>\n"
             "1 100.1234567 c() = 0 <0.0000005>\n1 103 d() = 0 <-0.5>\n",
             {100}));
  // An end before its begin gives a negative duration.
  EXPECT_EQ(
      R"({"sections":["f"],"pc":[["",0]],"threads":{"1":{"trace":[[1,-500000,0]]}}})",
      ftrace(marker(1, "1.0", "C|1|n|1") + marker(1, "2.0", "B|1|f") + marker(1, "1.5", "E")));
  // Names are escaped; other bytes are kept as they are.
  EXPECT_EQ(
      "{\"sections\":[\"say \\\"hi\\\"\\\\\\t\x01\xc3\xa9\"],\"pc\":[[\"\",0]],"
      "\"threads\":{\"1\":{\"trace\":[[0,0,0]]}}}",
      ftrace(marker(1, "1.0", "B|1|say \"hi\"\\\t\x01\xc3\xa9") + marker(1, "1.0", "E")));
}

TEST(Report, SpansThatCannotBeNumbersAreLeftOut) {
  const std::string ftraceInput = marker(1, "2.0", "B|1|a") + marker(1, "inf", "E") +
                                  marker(1, "inf", "B|1|b") + marker(1, "inf", "E") +
                                  marker(1, "3.0", "B|1|c") + marker(1, "-inf", "E");
  const std::string straceInput =
      "2 3.0 big() = 0 <1e300>\n2 4.0 neg() = 0 <-1e300>\n2 5.0 nan() = 0 <nan>\n"
      "2 6.0 limit() = 0 <9223372036854.775808>\n2 7.0 kept() = 0 <9223372036854.774>\n"
      "2 1e300 far() = 0 <0.5>\n";
  const std::string reports[] = {ftrace(ftraceInput, {1}), ftrace(ftraceInput),
                                 strace(straceInput, {1})};
  EXPECT_EQ(
      R"({"sections":["a","b","c"],"pc":[["",0],["",1],["",2]],"threads":{"1":{"trace":[]}}})",
      reports[0]);
  EXPECT_EQ(R"({"sections":["big","neg","nan","limit","kept","far"],)"
            R"("pc":[["",0],["",1],["",2],["",3],["",4],["",5]],"threads":{"2":{"trace":)"
            R"([[6,9223372036854773760,4],[1.000000e+300,500000,5]]}}})",
            reports[2]);
  for (const std::string& report : reports) {
    EXPECT_EQ("", readBackError(report)) << report;
  }
}

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
}

std::string readDataFile(const std::string& name) {
  return testing::readWholeFile(std::string(ORVEL_TEST_DATA) + "/" + name);
}

// Fed a byte at a time through processChar, the captures give the same
// reports as through the block-wise fast path.
std::string convertByChar(const char* type, const std::string& input) {
  std::unique_ptr<CustomProcessor> processor(getProcessor(type));
  std::ostringstream out;
  processor->setup(&out, 0.0, 0.0, 1.0, 0.0);
  for (char c : input) {
    processor->processChar(c);
  }
  processor->processEOF();
  return out.str();
}

TEST(Report, RealisticCaptures) {
  EXPECT_EQ(readDataFile("render.json"), ftrace(readDataFile("render.ftrace")));
  EXPECT_EQ(readDataFile("service.json"), strace(readDataFile("service.strace")));
  EXPECT_EQ(readDataFile("render.json"),
            convertByChar("ftrace_marker", readDataFile("render.ftrace")));
  EXPECT_EQ(readDataFile("service.json"), convertByChar("strace", readDataFile("service.strace")));
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

TEST(StraceProcessor, CallsBecomeSpans) {
  const std::string input =
      "1234 100.5 read(3, \"abc\", 3) = 3 <0.25>\n"
      "[pid 1235] 100.5 read(3, \"abc\", 3) = 3 <0.25>\n"
      "[pid  1236] 100.75 futex(0x1, FUTEX_WAIT, 0, NULL <unfinished ...>\n"
      "[pid  1236] 100.8 getpid() = 1236 <0.000010>\n"
      "[pid  1236] 101.0 <... futex resumed>) = 0 <0.5>\n"
      "1237 101.0 <... read resumed>) = 0 <0.5>\n"  // nothing unfinished on 1237
      "1238 101.25 [00007f3c2b1d2d27] write(1, \"x\", 1) = 1 <0.000123>\n"
      "1238 101.25 [0123456789abcdef0123456789abcdef0] close(1) = 0 <0.1>\n"
      "1238 101.5 +++ exited with 0 +++\n"
      "1239 101.5 --- SIGCHLD {si_signo=SIGCHLD, si_code=CLD_EXITED} ---\n"
      "1239 101.5 exit_group(0) = ?\n"
      "1240 101.75 write(2, \"a<b\", 3) = 3 <0.25>\n"  // no number after the first '<'
      "1240 101.75 write(2, \"<5\", 2) = 2 <0.25>\n";  // the wrong number
  EXPECT_EQ(R"({"sections":["read","futex","getpid","write"],)"
            R"("pc":[["",0],["",1],["",2],["00007f3c2b1d2d27",3],["",3]],"threads":{)"
            R"("1234":{"trace":[[0,250000,0]]},"1235":{"trace":[[0,250000,0]]},)"
            R"("1236":{"trace":[[0.25,500000,1],[0.3,10,2]]},"1238":{"trace":[[0.75,123,3]]},)"
            R"("1240":{"trace":[[1.25,5000000,4]]}}})",
            strace(input));
}

TEST(StraceProcessor, OddLineShapes) {
  // With no id column the whole seconds are read as the id.
  EXPECT_EQ(R"({"sections":["stat"],"pc":[["",0]],"threads":{"250":{"trace":[[0,250000,0]]}}})",
            strace("250.5 stat(\"/\", {st_mode=S_IFDIR|0755}) = 0 <0.25>\n"));
  // A resumed line behind a location is not taken as an end (nor as a call).
  EXPECT_EQ(
      R"({"sections":["read"],"pc":[["7f00",0]],"threads":{"1":{"trace":[]}}})",
      strace(
          "1 1.0 [7f00] read(0, <unfinished ...>\n1 1.5 [7f00] <... read resumed>) = 1 <0.5>\n"));
}

}  // namespace
}  // namespace orvel
