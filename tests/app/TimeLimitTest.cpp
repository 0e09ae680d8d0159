// The run's time limit: takes a minute.
#include <fcntl.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "tests/app/Conversion.h"
#include "tests/app/Subprocess.h"

namespace orvel {
namespace {

using TimeLimit = testing::ScratchTest;

TEST_F(TimeLimit, InputStillOpenAfterAMinuteIsReportedAsFarAsItWasRead) {
  int input[2];
  ASSERT_EQ(0, pipe2(input, O_CLOEXEC));
  int out = open(path("report").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  pid_t child = testing::startProgram(SPANMILL_BINARY, {}, input[0], out, 2);
  close(input[0]);
  close(out);
  // The last line has no line end: it counts all the same.
  std::string lines = testing::marker(9, "3.0", "B|9|stuck") + testing::marker(9, "3.5", "E");
  lines.pop_back();
  ASSERT_EQ(static_cast<ssize_t>(lines.size()), write(input[1], lines.data(), lines.size()));
  EXPECT_EQ(0, testing::waitProgram(child));  // while the writer still holds the pipe
  EXPECT_EQ(R"({"sections":["stuck"],"pc":[["",0]],"threads":{"9":{"trace":[[0,500000,0]]}}})",
            testing::readWholeFile(path("report")));
  close(input[1]);
}

}  // namespace
}  // namespace orvel
