// spanmill end to end: the built program on real files, pipes and a terminal.
// spanmill on input nobody would write on purpose: each case runs the
// program and states what the user sees.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "tests/Testing.h"
#include "tests/app/Conversion.h"
#include "tests/app/Subprocess.h"
#include "tests/thread/ThreadTesting.h"

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
  // Runs spanmill on text repeated count times, with the options given.
  ProgramResult spanmillOn(const std::string& text, size_t count = 1,
                           std::vector<std::string> args = {}) {
    writeFile(path("input"), text, count);
    args.push_back("-i");
    args.push_back(path("input"));
    return spanmill(args);
  }
  // Writes text times times over into writer's pipe; returns once it has all been read.
  static void feed(int writer, const std::string& text, size_t times = 1) {
    for (size_t i = 0; i < times; ++i) {
      EXPECT_EQ(static_cast<ssize_t>(text.size()), write(writer, text.data(), text.size()));
    }
    EXPECT_TRUE(eventually([&] { return unread(writer) == 0; }));
  }
  // The wait status of child once ended, within ten seconds (before the time limit), or -1.
  static int endOf(pid_t child) {
    int status = -1;
    return eventually([&] { return waitpid(child, &status, WNOHANG) == child; }) ? status : -1;
  }
  // Bytes waiting in the pipe of fd, either end.
  static int unread(int fd) {
    int bytes = -1;
    return ioctl(fd, FIONREAD, &bytes) == 0 ? bytes : -1;
  }
};

TEST_F(RunTest, ConvertsFilesAndStandardInput) {
  // The bundled examples, real captures, with the reports the README shows.
  const std::string examples = ORVEL_EXAMPLES;
  ProgramResult ftrace = spanmill({"-i", examples + "/frames.ftrace"});
  EXPECT_EQ(0, ftrace.exitStatus);
  EXPECT_EQ(readWholeFile(examples + "/frames.json"), ftrace.out);
  EXPECT_EQ("", ftrace.err);
  ProgramResult strace = spanmill({"-t", "strace"}, examples + "/threads.strace");
  EXPECT_EQ(0, strace.exitStatus);
  EXPECT_EQ(readWholeFile(examples + "/threads.json"), strace.out);

  EXPECT_EQ(kEmptyReport, spanmill({}).out);
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

  // Reports appended at once, in several pieces each, follow one another whole.
  writeFile(path("many"), marker(1, "1.0", "B|1|f") + marker(1, "1.5", "E"), 40000);
  std::vector<pid_t> jobs(8);
  for (pid_t& job : jobs) {
    job = startProgram(SPANMILL_BINARY, {"-i", path("many"), "-a", path("new")}, -1, -1, 2);
  }
  std::string reports;
  for (pid_t job : jobs) {
    EXPECT_EQ(0, waitProgram(job));
    reports += spanmill({"-i", path("many")}).out;  // 520 kB
  }
  EXPECT_TRUE(reports == readWholeFile(path("new")));  // not EXPECT_EQ: 4 MB of difference
}

TEST_F(RunTest, ErrorsComeInputFirstThenOutputThenType) {
  ProgramResult missing = spanmill({"-i", path("absent"), "-o", path("out"), "-t", "FTRACE"});
  EXPECT_EQ(1, missing.exitStatus);
  EXPECT_EQ("Cannot open '" + path("absent") + "' for reading.\n", missing.err);
  EXPECT_NE(0, access(path("out").c_str(), F_OK));

  ProgramResult unwritable = spanmill({"-o", path("no/such/folder"), "-t", "FTRACE"});
  EXPECT_EQ(1, unwritable.exitStatus);
  EXPECT_EQ("Cannot open '" + path("no/such/folder") + "' for writing.\n", unwritable.err);

  // The report never empties its input, however named (-a adds to it, /dev/null loses nothing).
  writeFile(path("capture"), "kept");
  ProgramResult over = spanmill({"-i", path("capture"), "-o", path("./capture"), "-t", "FTRACE"});
  EXPECT_EQ(1, over.exitStatus);
  EXPECT_EQ("Cannot write the report over the input '" + path("./capture") + "'.\n", over.err);
  EXPECT_EQ(1, runProgram(SPANMILL_BINARY, {"-o", path("capture")}, path("capture")).exitStatus);
  EXPECT_EQ(0, spanmill({"-i", "/dev/null", "-o", "/dev/null"}).exitStatus);
  EXPECT_EQ(0, spanmill({"-i", path("capture"), "-a", path("capture")}).exitStatus);
  EXPECT_EQ(std::string("kept") + kEmptyReport, readWholeFile(path("capture")));

  writeFile(path("out"), "old");
  ProgramResult type = spanmill({"-o", path("out"), "-t", "FTRACE"});
  EXPECT_EQ(1, type.exitStatus);
  EXPECT_EQ("Invalid trace type 'FTRACE'\n", type.err);
  EXPECT_EQ("", readWholeFile(path("out")));  // truncated before the type was looked at
  EXPECT_EQ("", type.out);
}

TEST_F(RunTest, ClosedPartReadAndVanishedStandardDescriptors) {
  // Without descriptor 0 the input is empty, not whatever opens next.
  int out = open(path("report").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  EXPECT_EQ(0, waitProgram(startProgram(SPANMILL_BINARY, {}, -1, out, 2)));
  EXPECT_EQ(kEmptyReport, readWholeFile(path("report")));
  // Without descriptors 1 and 2 messages reach no file opened (input: a file, then a socket).
  int socket[2];
  ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, socket));
  for (int in : {out, socket[0]}) {
    EXPECT_EQ(1, waitProgram(startProgram(SPANMILL_BINARY, {"-o", path("typed"), "-t", "FTRACE"},
                                          in, -1, -1)));
  }
  close(socket[0]);
  close(socket[1]);
  close(out);
  EXPECT_EQ("", readWholeFile(path("typed")));

  // Standard input read in part before: spanmill goes on from there.
  writeFile(path("input"),
            marker(1, "1.0", "B|1|skipped") + marker(2, "2.0", "B|2|read") + marker(2, "2.5", "E"));
  int in = open(path("input").c_str(), O_RDONLY | O_CLOEXEC);
  lseek(in, static_cast<off_t>(marker(1, "1.0", "B|1|skipped").size()), SEEK_SET);
  out = open(path("report").c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  EXPECT_EQ(0, waitProgram(startProgram(SPANMILL_BINARY, {}, in, out, 2)));
  close(in);
  close(out);
  EXPECT_EQ(R"({"sections":["read"],"pc":[["",0]],"threads":{"2":{"trace":[[0,500000,0]]}}})",
            readWholeFile(path("report")));

  // A reader that went away fails the writes; it does not kill the process.
  int output[2];
  ASSERT_EQ(0, pipe2(output, O_CLOEXEC));
  close(output[0]);
  in = open(dataFile("render.ftrace").c_str(), O_RDONLY | O_CLOEXEC);
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

TEST_F(RunTest, HugeLinesAndDeepNesting) {
  // 100 MB without a line end: one line, no marker, an empty report.
  EXPECT_EQ(kEmptyReport, spanmillOn(std::string(1 << 20, 'x'), 100).out);
  // A million begins never ended: one name, a thread without spans.
  EXPECT_EQ(R"({"sections":["deeper"],"pc":[["",0]],"threads":{"3":{"trace":[]}}})",
            spanmillOn(marker(3, "1.0", "B|3|deeper"), 1000000).out);
}

// Ctrl-C or SIGTERM ends the input (a paused writer does not) as its end
// would; a second ends the program; a signal ignored at start stays so.
TEST_F(RunTest, AStopSignalEndsTheInputASecondOneTheProgram) {
  const std::string begin = marker(4, "1.0", "B|4|read");
  const std::string end = marker(4, "1.5", "E");
  ASSERT_EQ(0, mkfifo(path("fifo").c_str(), 0600));
  int fifo = open(path("fifo").c_str(), O_RDWR | O_CLOEXEC);  // a writer that stays
  int ends[4];
  ASSERT_TRUE(pipe2(ends, O_CLOEXEC) == 0 && pipe2(ends + 2, O_CLOEXEC) == 0);
  pid_t fromFifo = startProgram(SPANMILL_BINARY, {"-i", path("fifo"), "-o", path("a")}, -1, -1, 2);
  feed(fifo, begin);
  feed(fifo, end);
  pid_t fromPipe = startProgram(SPANMILL_BINARY, {"-o", path("b")}, ends[0], -1, 2);
  feed(ends[1], begin + end);
  kill(fromFifo, SIGINT);
  kill(fromPipe, SIGTERM);
  EXPECT_EQ(0, endOf(fromFifo));  // exit status 0
  EXPECT_EQ(0, endOf(fromPipe));
  for (const char* report : {"a", "b"}) {
    EXPECT_EQ(R"({"sections":["read"],"pc":[["",0]],"threads":{"4":{"trace":[[0,500000,0]]}}})",
              readWholeFile(path(report)));
  }
  // Once the report fills a pipe that nobody reads, a second signal ends it.
  signal(SIGINT, SIG_IGN);  // inherited by this child only
  pid_t stopped = startProgram(SPANMILL_BINARY, {"-i", path("fifo")}, -1, ends[3], 2);
  signal(SIGINT, SIG_DFL);
  feed(fifo, begin + end, 20000);
  kill(stopped, SIGTERM);
  EXPECT_TRUE(eventually([&] { return unread(ends[2]) > 0; }));
  kill(stopped, SIGINT);
  kill(stopped, SIGTERM);
  EXPECT_EQ(SIGTERM, endOf(stopped));  // killed by SIGTERM, not by the ignored SIGINT
  for (int fd : {fifo, ends[0], ends[1], ends[2], ends[3]}) {
    close(fd);
  }
}

TEST_F(RunTest, UnreadableInputAndUnwritableOutput) {
  // A directory opens but cannot be read: a warning, then an empty report.
  ProgramResult directory = spanmill({"-i", "/"});
  EXPECT_EQ(0, directory.exitStatus);
  EXPECT_NE(std::string::npos, directory.out.find("WARN"));
  EXPECT_NE(std::string::npos, directory.out.find("File processing error -2\n"));
  EXPECT_NE(std::string::npos, directory.out.find(kEmptyReport));

  // A full disk loses the report without a word; the run still counts.
  ProgramResult full = spanmillOn(marker(1, "1.0", "B|1|x"), 1, {"-o", "/dev/full"});
  EXPECT_EQ(0, full.exitStatus);
  EXPECT_EQ("", full.err);
}

}  // namespace
}  // namespace orvel
