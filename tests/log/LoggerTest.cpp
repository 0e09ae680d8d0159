#include <cstdio>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "json/JSOM.h"
#include "log/LogAdapterStore.h"
#include "log/LogLevel.h"
#include "log/Logger.h"
#include "tests/Testing.h"

namespace orvel {
namespace {

using testing::CaptureOutput;

// Cases start from the logging state of a fresh process: new loggers at
// INFO, master level ALL, lines to standard output, buffering on. The
// adapter and buffering are put back afterwards.
class LoggerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Logger::setDefaultLogLevel(LogLevel::valueOf("INFO"));
    Logger::setMasterLogLevel(LogLevel::valueOf("ALL"));
    TearDown();
  }
  void TearDown() override {
    Logger::logAdapter = nullptr;
    Logger::enableBuffering();
  }
  static void apply(const char* json) {
    JSOM config;
    ASSERT_NE(&JSOM::JERROR, &config.fromString(json)) << json;
    Logger::useConfig(config);
  }
  // Whether a logger of that name was ever made.
  static bool registered(const std::string& name) {
    struct Finder : Logger::LoggerVisitor {
      void visit(Logger* logger) override { found = found || logger->getName() == name; }
      std::string name;
      bool found = false;
    } finder;
    finder.name = name;
    Logger::visitLoggers(finder);
    return finder.found;
  }
  static std::string levelOf(const char* logger) {
    return Logger::getLogger(logger)->getLevel().name;
  }
};

TEST(LogLevel, LookupsAndThresholds) {
  // By name in any case (up to a NUL), and by number.
  for (const std::string& name : {std::string("info"), std::string("Info"), std::string("INFO"),
                                  std::string("info\0trailing", 13)}) {
    EXPECT_EQ(LogLevel::LVL_INFO, &LogLevel::valueOf(name)) << name;
  }
  EXPECT_EQ("INFO 4", LogLevel::LVL_INFO->name + " " + std::to_string(LogLevel::LVL_INFO->value));
  EXPECT_EQ(LogLevel::LVL_TRACE, &LogLevel::valueOf(6));
  EXPECT_EQ(LogLevel::LVL_ALL, &LogLevel::valueOf(8));
  for (const char* unknown : {"WARNING", "", "4", "UNKNOWN"}) {
    EXPECT_EQ(LogLevel::LVL_UNKNOWN, &LogLevel::valueOf(unknown)) << unknown;
  }
  for (int unknown : {7, 9, -1}) {
    EXPECT_EQ(LogLevel::LVL_UNKNOWN, &LogLevel::valueOf(unknown)) << unknown;
  }
  LogLevel* before = LogLevel::LVL_WARN;
  LogLevel::_init();
  EXPECT_EQ(before, LogLevel::LVL_WARN);

  const LogLevel& error = LogLevel::valueOf("ERROR");
  EXPECT_FALSE(LogLevel::valueOf("OFF").allows(LogLevel::valueOf("FATAL")));
  EXPECT_TRUE(error.allows(LogLevel::valueOf("FATAL")) && error.allows(error));
  EXPECT_FALSE(error.allows(LogLevel::valueOf("WARN")));
  EXPECT_TRUE(LogLevel::valueOf(7).allows(LogLevel::valueOf("TRACE")));
}

TEST_F(LoggerTest, LinesOnStandardOutput) {
  Logger* logger = Logger::getLogger("fresh");
  EXPECT_EQ(logger, Logger::getLogger(std::string("fresh")));
  EXPECT_NE(logger, Logger::getLogger("Fresh"));
  EXPECT_EQ("INFO", logger->getLevel().name);
  CaptureOutput out(1);
  logger->warnf("warned %d", 1);
  logger->errorf("erred %s", "badly");
  logger->debugf("debugged");
  logger->tracef("traced");
  logger->log(LogLevel::valueOf("OFF"), "always");
  logger->log(LogLevel::valueOf("INFO"), std::string("as string"));
  logger->warnf("%s", std::string(3000, 'x').c_str());  // cut to what the line holds
  Logger::disableBuffering();                           // flushes what came before
  EXPECT_TRUE(std::regex_match(out.readNow(),
                               std::regex("[A-Z][a-z]{2} [0-3][0-9] [0-2][0-9]:[0-5][0-9]:"
                                          "[0-6][0-9]\\.[0-9]{3} \\[fresh\\]: WARN warned 1\n"
                                          "[^\n]*\\[fresh\\]: ERROR erred badly\n"
                                          "[^\n]*\\[fresh\\]: OFF always\n"
                                          "[^\n]*\\[fresh\\]: INFO as string\n"
                                          "[^\n]*\\[fresh\\]: WARN x{2046}\n")));
  logger->warnf("unbuffered");
  EXPECT_NE(std::string::npos, out.readNow().find("unbuffered\n"));
}

TEST_F(LoggerTest, MasterLevelCapsEveryLogger) {
  Logger::setDefaultLogLevel(LogLevel::valueOf("TRACE"));
  Logger* chatty = Logger::getLogger("chatty");
  Logger::setDefaultLogLevel(LogLevel::valueOf("INFO"));
  EXPECT_EQ("TRACE INFO", levelOf("chatty") + " " + levelOf("quiet"));
  CaptureOutput out(1);
  Logger::setMasterLogLevel(LogLevel::valueOf("ERROR"));
  chatty->warnf("hidden");
  Logger::setMasterLogLevel(LogLevel::valueOf("ALL"));
  chatty->tracef("shown");
  const std::string text = out.finish();
  EXPECT_TRUE(text.find("hidden") == std::string::npos &&
              text.find("[chatty]: TRACE shown\n") != std::string::npos)
      << text;
}

// Records lines with their level, logger and whether they were buffered.
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
  std::string prefix;
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

// Makes adapters from their configuration, and counts its own deletion.
class RecordingFactory : public LogAdapterFactory {
 public:
  explicit RecordingFactory(int* deletions) : deletions(deletions) {}
  ~RecordingFactory() override { ++*deletions; }
  LogAdapter* create(const JSOM& config) override {
    made = new RecordingAdapter();
    made->prefix = JSOM(config)["prefix"].stringValue(JSOM::EMPTY_STRING);
    return made;
  }
  RecordingAdapter* made = nullptr;

 private:
  int* const deletions;
};

TEST_F(LoggerTest, AConfigurationFileThatSetsEverything) {
  int deletions = 0;
  RecordingFactory* factory = new RecordingFactory(&deletions);
  LogAdapterStore::addFactory("collect", factory);
  LogAdapterStore::addFactory("collect", factory);  // the same: kept
  EXPECT_EQ(0, deletions);
  char name[] = "/tmp/orvel-logging-XXXXXX";
  FILE* file = fdopen(mkstemp(name), "w");
  std::fputs(R"({"buffering": false, "default": "warn", "level": "DEBUG", "unknown": 1,)"
             R"( "categories": {"CfgSelector": "DEBUG", "CfgThread": "TRACE"},)"
             R"( "adapter": {"type": "collect", "prefix": "p"}})",
             file);
  std::fclose(file);
  Logger::loadConfig(name);
  std::remove(name);

  EXPECT_FALSE(Logger::bufferingEnabled);
  EXPECT_EQ("WARN DEBUG",
            Logger::getDefaultLogLevel().name + " " + Logger::getMasterLogLevel().name);
  EXPECT_EQ("DEBUG TRACE WARN",
            levelOf("CfgSelector") + " " + levelOf("CfgThread") + " " + levelOf("CfgNew"));
  ASSERT_EQ(factory->made, Logger::logAdapter);
  EXPECT_EQ("p", factory->made->prefix);
  Logger::getLogger("CfgSelector")->debugf("seen %d", 1);
  Logger::getLogger("CfgThread")->tracef("capped by the master level");
  EXPECT_EQ(std::vector<std::string>{"DEBUG CfgSelector seen 1"}, factory->made->lines);
  delete factory->made;

  LogAdapterStore::addFactory("collect", new RecordingFactory(&deletions));
  EXPECT_EQ(1, deletions);  // the one replaced
  EXPECT_EQ(nullptr, LogAdapterStore::createLogAdapter("unregistered", JSOM::BLANK));
}

TEST_F(LoggerTest, WhatAConfigurationDoesNotUnderstandChangesNothing) {
  apply(R"({"categories": {"CfgNeverMade": "VERBOSE"}, "level": 5, "default": "UNKNOWN"})");
  EXPECT_FALSE(registered("CfgNeverMade"));
  EXPECT_EQ("ALL INFO", Logger::getMasterLogLevel().name + " " + Logger::getDefaultLogLevel().name);
  apply(R"({"categories": [{"CfgInArray": "DEBUG"}], "buffering": null})");
  EXPECT_FALSE(registered("CfgInArray"));
  EXPECT_TRUE(Logger::bufferingEnabled);
  apply(R"({"adapter": {"type": "no such factory"}})");
  apply(R"({"adapter": {"kind": "collect"}})");
  EXPECT_EQ(nullptr, Logger::logAdapter);

  // Named twice: the earlier occurrence is applied last and wins.
  apply(R"({"categories": {"CfgTwice": "ERROR", "CfgTwice": "TRACE"}})");
  EXPECT_EQ("ERROR", levelOf("CfgTwice"));

  testing::CaptureOutput err(2);
  Logger::loadConfig("/nonexistent/logging.json");
  EXPECT_EQ(
      "JSOM::fromFile(): could not open file\n"
      "Could not load file `/nonexistent/logging.json'.\n",
      err.finish());
}

}  // namespace
}  // namespace orvel
