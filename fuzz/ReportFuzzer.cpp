// spanmill-report's reader, summary, call tree, comparison of runs, noise and exports
// on any text: no crash, and whatever a report holds, the export is strict
// JSON in valid UTF-8.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "report/CallTree.h"
#include "report/CallTreeText.h"
#include "report/ChromeTrace.h"
#include "report/Diff.h"
#include "report/Nesting.h"
#include "report/Noise.h"
#include "report/SpanReport.h"
#include "report/Speedscope.h"
#include "report/Summary.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::vector<orvel::SpanReport> reports;
  std::string error;
  size_t failed = 0;
  if (!orvel::readSpanReports(text, &reports, &error, &failed)) {
    if (error.empty() || failed != reports.size()) {
      std::abort();  // every failure says what is wrong, and in which report
    }
    return 0;
  }
  for (orvel::SpanReport& report : reports) {
    report.name = text.substr(0, 8);
  }
  // Every thread's walk brackets: a close ends the span opened last, no
  // time goes back, and self time lies within [0, duration].
  struct Brackets : orvel::NestingVisitor {
    const std::vector<orvel::SpanReport::Span>* spans = nullptr;
    std::vector<uint32_t> opened;
    long long last = LLONG_MIN;
    void at(long long time) {
      if (time < last) {
        std::abort();
      }
      last = time;
    }
    void open(uint32_t row, long long begin) override {
      at(begin);
      opened.push_back(row);
    }
    void close(uint32_t row, long long end, long long self) override {
      at(end);
      if (opened.empty() || opened.back() != row || self < 0 ||
          self > std::max(0LL, (*spans)[row].micros)) {
        std::abort();
      }
      opened.pop_back();
    }
  };
  for (const orvel::SpanReport& report : reports) {
    for (const orvel::SpanReport::Thread& thread : report.threads) {
      Brackets brackets;
      brackets.spans = &thread.spans;
      orvel::walkNesting(thread.spans, &brackets);
      if (!brackets.opened.empty()) {
        std::abort();
      }
    }
  }
  std::ostringstream out;
  for (bool byThread : {false, true}) {
    const orvel::Summary summary = orvel::summarize(reports, byThread);
    for (const orvel::SummaryRow& row : summary.rows) {
      if (!(row.self >= 0 && row.self <= std::max(0.0, row.total))) {
        std::abort();  // self time lies within [0, total]
      }
    }
    orvel::writeSummaryJson(summary, byThread, out);
  }
  // The reports as runs, the first half before, the rest after.
  std::vector<orvel::RunMedians> before, after;
  for (size_t i = 0; i < reports.size(); ++i) {
    (2 * i < reports.size() ? before : after).push_back(orvel::summarizeRun(reports[i]));
  }
  const std::vector<orvel::DiffRow> rows = orvel::compareRuns(before, after, {});
  const orvel::Gate gate = orvel::judge(rows, 5, 0.05);
  for (const orvel::DiffRow& row : rows) {
    const orvel::RatioChange& change = row.change;
    if (row.p < 0 || row.p > 1 || change.low > change.estimate || change.estimate > change.high) {
      std::abort();  // a p-value is a chance; the estimate lies in its interval
    }
  }
  orvel::writeDiffTable(rows, out);
  orvel::writeDiffJson(rows, 0.05, &gate, 5, out);
  before.insert(before.end(), after.begin(), after.end());
  orvel::NoiseOptions noise;
  noise.draws = 20;
  orvel::writeNoiseTable(orvel::measureNoise(before, noise), noise, out);
  for (bool byThread : {false, true}) {
    const orvel::CallTree tree = orvel::buildCallTree(reports, byThread);
    orvel::writeTreeTable(tree, {}, out);
    orvel::writeTreeJson(tree, {0, 0}, out);
    orvel::writeFolded(tree, out);
  }
  out.str("");
  orvel::writeSpeedscope(reports, out);
  orvel::writeChromeTrace(reports, out);
  // Strict: no raw control byte but the line feeds between events, and only
  // well-formed UTF-8 lead bytes.
  for (unsigned char c : out.str()) {
    if ((c < 0x20 && c != '\n') || c == 0xC0 || c == 0xC1 || c >= 0xF5) {
      std::abort();
    }
  }
  return 0;
}
