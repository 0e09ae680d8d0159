#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "log/LogLevel.h"
#include "log/Logger.h"
#include "tests/CaptureOutput.h"
#include "tests/log/FreshLogging.h"

namespace orvel {
namespace {

using testing::CaptureOutput;

TEST(LogLevel, LookupsByNameAndNumber) {
  const LogLevel& info = LogLevel::valueOf("info");
  EXPECT_EQ(&info, &LogLevel::valueOf("Info"));
  EXPECT_EQ(&info, &LogLevel::valueOf(std::string("INFO")));
  EXPECT_EQ(&info, &LogLevel::valueOf(std::string("info\0trailing", 13)));
  EXPECT_EQ(&info, LogLevel::LVL_INFO);
  EXPECT_EQ("INFO", info.name);
  EXPECT_EQ(4, info.value);
  EXPECT_EQ(LogLevel::LVL_OFF, &LogLevel::valueOf("off"));
  EXPECT_EQ(LogLevel::LVL_ALL, &LogLevel::valueOf("All"));
  for (const char* unknown : {"WARNING", "", "4", "unknown", "UNKNOWN"}) {
    EXPECT_EQ(LogLevel::LVL_UNKNOWN, &LogLevel::valueOf(unknown)) << unknown;
  }

  EXPECT_EQ(LogLevel::LVL_TRACE, &LogLevel::valueOf(6));
  EXPECT_EQ(LogLevel::LVL_ALL, &LogLevel::valueOf(8));
  for (int unknown : {7, 9, -1}) {
    EXPECT_EQ(LogLevel::LVL_UNKNOWN, &LogLevel::valueOf(unknown)) << unknown;
  }

  LogLevel* before = LogLevel::LVL_WARN;
  LogLevel::_init();
  EXPECT_EQ(before, LogLevel::LVL_WARN);
}

TEST(LogLevel, Thresholds) {
  const LogLevel& off = LogLevel::valueOf("OFF");
  const LogLevel& error = LogLevel::valueOf("ERROR");
  EXPECT_FALSE(off.allows(LogLevel::valueOf("FATAL")));
  EXPECT_TRUE(error.allows(LogLevel::valueOf("FATAL")));
  EXPECT_TRUE(error.allows(error));
  EXPECT_FALSE(error.allows(LogLevel::valueOf("WARN")));
  EXPECT_TRUE(LogLevel::valueOf("ALL").allows(LogLevel::valueOf("TRACE")));
  EXPECT_TRUE(LogLevel::valueOf(7).allows(LogLevel::valueOf("TRACE")));
}

using LoggerTest = testing::FreshLogging;

TEST_F(LoggerTest, NewLoggersLogWarningsButNotDebug) {
  Logger* logger = Logger::getLogger("fresh");
  EXPECT_EQ(logger, Logger::getLogger(std::string("fresh")));
  EXPECT_NE(logger, Logger::getLogger("Fresh"));
  EXPECT_EQ("INFO", logger->getLevel().name);

  CaptureOutput out(1);
  logger->warnf("warned %d", 1);
  logger->errorf("erred %s", "badly");
  logger->debugf("debugged");
  logger->tracef("traced");
  std::string text = out.finish();
  EXPECT_TRUE(std::regex_match(text, std::regex("[A-Z][a-z]{2} [0-3][0-9] [0-2][0-9]:[0-5][0-9]:"
                                                "[0-6][0-9]\\.[0-9]{3} \\[fresh\\]: WARN warned 1\n"
                                                "[^\n]*\\[fresh\\]: ERROR erred badly\n")))
      << text;
}

TEST_F(LoggerTest, MasterLevelCapsEveryLogger) {
  Logger::setDefaultLogLevel(LogLevel::valueOf("TRACE"));
  Logger* chatty = Logger::getLogger("chatty");
  Logger::setDefaultLogLevel(LogLevel::valueOf("INFO"));
  EXPECT_EQ("TRACE", chatty->getLevel().name);
  EXPECT_EQ("INFO", Logger::getLogger("quiet")->getLevel().name);

  Logger::setMasterLogLevel(LogLevel::valueOf("ERROR"));
  CaptureOutput silenced(1);
  chatty->warnf("hidden");
  EXPECT_EQ("", silenced.finish());

  Logger::setMasterLogLevel(LogLevel::valueOf("ALL"));
  CaptureOutput restored(1);
  chatty->tracef("shown");
  EXPECT_NE(std::string::npos, restored.finish().find("[chatty]: TRACE shown\n"));
}

TEST_F(LoggerTest, UnfilteredLinesAndLongMessages) {
  Logger* logger = Logger::getLogger("long");
  CaptureOutput out(1);
  logger->log(LogLevel::valueOf("OFF"), "always");
  logger->log(LogLevel::valueOf("INFO"), std::string("as string"));
  logger->warnf("%s", std::string(3000, 'x').c_str());
  std::string text = out.finish();
  EXPECT_NE(std::string::npos, text.find("[long]: OFF always\n"));
  EXPECT_NE(std::string::npos, text.find("[long]: INFO as string\n"));
  EXPECT_NE(std::string::npos, text.find("[long]: WARN " + std::string(2046, 'x') + "\n"));
}

TEST_F(LoggerTest, UnbufferedLinesAreFlushedAtOnce) {
  Logger* logger = Logger::getLogger("flushing");
  CaptureOutput out(1);
  logger->warnf("written while buffering");
  Logger::disableBuffering();  // flushes what came before
  EXPECT_NE(std::string::npos, out.readNow().find("written while buffering\n"));
  logger->warnf("unbuffered");
  EXPECT_NE(std::string::npos, out.readNow().find("unbuffered\n"));
  Logger::enableBuffering();
}

class RecordingAdapter : public LogAdapter {
 public:
  void log(const LogLevel& level, const std::string& loggerName, const char* text,
           bool buffering) override {
    lines.push_back(level.name + " " + loggerName + " " + text + (buffering ? " buffered" : ""));
  }
  void log(const LogLevel& level, const std::string& loggerName, const std::string& text,
           bool buffering) override {
    log(level, loggerName, ("string " + text).c_str(), buffering);
  }
  void flush() override { ++flushes; }

  std::vector<std::string> lines;
  int flushes = 0;
};

TEST_F(LoggerTest, AnAdapterTakesOverFromStandardOutput) {
  RecordingAdapter adapter;
  Logger::logAdapter = &adapter;
  Logger* logger = Logger::getLogger("adapted");
  CaptureOutput out(1);
  logger->errorf("e%d", 1);
  logger->log(LogLevel::valueOf("INFO"), std::string("s"));
  Logger::disableBuffering();
  logger->warnf("w");
  Logger::logAdapter = nullptr;
  EXPECT_EQ("", out.finish());
  EXPECT_EQ((std::vector<std::string>{"ERROR adapted e1 buffered", "INFO adapted string s buffered",
                                      "WARN adapted w"}),
            adapter.lines);
  EXPECT_EQ(1, adapter.flushes);
}

class NameCollector : public Logger::LoggerVisitor {
 public:
  void visit(Logger* logger) override { names.push_back(logger->getName()); }
  std::vector<std::string> names;
};

TEST_F(LoggerTest, VisitsLoggersInByteOrder) {
  for (const char* name : {"b-visit", "B-visit", "a-visit", "\xc3-visit"}) {
    Logger::getLogger(name);
  }
  NameCollector collector;
  Logger::visitLoggers(collector);
  std::vector<std::string> ours;
  for (const std::string& name : collector.names) {
    if (name.find("-visit") != std::string::npos) {
      ours.push_back(name);
    }
  }
  EXPECT_EQ((std::vector<std::string>{"B-visit", "a-visit", "b-visit", "\xc3-visit"}), ours);
}

}  // namespace
}  // namespace orvel
