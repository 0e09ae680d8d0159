#include "log/Logger.h"

#include <sys/time.h>
#include <time.h>

#include <cstdio>
#include <ctime>
#include <map>
#include <memory>

#include "json/JSOM.h"
#include "log/LogAdapterStore.h"
#include "thread/Lock.h"

namespace orvel {

LogAdapter* Logger::logAdapter = nullptr;
bool Logger::bufferingEnabled = true;
LogLevel* Logger::defaultLogLevel = nullptr;
LogLevel* Logger::masterLogLevel = nullptr;

namespace {

// The registry outlives every thread: it is never destroyed, since a
// detached thread may still fetch or use a logger while the process exits.
struct Registry {
  std::map<std::string, Logger*> loggers;  // byte-wise name order; never deleted
  Lock lock;                               // guards loggers
};

Registry& registry() {
  static Registry* const instance = new Registry();
  return *instance;
}

void store(LogLevel** stored, const LogLevel& level) {
  if (*stored == nullptr) {
    *stored = new LogLevel(level);
  } else {
    (*stored)->replaceWith(level);
  }
}

// The message level values of the formatted operations.
const int32_t kError = 2;
const int32_t kWarn = 3;
const int32_t kDebug = 5;
const int32_t kTrace = 6;

}  // namespace

Logger* Logger::getLogger(const std::string& name) {
  Registry& shared = registry();
  Synchronized hold(shared.lock);
  Logger*& logger = shared.loggers[name];
  if (logger == nullptr) {
    std::unique_ptr<Logger> created(new Logger(name, getDefaultLogLevel()));
    logger = created.release();
  }
  return logger;
}

Logger* Logger::getLogger(const char* name) {
  return getLogger(std::string(name));
}

Logger::Logger(const std::string& name, const LogLevel& level) : name(name), level(level) {
  LogLevel::_init();
  if (defaultLogLevel == nullptr) {
    defaultLogLevel = new LogLevel(*LogLevel::LVL_INFO);
  }
  if (masterLogLevel == nullptr) {
    masterLogLevel = new LogLevel(*LogLevel::LVL_ALL);
  }
}

const LogLevel& Logger::getDefaultLogLevel() {
  if (defaultLogLevel != nullptr) {
    return *defaultLogLevel;
  }
  return LogLevel::valueOf(4);
}

void Logger::setDefaultLogLevel(const LogLevel& level) {
  store(&defaultLogLevel, level);
}

const LogLevel& Logger::getMasterLogLevel() {
  if (masterLogLevel != nullptr) {
    return *masterLogLevel;
  }
  return LogLevel::valueOf(4);
}

void Logger::setMasterLogLevel(const LogLevel& level) {
  store(&masterLogLevel, level);
}

void Logger::enableBuffering() {
  bufferingEnabled = true;
}

void Logger::disableBuffering() {
  if (bufferingEnabled) {
    bufferingEnabled = false;
    flushAll();
  }
}

void Logger::flushAll() {
  if (logAdapter != nullptr) {
    logAdapter->flush();
  } else {
    std::fflush(stdout);
  }
}

void Logger::visitLoggers(LoggerVisitor& visitor) {
  Registry& shared = registry();
  Synchronized hold(shared.lock);
  for (auto& [name, logger] : shared.loggers) {
    visitor.visit(logger);
  }
}

void Logger::loadConfig(const char* path) {
  JSOM document;
  if (&document.fromFile(path) == &JSOM::JERROR) {
    std::fprintf(stderr, "Could not load file `%s'.\n", path);
    return;
  }
  useConfig(document);
}

void Logger::useConfig(const JSOM& config) {
  if (config.getKind() != JSOM::KIND_NODE) {
    return;  // nothing to read, and navigating would make places
  }
  JSOM document(config);
  JSOM buffering = document["buffering"];
  if (buffering.getKind() == JSOM::KIND_NODE) {
    bufferingEnabled = buffering.booleanValue(true);
  }
  JSOM defaultLevel = document["default"];
  if (defaultLevel.getKind() == JSOM::KIND_NODE) {
    const LogLevel& level = LogLevel::valueOf(defaultLevel.stringValue(JSOM::EMPTY_STRING));
    if (&level != LogLevel::LVL_UNKNOWN) {
      setDefaultLogLevel(level);
    }
  }
  JSOM masterLevel = document["level"];
  if (masterLevel.getKind() == JSOM::KIND_NODE) {
    const LogLevel& level = LogLevel::valueOf(masterLevel.stringValue(JSOM::EMPTY_STRING));
    if (&level != LogLevel::LVL_UNKNOWN) {
      setMasterLogLevel(level);
    }
  }
  JSOM categories = document["categories"];
  if (categories.isObject()) {
    // Last member first: of two members naming one logger, the earlier wins.
    for (int i = categories.size() - 1; i >= 0; --i) {
      const LogLevel& level = LogLevel::valueOf(categories[i].stringValue(JSOM::EMPTY_STRING));
      if (&level != LogLevel::LVL_UNKNOWN) {
        getLogger(*categories.key(i))->setLevel(level);
      }
    }
  }
  JSOM adapter = document["adapter"];
  if (adapter.getKind() == JSOM::KIND_NODE) {
    JSOM type = adapter["type"];
    if (type.getKind() == JSOM::KIND_NODE) {
      logAdapter = LogAdapterStore::createLogAdapter(type.stringValue(JSOM::EMPTY_STRING), adapter);
    }
  }
}

void Logger::log(const LogLevel& messageLevel, const char* text) {
  if (logAdapter != nullptr) {
    logAdapter->log(messageLevel, name, text, bufferingEnabled);
    return;
  }
  timeval now;
  gettimeofday(&now, nullptr);
  time_t seconds = now.tv_sec;
  tm local;
  localtime_r(&seconds, &local);
  char stamp[80];
  std::strftime(stamp, sizeof stamp, "%b %d %H:%M:%S", &local);
  // tv_usec is 64 bits wide on 32-bit targets with 64-bit time.
  std::printf("%s.%03ld [%s]: %s %s\n", stamp, static_cast<long>(now.tv_usec / 1000), name.c_str(),
              messageLevel.name.c_str(), text);
  if (!bufferingEnabled) {
    std::fflush(stdout);
  }
}

void Logger::log(const LogLevel& messageLevel, const std::string& text) {
  if (logAdapter != nullptr) {
    logAdapter->log(messageLevel, name, text, bufferingEnabled);
    return;
  }
  log(messageLevel, text.c_str());
}

void Logger::vlog(const LogLevel& messageLevel, const char* format, va_list args) {
  char buffer[2048];
  // Offering one byte less than the buffer keeps at most 2046 characters.
  std::vsnprintf(buffer, sizeof buffer - 1, format, args);
  log(messageLevel, buffer);
}

bool Logger::passes(int32_t messageValue) const {
  return level.value >= messageValue && masterLogLevel->value >= messageValue;
}

// The body of each formatted operation: test both thresholds, and only
// then format.
#define ORVEL_FORMATTED_LOG(messageValue)              \
  if (!passes(messageValue)) {                         \
    return;                                            \
  }                                                    \
  va_list args;                                        \
  va_start(args, format);                              \
  vlog(LogLevel::valueOf(messageValue), format, args); \
  va_end(args)

void Logger::errorf(const char* format, ...) {
  ORVEL_FORMATTED_LOG(kError);
}
void Logger::warnf(const char* format, ...) {
  ORVEL_FORMATTED_LOG(kWarn);
}
void Logger::debugf(const char* format, ...) {
  ORVEL_FORMATTED_LOG(kDebug);
}
void Logger::tracef(const char* format, ...) {
  ORVEL_FORMATTED_LOG(kTrace);
}

#undef ORVEL_FORMATTED_LOG

}  // namespace orvel
