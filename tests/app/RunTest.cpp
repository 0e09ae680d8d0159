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
#include <sys/wait.h>
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
  // Starts spanmill with args, standard input and output from in and out,
  // and writes text times times over into writer: returns once spanmill
  // has read it all.
  static pid_t startAndFeed(const std::vector<std::string>& args, int in, int out, int writer,
                            const std::string& text, size_t times = 1) {
    pid_t child = startProgram(SPANMILL_BINARY, args, in, out, 2);
    for (size_t i = 0; i < times; ++i) {
      EXPECT_EQ(static_cast<ssize_t>(text.size()), write(writer, text.data(), text.size()));
    }
    EXPECT_TRUE(eventually([&] { return unread(writer) == 0; }));
    return child;
  }
  // The wait status of child once it has ended, within ten seconds (well
  // before the input's time limit); -1 when it had to be killed.
  static int endOf(pid_t child) {
    int status = -1;
    if (!eventually([&] { return waitpid(child, &status, WNOHANG) == child; })) {
      kill(child, SIGKILL);
      waitpid(child, nullptr, 0);
      return -1;
    }
    return status;
  }
  // Bytes waiting in the pipe of fd, either end.
  static int unread(int fd) {
    int bytes = -1;
    ioctl(fd, FIONREAD, &bytes);
    return bytes;
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
  EXPECT_NE(0, access(path("out").c_str(), F_OK));

  ProgramResult unwritable = spanmill({"-o", path("no/such/folder"), "-t", "FTRACE"});
  EXPECT_EQ(1, unwritable.exitStatus);
  EXPECT_EQ("Cannot open '" + path("no/such/folder") + "' for writing.\n", unwritable.err);

  // The report never empties its own input, however the two are named;
  // -a adds it after the input, and /dev/null is not emptied by writing.
  writeFile(path("capture"), "kept");
  symlink(path("capture").c_str(), path("link").c_str());
  ProgramResult over = spanmill({"-i", path("link"), "-o", path("./capture"), "-t", "FTRACE"});
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
  // Without descriptors 1 and 2 messages do not go into the files opened,
  // also when standard input is a socket, which cannot be opened again.
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

// Reports appended at once, each in many pieces, follow one another whole.
TEST_F(RunTest, ReportsAppendedAtOnceStayWhole) {
  writeFile(path("input"), marker(1, "1.0", "B|1|f") + marker(1, "1.5", "E"), 40000);
  const std::string report = spanmill({"-i", path("input")}).out;
  ASSERT_GT(report.size(), 3u * 65536);
  std::vector<pid_t> jobs;
  std::string reports;
  for (int i = 0; i < 8; ++i) {
    jobs.push_back(
        startProgram(SPANMILL_BINARY, {"-i", path("input"), "-a", path("all")}, -1, -1, 2));
    reports += report;
  }
  for (pid_t job : jobs) {
    EXPECT_EQ(0, waitProgram(job));
  }
  EXPECT_TRUE(reports == readWholeFile(path("all")));  // not EXPECT_EQ: 2 MB of difference
}

// Ctrl-C or SIGTERM ends the input, of a named pipe or standard input, as
// its end would; a second signal ends the program. A signal ignored from
// the start stays ignored.
TEST_F(RunTest, AStopSignalEndsTheInputASecondOneTheProgram) {
  const std::string lines = marker(4, "1.0", "B|4|read") + marker(4, "1.5", "E");
  ASSERT_EQ(0, mkfifo(path("fifo").c_str(), 0600));
  int fifo = open(path("fifo").c_str(), O_RDWR | O_CLOEXEC);  // a writer that stays
  int ends[2];
  ASSERT_EQ(0, pipe2(ends, O_CLOEXEC));
  int out = open(path("report").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  pid_t fromFifo = startAndFeed({"-i", path("fifo"), "-o", path("fifo.json")}, -1, -1, fifo, lines);
  signal(SIGINT, SIG_IGN);  // inherited by this child only
  pid_t fromStandardInput = startAndFeed({}, ends[0], out, ends[1], lines);
  signal(SIGINT, SIG_DFL);
  kill(fromFifo, SIGINT);
  kill(fromStandardInput, SIGINT);
  kill(fromStandardInput, SIGTERM);
  EXPECT_EQ(0, endOf(fromFifo));  // exit status 0
  EXPECT_EQ(0, endOf(fromStandardInput));
  const std::string report =
      R"({"sections":["read"],"pc":[["",0]],"threads":{"4":{"trace":[[0,500000,0]]}}})";
  EXPECT_EQ(report, readWholeFile(path("fifo.json")));
  EXPECT_EQ(report, readWholeFile(path("report")));

  // The report fills a pipe that nobody reads: the first signal has been
  // handled once it is there, and the second one ends the program.
  int output[2];
  ASSERT_EQ(0, pipe2(output, O_CLOEXEC));
  pid_t stopped = startAndFeed({"-i", path("fifo")}, -1, output[1], fifo, lines, 20000);
  kill(stopped, SIGTERM);
  EXPECT_TRUE(eventually([&] { return unread(output[0]) > 0; }));
  kill(stopped, SIGINT);
  EXPECT_EQ(SIGINT, endOf(stopped));  // killed by SIGINT
  for (int fd : {fifo, ends[0], ends[1], out, output[0], output[1]}) {
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
