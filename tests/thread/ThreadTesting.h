// Helpers for tests that start threads.
#ifndef ORVEL_TESTS_THREAD_THREADTESTING_H
#define ORVEL_TESTS_THREAD_THREADTESTING_H

#include <dirent.h>
#include <errno.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "thread/Thread.h"

namespace orvel {
namespace testing {

// Polls until done() holds, for at most ten seconds.
inline bool eventually(const std::function<bool()>& done) {
  auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!done()) {
    if (std::chrono::steady_clock::now() > limit) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// A one-way gate: threads wait until someone opens it.
class Gate {
 public:
  void open() { isOpen = true; }
  // True when the gate opened within ten seconds.
  bool wait() {
    return eventually([this] { return isOpen.load(); });
  }

 private:
  std::atomic<bool> isOpen{false};
};

// How many threads of this process the kernel knows by name.
inline int countThreadsNamed(const std::string& name) {
  int count = 0;
  DIR* tasks = opendir("/proc/self/task");
  while (dirent* entry = tasks == nullptr ? nullptr : readdir(tasks)) {
    std::ifstream comm(std::string("/proc/self/task/") + entry->d_name + "/comm");
    std::string each;
    count += std::getline(comm, each) && each == name ? 1 : 0;
  }
  if (tasks != nullptr) {
    closedir(tasks);
  }
  return count;
}

// Runs the given function.
class Job : public Runnable {
 public:
  explicit Job(std::function<void()> body) : body(std::move(body)) {}
  void run() override { body(); }

 private:
  std::function<void()> body;
};

// Makes every thread creation fail while it exists.
class FailThreadCreation {
 public:
  FailThreadCreation() : saved(Thread::createFunction.exchange(fail)) {}
  ~FailThreadCreation() { Thread::createFunction = saved; }

 private:
  static int fail(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*) { return EAGAIN; }
  Thread::CreateFunction saved;
};

}  // namespace testing
}  // namespace orvel

#endif  // ORVEL_TESTS_THREAD_THREADTESTING_H
