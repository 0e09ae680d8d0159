// Named loggers: each writes time-stamped lines to standard output (or to
// an installed adapter) when a message passes both its own threshold and
// the process-wide master level.
#ifndef ORVEL_LOG_LOGGER_H
#define ORVEL_LOG_LOGGER_H

#include <cstdarg>
#include <string>

#include "log/LogLevel.h"

namespace orvel {

class JSOM;

// A sink for log lines that takes over from standard output.
class LogAdapter {
 public:
  virtual ~LogAdapter() = default;
  // buffering: false asks for the line to be written out at once.
  virtual void log(const LogLevel& level, const std::string& loggerName, const char* text,
                   bool buffering) = 0;
  virtual void log(const LogLevel& level, const std::string& loggerName, const std::string& text,
                   bool buffering) = 0;
  virtual void flush() = 0;
};

class Logger {
 public:
  class LoggerVisitor {
   public:
    virtual ~LoggerVisitor() = default;
    // Must not call getLogger or visitLoggers: the registry is locked.
    virtual void visit(Logger* logger) = 0;
  };

  // The logger registered under name, created with the default level on
  // first request. Loggers live until the process ends; callers do not own
  // them. Safe from any thread.
  static Logger* getLogger(const std::string& name);
  static Logger* getLogger(const char* name);

  // The levels below, the adapter and buffering are read by logging calls
  // on every thread without a lock: change them only while no other thread
  // logs (at start-up, from configuration).

  // The stored default level, or the shared INFO level while none is stored.
  static const LogLevel& getDefaultLogLevel();
  // Stores a copy, or replaces the stored one when the values differ. Only
  // loggers created afterwards take it.
  static void setDefaultLogLevel(const LogLevel& level);
  // The stored master level, or the shared INFO level while none is stored.
  static const LogLevel& getMasterLogLevel();
  static void setMasterLogLevel(const LogLevel& level);

  static void enableBuffering();
  // Also flushes what was written while buffering was on.
  static void disableBuffering();
  static void flushAll();

  // Calls visitor for every registered logger in byte-wise name order.
  static void visitLoggers(LoggerVisitor& visitor);

  // Configuration, for start-up, before other threads log. loadConfig
  // loads a JSON file and applies it, or prints why it could not and
  // changes nothing. useConfig applies, each only when present and valid:
  // "buffering" (a boolean), "default" and "level" (level names for the
  // default and master levels), "categories" (an object of logger names
  // and level names; unknown level names are skipped and create no
  // logger) and "adapter" (an object whose "type" names a factory in the
  // LogAdapterStore; the previous adapter is left to whoever made it).
  static void loadConfig(const char* path);
  static void useConfig(const JSOM& config);

  // Where lines go: null means standard output. Not owned.
  static LogAdapter* logAdapter;
  // False: standard output is flushed after every line.
  static bool bufferingEnabled;

  // Used by getLogger only.
  Logger(const std::string& name, const LogLevel& level);
  Logger(const Logger&) = delete;
  Logger& operator=(const Logger&) = delete;
  virtual ~Logger() = default;

  const std::string& getName() const { return name; }
  const LogLevel& getLevel() const { return level; }
  // Replaces the logger's threshold when the values differ.
  void setLevel(const LogLevel& threshold) { level.replaceWith(threshold); }

  // Write one line whatever the thresholds say.
  void log(const LogLevel& messageLevel, const char* text);
  void log(const LogLevel& messageLevel, const std::string& text);
  // Formats into 2048 bytes, keeping at most 2046 characters, then logs.
  void vlog(const LogLevel& messageLevel, const char* format, va_list args);

  // Filtered by the logger's level and the master level before anything
  // is formatted.
  void errorf(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void warnf(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void debugf(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void tracef(const char* format, ...) __attribute__((format(printf, 2, 3)));

 private:
  // Whether a message of this value passes the logger's and the master level.
  bool passes(int32_t messageValue) const;

  // Copies of levels, created on first need and never freed.
  static LogLevel* defaultLogLevel;
  static LogLevel* masterLogLevel;

  std::string name;
  LogLevel level;  // the logger's own threshold
};

}  // namespace orvel

#endif  // ORVEL_LOG_LOGGER_H
