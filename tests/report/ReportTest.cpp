#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "json/JSOM.h"
#include "report/ChromeTrace.h"
#include "report/Diff.h"
#include "report/JsonText.h"
#include "report/SpanReport.h"
#include "report/Summary.h"
#include "tests/Testing.h"
#include "tests/app/Subprocess.h"

namespace orvel {
namespace {

using testing::ProgramResult;
using testing::readWholeFile;
using testing::runProgram;

// The expected output of a case, from tests/data/expected.
std::string expected(const char* name) {
  return readWholeFile(ORVEL_TEST_DATA "/expected/" + std::string(name));
}

// What is wrong with text, "#N: " before it past the first report.
std::string errorOf(const std::string& text) {
  std::vector<SpanReport> reports;
  std::string error;
  size_t failed;
  if (readSpanReports(text, &reports, &error, &failed)) {
    return "";
  }
  return (failed > 1 ? "#" + std::to_string(failed) + ": " : "") +
         (error.empty() ? "(failed without saying why)" : error);
}

TEST(SpanReport, ReadsWhatSpanmillWrites) {
  // Raw control bytes and bytes that are not UTF-8 pass through spanmill's
  // writer; escapes and white space are read as JSON has them.
  std::vector<SpanReport> reports;
  std::string error;
  size_t failed;
  ASSERT_TRUE(readSpanReports(
      "{\"sections\":[\"a\\\"b\",\"\x01\xff\",\"\\u00C9\\u0800\\ud83d\\ude00\"],"
      "\"pc\":[[\"\",0],[\"x.c:1\",2]], \"threads\" : "
      "{\"42\":{\"trace\":[[3,5,0],[1.25e-1,-3,1],[12.5,0,0]]},\"7\":{\"trace\":[]}}}\n",
      &reports, &error, &failed))
      << error;
  const SpanReport& report = reports[0];
  EXPECT_EQ((std::vector<std::string>{"a\"b", "\x01\xff", "\xc3\x89\xe0\xa0\x80\xf0\x9f\x98\x80"}),
            report.sections);
  ASSERT_EQ(2u, report.pcs.size());
  EXPECT_EQ("x.c:1", report.pcs[1].location);
  EXPECT_EQ(2u, report.pcs[1].nameIndex);
  ASSERT_EQ(2u, report.threads.size());
  EXPECT_EQ("42", report.threads[0].tid);
  ASSERT_EQ(3u, report.threads[0].spans.size());
  EXPECT_EQ(3, report.threads[0].spans[0].start);
  EXPECT_EQ(0.125, report.threads[0].spans[1].start);
  EXPECT_EQ(12.5, report.threads[0].spans[2].start);
  EXPECT_EQ(-3, report.threads[0].spans[1].micros);
  EXPECT_EQ(1u, report.threads[0].spans[1].pc);
  EXPECT_TRUE(report.threads[1].spans.empty());

  ASSERT_TRUE(readSpanReports(
      "{\"sections\":[\"\\/"
      "\\b\\f\\n\\r\\t\\\\\\ud800x\",\"\\ud800\\udc00\\udbff\\udfff\",\"\\ud800\\ue000\"],"
      "\"pc\":[],\"threads\":{}}",
      &reports, &error, &failed))
      << error;
  // Lone surrogates are replaced; pairs from the first to the last.
  EXPECT_EQ(
      (std::vector<std::string>{"/\b\f\n\r\t\\\xef\xbf\xbdx", "\xf0\x90\x80\x80\xf4\x8f\xbf\xbf",
                                "\xef\xbf\xbd\xee\x80\x80"}),
      reports.at(1).sections);
  // Durations to the ends of 64 bits.
  ASSERT_TRUE(
      readSpanReports("{\"sections\":[\"a\"],\"pc\":[[\"\",0]],\"threads\":{\"0\":{\"trace\":"
                      "[[0,9223372036854775807,0],[0,-9223372036854775808,0]]}}}",
                      &reports, &error, &failed));
  EXPECT_EQ(LLONG_MAX, reports.back().threads[0].spans[0].micros);
  EXPECT_EQ(LLONG_MIN, reports.back().threads[0].spans[1].micros);
}

// render-indented.json is render.json as python3 -m json.tool --indent 2
// writes it: a value a line, and start times such as 5.1e-05.
TEST(SpanReport, ReadsAnIndentedReportAsTheCompactOne) {
  std::vector<SpanReport> reports;
  std::string error;
  size_t failed;
  for (const char* name : {"/render.json", "/render-indented.json"}) {
    ASSERT_TRUE(loadSpanReports(ORVEL_TEST_DATA + std::string(name), &reports, &error, &failed))
        << name << ": " << error;
  }
  std::ostringstream compact, indented;
  writeChromeTrace({reports[0]}, compact);
  writeChromeTrace({reports[1]}, indented);
  EXPECT_EQ(compact.str(), indented.str());
  EXPECT_EQ(reports[0].sections, reports[1].sections);
  EXPECT_EQ(3u, reports[1].threads.size());
}

// tests/data/report-errors.tsv: a text and what the reader finds wrong
// with it (nothing when the field is empty).
TEST(SpanReport, SaysWhatIsWrong) {
  const auto cases = testing::readTable(ORVEL_TEST_DATA "/report-errors.tsv");
  ASSERT_GE(cases.size(), 31u);
  for (const auto& each : cases) {
    EXPECT_EQ(each.at(1), errorOf(each[0])) << each[0];
  }
  // Unknown members nest no deeper than the reader's stack allows.
  EXPECT_EQ("not JSON: nested too deeply at byte 262",
            errorOf("{\"x\":" + std::string(300, '[') + std::string(300, ']') + "}"));
  // A label repeated after a thousand others, past every growth of the set.
  std::string head = "{\"sections\":[],\"pc\":[],\"threads\":{";
  for (int i = 0; i < 1000; ++i) {
    head += "\"" + std::to_string(i * 7919) + "\":{\"trace\":[]},";
  }
  EXPECT_EQ("", errorOf(head + "\"1\":{\"trace\":[]}}}"));
  EXPECT_EQ("thread 7919 appears twice", errorOf(head + "\"7919\":{\"trace\":[]}}}"));
}

// One report: thread 1 and 2, sections a and b, b with a location.
SpanReport twoThreads(const std::vector<long long>& a1, const std::vector<long long>& b1,
                      const std::vector<long long>& a2) {
  SpanReport report;
  report.name = "r.json";
  report.sections = {"a", "b"};
  report.pcs = {{"", 0}, {"b.c:9", 1}};
  report.threads = {{"1", {}}, {"2", {}}};
  for (long long micros : a1) {
    report.threads[0].spans.push_back({0.0, micros, 0});
  }
  for (long long micros : b1) {
    report.threads[0].spans.push_back({0.0, micros, 1});
  }
  for (long long micros : a2) {
    report.threads[1].spans.push_back({0.0, micros, 0});
  }
  return report;
}

// Row i's figures: name, thread, spans, total, mean, min, median, p95,
// max and share.
std::string figures(const Summary& summary, size_t i) {
  const SummaryRow& row = summary.rows[i];
  std::ostringstream text;
  text << summary.sections[row.section].name << " " << summary.threads[row.thread] << " "
       << row.count << " " << row.total << " " << row.mean << " " << row.min << " " << row.median
       << " " << row.p95 << " " << row.max << " " << row.share;
  return text.str();
}

// The thread of each row, one after another.
std::string threadsOf(const Summary& summary) {
  std::string threads;
  for (const SummaryRow& row : summary.rows) {
    threads += summary.threads[row.thread] + " ";
  }
  return threads;
}

TEST(Summary, StatisticsOfOddEvenSingleZeroAndNegativeCounts) {
  // a: 50 10 40 20 30 and 60 on thread 2: an even count of six, the median
  // (30 + 40) / 2, the 95th percentile the ceil(5.7) = 6th; b's single span
  // is every statistic.
  Summary summary = summarize({twoThreads({50, 10, 40, 20, 30}, {7}, {60})}, false);
  ASSERT_EQ(2u, summary.rows.size());
  EXPECT_EQ("a  6 210 35 10 35 60 60 0.936364", figures(summary, 0));
  EXPECT_EQ("b  1 7 7 7 7 7 7 0.0636364", figures(summary, 1));
  EXPECT_EQ("b.c:9", summary.sections[summary.rows[1].section].location);
  // An odd count: the 95th percentile of twenty-one is the twentieth.
  std::vector<long long> many;
  for (long long i = 21; i >= 1; --i) {
    many.push_back(i);
  }
  summary = summarize({twoThreads(many, {0, 0}, {})}, false);
  EXPECT_EQ("a  21 231 11 1 11 20 21 1", figures(summary, 0));
  EXPECT_EQ("b  2 0 0 0 0 0 0 0", figures(summary, 1));
  // Negative durations (an end before its begin) count as they are.
  summary = summarize({twoThreads({-5, 5, -10}, {}, {})}, false);
  EXPECT_EQ("a  3 -10 -3.33333 -10 -5 5 5 0", figures(summary, 0));
}

TEST(Summary, RowsPerThreadAndAcrossReports) {
  const SpanReport report = twoThreads({1, 2}, {100}, {4});
  // b on thread 1: 100, a on thread 2: 4, a on thread 1: 3
  EXPECT_EQ("1 2 1 ", threadsOf(summarize({report}, true)));
  SpanReport other = report;
  other.name = "s.json";
  EXPECT_EQ("r.json:1 s.json:1 r.json:2 s.json:2 r.json:1 s.json:1 ",
            threadsOf(summarize({report, other}, true)));
  const Summary both = summarize({report, other}, false);
  ASSERT_EQ(2u, both.rows.size());
  EXPECT_EQ(6u, both.rows[1].count);  // a from both reports, both threads
  // Rows in any order come out largest first.
  SpanReport scrambled = report;
  scrambled.threads.clear();
  for (long long micros : {5, 9, 1, 7, 3, 8, 2, 6, 4}) {
    scrambled.threads.push_back({std::to_string(micros), {{0.0, micros, 0}}});
  }
  EXPECT_EQ("9 8 7 6 5 4 3 2 1 ", threadsOf(summarize({scrambled}, true)));
  // Equal totals go by section name, whatever order the sections came in.
  scrambled.sections = {"b", "a"};
  scrambled.threads = {{"1", {{0.0, 5, 0}, {0.001, 5, 1}, {0.002, 5, 0}, {0.003, 5, 1}}}};
  const Summary tied = summarize({scrambled, scrambled}, false);
  ASSERT_EQ(2u, tied.rows.size());
  EXPECT_EQ("a", tied.sections[tied.rows[0].section].name);
}

TEST(Summary, TableAndJson) {
  EXPECT_EQ("850 us 12.5 us 999.5 us 1.000 ms 3.204 ms 1000.000 ms 1.000 s -1.250 s",
            durationText(850) + " " + durationText(12.5) + " " + durationText(999.5) + " " +
                durationText(1000) + " " + durationText(3204) + " " + durationText(999999.9) + " " +
                durationText(1000000) + " " + durationText(-1250000));
  // Whole microseconds are written without printf: the same text, halves
  // that printf rounds by their binary value included.
  char text[64];
  for (long long micros :
       {999LL, 1000LL, 999999LL, 1000000LL, 1234500LL, 1234501LL, 1234499LL, 2999999500LL,
        -1234567LL, -999999LL, 86400000000LL, 9007199254740991LL}) {
    const double value = static_cast<double>(micros);
    const double size = std::fabs(value);
    std::snprintf(text, sizeof text,
                  size < 1000  ? "%.0f us"
                  : size < 1e6 ? "%.3f ms"
                               : "%.3f s",
                  size < 1000  ? value
                  : size < 1e6 ? value / 1e3
                               : value / 1e6);
    EXPECT_EQ(text, durationText(value)) << micros;
  }
  SpanReport named = twoThreads({1500, 2500}, {40}, {});
  named.sections[0] = "\xc3\xa9";  // one column, two bytes
  const Summary rows = summarize({named}, false);
  std::ostringstream table;
  writeSummaryTable(rows, false, table);
  EXPECT_EQ(expected("summary.txt"), table.str());
  std::ostringstream json;
  writeSummaryJson(rows, false, json);
  EXPECT_EQ(expected("summary.json"), json.str());
}

std::string exported(const std::vector<SpanReport>& reports) {
  std::ostringstream out;
  writeChromeTrace(reports, out);
  return out.str();
}

SpanReport report(const std::string& name, const std::string& tid) {
  SpanReport r;
  r.name = name;
  r.sections = {"draw", ""};
  r.pcs = {{"", 0}, {"ui.c:7", 1}};
  r.threads = {{tid, {{0.000219, 0, 0}, {1.5, 1000, 1}, {2.0, -40, 1}}}};
  return r;
}

// Each report is a process, each thread a named thread of it. An empty
// name gets a visible one; a location goes to the arguments; no viewer
// takes a negative duration: zero, and the reported one kept.
TEST(ChromeTrace, ViewersOpenAMillionEventsAnd256Megabytes) {
  EXPECT_FALSE(beyondViewers({1000000, 256u << 20}));
  EXPECT_TRUE(beyondViewers({1000001, 0}));
  EXPECT_TRUE(beyondViewers({0, (256u << 20) + 1}));
}

TEST(ChromeTrace, OneEventPerLine) {
  SpanReport second = report("b.json", "7");
  second.threads[0].spans.resize(1);
  const std::string text = exported({report("a.json", "42"), second});
  EXPECT_EQ(expected("chrome.json"), text);
}

TEST(ChromeTrace, ControlBytesAndBrokenUtf8BecomeStrictJson) {
  SpanReport r = report("\x01.json", "1");
  // A control byte, a lone continuation byte, an overlong slash, a
  // surrogate, a lead byte past 0xF4, a truncated sequence, and valid two-,
  // three- and four-byte ones (U+E000 is the first code point past the
  // surrogates).
  r.sections[0] = std::string(
      "a\x01\x80\xc0\xaf\xed\xa0\x80\xf8\x90\x80\x80\xc3\xa9\xee\x80\x80\xf0\x9f\x98\x80\xe2\x82",
      23);
  const std::string text = exported({r});
  EXPECT_NE(std::string::npos, text.find("\"\\u0001.json\""));
  const std::string fffd = "\xef\xbf\xbd";
  EXPECT_NE(std::string::npos,
            text.find("\"a\\u0001" + fffd + fffd + fffd + fffd + fffd + fffd + fffd + fffd + fffd +
                      fffd + "\xc3\xa9\xee\x80\x80\xf0\x9f\x98\x80" + fffd + fffd + "\""));
  // Summary numbers: negative, and past 10^12 without a trailing point.
  std::string numbers;
  for (double value : {-2.5, -0.0004, 2e12, 1234567.891, 10.0}) {
    appendJsonNumber(value, &numbers);
    numbers += " ";
  }
  EXPECT_EQ("-2.5 0 2000000000000 1234567.891 10 ", numbers);
}

ProgramResult report(const std::vector<std::string>& args) {
  return runProgram(SPANMILL_REPORT_BINARY, args);
}

using ReportCommand = testing::ScratchTest;

// The names in folder, sorted, one space apart.
std::string filesIn(const std::string& folder) {
  std::vector<std::string> names;
  DIR* listing = opendir(folder.c_str());
  while (const dirent* entry = listing != nullptr ? readdir(listing) : nullptr) {
    if (entry->d_name[0] != '.') {
      names.push_back(entry->d_name);
    }
  }
  if (listing != nullptr) {
    closedir(listing);
  }
  std::sort(names.begin(), names.end());
  std::string text;
  for (const std::string& name : names) {
    text += (text.empty() ? "" : " ") + name;
  }
  return text;
}

// A bundled capture through spanmill, then summarised and exported.
TEST_F(ReportCommand, RoundTripFromAnExampleCapture) {
  const std::string converted = path("frames.json");
  const std::string capture = std::string(ORVEL_EXAMPLES) + "/frames.ftrace";
  ASSERT_EQ(0, runProgram(SPANMILL_BINARY, {"-i", capture, "-o", converted}).exitStatus);
  ProgramResult summary = report({"summary", "--top", "2", converted});
  EXPECT_EQ(0, summary.exitStatus) << summary.err;
  EXPECT_EQ(0u, summary.out.find("section ")) << summary.out;
  EXPECT_NE(std::string::npos, summary.out.find("\nDrawFrame ")) << summary.out;
  EXPECT_EQ(3, std::count(summary.out.begin(), summary.out.end(), '\n'));
  // --top leaves out rows, and changes no number.
  const std::string all = report({"summary", "--json", converted}).out;
  const std::string top = report({"summary", "--json", "--top", "1", converted}).out;
  EXPECT_EQ(all.substr(0, all.find("},{")), top.substr(0, top.find("}]")));
  EXPECT_EQ(all.substr(all.find("],\"total_us\"")), top.substr(top.find("],\"total_us\"")));

  const std::string exported = path("trace.json");
  ProgramResult chrome = report({"chrome", "-o", exported, converted, converted});
  EXPECT_EQ(0, chrome.exitStatus) << chrome.err;
  EXPECT_EQ("", chrome.out + chrome.err);
  JSOM doc;
  doc.fromString(readWholeFile(exported));
  JSOM last = doc["traceEvents"][doc["traceEvents"].size() - 1];
  EXPECT_EQ(2, last["pid"].longValue(0));  // the second copy is the second process
  EXPECT_EQ("X", last["ph"].stringValue(""));

  // "-" reads standard input; without -o the export goes to standard output.
  ProgramResult piped = runProgram(SPANMILL_REPORT_BINARY, {"chrome", "-"}, converted);
  EXPECT_EQ(0, piped.exitStatus) << piped.err;
  EXPECT_NE(std::string::npos, piped.out.find("\"args\":{\"name\":\"standard input\"}"))
      << piped.out;
  EXPECT_EQ(readWholeFile(exported).substr(readWholeFile(exported).rfind("],")),
            piped.out.substr(piped.out.rfind("],")));

  ProgramResult json = report({"summary", "--json", "--by-thread", converted});
  EXPECT_EQ(0, json.exitStatus);
  JSOM rows;
  rows.fromString(json.out);
  EXPECT_EQ("9920", rows["rows"][0]["thread"].stringValue(""));
  EXPECT_EQ("DrawFrame", rows["rows"][0]["section"].stringValue(""));
}

// Two runs appended to one file are read as both, and named apart. By hand
// from render.ftrace: doFrame (3880 us) holds measure (1675), layout (1508)
// and draw (589), so its self time is 108 us a run; DrawFrame's is 3300 -
// 657 - 2540 = 103 us.
// The example's call tree, to one level and above 30 percent, as JSON.
TEST_F(ReportCommand, TreeOptions) {
  const std::string converted = path("frames.json");
  const std::string capture = std::string(ORVEL_EXAMPLES) + "/frames.ftrace";
  ASSERT_EQ(0, runProgram(SPANMILL_BINARY, {"-i", capture, "-o", converted}).exitStatus);
  const auto path = [](const char* name, int total, int self, const char* share) {
    return std::string("{\"section\":\"") + name +
           "\",\"location\":\"\",\"spans\":3,\"total_us\":" + std::to_string(total) +
           ",\"self_us\":" + std::to_string(self) + ",\"share\":" + share + ",\"children\":[]}";
  };
  EXPECT_EQ("{\"self_us\":8590,\"paths\":[" + path("DrawFrame", 3406, 24, "0.396508") + "," +
                path("doFrame", 3228, 34, "0.375786") + "]}\n",
            report({"tree", "--json", "--depth", "1", "--min-share", "30", converted}).out);
  for (const char* option : {"--json", "--depth", "--min-share"}) {
    EXPECT_EQ(2, report({"folded", option, "1", converted}).exitStatus) << option;
  }
  // By thread, each thread is a root above its paths.
  EXPECT_EQ(
      "path      spans     total  self  share\n"
      "tid 9920      9  3.406 ms  0 us  39.7%\n"
      "tid 9919      9  3.228 ms  0 us  37.6%\n"
      "tid 9921      4  1.956 ms  0 us  22.8%\n",
      report({"tree", "--by-thread", "--depth", "1", converted}).out);
  // A path exactly at the minimum share is shown.
  const std::string halves = this->path("halves.json");
  writeFile(halves,
            "{\"sections\":[\"a\",\"b\"],\"pc\":[[\"\",0],[\"\",1]],\"threads\":{\"1\":{"
            "\"trace\":[[0,1000,0],[0.002,1000,1]]}}}");
  EXPECT_EQ(
      "path  spans     total      self  share\n"
      "a         1  1.000 ms  1.000 ms  50.0%\n"
      "b         1  1.000 ms  1.000 ms  50.0%\n",
      report({"tree", "--min-share", "50", halves}).out);
  EXPECT_EQ(2, report({"tree", "--min-share", "101", converted}).exitStatus);
  EXPECT_EQ(0, report({"tree", "--min-share", "0", converted}).exitStatus);
}

TEST_F(ReportCommand, AppendedRunsAndSelfTime) {
  const std::string all = path("all.json");
  for (int run = 0; run < 2; ++run) {
    runProgram(SPANMILL_BINARY, {"-i", ORVEL_TEST_DATA "/render.ftrace", "-a", all});
  }
  JSOM rows;
  rows.fromString(report({"summary", "--json", all}).out);
  EXPECT_EQ(2, rows["rows"][0]["spans"].longValue(0));
  EXPECT_EQ(2 * 108, rows["rows"][0]["self_us"].longValue(0));
  EXPECT_EQ(2 * 103, rows["rows"][1]["self_us"].longValue(0));
  EXPECT_EQ(rows["rows"][3]["total_us"].longValue(0), rows["rows"][3]["self_us"].longValue(0));
  EXPECT_NE(std::string::npos, report({"summary", "--by-thread", all}).out.find("all.json#2:1201"));
  EXPECT_NE(std::string::npos, report({"chrome", all}).out.find(R"("args":{"name":"all.json#2"})"));

  const size_t size = readWholeFile(all).size();
  writeFile(all, readWholeFile(all) + "\n{\"sections\":[]}");
  EXPECT_EQ("spanmill-report: " + all + "#3: missing \"pc\" in the report at byte " +
                std::to_string(size + 1) + "\n",
            report({"summary", all}).err);
}

// runs reports one after another, each with five spans of a of micros and
// one of b of 50 us.
std::string appendedRuns(long long micros, int runs) {
  std::string rows;
  for (int i = 0; i < 5; ++i) {
    rows += "[" + std::to_string(i) + "," + std::to_string(micros) + ",0],";
  }
  std::string text;
  for (int run = 0; run < runs; ++run) {
    text += R"({"sections":["a","b"],"pc":[["",0],["",1]],"threads":{"1":{"trace":[)" + rows +
            "[9,50,1]]}}}\n";
  }
  return text;
}

TEST_F(ReportCommand, DiffJudgesRunsAsSamples) {
  writeFile(path("base.json"), appendedRuns(1000, 5));
  writeFile(path("slower.json"), appendedRuns(1070, 5));
  const std::string base = path("base.json"), slower = path("slower.json");
  // Exactly 7 % is not above 7 %, however the ratio rounds.
  EXPECT_EQ(0, report({"diff", "--fail-above", "7", base, slower}).exitStatus);
  ProgramResult tripped = report({"diff", "--fail-above", "6.9", base, slower});
  EXPECT_EQ(3, tripped.exitStatus);
  EXPECT_EQ("spanmill-report: slower by more than 6.9%: a +7.0% [+7.0%, +7.0%]\n", tripped.err);

  // The same five runs as five files give the same table and status.
  std::vector<std::string> files = {"diff", "--fail-above", "6.9", base, "--"};
  for (int run = 0; run < 5; ++run) {
    files.push_back(path(("run" + std::to_string(run)).c_str()));
    writeFile(files.back(), appendedRuns(1070, 1));
  }
  ProgramResult separate = report(files);
  EXPECT_EQ(tripped.out, separate.out);
  EXPECT_EQ(3, separate.exitStatus);

  writeFile(path("one.json"), appendedRuns(2000, 1));
  ProgramResult one = report({"diff", "--fail-above", "5", files.back(), path("one.json")});
  EXPECT_EQ(4, one.exitStatus);
  EXPECT_EQ(
      "spanmill-report: too few runs to judge 2 sections at alpha 0.05: 1 run before and 1 "
      "after; 5 a side needed\n",
      one.err);
  EXPECT_EQ(0, report({"diff", files.back(), path("one.json")}).exitStatus);  // no gate asked
  writeFile(path("empty.json"), R"({"sections":[],"pc":[],"threads":{}})");
  EXPECT_EQ("spanmill-report: nothing to judge: no section is in both BASE and NEW\n",
            report({"diff", "--fail-above", "5", path("empty.json"), base}).err);

  JSOM rows;
  rows.fromString(report({"diff", "--json", "--fail-above", "6.9", base, slower}).out);
  EXPECT_EQ("slower", rows["rows"][0]["verdict"].stringValue(""));
  EXPECT_EQ(5, rows["rows"][0]["run_medians_after_us"].size());
  EXPECT_EQ("slower", rows["gate"]["outcome"].stringValue(""));
  for (const std::vector<std::string>& wrong :
       std::vector<std::vector<std::string>>{{"--fail-above", "-1", base, slower},
                                             {"--alpha", "1", base, slower},
                                             {"--alpha", "0", base, slower},
                                             {base},
                                             {base, slower, slower},
                                             {base, "--"}}) {
    std::vector<std::string> args = {"diff"};
    args.insert(args.end(), wrong.begin(), wrong.end());
    EXPECT_EQ(2, report(args).exitStatus) << wrong[0];
  }
}

TEST_F(ReportCommand, NoiseSplitsTheRunsOfOneSide) {
  const std::string same = ORVEL_TEST_DATA "/noise/same.json";
  ProgramResult halves = report({"noise", same});
  EXPECT_EQ(0, halves.exitStatus) << halves.err;
  EXPECT_EQ(0u, halves.out.find("20 runs: 1000 splits into 10 against 10, drawn at random\n"
                                "--fail-above 5 at alpha 0.05: tripped on "))
      << halves.out;
  writeFile(path("one.json"), appendedRuns(1000, 1));
  ProgramResult one = report({"noise", path("one.json")});
  EXPECT_EQ(1, one.exitStatus);
  EXPECT_EQ("spanmill-report: noise needs 2 runs or more, has 1\n", one.err);
  EXPECT_EQ(2, report({"noise", "--runs", "0", same}).exitStatus);
  EXPECT_EQ(2, report({"noise", "--alpha", "1", same}).exitStatus);
}

TEST_F(ReportCommand, ABadReportIsNamedAndLeavesNoFile) {
  writeFile(path("good.json"), "{\"sections\":[],\"pc\":[],\"threads\":{}}");
  writeFile(path("bad.json"), "{\"sections\":[],\"pc\":[]}");
  const std::string exported = path("trace.json");
  ProgramResult result = report({"chrome", "-o", exported, path("good.json"), path("bad.json")});
  EXPECT_EQ(1, result.exitStatus);
  EXPECT_EQ("spanmill-report: " + path("bad.json") + ": missing \"threads\"\n", result.err);
  EXPECT_NE(0, access(exported.c_str(), F_OK));

  // A write that fails midway (a file size limit, as a full disk would)
  // leaves neither the export nor its partial file, and says why; so does
  // standard output.
  const std::string capture = std::string(ORVEL_EXAMPLES) + "/frames.ftrace";
  ASSERT_EQ(0, runProgram(SPANMILL_BINARY, {"-i", capture, "-o", path("frames.json")}).exitStatus);
  std::string many;
  for (int i = 0; i < 400; ++i) {
    many += readWholeFile(path("frames.json"));
  }
  writeFile(path("many.json"), many);
  // The limit and the ignored signal pass to the child, and through an
  // emulator, which a shell would not.
  struct rlimit unlimited;
  getrlimit(RLIMIT_FSIZE, &unlimited);
  struct rlimit limited = unlimited;
  limited.rlim_cur = 1 << 16;
  signal(SIGXFSZ, SIG_IGN);
  setrlimit(RLIMIT_FSIZE, &limited);
  for (const char* command : {"chrome", "speedscope"}) {
    result = report({command, "-o", exported, path("many.json")});
    EXPECT_EQ(1, result.exitStatus) << command;
    EXPECT_EQ("spanmill-report: " + exported + ": cannot write: File too large\n", result.err);
    EXPECT_EQ("bad.json frames.json good.json many.json", filesIn(path(".")));
  }
  setrlimit(RLIMIT_FSIZE, &unlimited);
  signal(SIGXFSZ, SIG_DFL);
  char errName[] = "/tmp/spanmill-test-err-XXXXXX";
  const int err = mkstemp(errName);
  const int full = open("/dev/full", O_WRONLY);
  EXPECT_EQ(1, testing::waitProgram(testing::startProgram(
                   SPANMILL_REPORT_BINARY, {"folded", path("frames.json")}, -1, full, err)));
  close(full);
  close(err);
  EXPECT_EQ("spanmill-report: cannot write to standard output: No space left on device\n",
            readWholeFile(errName));
  unlink(errName);

  result = report({"summary", path(".")});  // opens, but cannot be read
  EXPECT_EQ(1, result.exitStatus);
  EXPECT_EQ("spanmill-report: " + path(".") + ": cannot read: Is a directory\n", result.err);
  EXPECT_EQ("", result.out);

  EXPECT_EQ(2, report({"summary"}).exitStatus);
  for (const char* top : {"0", "1x", "", "-1"}) {
    EXPECT_EQ(2, report({"summary", "--top", top, "x"}).exitStatus) << top;
  }
  EXPECT_EQ(0u, report({"chrome", "-o"}).err.find("spanmill-report: -o needs a file\n"));
  EXPECT_EQ(0, report({"--help"}).exitStatus);
}

}  // namespace
}  // namespace orvel
