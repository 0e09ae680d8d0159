#include "log/LogLevel.h"

#include <strings.h>

namespace orvel {

LogLevel* LogLevel::LVL_OFF = nullptr;
LogLevel* LogLevel::LVL_FATAL = nullptr;
LogLevel* LogLevel::LVL_ERROR = nullptr;
LogLevel* LogLevel::LVL_WARN = nullptr;
LogLevel* LogLevel::LVL_INFO = nullptr;
LogLevel* LogLevel::LVL_DEBUG = nullptr;
LogLevel* LogLevel::LVL_TRACE = nullptr;
LogLevel* LogLevel::LVL_UNKNOWN = nullptr;
LogLevel* LogLevel::LVL_ALL = nullptr;

const char* const LogLevel::OFF_NAME = "OFF";
const char* const LogLevel::FATAL_NAME = "FATAL";
const char* const LogLevel::ERROR_NAME = "ERROR";
const char* const LogLevel::WARN_NAME = "WARN";
const char* const LogLevel::INFO_NAME = "INFO";
const char* const LogLevel::DEBUG_NAME = "DEBUG";
const char* const LogLevel::TRACE_NAME = "TRACE";
const char* const LogLevel::UNKNOWN_NAME = "UNKNOWN";
const char* const LogLevel::ALL_NAME = "ALL";

void LogLevel::_init() {
  // A function-local static runs once, and every caller returns only after
  // it has: the shared levels are complete wherever _init() has returned.
  static const bool created = [] {
    LogLevel* levels = new LogLevel[9];  // never freed
    LVL_FATAL = &levels[1];
    LVL_ERROR = &levels[2];
    LVL_WARN = &levels[3];
    LVL_INFO = &levels[4];
    LVL_DEBUG = &levels[5];
    LVL_TRACE = &levels[6];
    LVL_UNKNOWN = &levels[7];
    LVL_ALL = &levels[8];
    const char* const names[9] = {OFF_NAME,   FATAL_NAME, ERROR_NAME,   WARN_NAME, INFO_NAME,
                                  DEBUG_NAME, TRACE_NAME, UNKNOWN_NAME, ALL_NAME};
    for (int32_t value = 0; value < 9; ++value) {
      levels[value].name = names[value];
      levels[value].value = value;
    }
    // Last: LVL_OFF set means every level is ready.
    LVL_OFF = &levels[0];
    return true;
  }();
  (void)created;
}

const LogLevel& LogLevel::valueOf(const char* name) {
  _init();
  LogLevel* const inOrder[] = {LVL_FATAL, LVL_ERROR, LVL_WARN, LVL_INFO,
                               LVL_DEBUG, LVL_TRACE, LVL_ALL,  LVL_OFF};
  for (LogLevel* level : inOrder) {
    if (strcasecmp(name, level->name.c_str()) == 0) {
      return *level;
    }
  }
  return *LVL_UNKNOWN;
}

const LogLevel& LogLevel::valueOf(const std::string& name) {
  return valueOf(name.c_str());
}

const LogLevel& LogLevel::valueOf(int value) {
  _init();
  switch (value) {
    case 0:
      return *LVL_OFF;
    case 1:
      return *LVL_FATAL;
    case 2:
      return *LVL_ERROR;
    case 3:
      return *LVL_WARN;
    case 4:
      return *LVL_INFO;
    case 5:
      return *LVL_DEBUG;
    case 6:
      return *LVL_TRACE;
    case 8:
      return *LVL_ALL;
    default:
      return *LVL_UNKNOWN;
  }
}

void LogLevel::replaceWith(const LogLevel& other) {
  if (value != other.value) {
    name = other.name;
    value = other.value;
  }
}

}  // namespace orvel
