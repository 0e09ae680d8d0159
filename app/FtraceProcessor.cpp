#include "app/FtraceProcessor.h"

#include <cstdio>
#include <cstring>

#include "app/TraceScan.h"

namespace orvel {

namespace {

// The name of a begin marker "X|field|name...": the text after the second
// '|', or null when there is no second '|' or nothing follows it.
char* beginName(char* marker) {
  if (marker[1] != '|') {
    return nullptr;
  }
  char* bar = std::strchr(marker + 2, '|');
  return bar == nullptr || bar[1] == '\0' ? nullptr : bar + 1;
}

}  // namespace

void FtraceProcessor::processLine(const std::string& line) {
  unsigned int tid = 0;
  double time = 0.0;
  char marker[513];
  int scanned = scan::ftraceMarkerLine(line, &tid, &time, marker);
  if (scanned == scan::kUndecided) {
    scanned = std::sscanf(line.c_str(), scan::kFtraceMarkerLine, &tid, &time, marker);
  }
  if (scanned != 3) {
    return;
  }
  // Every parsed line takes part in the window, whatever its marker says.
  if (!isTimeInRange(time)) {
    return;
  }
  switch (marker[0]) {
    case 'B': {
      char* name = beginName(marker);
      if (name != nullptr) {
        processFunctionBegin(name, nullptr, time, tid);
      }
      return;
    }
    case 'b': {
      // The location runs from the next '|' to the end and may hold '|'.
      char* name = beginName(marker);
      char* bar = name == nullptr ? nullptr : std::strchr(name, '|');
      if (bar != nullptr) {
        *bar = '\0';
        processFunctionBegin(name, bar + 1, time, tid);
      }
      return;
    }
    case 'E':
      if (marker[1] == '\0' || marker[1] == ' ') {
        processFunctionEnd(time, tid);
      }
      return;
    default:
      return;
  }
}

}  // namespace orvel
