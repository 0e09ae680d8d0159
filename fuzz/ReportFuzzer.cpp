// spanmill-report's reader, summary and export on any text: no crash, and
// whatever a report holds, the export is strict JSON in valid UTF-8.
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "report/ChromeTrace.h"
#include "report/SpanReport.h"
#include "report/Summary.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  orvel::SpanReport report;
  std::string error;
  if (!orvel::readSpanReport(text, &report, &error)) {
    if (error.empty()) {
      std::abort();  // every failure says what is wrong
    }
    return 0;
  }
  report.name = text.substr(0, 8);
  std::ostringstream out;
  for (bool byThread : {false, true}) {
    orvel::writeSummaryJson(orvel::summarize({report}, byThread), byThread, out);
  }
  out.str("");
  orvel::writeChromeTrace({report, report}, out);
  // Strict: no raw control byte but the line feeds between events, and only
  // well-formed UTF-8 lead bytes.
  for (unsigned char c : out.str()) {
    if ((c < 0x20 && c != '\n') || c == 0xC0 || c == 0xC1 || c >= 0xF5) {
      std::abort();
    }
  }
  return 0;
}
