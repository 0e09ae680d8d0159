#include <algorithm>
#include <cstdio>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "json/JSOM.h"
#include "log/LogAdapterStore.h"
#include "log/LogLevel.h"
#include "log/Logger.h"
#include "tests/CaptureOutput.h"

namespace orvel {
namespace {

// Cases start from the logging state of a fresh process: new loggers at
// INFO, master level ALL, lines to standard output, buffering on. The
// adapter and buffering are put back afterwards.
class FreshLogging : public ::testing::Test {
 protected:
  void SetUp() override {
    Logger::setDefaultLogLevel(LogLevel::valueOf("INFO"));
    Logger::setMasterLogLevel(LogLevel::valueOf("ALL"));
    Logger::logAdapter = nullptr;
    Logger::enableBuffering();
  }
  void TearDown() override {
    Logger::logAdapter = nullptr;
    Logger::enableBuffering();
  }
};

using testing::CaptureOutput;

TEST(LogLevel, LookupsAndThresholds) {
  const LogLevel& info = LogLevel::valueOf("info");
  EXPECT_EQ(LogLevel::LVL_INFO, &info);
  EXPECT_EQ(&info, &LogLevel::valueOf(std::string("INFO")));
  EXPECT_EQ(&info, &LogLevel::valueOf(std::string("info\0trailing", 13)));
  EXPECT_EQ("INFO", info.name);
  EXPECT_EQ(4, info.value);
  EXPECT_EQ(LogLevel::LVL_ALL, &LogLevel::valueOf("All"));
  for (const char* unknown : {"WARNING", "", "4", "UNKNOWN"}) {
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

  const LogLevel& error = LogLevel::valueOf("ERROR");
  EXPECT_FALSE(LogLevel::valueOf("OFF").allows(LogLevel::valueOf("FATAL")));
  EXPECT_TRUE(error.allows(LogLevel::valueOf("FATAL")) && error.allows(error));
  EXPECT_FALSE(error.allows(LogLevel::valueOf("WARN")));
  EXPECT_TRUE(LogLevel::valueOf(7).allows(LogLevel::valueOf("TRACE")));
}

using LoggerTest = FreshLogging;

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
  std::string prefix;
};

// The names of every logger made so far, in the order they are visited.
std::vector<std::string> loggerNames() {
  struct Finder : Logger::LoggerVisitor {
    void visit(Logger* logger) override { names.push_back(logger->getName()); }
    std::vector<std::string> names;
  } finder;
  Logger::visitLoggers(finder);
  return finder.names;
}

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

TEST_F(LoggerTest, VisitsLoggersInByteOrder) {
  for (const char* name : {"b-visit", "B-visit", "a-visit", "\xc3-visit"}) {
    Logger::getLogger(name);
  }
  std::vector<std::string> ours;
  for (const std::string& name : loggerNames()) {
    if (name.find("-visit") != std::string::npos) {
      ours.push_back(name);
    }
  }
  EXPECT_EQ((std::vector<std::string>{"B-visit", "a-visit", "b-visit", "\xc3-visit"}), ours);
}

// Makes adapters from their configuration, and counts its own deletion.
class CollectingFactory : public LogAdapterFactory {
 public:
  explicit CollectingFactory(int* deletions = nullptr) : deletions(deletions) {}
  ~CollectingFactory() override {
    if (deletions != nullptr) {
      ++*deletions;
    }
  }
  LogAdapter* create(const JSOM& config) override {
    JSOM handle(config);
    made = new RecordingAdapter();
    made->prefix = handle["prefix"].stringValue(JSOM::EMPTY_STRING);
    return made;
  }
  RecordingAdapter* made = nullptr;

 private:
  int* const deletions;
};

class LoggerConfigTest : public FreshLogging {
 protected:
  static void apply(const char* json) {
    JSOM config;
    ASSERT_NE(&JSOM::JERROR, &config.fromString(json)) << json;
    Logger::useConfig(config);
  }
  static bool registered(const std::string& name) {
    const std::vector<std::string> names = loggerNames();
    return std::find(names.begin(), names.end(), name) != names.end();
  }
};

TEST_F(LoggerConfigTest, AFileThatSetsEverything) {
  CollectingFactory* factory = new CollectingFactory();
  LogAdapterStore::addFactory("collect", factory);
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
  EXPECT_EQ("WARN", Logger::getDefaultLogLevel().name);
  EXPECT_EQ("DEBUG", Logger::getMasterLogLevel().name);
  EXPECT_EQ("DEBUG", Logger::getLogger("CfgSelector")->getLevel().name);
  EXPECT_EQ("TRACE", Logger::getLogger("CfgThread")->getLevel().name);
  EXPECT_EQ("WARN", Logger::getLogger("CfgNew")->getLevel().name);
  ASSERT_EQ(factory->made, Logger::logAdapter);
  EXPECT_EQ("p", factory->made->prefix);

  Logger::getLogger("CfgSelector")->debugf("seen %d", 1);
  Logger::getLogger("CfgThread")->tracef("capped by the master level");
  EXPECT_EQ(std::vector<std::string>{"DEBUG CfgSelector seen 1"}, factory->made->lines);
  delete factory->made;
}

TEST_F(LoggerConfigTest, WhatIsNotUnderstoodChangesNothing) {
  apply(R"({"categories": {"CfgNeverMade": "VERBOSE"}, "level": 5, "default": "UNKNOWN"})");
  EXPECT_FALSE(registered("CfgNeverMade"));
  EXPECT_EQ("ALL", Logger::getMasterLogLevel().name);
  EXPECT_EQ("INFO", Logger::getDefaultLogLevel().name);

  apply(R"({"categories": [{"CfgInArray": "DEBUG"}], "buffering": null})");
  EXPECT_FALSE(registered("CfgInArray"));
  EXPECT_TRUE(Logger::bufferingEnabled);

  apply(R"({"adapter": {"type": "no such factory"}})");
  EXPECT_EQ(nullptr, Logger::logAdapter);
  apply(R"({"adapter": {"kind": "collect"}})");
  EXPECT_EQ(nullptr, Logger::logAdapter);

  // Named twice: the earlier occurrence is applied last and wins.
  apply(R"({"categories": {"CfgTwice": "ERROR", "CfgTwice": "TRACE"}})");
  EXPECT_EQ("ERROR", Logger::getLogger("CfgTwice")->getLevel().name);

  testing::CaptureOutput err(2);
  Logger::loadConfig("/nonexistent/logging.json");
  EXPECT_EQ(
      "JSOM::fromFile(): could not open file\n"
      "Could not load file `/nonexistent/logging.json'.\n",
      err.finish());
}

TEST_F(LoggerConfigTest, FactoriesAreReplacedAndDeleted) {
  int deletions = 0;
  CollectingFactory* first = new CollectingFactory(&deletions);
  LogAdapterStore::addFactory("replaceable", first);
  LogAdapterStore::addFactory("replaceable", first);
  EXPECT_EQ(0, deletions);
  LogAdapterStore::addFactory("replaceable", new CollectingFactory(&deletions));
  EXPECT_EQ(1, deletions);
  EXPECT_EQ(nullptr, LogAdapterStore::createLogAdapter("unregistered", JSOM::BLANK));
}

}  // namespace
}  // namespace orvel
