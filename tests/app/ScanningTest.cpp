#include <dirent.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/LineProcessor.h"
#include "app/TraceScan.h"
#include "fuzz/ScanCheck.h"
#include "tests/app/Subprocess.h"

namespace orvel {
namespace {

using Lines = std::vector<std::string>;

class LineCollector : public LineProcessor {
 public:
  explicit LineCollector(size_t keepLimit = std::string::npos) { setKeepLimit(keepLimit); }
  void processLine(const std::string& line) override { lines.push_back(line); }
  void processLineInPlace(const char* text, size_t length, const char*, const char*) override {
    lines.push_back("in place: " + std::string(text, length));
  }
  void feed(const std::string& bytes) {
    processBuffer(bytes.data(), static_cast<int>(bytes.size()));
  }
  void feedWritable(std::string bytes) {
    processWritableBlock(bytes.data(), static_cast<int>(bytes.size()), nullptr);
  }

  Lines lines;
};

// Feeds input in blocks of blockSize bytes, or one processChar call per
// byte when blockSize is 0, then ends it.
Lines split(const std::string& input, size_t blockSize) {
  LineCollector collector;
  for (size_t at = 0; at < input.size(); at += blockSize == 0 ? 1 : blockSize) {
    if (blockSize == 0) {
      collector.processChar(input[at]);
    } else {
      collector.feed(input.substr(at, blockSize));
    }
  }
  collector.processEOF();
  return collector.lines;
}

// tests/data/line-splits.tsv: an input, then the lines it holds.
TEST(LineProcessor, SplitsLinesTheSameWhateverTheBlockSize) {
  const auto cases = testing::readTable(ORVEL_TEST_DATA "/line-splits.tsv");
  ASSERT_EQ(10u, cases.size());
  for (const auto& row : cases) {
    const std::string& input = row.at(0);
    const Lines expected(row.begin() + 1, row.end());
    for (size_t blockSize = 0; blockSize <= input.size() + 1; ++blockSize) {
      EXPECT_EQ(expected, split(input, blockSize)) << "block size " << blockSize;
    }
  }
}

// A subclass that counts, filters or tees bytes sees each byte of a block.
TEST(LineProcessor, EveryByteOfABlockGoesThroughProcessChar) {
  class Tee : public LineCollector {
   public:
    void processChar(char c) override {
      seen.push_back(c);
      LineCollector::processChar(c);
    }
    std::string seen;
  } tee;
  const std::string input("ab\r\nc\0d\ne", 9);
  tee.feed(input.substr(0, 5));
  tee.feed(input.substr(5));
  tee.processEOF();
  EXPECT_EQ(input, tee.seen);
  EXPECT_EQ((Lines{"ab", std::string("c\0d", 3), "e"}), tee.lines);

  // Lines whole in a writable block, without a carriage return, stay in place.
  LineCollector blocks;
  blocks.feedWritable("a\nb\r\nc\nd");
  blocks.feedWritable("e\nf\n");
  EXPECT_EQ((Lines{"in place: a", "b", "in place: c", "de", "in place: f"}), blocks.lines);

  // A keep limit cuts every line, on each of its ways, carriage returns not
  // counted.
  LineCollector cut(3);
  cut.feedWritable("abcdef\nwx\ryz\nlo");
  cut.feedWritable("ng\n");
  cut.feed("xyzw\n");
  EXPECT_EQ((Lines{"in place: abc", "wxy", "lon", "xyz"}), cut.lines);

  // After an error or the end nothing more is taken, until a reset opens
  // the processor again with an empty line.
  LineCollector collector;
  collector.feed("kept\npartial");
  collector.processError("read failed");
  collector.feed("more\n");
  collector.processEOF();
  collector.reset();
  collector.processBuffer("no\n", 0);
  collector.processBuffer("no\n", -1);
  collector.feed("last");
  collector.processEOF();
  collector.processEOF();
  collector.feed("late\n");
  collector.processEOF();
  EXPECT_EQ((Lines{"kept", "last"}), collector.lines);
}

// The chain finds a line's first mark with its end: for every line in
// place, where strchrnul would find it in the line (a NUL stops both, and
// so does the keep limit's cut). Null is allowed only where the processor
// offers no vector search.
TEST(LineProcessor, FindsEachLineFirstMarkWhereStrchrnulDoes) {
  class MarkChecker : public LineProcessor {
   public:
    explicit MarkChecker(size_t keepLimit) {
      setKeepLimit(keepLimit);
      setLineMark('<');
    }
    void processLine(const std::string&) override {}
    void processLineInPlace(const char* text, size_t length, const char*,
                            const char* mark) override {
      const std::string line(text, length);
      lines.push_back(line);
      if (mark == nullptr) {
        ++unknown;
      } else {
        EXPECT_EQ(strchrnul(text, '<') - text, mark - text) << line;
      }
    }
    void feedWritable(std::string bytes) {
      processWritableBlock(&bytes[0], static_cast<int>(bytes.size()), nullptr);
    }
    Lines lines;
    int unknown = 0;
  };
  const std::string input = std::string("\n<\na<b\nno mark in a line longer than sixteen\n") +
                            "0123456789abcdef<\n0123456789abcde<x\n" + std::string("nul\0<\n", 6) +
                            "0123456789abcdef0123456789abcdef<\n" +
                            "a long line whose mark is cut off by the limit <\n" +
                            "0123456789abcde<0123456789\n<and its line feed thirty bytes on\n" +
                            "the last line has no line feed <";
  // Every place of the first mark over three steps of the search, with its
  // line feed in the same step, the next sixteen bytes or further on.
  std::string marks;
  for (size_t before = 0; before < 100; ++before) {
    for (size_t after : {0, 14, 15, 16, 17, 31, 32, 33, 47, 48, 49, 70}) {
      marks += std::string(before, 'x') + "<" + std::string(after, 'y') + "\n";
      marks += std::string(before + after, 'x') + "\n";
    }
  }
  for (const std::string& bytes : {input, marks}) {
    for (size_t keepLimit : {size_t{4096}, size_t{20}}) {
      MarkChecker checker(keepLimit);
      checker.feedWritable(bytes);
      Lines whole;  // the lines in place: all but the last, cut to the limit
      for (size_t at = 0, end; (end = bytes.find('\n', at)) != std::string::npos; at = end + 1) {
        whole.push_back(bytes.substr(at, std::min(end - at, keepLimit)));
      }
      EXPECT_EQ(whole, checker.lines);
#if defined(__SSE2__)
      EXPECT_EQ(0, checker.unknown);
#endif
    }
  }
}

// The scanner fuzzer's seeds hold every form sscanf may read differently
// from a quick guess: each scanner must give sscanf's result or leave the
// text to it.
TEST(TraceScan, AgreesWithSscanfOnEverySeedOfTheFuzzer) {
  DIR* seeds = opendir(ORVEL_SCAN_SEEDS);
  ASSERT_NE(nullptr, seeds);
  int checked = 0;
  while (dirent* entry = readdir(seeds)) {
    if (entry->d_name[0] != '.') {
      const std::string line =
          testing::readWholeFile(ORVEL_SCAN_SEEDS "/" + std::string(entry->d_name));
      EXPECT_EQ("", fuzzing::scanMismatch(line)) << entry->d_name << ": " << line;
      ++checked;
    }
  }
  closedir(seeds);
  EXPECT_GE(checked, 150);
}

}  // namespace
}  // namespace orvel
