#include <map>
#include <string>
#include <vector>

#include "tests/Testing.h"
#include "tidy/LineReader.h"
#include "tidy/TidyCommand.h"

namespace orvel {
namespace {

class Tidy : public testing::ScratchTest {
 protected:
  // Runs spanmill-tidy on text; returns its output, its warnings in *errors.
  std::string tidy(const std::string& type, const std::string& text, std::string* errors) {
    const std::string in = path("in");
    const std::string out = path("out");
    writeFile(in, text);
    std::vector<std::string> words = {"spanmill-tidy", "-t", type, "-i", in, "-o", out};
    std::vector<char*> argv;
    for (std::string& word : words) {
      argv.push_back(&word[0]);
    }
    testing::CaptureOutput standardError(2);
    EXPECT_EQ(runTidyCommand(static_cast<int>(argv.size()), argv.data()), 0);
    *errors = standardError.finish();
    return testing::readWholeFile(out);
  }
};

TEST_F(Tidy, EachLineOfTheTableBecomesItsExpectedLine) {
  std::map<std::string, std::vector<std::vector<std::string>>> byType;
  for (const std::vector<std::string>& row :
       testing::readTable(ORVEL_TEST_DATA "/tidy-lines.tsv")) {
    if (row.size() == 3) {
      byType[row[0]].push_back(row);
    }
  }
  ASSERT_EQ(byType.size(), 2u);
  for (const auto& type : byType) {
    std::string input;
    std::string expected;
    for (const std::vector<std::string>& row : type.second) {
      input += row[1] + "\n";
      expected += (row[2] == "=" ? row[1] : row[2]) + "\n";
    }
    std::string errors;
    const std::string output = tidy(type.first, input, &errors);
    for (size_t at = 0, line = 1; at < expected.size(); ++line) {
      const size_t end = expected.find('\n', at);
      const size_t got = output.find('\n', at);
      EXPECT_EQ(output.substr(at, got - at), expected.substr(at, end - at))
          << type.first << " line " << line;
      if (got != end) {
        break;
      }
      at = end + 1;
    }
    EXPECT_EQ(output.size(), expected.size()) << type.first;
  }
}

TEST_F(Tidy, LinesPastTheHeadKeepTheirEndAndLeaveTheNextLineWhole) {
  const size_t kHead = LineReader::kHeadBytes;
  const size_t kTail = LineReader::kTailBytes;
  for (size_t length : {size_t(0), kHead - 1, kHead, kHead + 1, kHead + kTail, 5 * kHead + 7}) {
    std::string line(length, 'x');
    for (size_t i = 0; i < length; i += 97) {
      line[i] = static_cast<char>('a' + i % 26);
    }
    writeFile(path("long"), line + "\nnext\nlast");
    FILE* file = std::fopen(path("long").c_str(), "r");
    LineReader reader(fileno(file));
    Line got;
    ASSERT_TRUE(reader.next(&got));
    EXPECT_EQ(got.length, length);
    EXPECT_TRUE(got.head == std::string_view(line).substr(0, kHead)) << length;
    const size_t rest = length > kHead ? std::min(length - kHead, kTail) : 0;
    EXPECT_TRUE(got.tail == std::string_view(line).substr(length - rest)) << length;
    for (const char* expected : {"next", "last"}) {
      ASSERT_TRUE(reader.next(&got));
      EXPECT_EQ(got.head, expected);
      EXPECT_FALSE(got.cut());
    }
    EXPECT_FALSE(reader.next(&got));
    std::fclose(file);
  }
}

}  // namespace
}  // namespace orvel
