// Named, numbered severities. A higher number lets more detail through.
#ifndef ORVEL_LOG_LOGLEVEL_H
#define ORVEL_LOG_LOGLEVEL_H

#include <cstdint>
#include <string>

namespace orvel {

class LogLevel {
 public:
  LogLevel() = default;
  LogLevel(const char* name, int32_t value) : name(name), value(value) {}
  virtual ~LogLevel() = default;

  // The nine shared levels, null until _init() has run; never destroyed.
  // Call _init() (or any valueOf) before reading them.
  static LogLevel* LVL_OFF;
  static LogLevel* LVL_FATAL;
  static LogLevel* LVL_ERROR;
  static LogLevel* LVL_WARN;
  static LogLevel* LVL_INFO;
  static LogLevel* LVL_DEBUG;
  static LogLevel* LVL_TRACE;
  static LogLevel* LVL_UNKNOWN;
  static LogLevel* LVL_ALL;

  static const char* const OFF_NAME;
  static const char* const FATAL_NAME;
  static const char* const ERROR_NAME;
  static const char* const WARN_NAME;
  static const char* const INFO_NAME;
  static const char* const DEBUG_NAME;
  static const char* const TRACE_NAME;
  static const char* const UNKNOWN_NAME;
  static const char* const ALL_NAME;

  // Creates the shared levels once. Safe to call from any thread.
  static void _init();

  // The shared level named name, ignoring case, or UNKNOWN. "UNKNOWN" and
  // numbers written as text are not names. name must not be null.
  static const LogLevel& valueOf(const char* name);
  // The same on the string's characters up to its first zero byte.
  static const LogLevel& valueOf(const std::string& name);
  // The shared level numbered value, or UNKNOWN (7 is UNKNOWN too).
  static const LogLevel& valueOf(int value);

  // Whether a message of level message passes this level as a threshold.
  bool allows(const LogLevel& message) const { return value >= message.value; }

  // Takes other's name and value, but only when the values differ.
  void replaceWith(const LogLevel& other);

  std::string name;   // as printed in log lines
  int32_t value = 0;  // what thresholds compare
};

}  // namespace orvel

#endif  // ORVEL_LOG_LOGLEVEL_H
