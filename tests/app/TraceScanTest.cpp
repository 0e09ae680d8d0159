#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/TraceScan.h"
#include "fuzz/ScanCheck.h"

namespace orvel {
namespace {

using fuzzing::scanMismatch;

TEST(TraceScan, RealLinesAreReadByHand) {
  unsigned int tid = 0;
  double time = 0.0;
  char text[513];
  const char* marker = nullptr;
  size_t markerLength = 0;
  auto ftrace = [&](const std::string& line) {
    return scan::ftraceMarkerLine(line.c_str(), line.size(), true, line.c_str() + line.size() + 1,
                                  &tid, &time, &marker, &markerLength);
  };
  // The marker is a view of the line, which must outlive it.
  const std::string marked =
      "         ui_main-9919    [001] ...1.  3842.413771: tracing_mark_write: B|9918|doFrame";
  EXPECT_EQ(3, ftrace(marked));
  EXPECT_EQ(9919u, tid);
  EXPECT_EQ(std::strtod("3842.413771", nullptr), time);
  EXPECT_EQ("B|9918|doFrame", std::string(marker, markerLength));
  EXPECT_EQ(scan::kNotMarker, ftrace("          <idle>-0       [001] dNs5.  3842.407805: "
                                     "sched_wakeup: comm=rcu_preempt pid=15"));

  // The rest is a view of the line: the line must outlive it.
  const std::string line = "[pid  9953] 1796584942.162942 rseq(0x7f, 0x20 <unfinished ...>";
  const char* rest = nullptr;
  EXPECT_EQ(3, scan::straceLine(line.c_str(), line.size(), true, true,
                                line.c_str() + line.size() + 1, &tid, &time, text, &rest));
  EXPECT_EQ(9953u, tid);
  EXPECT_EQ(std::strtod("1796584942.162942", nullptr), time);
  EXPECT_STREQ("rseq(0x7f, 0x20 <unfinished ...>", rest);
  char closing = 0;
  const char* name = nullptr;
  size_t length = 0;
  EXPECT_EQ(2, scan::straceUnfinished(rest, &name, &length, &closing));
  EXPECT_EQ("rseq", std::string(name, length));
  EXPECT_EQ('>', closing);
  EXPECT_EQ(2,
            scan::straceFinished("close(3)        = 0 <0.000022>", nullptr, &name, &length, &time));
  EXPECT_EQ("close", std::string(name, length));
  EXPECT_EQ(std::strtod("0.000022", nullptr), time);
  EXPECT_EQ(1, scan::straceResumed("... rseq resumed>) = 0 <0.000029>", nullptr, &time));
  EXPECT_EQ(std::strtod("0.000029", nullptr), time);
  char location[33];
  EXPECT_EQ(2, scan::straceLocation("[ ui.c:12] write(1, \"x\", 1) = 1 <0.1>", location, text));
  EXPECT_STREQ("ui.c:12", location);
}

// Every form sscanf may read differently from a quick guess: each scanner
// must give sscanf's result or leave the text to it.
TEST(TraceScan, AgreesWithSscanfOnOddForms) {
  const std::string wide(600, 'w');
  const std::string digits(40, '7');
  const std::vector<std::string> lines = {
      "",
      " ",
      "-",
      "a-",
      "a-1",
      "a-1 [0]",
      "a-1 [0] f",
      "a-1 [0] f 2",
      "a-1 [0] f 2:",
      "a-1 [0] f 2: tracing_mark_write:",
      "a-1 [0] f 2: tracing_mark_write: ",
      "a-1 [0] f 2: tracing_mark_write: B|1|x",
      "a-\t1\v[0]\ff\r2.5:\ttracing_mark_write:\fE",
      "a-+1 [0] f 2: tracing_mark_write: E",
      "a--1 [0] f 2: tracing_mark_write: E",
      "a-4294967296 [0] f 2: tracing_mark_write: E",
      "a-123456789 [0] f 2: tracing_mark_write: E",
      "a-1234567890 [0] f 2: tracing_mark_write: E",
      "a-" + digits + " [0] f 2: tracing_mark_write: E",
      "a-1 [0] f -2: tracing_mark_write: E",
      "a-1 [0] f +2.5: tracing_mark_write: E",
      "a-1 [0] f .5: tracing_mark_write: E",
      "a-1 [0] f 5.: tracing_mark_write: E",
      "a-1 [0] f 1e3: tracing_mark_write: E",
      "a-1 [0] f 1e: tracing_mark_write: E",
      "a-1 [0] f 1.5E-2: tracing_mark_write: E",
      "a-1 [0] f 0x1p3: tracing_mark_write: E",
      "a-1 [0] f 0x: tracing_mark_write: E",
      "a-1 [0] f inf: tracing_mark_write: E",
      "a-1 [0] f infinity: tracing_mark_write: E",
      "a-1 [0] f nan: tracing_mark_write: E",
      "a-1 [0] f nan(123): tracing_mark_write: E",
      "a-1 [0] f 9007199254740993: tracing_mark_write: E",
      "a-1 [0] f 0.00000000000000000000001: tracing_mark_write: E",
      "a-1 [0] f " + digits + "." + digits + ": tracing_mark_write: E",
      "a-1 [0] f 1.2.3: tracing_mark_write: E",
      "a-1 [0] f 2: tracing_mark_write: " + wide,
      "a-1 [0] 2: tracing_mark_write: E",
      "a-1 []] f 2: tracing_mark_write: E",
      "a-1 [0] f 2 : tracing_mark_write: E",
      "a-1 [0] f 2: tracing_mark_writer: E",
      "9952  1796584942.154410 brk(NULL)       = 0x557f8c981000 <0.000024>",
      "[pid  9953] 1796584942.162982 <... rseq resumed>) = 0 <0.000029>",
      "[pid9953]1.5 x",
      "[pid -1] 1.5 x",
      "[pid 1 ] 1.5 x",
      "[pi 1] 1.5 x",
      "1 1.5",
      "1 1.5 ",
      "1 -1.5 x",
      "1 1.5e9 x",
      "1\t\t2.25\t\tx",
      "<... read resumed>\"go\\n\", 16) = 3 <0.003565>",
      "<x>",
      "x<",
      "x< 2.5>",
      "x<2.5",
      "x<-2.5>",
      "x<nan>",
      "x<1e400>",
      "[ ui.c:12] write(1) = 1 <0.1>",
      "[[ [ a]b",
      "[ " + std::string(40, 'l') + "] call() <1>",
      "[ " + std::string(32, 'l') + "] call() <1>",
      "[ ]",
      "[ a]",
      "[ a] ",
      "read(3, \"<x>\") = 3 <0.1>",
      "read(3, \"x\") = 3 <0.1",
      "(x) <1>",
      "name(<1>",
      wide + "(x) <1>",
      wide + "<1>",
      "read(3,  <unfinished ...>",
      "read(3,  <unfin",
      "read(3,  <unfinished",
      "read(3,  <unfin>",
      "read <unfinished ...>",
      // Eight digits read in one step, and the forms around it.
      "1 12345678 x",
      "1 1234567 x",
      "1 12345678.5 x",
      "1 123456789012345678 x",
      "1 1234567890123456789 x",
      "a-1 [0] f 12345678.9: tracing_mark_write: E",
      "a-1 [0] f 1234567:",
      std::string("1 1234\0"
                  "5678.5 x",
                  15),
      std::string("1 12345678\0"
                  "9 x",
                  13),
      "1 2.5 " + wide,
      "1 2.5 " + std::string(512, 'r'),
      "1 2.5 call(x) <1>\nnext(y) <2>",
      "1 2.5 \nnext",
      "x<0.1234567>",
      "x<0.12345678>",
      "(y) <0.000058>",
      "(y) <0.000058",
      // Six decimals read in one step, and the forms around it.
      "(y) <0.00005>",
      "(y) <0.0000581>",
      "(y) <0.000058e3>",
      "(y) <0.000058.5>",
      "(y) <1.000058",
      std::string("(y) <0.00\0"
                  "0058>",
                  16),
      "1 1796584942.152349 x",
      "1 9007199254.740993 x",
      "1 9007199254.740992 x",
      // strace's two shapes read whole, and the forms around them.
      "1 1796584942.152349",
      "1 17965a4942.152349 x",
      "1 1796584942.15234a x",
      "1 1796584942.1523491 x",
      "1 1796584942.152349e1 x",
      "1 1796584942.152349.5 x",
      "1 9999999999.999999 x",
      "(y) <0.000058e1>",
      "(y) <0.00005x>",
      "(y) <5.000000>",
      "(y) <5.0000000>",
      "(y) <5.000000",
  };
  for (const std::string& line : lines) {
    EXPECT_EQ("", scanMismatch(line)) << "line: " << line;
  }
}

}  // namespace
}  // namespace orvel
