#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "app/FtraceProcessor.h"
#include "app/StraceProcessor.h"
#include "tests/app/Conversion.h"

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
}

TEST(Report, NamesAreEscapedAndBytesKept) {
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
  std::ifstream in(std::string(ORVEL_TEST_DATA) + "/" + name, std::ios::binary);
  EXPECT_TRUE(in.good()) << name;
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
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

TEST(Report, ProcessorsByTypeName) {
  std::unique_ptr<CustomProcessor> ftraceProcessor(getProcessor("ftrace_marker"));
  std::unique_ptr<CustomProcessor> straceProcessor(getProcessor("strace"));
  EXPECT_NE(nullptr, dynamic_cast<FtraceProcessor*>(ftraceProcessor.get()));
  EXPECT_NE(nullptr, dynamic_cast<StraceProcessor*>(straceProcessor.get()));
  EXPECT_EQ(nullptr, getProcessor("STRACE"));
  EXPECT_EQ(nullptr, getProcessor("ftrace"));
  EXPECT_EQ(nullptr, getProcessor(""));
}

}  // namespace
}  // namespace orvel
