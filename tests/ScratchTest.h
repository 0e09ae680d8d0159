// A test fixture with a folder of its own under /tmp, removed with
// everything in it after each case.
#ifndef ORVEL_TESTS_SCRATCHTEST_H
#define ORVEL_TESTS_SCRATCHTEST_H

#include <stdlib.h>

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

namespace orvel {
namespace testing {

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

}  // namespace testing
}  // namespace orvel

#endif  // ORVEL_TESTS_SCRATCHTEST_H
