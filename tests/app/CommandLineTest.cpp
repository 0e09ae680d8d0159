#include <unistd.h>

#include <climits>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/Options.h"
#include "tests/app/Subprocess.h"

namespace orvel {
namespace {

using testing::ProgramResult;

ProgramResult spanmill(const std::vector<std::string>& args) {
  return testing::runProgram(SPANMILL_BINARY, args);
}

// Parses a command line in this process.
RunSettings parse(std::vector<std::string> args) {
  static std::vector<std::string> kept;  // the settings point into the arguments
  kept = std::move(args);
  kept.insert(kept.begin(), "spanmill");
  std::vector<char*> argv;
  for (std::string& arg : kept) {
    argv.push_back(&arg[0]);
  }
  argv.push_back(nullptr);
  optind = 0;  // getopt starts afresh
  RunSettings settings;
  EXPECT_TRUE(parseOptions(static_cast<int>(kept.size()), argv.data(), &settings));
  return settings;
}

// The usage text after its first line (which carries the build's date) is
// the one in tests/data/usage.txt.
TEST(CommandLine, HelpPrintsTheUsageTextAndFails) {
  ProgramResult result = spanmill({"-h", "-x"});
  EXPECT_EQ(1, result.exitStatus);
  EXPECT_EQ("", result.err);
  const size_t firstLineEnd = result.out.find('\n');
  EXPECT_TRUE(std::regex_match(
      result.out.substr(0, firstLineEnd),
      std::regex("spanmill - convert trace data to CSV\\. Built "
                 "[A-Z][a-z]{2} [ 1-3][0-9] [0-9]{4} [0-2][0-9]:[0-5][0-9]:[0-6][0-9]")))
      << result.out;
  EXPECT_EQ(testing::readWholeFile(ORVEL_TEST_DATA "/usage.txt"),
            result.out.substr(firstLineEnd + 1));
}

TEST(CommandLine, EachErrorPrintsOneLineAndFails) {
  // A byte above 0x7F reaches getopt as a char, sign-extended where char is signed.
  const std::string highByte = CHAR_MIN < 0 ? "Unknown option character `\\xffffffe9'.\n"
                                            : "Unknown option character `\\xe9'.\n";
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"-t"}, "Option -t requires an argument.\n"},
      {{"-i", "in", "-o"}, "Option -o requires an argument.\n"},
      {{"-x", "-h"}, "Unknown option `-x'.\n"},
      {{"-:"}, "Unknown option `-:'.\n"},
      {{"-\x01"}, "Unknown option character `\\x1'.\n"},
      {{"-\xe9"}, highByte},
      {{"trace.txt"}, "Invalid arguments, try -h\n"},
      {{"-i", "trace.txt", "extra"}, "Invalid arguments, try -h\n"},
  };
  for (const auto& [args, message] : cases) {
    ProgramResult result = spanmill(args);
    EXPECT_EQ(1, result.exitStatus) << args[0];
    EXPECT_EQ(message, result.err) << args[0];
    EXPECT_EQ("", result.out) << args[0];
  }
}

TEST(ParseOptions, NumbersConvertLikeStrtodAndLaterOptionsReplaceEarlier) {
  RunSettings settings = parse(
      {"-A", "fast", "-B", " 2.5s", "-s", "1", "-s", "0x10", "-d", "-3", "-i", "a", "-i", "b"});
  EXPECT_EQ(0.0, settings.skew);
  EXPECT_EQ(2.5, settings.offset);
  EXPECT_EQ(16.0, settings.startTime);
  EXPECT_EQ(-3.0, settings.duration);
  EXPECT_STREQ("b", settings.inputPath);
}

}  // namespace
}  // namespace orvel
