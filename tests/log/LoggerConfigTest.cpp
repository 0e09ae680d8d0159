#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "json/JSOM.h"
#include "log/LogAdapterStore.h"
#include "log/Logger.h"
#include "tests/CaptureOutput.h"
#include "tests/log/FreshLogging.h"

namespace orvel {
namespace {

class CollectingAdapter : public LogAdapter {
 public:
  void log(const LogLevel& level, const std::string& loggerName, const char* text, bool) override {
    lines.push_back(loggerName + " " + level.name + " " + text);
  }
  void log(const LogLevel& level, const std::string& loggerName, const std::string& text,
           bool buffering) override {
    log(level, loggerName, text.c_str(), buffering);
  }
  void flush() override {}
  std::vector<std::string> lines;
  std::string prefix;
};

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
    made = new CollectingAdapter();
    made->prefix = handle["prefix"].stringValue(JSOM::EMPTY_STRING);
    return made;
  }
  CollectingAdapter* made = nullptr;

 private:
  int* const deletions;
};

class LoggerConfigTest : public testing::FreshLogging {
 protected:
  static void apply(const char* json) {
    JSOM config;
    ASSERT_NE(&JSOM::JERROR, &config.fromString(json)) << json;
    Logger::useConfig(config);
  }
  static bool registered(const std::string& name) {
    struct Finder : Logger::LoggerVisitor {
      void visit(Logger* logger) override { names.push_back(logger->getName()); }
      std::vector<std::string> names;
    } finder;
    Logger::visitLoggers(finder);
    for (const std::string& each : finder.names) {
      if (each == name) {
        return true;
      }
    }
    return false;
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
  EXPECT_EQ(std::vector<std::string>{"CfgSelector DEBUG seen 1"}, factory->made->lines);
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
