#include <errno.h>

#include <chrono>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "tests/CaptureOutput.h"
#include "thread/Lock.h"

namespace orvel {
namespace {

using testing::CaptureOutput;

TEST(Lock, DeadlineCarriesIntoTheNextSecond) {
  timespec deadline = Lock::deadlineAfter({10, 800000999}, 1500);
  EXPECT_EQ(12, deadline.tv_sec);
  EXPECT_EQ(300000000, deadline.tv_nsec);  // whole microseconds of now, as stated

  deadline = Lock::deadlineAfter({5, 0}, 999);
  EXPECT_EQ(5, deadline.tv_sec);
  EXPECT_EQ(999000000, deadline.tv_nsec);

  deadline = Lock::deadlineAfter({5, 1000}, 60000);
  EXPECT_EQ(65, deadline.tv_sec);
  EXPECT_EQ(1000, deadline.tv_nsec);
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

TEST(Lock, NotifyWakesAWaiter) {
  Lock lock;
  bool ready = false;
  bool seen = false;
  std::thread waiter([&] {
    Synchronized hold(lock);
    while (!ready) {
      lock.wait();
    }
    seen = true;
  });
  {
    Synchronized hold(lock);
    ready = true;
    lock.notify();
  }
  waiter.join();
  EXPECT_TRUE(seen);
}

TEST(Lock, FailuresArePrintedWithTheSystemText) {
  CaptureOutput err(2);
  errno = 0;
  Lock::reportFailure(EINVAL, "pthread_mutex_lock() error");
  EXPECT_EQ(EINVAL, errno);
  Lock::reportFailure(0, "pthread_mutex_unlock() error");
  EXPECT_EQ("pthread_mutex_lock() error: Invalid argument\n", err.finish());
}

}  // namespace
}  // namespace orvel
