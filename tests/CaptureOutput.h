// Captures what the process writes on a standard descriptor (1 or 2),
// through a pipe, until finish().
#ifndef ORVEL_TESTS_CAPTUREOUTPUT_H
#define ORVEL_TESTS_CAPTUREOUTPUT_H

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace orvel {
namespace testing {

class CaptureOutput {
 public:
  explicit CaptureOutput(int fd) : fd(fd) {
    flushStreams();
    if (pipe(ends) != 0) {
      ends[0] = ends[1] = -1;
    }
    fcntl(ends[0], F_SETFL, O_NONBLOCK);
    saved = dup(fd);
    dup2(ends[1], fd);
  }
  CaptureOutput(const CaptureOutput&) = delete;
  CaptureOutput& operator=(const CaptureOutput&) = delete;
  ~CaptureOutput() { finish(); }

  // What has reached the descriptor so far, without flushing any stream.
  std::string readNow() {
    char buffer[4096];
    ssize_t got;
    while ((got = read(ends[0], buffer, sizeof buffer)) > 0) {
      text.append(buffer, static_cast<size_t>(got));
    }
    return text;
  }

  // Flushes the streams, restores the descriptor and returns everything
  // captured. The pipe holds 64 KiB: capture no more than that.
  std::string finish() {
    if (saved >= 0) {
      flushStreams();
      dup2(saved, fd);
      close(saved);
      close(ends[1]);
      saved = -1;
      readNow();
      close(ends[0]);
    }
    return text;
  }

 private:
  static void flushStreams() {
    std::fflush(stdout);
    std::fflush(stderr);
  }

  const int fd;
  int ends[2];
  int saved = -1;
  std::string text;
};

}  // namespace testing
}  // namespace orvel

#endif  // ORVEL_TESTS_CAPTUREOUTPUT_H
