#include "app/StraceProcessor.h"

#include <cstdio>

namespace orvel {

namespace {

const char kPidLine[] = "[pid %u] %lf %512[^\n]";
const char kIdLine[] = "%u %lf %512[^\n]";
// Applied after the leading '<' of "<... read resumed> ...) = 0 <0.000010>".
const char kResumed[] = "%*[^<]<%lf>";
// One or more '[' and blanks, up to 32 characters before ']', the rest.
const char kLocation[] = "%*[[[ ]%32[^]]] %512[^\n]";
// The name before the first '(', the number after the next '<'.
const char kFinished[] = "%512[^(]%*[^<]<%lf>";
const char kUnfinished[] = "%512[^(]%*[^<]<unfin%*[^>]%c";

}  // namespace

void StraceProcessor::processLine(const std::string& line) {
  unsigned int tid = 0;
  double time = 0.0;
  char rest[513] = "";
  const char* format = line[0] == '[' ? kPidLine : kIdLine;
  if (std::sscanf(line.c_str(), format, &tid, &time, rest) != 3) {
    return;
  }
  if (!isTimeInRange(time)) {
    return;
  }

  double duration = 0.0;
  if (rest[0] == '<') {
    if (std::sscanf(rest + 1, kResumed, &duration) == 1) {
      processFunctionEndDuration(duration, tid);
    }
    return;
  }

  char location[33] = "";
  char locatedCall[513] = "";
  const char* call = rest;
  if (rest[0] == '[') {
    if (std::sscanf(rest, kLocation, location, locatedCall) != 2) {
      return;
    }
    call = locatedCall;
  }

  char name[513] = "";
  if (std::sscanf(call, kFinished, name, &duration) == 2) {
    processFunction(name, location, time, duration, tid);
    return;
  }
  char closing = 0;
  if (std::sscanf(call, kUnfinished, name, &closing) == 2) {
    processFunctionBegin(name, location, time, tid);
  }
}

}  // namespace orvel
