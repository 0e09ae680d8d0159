#include <atomic>
#include <string>

#include <gtest/gtest.h>

#include "tests/CaptureOutput.h"
#include "tests/thread/ThreadTesting.h"
#include "thread/Thread.h"

namespace orvel {
namespace {

using namespace testing;

// A thread that opens a gate when it is deleted.
class ProbeThread : public Thread {
 public:
  ProbeThread(const char* name, Runnable* target, Gate* deleted)
      : Thread(name, target), deleted(deleted) {}
  ~ProbeThread() override { deleted->open(); }

 private:
  Gate* const deleted;
};

TEST(Thread, AStartedThreadRunsOnceThenDeletesItself) {
  std::atomic<int> runs{0};
  Job target([&] { ++runs; });
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

TEST(Thread, AFailedCreationIsReportedAndGivesTheReferenceBack) {
  std::atomic<int> runs{0};
  Job target([&] { ++runs; });
  Gate deleted;
  CaptureOutput err(2);
  {
    FailThreadCreation failing;
    (new ProbeThread("doomed", &target, &deleted))->start();
  }
  EXPECT_EQ("Thread::start()  pthread_create failed\n", err.finish());
  EXPECT_TRUE(deleted.wait());
  EXPECT_EQ(0, runs);
}

}  // namespace
}  // namespace orvel
