#include <string>

#include <gtest/gtest.h>

#include "tests/app/Conversion.h"

namespace orvel {
namespace {

std::string strace(const std::string& input) {
  return testing::convert("strace", input);
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
