// spanmill on input nobody would write on purpose: each case runs the
// program and states what the user sees.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "tests/ScratchTest.h"

#include "tests/app/Conversion.h"
#include "tests/app/Subprocess.h"

namespace orvel {
namespace {

using namespace testing;

const char kEmptyReport[] = R"({"sections":[],"pc":[],"threads":{}})";

class HostileInputTest : public testing::ScratchTest {
 protected:
  // Writes text repeated count times into a file of the scratch folder.
  std::string file(const char* name, const std::string& text, size_t count = 1) {
    writeFile(path(name), text, count);
    return path(name);
  }
  ProgramResult spanmill(const std::vector<std::string>& args) {
    return runProgram(SPANMILL_BINARY, args);
  }
};

TEST_F(HostileInputTest, HugeLinesAndDeepNestingGiveAValidReport) {
  // 100 MB without a line end: one line, no marker, an empty report.
  ProgramResult longLine = spanmill({"-i", file("line", std::string(1 << 20, 'x'), 100)});
  EXPECT_EQ(0, longLine.exitStatus);
  EXPECT_EQ(kEmptyReport, longLine.out);

  // A marker of a million '|': cut at 512 characters, the name is the rest.
  ProgramResult bars =
      spanmill({"-i", file("bars", marker(1, "1.0", "B|1|" + std::string(1000000, '|')) +
                                       marker(1, "2.0", "E"))});
  EXPECT_EQ(0, bars.exitStatus);
  EXPECT_NE(std::string::npos, bars.out.find("\"" + std::string(508, '|') + "\""));
  EXPECT_EQ("", readBackError(bars.out));

  // A million begins never ended: one name, a thread without spans.
  ProgramResult open = spanmill({"-i", file("open", marker(3, "1.0", "B|3|deeper"), 1000000)});
  EXPECT_EQ(0, open.exitStatus);
  EXPECT_EQ(R"({"sections":["deeper"],"pc":[["",0]],"threads":{"3":{"trace":[]}}})", open.out);

  // A million ends with nothing begun: nothing at all.
  ProgramResult ends = spanmill({"-i", file("ends", marker(4, "1.0", "E"), 1000000)});
  EXPECT_EQ(kEmptyReport, ends.out);
}

TEST_F(HostileInputTest, OddBytesPassThroughAndCrlfIsALineEnd) {
  std::string odd = marker(5, "1.0", std::string("B|5|nul\0inside", 14));
  odd += marker(5, "1.5", "B|5|bad \xff\xfe utf8") + marker(5, "2.0", "E") + marker(5, "2.5", "E");
  std::string crlf = marker(6, "1.0", "B|6|crlf");
  crlf.insert(crlf.size() - 1, "\r");
  crlf += "    app_thread-6    [001] ..... 1.5: tracing_mark_write: E\r\n";
  ProgramResult result = spanmill({"-i", file("odd", odd)});
  EXPECT_EQ(0, result.exitStatus);
  // The NUL ends the scan of its line: the name is what came before it.
  EXPECT_EQ(
      "{\"sections\":[\"nul\",\"bad \xff\xfe utf8\"],\"pc\":[[\"\",0],[\"\",1]],"
      "\"threads\":{\"5\":{\"trace\":[[0,1500000,0],[0.5,500000,1]]}}}",
      result.out);
  EXPECT_EQ(R"({"sections":["crlf"],"pc":[["",0]],"threads":{"6":{"trace":[[0,500000,0]]}}})",
            spanmill({"-i", file("crlf", crlf)}).out);
}

TEST_F(HostileInputTest, ExtremeNumbersInTimeStampsAndOptions) {
  std::string stamps;
  for (const char* time : {"1e308", "-0", "nan", "inf", "0x1p4", "-inf", "1e-320"}) {
    stamps += marker(7, time, "B|7|t") + marker(7, time, "E");
  }
  const std::string input = file("stamps", stamps);
  for (const std::vector<std::string>& options : {std::vector<std::string>{},
                                                  {"-s", "1e308", "-d", "1e308"},
                                                  {"-A", "nan"},
                                                  {"-A", "0"},
                                                  {"-B", "-inf"},
                                                  {"-s", "-0", "-d", "inf"},
                                                  {"-A", "1e-320", "-s", "0x10"}}) {
    std::vector<std::string> args = options;
    args.push_back("-i");
    args.push_back(input);
    ProgramResult result = spanmill(args);
    EXPECT_EQ(0, result.exitStatus);
    EXPECT_EQ("", readBackError(result.out)) << result.out;
  }
}

TEST_F(HostileInputTest, UnreadableInputAndUnwritableOutput) {
  // A directory opens but cannot be read: a warning, then an empty report.
  ProgramResult directory = spanmill({"-i", "/"});
  EXPECT_EQ(0, directory.exitStatus);
  EXPECT_NE(std::string::npos, directory.out.find("WARN"));
  EXPECT_NE(std::string::npos, directory.out.find("File processing error -2\n"));
  EXPECT_NE(std::string::npos, directory.out.find(kEmptyReport));

  // A full disk loses the report without a word; the run still counts.
  ProgramResult full = spanmill({"-i", file("one", marker(1, "1.0", "B|1|x")), "-o", "/dev/full"});
  EXPECT_EQ(0, full.exitStatus);
  EXPECT_EQ("", full.err);
}

}  // namespace
}  // namespace orvel
