#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "json/JSOM.h"
#include "tests/app/Subprocess.h"

namespace orvel {
namespace {

using testing::ProgramResult;
using testing::readWholeFile;
using testing::runProgram;

ProgramResult report(const std::vector<std::string>& args) {
  return runProgram(SPANMILL_REPORT_BINARY, args);
}

// A scratch directory of this test's own, removed with what it holds.
class Scratch {
 public:
  Scratch() {
    char name[] = "/tmp/spanmill-report-XXXXXX";
    path = mkdtemp(name);
  }
  ~Scratch() { std::system(("rm -rf '" + path + "'").c_str()); }
  std::string file(const std::string& name) const { return path + "/" + name; }
  void write(const std::string& name, const std::string& text) const {
    std::FILE* out = std::fopen(file(name).c_str(), "wb");
    std::fwrite(text.data(), 1, text.size(), out);
    std::fclose(out);
  }

 private:
  std::string path;
};

// A bundled capture through spanmill, then summarised and exported.
TEST(ReportCommand, RoundTripFromAnExampleCapture) {
  Scratch scratch;
  const std::string converted = scratch.file("frames.json");
  const std::string capture = std::string(ORVEL_EXAMPLES) + "/frames.ftrace";
  ASSERT_EQ(0, runProgram(SPANMILL_BINARY, {"-i", capture, "-o", converted}).exitStatus);
  ProgramResult summary = report({"summary", "--top", "2", converted});
  EXPECT_EQ(0, summary.exitStatus) << summary.err;
  EXPECT_EQ(0u, summary.out.find("section ")) << summary.out;
  EXPECT_NE(std::string::npos, summary.out.find("\nDrawFrame ")) << summary.out;
  EXPECT_EQ(3, std::count(summary.out.begin(), summary.out.end(), '\n'));

  const std::string exported = scratch.file("trace.json");
  ProgramResult chrome = report({"chrome", "-o", exported, converted, converted});
  EXPECT_EQ(0, chrome.exitStatus) << chrome.err;
  EXPECT_EQ("", chrome.out);
  JSOM doc;
  doc.fromString(readWholeFile(exported));
  JSOM last = doc["traceEvents"][doc["traceEvents"].size() - 1];
  EXPECT_EQ(2, last["pid"].longValue(0));  // the second copy is the second process
  EXPECT_EQ("X", last["ph"].stringValue(""));

  ProgramResult json = report({"summary", "--json", "--by-thread", converted});
  EXPECT_EQ(0, json.exitStatus);
  JSOM rows;
  rows.fromString(json.out);
  EXPECT_EQ("9920", rows["rows"][0]["thread"].stringValue(""));
  EXPECT_EQ("DrawFrame", rows["rows"][0]["section"].stringValue(""));
}

TEST(ReportCommand, ABadReportIsNamedAndLeavesNoFile) {
  Scratch scratch;
  scratch.write("good.json", "{\"sections\":[],\"pc\":[],\"threads\":{}}");
  scratch.write("bad.json", "{\"sections\":[],\"pc\":[]}");
  const std::string exported = scratch.file("trace.json");
  ProgramResult result =
      report({"chrome", "-o", exported, scratch.file("good.json"), scratch.file("bad.json")});
  EXPECT_EQ(1, result.exitStatus);
  EXPECT_EQ("spanmill-report: " + scratch.file("bad.json") + ": missing \"threads\"\n", result.err);
  EXPECT_NE(0, access(exported.c_str(), F_OK));

  result = report({"summary", scratch.file("none.json")});
  EXPECT_EQ(1, result.exitStatus);
  EXPECT_EQ("spanmill-report: " + scratch.file("none.json") +
                ": cannot read: No such file or directory\n",
            result.err);
  EXPECT_EQ("", result.out);

  EXPECT_EQ(2, report({"summary"}).exitStatus);
  EXPECT_EQ(2, report({"summary", "--top", "0", "x"}).exitStatus);
  EXPECT_EQ(2, report({"export", "x"}).exitStatus);
  EXPECT_EQ(0, report({"--help"}).exitStatus);
}

}  // namespace
}  // namespace orvel
