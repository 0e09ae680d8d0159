#include <atomic>
#include <chrono>
#include <string>

#include <gtest/gtest.h>

#include "log/Logger.h"
#include "tests/Testing.h"
#include "tests/thread/ThreadTesting.h"
#include "thread/Lock.h"
#include "thread/MetricRegistry.h"
#include "thread/Thread.h"

namespace orvel {
namespace {

using namespace testing;
using testing::CaptureOutput;

// A thread that opens a gate when it is deleted.
class ProbeThread : public Thread {
 public:
  ProbeThread(const char* name, Runnable* target, Gate* deleted)
      : Thread(name, target), deleted(deleted) {}
  ~ProbeThread() override { deleted->open(); }

 private:
  Gate* const deleted;
};

TEST(Thread, AStartedThreadRunsOnceThenDeletesItselfAFailedOneAtOnce) {
  std::atomic<int> runs{0};
  Job target([&] { ++runs; });

  // A failed creation is reported and gives the reference back; the
  // handle goes with the thread, as the debug log shows. The level is set
  // before any thread starts: a thread's destructor reads it.
  Gate failedDeleted;
  Logger::getLogger("Thread")->setLevel(LogLevel::valueOf("DEBUG"));
  CaptureOutput out(1), err(2);
  {
    FailThreadCreation failing;
    (new ProbeThread("doomed", &target, &failedDeleted))->start();
  }
  Logger::flushAll();
  Logger::getLogger("Thread")->setLevel(Logger::getDefaultLogLevel());
  EXPECT_EQ("Thread::start()  pthread_create failed\n", err.finish());
  EXPECT_NE(std::string::npos, out.finish().find("DEBUG deleting threadinfo in destructor"));
  EXPECT_TRUE(failedDeleted.wait());
  EXPECT_EQ(0, runs);

  Gate deleted;
  Thread* thread = new ProbeThread("probe", &target, &deleted);
  thread->start();
  ASSERT_TRUE(deleted.wait());
  EXPECT_EQ(1, runs);  // the target outlives the thread and ran once
  Gate emptyDeleted;
  (new ProbeThread("empty", nullptr, &emptyDeleted))->start();
  EXPECT_TRUE(emptyDeleted.wait());
}

TEST(Thread, AHolderKeepsItAliveUntilTheLastRelease) {
  std::atomic<int> runs{0};
  Job target([&] { ++runs; });
  Gate deleted;
  Thread* thread = new ProbeThread("reserved", &target, &deleted);
  thread->reserve();
  thread->start();
  thread->start();  // started once only
  // The thread is gone from the kernel once it has given its reference back.
  ASSERT_TRUE(eventually([&] { return runs == 1 && countThreadsNamed("reserved") == 0; }));
  EXPECT_TRUE(thread->release());
  EXPECT_TRUE(deleted.wait());

  Gate unstartedDeleted;
  Thread* unstarted = new ProbeThread("unstarted", nullptr, &unstartedDeleted);
  unstarted->reserve();
  unstarted->reserve();
  EXPECT_FALSE(unstarted->release());
  EXPECT_TRUE(unstarted->release());
  EXPECT_TRUE(unstartedDeleted.wait());
}

// Whole microseconds of now, plus the wait, carried into the seconds.
TEST(Lock, DeadlineCarriesIntoTheNextSecond) {
  std::string got;
  for (const auto& [now, wait] :
       {std::pair<timespec, unsigned>{{10, 800000999}, 1500}, {{5, 0}, 999}, {{5, 1000}, 60000}}) {
    const timespec deadline = Lock::deadlineAfter(now, wait);
    got += std::to_string(deadline.tv_sec) + "." + std::to_string(deadline.tv_nsec) + " ";
  }
  EXPECT_EQ("12.300000000 5.999000000 65.1000 ", got);
}

TEST(Lock, TimedWaitsRunTheirTimeSilently) {
  Lock lock;
  CaptureOutput err(2);
  auto begin = std::chrono::steady_clock::now();
  lock.lock();
  lock.wait(0);
  lock.wait(1500);
  lock.unlock();
  auto waited = std::chrono::steady_clock::now() - begin;
  EXPECT_GE(waited, std::chrono::milliseconds(1500));
  EXPECT_EQ("", err.finish());
}

// Metrics are listed once each until removed; a visitor that returns true
// stops the visit.
TEST(MetricRegistry, ListsEachMetricOnceUntilRemoved) {
  struct : Metric {
    double collect() override { return 42.0; }
  } first, second;
  first.category = second.category = "Test";
  struct Counter : MetricRegistry::Visitor {
    explicit Counter(bool stop) : stop(stop) {}
    bool visit(Metric* metric) override {
      calls += 1;
      mine += metric->category == "Test" ? 1 : 0;
      return stop;
    }
    const bool stop;
    int calls = 0;
    int mine = 0;
  } all(false), one(true), none(false);
  MetricRegistry* registry = MetricRegistry::Instance();
  registry->addMetric(&first);
  registry->addMetric(&first);
  registry->addMetric(&second);
  registry->visit(all);
  registry->visit(one);
  registry->removeMetric(&first);
  registry->removeMetric(&first);
  registry->removeMetric(&second);
  registry->visit(none);
  EXPECT_EQ("2 1 0", std::to_string(all.mine) + " " + std::to_string(one.calls) + " " +
                         std::to_string(none.mine));
}

}  // namespace
}  // namespace orvel
