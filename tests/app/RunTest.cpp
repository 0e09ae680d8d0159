// spanmill end to end: the built program on real files, pipes and a terminal.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "tests/ScratchTest.h"

#include "tests/app/Conversion.h"
#include "tests/app/Subprocess.h"

namespace orvel {
namespace {

using namespace testing;

const char kEmptyReport[] = R"({"sections":[],"pc":[],"threads":{}})";

std::string dataFile(const char* name) {
  return std::string(ORVEL_TEST_DATA) + "/" + name;
}

class RunTest : public testing::ScratchTest {
 protected:
  ProgramResult spanmill(const std::vector<std::string>& args,
                         const std::string& input = "/dev/null") {
    return runProgram(SPANMILL_BINARY, args, input);
  }
  bool exists(const std::string& file) {
    struct stat status;
    return stat(file.c_str(), &status) == 0;
  }
};

TEST_F(RunTest, ConvertsFilesAndStandardInput) {
  ProgramResult ftrace = spanmill({"-i", dataFile("render.ftrace")});
  EXPECT_EQ(0, ftrace.exitStatus);
  EXPECT_EQ(readWholeFile(dataFile("render.json")), ftrace.out);
  EXPECT_EQ("", ftrace.err);

  ProgramResult strace = spanmill({"-t", "strace"}, dataFile("service.strace"));
  EXPECT_EQ(0, strace.exitStatus);
  EXPECT_EQ(readWholeFile(dataFile("service.json")), strace.out);

  EXPECT_EQ(kEmptyReport, spanmill({}).out);

  // The bundled examples, real captures, with the reports the README shows.
  const std::string examples = ORVEL_EXAMPLES;
  EXPECT_EQ(readWholeFile(examples + "/frames.json"),
            spanmill({"-i", examples + "/frames.ftrace"}).out);
  EXPECT_EQ(readWholeFile(examples + "/threads.json"),
            spanmill({"-t", "strace"}, examples + "/threads.strace").out);
}

TEST_F(RunTest, OutputFilesAreTruncatedOrAppendedTo) {
  const std::string report = readWholeFile(dataFile("render.json"));
  const std::string input = dataFile("render.ftrace");
  writeFile(path("first"), "an older and longer report that must go away");
  writeFile(path("second"), "kept:");
  ProgramResult appended = spanmill({"-i", input, "-o", path("first"), "-a", path("second")});
  EXPECT_EQ(0, appended.exitStatus);
  EXPECT_EQ("", appended.out);
  EXPECT_EQ("an older and longer report that must go away", readWholeFile(path("first")));
  EXPECT_EQ("kept:" + report, readWholeFile(path("second")));

  spanmill({"-i", input, "-a", path("second"), "-o", path("first")});
  EXPECT_EQ(report, readWholeFile(path("first")));
  EXPECT_EQ("kept:" + report, readWholeFile(path("second")));

  spanmill({"-i", input, "-a", path("new")});
  EXPECT_EQ(report, readWholeFile(path("new")));
}

TEST_F(RunTest, ErrorsComeInputFirstThenOutputThenType) {
  ProgramResult missing = spanmill({"-i", path("absent"), "-o", path("out"), "-t", "FTRACE"});
  EXPECT_EQ(1, missing.exitStatus);
  EXPECT_EQ("Cannot open '" + path("absent") + "' for reading.\n", missing.err);
  EXPECT_FALSE(exists(path("out")));

  ProgramResult unwritable = spanmill({"-o", path("no/such/folder"), "-t", "FTRACE"});
  EXPECT_EQ(1, unwritable.exitStatus);
  EXPECT_EQ("Cannot open '" + path("no/such/folder") + "' for writing.\n", unwritable.err);

  writeFile(path("out"), "old");
  ProgramResult type = spanmill({"-o", path("out"), "-t", "FTRACE"});
  EXPECT_EQ(1, type.exitStatus);
  EXPECT_EQ("Invalid trace type 'FTRACE'\n", type.err);
  EXPECT_EQ("", readWholeFile(path("out")));  // truncated before the type was looked at
  EXPECT_EQ("", type.out);
}

// ThreadSanitizer runs a thread of its own in every process it watches.
#if defined(__SANITIZE_THREAD__)
const int kSanitizerThreads = 1;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
const int kSanitizerThreads = 1;
#else
const int kSanitizerThreads = 0;
#endif
#else
const int kSanitizerThreads = 0;
#endif

// qemu-user, running a cross-built spanmill, adds a thread of its own too.
const int kEmulatorThreads = SPANMILL_LAUNCHER[0] == '\0' ? 0 : 1;
const int kOtherThreads = kSanitizerThreads + kEmulatorThreads;

int threadsOf(pid_t pid) {
  int count = 0;
  DIR* tasks = opendir(("/proc/" + std::to_string(pid) + "/task").c_str());
  while (dirent* entry = tasks == nullptr ? nullptr : readdir(tasks)) {
    count += entry->d_name[0] != '.' ? 1 : 0;
  }
  if (tasks != nullptr) {
    closedir(tasks);
  }
  return count;
}

TEST_F(RunTest, TwoThreadsReadAPipeUntilItsWriterLeaves) {
  int input[2];
  ASSERT_EQ(0, pipe2(input, O_CLOEXEC));
  int out = open(path("report").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  pid_t child = startProgram(SPANMILL_BINARY, {}, input[0], out, 2);
  close(input[0]);
  close(out);
  const std::string lines = marker(5, "1.0", "B|5|wait") + marker(5, "1.5", "E");
  ASSERT_EQ(static_cast<ssize_t>(lines.size()), write(input[1], lines.data(), lines.size()));
  // The worker that reads the input joins the main thread, and nothing else.
  auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (threadsOf(child) < 2 + kOtherThreads && std::chrono::steady_clock::now() < limit) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(2 + kOtherThreads, threadsOf(child));
  close(input[1]);
  EXPECT_EQ(0, waitProgram(child));
  EXPECT_EQ(R"({"sections":["wait"],"pc":[["",0]],"threads":{"5":{"trace":[[0,500000,0]]}}})",
            readWholeFile(path("report")));
}

TEST_F(RunTest, ClosedStandardDescriptorsAndAVanishedReader) {
  // Without descriptor 0 the input is empty, not whatever opens next.
  int out = open(path("report").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  EXPECT_EQ(0, waitProgram(startProgram(SPANMILL_BINARY, {}, -1, out, 2)));
  close(out);
  EXPECT_EQ(kEmptyReport, readWholeFile(path("report")));

  // A reader that went away fails the writes; it does not kill the process.
  int output[2];
  ASSERT_EQ(0, pipe2(output, O_CLOEXEC));
  close(output[0]);
  int in = open(dataFile("render.ftrace").c_str(), O_RDONLY | O_CLOEXEC);
  EXPECT_EQ(0, waitProgram(startProgram(SPANMILL_BINARY, {}, in, output[1], -1)));
  close(in);
  close(output[1]);
}

TEST_F(RunTest, ATerminalIsLeftBlockingAndGetsTheWholeReport) {
  int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_NE(-1, master);
  ASSERT_EQ(0, grantpt(master));
  ASSERT_EQ(0, unlockpt(master));
  // One description for both standard input and standard output, as a
  // shell gives a program it starts at a terminal.
  int terminal = open(ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_NE(-1, terminal);
  pid_t child = startProgram(SPANMILL_BINARY, {}, terminal, terminal, 2);
  const std::string input = marker(7, "2.0", "B|7|typed") + marker(7, "2.25", "E") + "\x04";
  ASSERT_EQ(static_cast<ssize_t>(input.size()), write(master, input.data(), input.size()));

  std::string screen;
  const std::string report =
      R"({"sections":["typed"],"pc":[["",0]],"threads":{"7":{"trace":[[0,250000,0]]}}})";
  auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (screen.find(report) == std::string::npos && std::chrono::steady_clock::now() < limit) {
    pollfd ready = {master, POLLIN, 0};
    char buffer[4096];
    ssize_t got = poll(&ready, 1, 100) > 0 ? read(master, buffer, sizeof buffer) : 0;
    if (got > 0) {
      screen.append(buffer, got);
    }
  }
  EXPECT_EQ(0, waitProgram(child));
  EXPECT_NE(std::string::npos, screen.find(report)) << screen;
  EXPECT_EQ(0, fcntl(terminal, F_GETFL) & O_NONBLOCK);
  close(terminal);
  close(master);
}

}  // namespace
}  // namespace orvel
