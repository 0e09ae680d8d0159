// A fixture whose cases start from the logging state of a fresh process:
// new loggers at INFO, master level ALL, lines to standard output,
// buffering on. The adapter and buffering are put back afterwards.
#ifndef ORVEL_TESTS_LOG_FRESHLOGGING_H
#define ORVEL_TESTS_LOG_FRESHLOGGING_H

#include <gtest/gtest.h>

#include "log/Logger.h"

namespace orvel {
namespace testing {

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

}  // namespace testing
}  // namespace orvel

#endif  // ORVEL_TESTS_LOG_FRESHLOGGING_H
