// Helpers every test folder uses: capturing what the process writes on a
// standard descriptor, a scratch folder per case, and tables of cases kept
// in tests/data.
#ifndef ORVEL_TESTS_TESTING_H
#define ORVEL_TESTS_TESTING_H

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "io/WholeFile.h"

namespace orvel {
namespace testing {

// Captures what the process writes on a standard descriptor (1 or 2),
// through a pipe, until finish().
class CaptureOutput {
 public:
  explicit CaptureOutput(int fd) : fd(fd) {
    std::fflush(nullptr);  // every output stream
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
      std::fflush(nullptr);  // every output stream
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
  const int fd;
  int ends[2];
  int saved = -1;
  std::string text;
};

// A test fixture with a folder of its own under /tmp, removed with
// everything in it after each case.
class ScratchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/orvel-test-XXXXXX";
    folder = mkdtemp(name);
  }
  void TearDown() override { std::system(("rm -rf " + folder).c_str()); }

  std::string path(const char* name) const { return folder + "/" + name; }
  // Writes text, times times over, into file.
  static void writeFile(const std::string& file, const std::string& text, size_t times = 1) {
    FILE* out = std::fopen(file.c_str(), "w");
    for (size_t i = 0; i < times; ++i) {
      std::fwrite(text.data(), 1, text.size(), out);
    }
    std::fclose(out);
  }

  std::string folder;
};

// Test cases kept as tables in tests/data: one case a line, fields
// separated by tabs, with \t \n \r \f \\ and \xHH standing for bytes that a
// line cannot hold.
inline std::string unescape(const std::string& field) {
  std::string bytes;
  for (size_t at = 0; at < field.size(); ++at) {
    const char c = field[at];
    if (c != '\\' || at + 1 == field.size()) {
      bytes.push_back(c);
      continue;
    }
    const char kind = field[++at];
    if (kind == 'x') {
      bytes.push_back(static_cast<char>(std::strtol(field.substr(at + 1, 2).c_str(), nullptr, 16)));
      at += 2;
    } else {
      bytes.push_back(kind == 't'   ? '\t'
                      : kind == 'n' ? '\n'
                      : kind == 'r' ? '\r'
                      : kind == 'f' ? '\f'
                                    : kind);
    }
  }
  return bytes;
}

// What the file at path holds ("" when it cannot be read).
inline std::string readWholeFile(const std::string& path) {
  std::string text;
  bool opened;
  orvel::readWholeFile(path.c_str(), &text, &opened);
  return text;
}

// The rows of the table in the file at path, each field unescaped.
inline std::vector<std::vector<std::string>> readTable(const std::string& path) {
  const std::string text = readWholeFile(path);
  std::vector<std::vector<std::string>> rows;
  for (size_t start = 0, end; start < text.size(); start = end + 1) {
    end = text.find('\n', start);
    end = end == std::string::npos ? text.size() : end;
    std::vector<std::string> fields;
    for (size_t from = start, tab; from <= end; from = tab + 1) {
      tab = std::min(text.find('\t', from), end);
      fields.push_back(unescape(text.substr(from, tab - from)));
    }
    rows.push_back(fields);
  }
  return rows;
}

}  // namespace testing
}  // namespace orvel

#endif  // ORVEL_TESTS_TESTING_H
