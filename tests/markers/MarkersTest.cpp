// What the marker header writes. Each case runs in a child process of its
// own, since a process opens its marker file once, with SPANMILL_MARKER
// naming a file of the scratch folder; the file's bytes are compared.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "include/spanmill/markers.h"
#include "tests/Testing.h"

// Writers.c, compiled as C99, and Writers11.cpp, as C++11, once with markers
// and once with SPANMILL_DISABLE (the names ending in _off); each returns
// the line of its first located marker.
extern "C" {
int c_forms();  // begin, begin at, SPANMILL_BEGIN at the line returned, SPANMILL_END, end
int c_forms_off();
void c_begin(const char* name);  // spanmill_begin(name)
const char* c_file();            // Writers.c's __FILE__
int c_evaluated_off();           // how often a disabled macro evaluated its argument
}
int scopes();  // SPANMILL_SCOPE("outer") at the line returned, "inner" two below, nested
int scopes_off();

namespace orvel {
namespace {

using testing::readWholeFile;

// How many descriptors the process has open.
int openDescriptors() {
  int count = 0;
  for (int fd = 0; fd < 1024; ++fd) {
    count += fcntl(fd, F_GETFD) != -1;
  }
  return count;
}

struct Case {
  const char* what;
  int (*write)();  // returns the number %L stands for
  // %P stands for the writer's pid, %D for the folder of Writers.c, %L for
  // the number returned and %M for two more.
  const char* expected;
};

const Case kCases[] = {
    {"begin, end", [] { return spanmill_begin("a|b c"), spanmill_end(), 0; }, "B|%P|a|b c\nE\n"},
    {"begin at",
     [] { return spanmill_begin_at("up", "a.c:7"), spanmill_begin_at("up", nullptr), 0; },
     "b|%P|up|a.c:7\nB|%P|up\n"},
    {"no name", [] { return spanmill_begin(""), spanmill_begin_at(nullptr, "x"), 0; },
     "B|%P|(unnamed)\nb|%P|(unnamed)|x\n"},
    {"C", c_forms, "B|%P|decode\nb|%P|upload|gpu/Upload.c:42\nb|%P|step|%DWriters.c:%L\nE\nE\n"},
    {"scopes end innermost first", scopes,
     "b|%P|outer|%DWriters11.cpp:%L\nb|%P|inner|%DWriters11.cpp:%M\nE\nE\n"},
    {"disabled",
     [] { return c_forms_off(), scopes_off(), c_evaluated_off() ? spanmill_end(), 0 : 0; }, ""},
    {"C and C++ share one descriptor",
     [] { return spanmill_begin("cxx"), setenv("SPANMILL_MARKER", "", 1), c_begin("c"), 0; },
     "B|%P|cxx\nB|%P|c\n"},
    {"fork",
     [] {
       spanmill_begin("before");
       const pid_t child = fork();
       if (child == 0) {
         spanmill_begin("child"), spanmill_end(), _exit(0);
       }
       waitpid(child, nullptr, 0);
       return spanmill_end(), child;
     },
     "B|%P|before\nB|%L|child\nE\nE\n"},
    {"no marker file: nothing written, no second open",
     [] {
       unlink(getenv("SPANMILL_MARKER"));
       spanmill_begin("lost");
       close(open(getenv("SPANMILL_MARKER"), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
       return spanmill_begin("lost too"), spanmill_end(), 0;
     },
     ""},
};

class MarkersTest : public testing::ScratchTest {
 protected:
  // Runs write in a child process with marker as its marker file; returns
  // what write returned, or -1 when the child failed.
  int run(int (*write)(), const std::string& marker) {
    int ends[2];
    EXPECT_EQ(0, pipe(ends));
    pid = fork();
    if (pid == 0) {
      setenv("SPANMILL_MARKER", marker.c_str(), 1);
      const int line = write();
      _exit(::write(ends[1], &line, sizeof line) == sizeof line ? 0 : 1);
    }
    close(ends[1]);
    int line = -1;
    int status = 0;
    EXPECT_EQ(static_cast<ssize_t>(sizeof line), read(ends[0], &line, sizeof line));
    close(ends[0]);
    waitpid(pid, &status, 0);
    EXPECT_EQ(0, status);
    return line;
  }
  pid_t pid = 0;  // the last child run
};

std::string replace(std::string text, const std::string& from, const std::string& to) {
  for (size_t at; (at = text.find(from)) != std::string::npos;) {
    text.replace(at, from.size(), to);
  }
  return text;
}

TEST_F(MarkersTest, WritesTheFormsSpanmillReads) {
  for (const Case& c : kCases) {
    const std::string marker = path(c.what);
    writeFile(marker, "");
    const int line = run(c.write, marker);
    std::string expected = replace(c.expected, "%P", std::to_string(pid));
    const std::string folder = c_file();
    expected = replace(expected, "%D", folder.substr(0, folder.rfind('/') + 1));
    expected = replace(expected, "%L", std::to_string(line));
    EXPECT_EQ(replace(expected, "%M", std::to_string(line + 2)), readWholeFile(marker)) << c.what;
  }
}

// What the cut cases write, copied into the child by fork.
std::string cutName, cutLocation;

TEST_F(MarkersTest, TextsAreCutTo512BytesKeepingTheLocationsEnd) {
  // The text one begin writes; prefix is set to "B|pid|" or "b|pid|".
  std::string prefix;
  auto written = [&](const std::string& name, const std::string& location) {
    cutName = name;
    cutLocation = location;
    writeFile(path("marker"), "");
    run([] { return spanmill_begin_at(cutName.c_str(), cutLocation.c_str()), 0; }, path("marker"));
    prefix = "b|" + std::to_string(pid) + "|";
    return readWholeFile(path("marker"));
  };
  const std::string a600(600, 'a'), location = std::string(100, 'x') + std::string(200, 'y');
  std::string e300;  // 300 two-byte characters
  for (int i = 0; i < 300; ++i) {
    e300 += "\xc3\xa9";
  }
  std::string text = written(a600, "");
  EXPECT_EQ(prefix + a600.substr(0, 511 - prefix.size()) + "|\n", text);
  text = written(e300, "");  // an odd room: never half a character
  EXPECT_EQ(prefix + e300.substr(0, (511 - prefix.size()) & ~size_t{1}) + "|\n", text);
  text = written("up", location);  // each text is written before prefix is read
  EXPECT_EQ(prefix + "up|" + location.substr(44) + "\n", text);
  text = written(a600, location);
  EXPECT_EQ(prefix + a600.substr(0, 255 - prefix.size()) + "|" + location.substr(44) + "\n", text);
  text = written("up", e300 + "x");
  EXPECT_EQ(prefix + "up|" + e300.substr(346) + "x\n", text);
}

TEST_F(MarkersTest, FirstMarkersAtOnceKeepOneDescriptor) {
  // Opening a FIFO for writing waits for a reader: every thread's first
  // marker is then in the open when the reader comes.
  ASSERT_EQ(0, mkfifo(path("fifo").c_str(), 0600));
  auto race = [] {
    const int before = openDescriptors();
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i) {
      threads.emplace_back([] { spanmill_begin("race"); });
    }
    usleep(100 * 1000);
    const int reader = open(getenv("SPANMILL_MARKER"), O_RDONLY | O_CLOEXEC);
    for (std::thread& thread : threads) {
      thread.join();
    }
    char markers[256];
    return (openDescriptors() - before - 1) * 100 + static_cast<int>(read(reader, markers, 256));
  };
  const int descriptorsAndBytes = run(race, path("fifo"));
  EXPECT_EQ(100 + 4 * static_cast<int>(("B|" + std::to_string(pid) + "|race\n").size()),
            descriptorsAndBytes);
}

TEST_F(MarkersTest, AWriteThatFailsLeavesErrnoAsItWas) {
  EXPECT_EQ(ERANGE, run([] { return errno = ERANGE, spanmill_begin("full"), errno; }, "/dev/full"));
}

}  // namespace
}  // namespace orvel
