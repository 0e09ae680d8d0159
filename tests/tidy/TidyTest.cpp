#include <cmath>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "app/Run.h"
#include "report/SpanReport.h"
#include "tests/Testing.h"
#include "tidy/LineReader.h"
#include "tidy/TidyCommand.h"

namespace orvel {
namespace {

class Tidy : public testing::ScratchTest {
 protected:
  // Runs spanmill-tidy on the files; returns its output, its warnings in
  // *errors.
  std::string tidyFiles(const std::string& type, const std::vector<std::string>& inputs,
                        std::string* errors) {
    const std::string out = path("out");
    std::vector<std::string> words = {"spanmill-tidy", "-t", type, "-o", out};
    for (const std::string& input : inputs) {
      words.push_back("-i");
      words.push_back(input);
    }
    std::vector<char*> argv;
    for (std::string& word : words) {
      argv.push_back(&word[0]);
    }
    testing::CaptureOutput standardError(2);
    EXPECT_EQ(runTidyCommand(static_cast<int>(argv.size()), argv.data()), 0);
    *errors = standardError.finish();
    return testing::readWholeFile(out);
  }

  std::string tidy(const std::string& type, const std::string& text, std::string* errors) {
    writeFile(path("in"), text);
    return tidyFiles(type, {path("in")}, errors);
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

// Each row: the arguments ({in}: a file holding the input, {out}: one to
// write), the input, the exit status and what standard error says.
TEST_F(Tidy, WarnsOncePerKindOfLossAndFailsWithOneLine) {
  for (const std::vector<std::string>& row : testing::readTable(ORVEL_TEST_DATA "/tidy-runs.tsv")) {
    ASSERT_EQ(row.size(), 4u);
    auto expand = [this](std::string text) {
      for (const char* name : {"in", "out"}) {
        const std::string mark = "{" + std::string(name) + "}";
        for (size_t at; (at = text.find(mark)) != std::string::npos;) {
          text.replace(at, mark.size(), path(name));
        }
      }
      return text;
    };
    writeFile(path("in"), row[1]);
    std::vector<std::string> words = {"spanmill-tidy"};
    std::istringstream split(expand(row[0]));
    for (std::string word; split >> word;) {
      words.push_back(word);
    }
    std::vector<char*> argv;
    for (std::string& word : words) {
      argv.push_back(&word[0]);
    }
    testing::CaptureOutput standardError(2);
    const int status = runTidyCommand(static_cast<int>(argv.size()), argv.data());
    const std::string errors = standardError.finish();
    EXPECT_EQ(std::to_string(status), row[2]) << row[0];
    EXPECT_EQ(errors.substr(0, errors.find("Usage:")), expand(row[3])) << row[0];
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
    LineReader reader(fileno(file), nullptr);
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

// A call cut in its middle keeps "<unfinished ...>" from its tail, however
// little of the line lies past the head.
TEST_F(Tidy, ACutUnfinishedCallKeepsItsEnd) {
  const std::string start = "1234 1.0 write(1, \"";
  const std::string end = " <unfinished ...>";
  for (size_t past : {end.size(), end.size() + 1, size_t(LineReader::kTailBytes)}) {
    const size_t length = LineReader::kHeadBytes + past;
    const std::string line = start + std::string(length - start.size() - end.size(), 'x') + end;
    std::string errors;
    const std::string out = tidy("strace", line + "\n", &errors);
    EXPECT_EQ("1234 1.0 write(1, \"\"... <unfinished ...>\n", out) << past;
  }
}

// A call's line without its result waits for the line that goes on with
// it; what looks like a result inside a string does not end the call, near
// the end of the line, far from it, or in a line shorter than sixteen bytes.
TEST_F(Tidy, ACallWithoutItsResultIsJoinedWithTheLineThatGoesOn) {
  const struct {
    const char* input;
    const char* output;
  } kCases[] = {
      {"1234 1.0 write(1, \"x) = 1 \", 8\n) = 8 <0.000010>\n",
       "1234 1.0 write(1, \"x) = 1 \", 8) = 8 <0.000010>\n"},
      {"1234 1.0 write(1, \"x) = 1 and sixteen bytes more\", 30\n) = 30 <0.000010>\n",
       "1234 1.0 write(1, \"x) = 1 and sixteen bytes more\", 30) = 30 <0.000010>\n"},
      {"1234 1.0 a(\") = 1 \"\n) = 1 <0.000001>\n", "1234 1.0 a(\") = 1 \") = 1 <0.000001>\n"},
      {"1234 1.0 write(1, \"x) = 1 a=b\", 10\n) = 10 <0.000010>\n",
       "1234 1.0 write(1, \"x) = 1 a=b\", 10) = 10 <0.000010>\n"},
      // The result is there, an '=' in a string after it: nothing waits.
      {"1234 1.0 f(1) = 0 (\"a=b\")\n <0.000010>\n", "1234 1.0 f(1) = 0 (\"a=b\")\n <0.000010>\n"},
  };
  for (const auto& test : kCases) {
    std::string errors;
    EXPECT_EQ(test.output, tidy("strace", test.input, &errors)) << test.input;
  }
}

// spanmill's report of a trace, with a window from startTime on. 1 s is
// before every time stamp (without a start the first one would cut off a
// span whose start a tidied line moved before it).
SpanReport convert(const std::string& type, const std::string& trace, double startTime = 1.0) {
  std::unique_ptr<CustomProcessor> processor(getProcessor(type.c_str()));
  std::ostringstream out;
  processor->setup(&out, startTime, 0.0, 1.0, 0.0);
  for (size_t at = 0; at < trace.size(); at += 65536) {
    const std::string block = trace.substr(at, 65536);
    processor->processBuffer(block.data(), static_cast<int>(block.size()));
  }
  processor->processEOF();
  std::vector<SpanReport> reports;
  std::string error;
  size_t failed;
  EXPECT_TRUE(readSpanReports(out.str(), &reports, &error, &failed)) << error;
  return reports.empty() ? SpanReport() : reports[0];
}

// Real captures of one run each, in the forms people capture, and what
// their programs recorded or an independent reading of their text found.
struct Capture {
  const char* file;
  const char* truth;
  const char* warning;  // what standard error must say, "" for nothing
};

const Capture kFtraceCaptures[] = {
    {"mono-plain.ftrace", "mono-plain.truth", ""},
    {"pipe.ftrace", "pipe.truth", ""},
    {"dash-names.ftrace", "dash-names.truth", ""},
    {"no-flags.ftrace", "no-flags.truth", ""},
    {"android-ends.ftrace", "android-ends.truth", ""},
    {"trace-cmd-report.txt", "trace-cmd.truth", ""},
    {"trace-cmd-report-l.txt", "trace-cmd.truth", ""},
    {"overrun.ftrace", "overrun.truth", "1681 events were overwritten"},
    {"tsc.ftrace", "tsc.truth", "152 marker time stamps count clock ticks"},
};

TEST_F(Tidy, FtraceCapturesGiveEverySpanTheProgramMade) {
  for (const Capture& capture : kFtraceCaptures) {
    SCOPED_TRACE(capture.file);
    std::string errors;
    const std::string trace = tidy(
        "ftrace_marker",
        testing::readWholeFile(ORVEL_TEST_DATA "/forms/" + std::string(capture.file)), &errors);
    EXPECT_NE(errors.find(capture.warning), std::string::npos) << errors;
    EXPECT_EQ(errors.empty(), capture.warning[0] == '\0') << errors;
    // tid, name, location ("-" for none), depth, start and duration in us.
    std::vector<std::vector<std::string>> truth =
        testing::readTable(ORVEL_TEST_DATA "/forms/" + std::string(capture.truth));
    // Ticks counted from 1 s would start past what a report holds to the
    // microsecond (2^53 us), so those of tsc.ftrace count from just before its first.
    const bool ticks = std::string(capture.file) == "tsc.ftrace";
    const SpanReport report = convert("ftrace_marker", trace, ticks ? 1231596000000.0 : 1.0);
    size_t spans = 0;
    size_t matched = 0;
    for (const SpanReport::Thread& thread : report.threads) {
      for (const SpanReport::Span& span : thread.spans) {
        ++spans;
        const SpanReport::Pc& pc = report.pcs[span.pc];
        const std::string location = pc.location.empty() ? "-" : pc.location;
        for (std::vector<std::string>& row : truth) {
          if (row.size() == 6 && row[0] == thread.tid && row[1] == report.sections[pc.nameIndex] &&
              row[2] == location && std::fabs((span.start + 1.0) * 1e6 - std::stod(row[4])) < 10 &&
              std::fabs(static_cast<double>(span.micros) - std::stod(row[5])) < 50) {
            row.clear();  // each span of the program once
            ++matched;
            break;
          }
        }
      }
    }
    if (ticks) {
      EXPECT_EQ(matched, 0u);  // clock ticks taken for seconds: nothing is right
      continue;
    }
    EXPECT_EQ(matched, spans);
    EXPECT_EQ(matched < truth.size(), capture.warning[0] != '\0')
        << matched << " of " << truth.size();
  }
}

const Capture kStraceCaptures[] = {
    {"plain.strace", "", ""},
    {"no-f.strace", "", ""},
    {"ff.strace.13085", "", ""},
    {"ff.strace.13086", "", ""},
    {"stderr.strace", "", ""},
    {"stderr-make.strace", "", ""},
    {"ip.strace", "", ""},
    {"y.strace", "", ""},
    {"yy.strace", "", ""},
    {"strings.strace", "", ""},
    {"strings-cat.strace", "", ""},
    {"long-lines.strace", "", ""},
    {"tt.strace", "", ""},
    {"t.strace", "", ""},
    {"no-T.strace", "", "80 calls have no duration"},
};

TEST_F(Tidy, StraceCapturesGiveTheCountsAndTotalsOfAnIndependentReading) {
  for (const Capture& capture : kStraceCaptures) {
    SCOPED_TRACE(capture.file);
    const std::string file = ORVEL_TEST_DATA "/forms/" + std::string(capture.file);
    std::string errors;
    const SpanReport report = convert("strace", tidyFiles("strace", {file}, &errors));
    EXPECT_NE(errors.find(capture.warning), std::string::npos) << errors;
    std::map<std::string, std::pair<long long, long long>> got;  // name: spans, microseconds
    for (const SpanReport::Thread& thread : report.threads) {
      for (const SpanReport::Span& span : thread.spans) {
        std::pair<long long, long long>& sum = got[report.sections[report.pcs[span.pc].nameIndex]];
        sum.first += 1;
        sum.second += span.micros;
      }
    }
    const bool durations = capture.warning[0] == '\0';
    // name, calls, microseconds; exit and exit_group never return.
    for (const std::vector<std::string>& row : testing::readTable(file + ".truth")) {
      if (row.size() != 3 || row[0] == "exit" || row[0] == "exit_group") {
        continue;
      }
      const long long calls = durations ? std::stoll(row[1]) : 0;
      const long long micros = std::stoll(row[2]);
      EXPECT_EQ(got[row[0]].first, calls) << row[0];
      // spanmill cuts each duration to whole microseconds after scaling
      // it in binary: a span may come out one short.
      EXPECT_LE(got[row[0]].second, micros) << row[0];
      EXPECT_GE(got[row[0]].second, micros - calls) << row[0];
      got.erase(row[0]);
    }
    EXPECT_TRUE(got.empty()) << got.begin()->first;
    // pid ("-": no id column), calls, calls with a duration, ...: each
    // thread's spans.
    std::map<std::string, size_t> spans;
    for (const SpanReport::Thread& thread : report.threads) {
      spans[thread.tid] = thread.spans.size();
    }
    for (const std::vector<std::string>& row : testing::readTable(file + ".threads")) {
      const std::string tid = row[0] == "-" ? "0" : row[0];
      EXPECT_EQ(std::to_string(durations ? spans[tid] : 0), durations ? row[2] : "0") << tid;
    }
  }
}

TEST_F(Tidy, StraceFfFilesMergeInTimeOrderEachWithItsId) {
  const std::string forms = ORVEL_TEST_DATA "/forms/";
  std::string errors;
  const SpanReport report = convert(
      "strace",
      tidyFiles("strace", {forms + "ff.strace.13086", forms + "ff.strace.13085"}, &errors), 0.0);
  EXPECT_EQ(errors, "");
  ASSERT_EQ(report.threads.size(), 2u);
  for (const SpanReport::Thread& thread : report.threads) {
    // pid, calls, calls with a duration, ...
    const std::vector<std::string> truth =
        testing::readTable(forms + "ff.strace." + thread.tid + ".threads")[0];
    EXPECT_EQ(std::to_string(thread.spans.size()), truth[2]) << thread.tid;
  }
}

}  // namespace
}  // namespace orvel
