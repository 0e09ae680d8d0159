// spanmill-report's reader, summary, comparison of runs, noise and export
// on any text: no crash, and whatever a report holds, the export is strict
// JSON in valid UTF-8.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "report/ChromeTrace.h"
#include "report/Diff.h"
#include "report/Noise.h"
#include "report/SpanReport.h"
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
  out.str("");
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
