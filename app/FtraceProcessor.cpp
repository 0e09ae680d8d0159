#include "app/FtraceProcessor.h"

#include <cstdio>
#include <cstring>
#include <string_view>

#include "app/TraceScan.h"

namespace orvel {

namespace {

// The name of a begin marker "X|field|name...": the text after the second
// '|', or an empty view when there is no second '|' or nothing follows it.
std::string_view beginName(std::string_view marker) {
  if (marker.size() < 2 || marker[1] != '|') {
    return {};
  }
  // The field is short: a loop beats a library call.
  for (size_t bar = 2; bar < marker.size(); ++bar) {
    if (marker[bar] == '|') {
      return marker.substr(bar + 1);
    }
  }
  return {};
}

}  // namespace

void FtraceProcessor::parseLine(const char* line, size_t length, bool noLineFeed,
                                const char* readable, const char* /*mark*/) {
  unsigned int tid = 0;
  double time = 0.0;
  const char* text = nullptr;
  size_t textLength = 0;
  int scanned =
      scan::ftraceMarkerLine(line, length, noLineFeed, readable, &tid, &time, &text, &textLength);
  char copy[513];
  if (scanned == scan::kUndecided) {
    scanned = std::sscanf(line, scan::kFtraceMarkerLine, &tid, &time, copy);
    text = copy;
    textLength = scanned == 3 ? std::strlen(copy) : 0;
  }
  if (scanned != 3) {
    return;
  }
  // Every parsed line takes part in the window, whatever its marker says.
  if (!isTimeInRange(time)) {
    return;
  }
  const std::string_view marker(text, textLength);
  switch (marker[0]) {
    case 'B': {
      const std::string_view name = beginName(marker);
      if (!name.empty()) {
        processFunctionBegin(name, std::string_view(), time, tid);
      }
      return;
    }
    case 'b': {
      // The location runs from the next '|' to the end and may hold '|'.
      const std::string_view name = beginName(marker);
      const size_t bar = name.find('|');
      if (!name.empty() && bar != std::string_view::npos) {
        processFunctionBegin(name.substr(0, bar), name.substr(bar + 1), time, tid);
      }
      return;
    }
    case 'E':
      if (marker.size() == 1 || marker[1] == ' ') {
        processFunctionEnd(time, tid);
      }
      return;
    default:
      return;
  }
}

}  // namespace orvel
