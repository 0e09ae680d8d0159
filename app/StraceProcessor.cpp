#include "app/StraceProcessor.h"

#include <cstdio>
#include <cstring>
#include <string_view>

#include "app/TraceScan.h"

namespace orvel {

void StraceProcessor::parseLine(const char* line, size_t length, bool noLineFeed,
                                const char* readable, const char* mark) {
  unsigned int tid = 0;
  double time = 0.0;
  // Buffers are filled by the scans before they are read; clearing them
  // per line would cost more than the scans.
  char restBuffer[513];
  const char* rest = restBuffer;
  const bool pidForm = line[0] == '[';
  int scanned =
      scan::straceLine(line, length, pidForm, noLineFeed, readable, &tid, &time, restBuffer, &rest);
  if (scanned == scan::kUndecided) {
    rest = restBuffer;
    scanned = std::sscanf(line, pidForm ? scan::kStracePidLine : scan::kStraceIdLine, &tid, &time,
                          restBuffer);
  }
  if (scanned != 3) {
    return;
  }
  if (!isTimeInRange(time)) {
    return;
  }
  // Where the rest lies in the line, the line's bytes may be read ahead.
  const char* restEnd = rest != restBuffer ? readable : nullptr;

  double duration = 0.0;
  if (rest[0] == '<') {
    scanned = scan::straceResumed(rest + 1, restEnd, &duration);
    if (scanned == scan::kUndecided) {
      scanned = std::sscanf(rest + 1, scan::kStraceResumed, &duration);
    }
    if (scanned == 1) {
      processFunctionEndDuration(duration, tid);
    }
    return;
  }

  char location[33];
  std::string_view where;  // no location unless the call has one
  char locatedCall[513];
  const char* call = rest;
  const char* callEnd = restEnd;
  if (rest[0] == '[') {
    // Nothing in this format is left to sscanf.
    if (scan::straceLocation(rest, location, locatedCall) != 2) {
      return;
    }
    where = location;
    call = locatedCall;
    callEnd = nullptr;  // the copy's bytes past its end were never written
  }

  const char* name = nullptr;
  size_t nameLength = 0;
  // The chain's mark is the line's first '<' (or its end), of use where the
  // call is read in the line itself.
  scanned = scan::straceFinished(call, callEnd, &name, &nameLength, &duration,
                                 call == rest && rest != restBuffer ? mark : nullptr);
  char nameBuffer[513];
  if (scanned == scan::kUndecided) {
    scanned = std::sscanf(call, scan::kStraceFinished, nameBuffer, &duration);
    name = nameBuffer;
    nameLength = std::strlen(nameBuffer);
  }
  if (scanned == 2) {
    processFunction(std::string_view(name, nameLength), where, time, duration, tid);
    return;
  }
  char closing = 0;
  if (scan::straceUnfinished(call, &name, &nameLength, &closing) == 2) {
    processFunctionBegin(std::string_view(name, nameLength), where, time, tid);
  }
}

}  // namespace orvel
