#include "app/StraceProcessor.h"

#include <cstdio>

#include "app/TraceScan.h"

namespace orvel {

void StraceProcessor::processLine(const std::string& line) {
  unsigned int tid = 0;
  double time = 0.0;
  // Buffers are filled by the scans before they are read; clearing 1.5 KB
  // per line would cost more than the scans.
  char rest[513];
  const bool pidForm = line[0] == '[';
  int scanned = scan::straceLine(line, pidForm, &tid, &time, rest);
  if (scanned == scan::kUndecided) {
    scanned = std::sscanf(line.c_str(), pidForm ? scan::kStracePidLine : scan::kStraceIdLine, &tid,
                          &time, rest);
  }
  if (scanned != 3) {
    return;
  }
  if (!isTimeInRange(time)) {
    return;
  }

  double duration = 0.0;
  if (rest[0] == '<') {
    scanned = scan::straceResumed(rest + 1, &duration);
    if (scanned == scan::kUndecided) {
      scanned = std::sscanf(rest + 1, scan::kStraceResumed, &duration);
    }
    if (scanned == 1) {
      processFunctionEndDuration(duration, tid);
    }
    return;
  }

  char location[33];
  location[0] = '\0';  // no location unless the call has one
  char locatedCall[513];
  const char* call = rest;
  if (rest[0] == '[') {
    // Nothing in this format is left to sscanf.
    if (scan::straceLocation(rest, location, locatedCall) != 2) {
      return;
    }
    call = locatedCall;
  }

  char name[513];
  scanned = scan::straceFinished(call, name, &duration);
  if (scanned == scan::kUndecided) {
    scanned = std::sscanf(call, scan::kStraceFinished, name, &duration);
  }
  if (scanned == 2) {
    processFunction(name, location, time, duration, tid);
    return;
  }
  char closing = 0;
  if (scan::straceUnfinished(call, name, &closing) == 2) {
    processFunctionBegin(name, location, time, tid);
  }
}

}  // namespace orvel
