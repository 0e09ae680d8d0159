#include "thread/Lock.h"

#include <errno.h>
#include <pthread.h>

#include <cstdio>
#include <cstdlib>

namespace orvel {

struct Lock::Block {
  pthread_mutex_t mutex;
  pthread_cond_t condition;
};

void Lock::reportFailure(int result, const char* operation) {
  if (result != 0) {
    errno = result;
    std::perror(operation);
  }
}

Lock::Lock() : block(static_cast<Block*>(std::malloc(sizeof(Block)))) {
  if (block == nullptr) {
    // A lock that cannot exclude would corrupt whatever it guards.
    std::perror("Lock: cannot allocate");
    std::abort();
  }
  reportFailure(pthread_mutex_init(&block->mutex, nullptr), "pthread_mutex_init() error");
  // Timed waits run on the monotonic clock: the wall clock may be set.
  pthread_condattr_t attributes;
  pthread_condattr_init(&attributes);
  pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC);
  reportFailure(pthread_cond_init(&block->condition, &attributes), "pthread_cond_init() error");
  pthread_condattr_destroy(&attributes);
}

Lock::~Lock() {
  if (block == nullptr) {
    return;
  }
  pthread_mutex_destroy(&block->mutex);
  pthread_cond_destroy(&block->condition);
  std::free(block);
  block = nullptr;
}

void Lock::lock() {
  reportFailure(pthread_mutex_lock(&block->mutex), "pthread_mutex_lock() error");
}

void Lock::unlock() {
  reportFailure(pthread_mutex_unlock(&block->mutex), "pthread_mutex_unlock() error");
}

void Lock::wait() {
  reportFailure(pthread_cond_wait(&block->condition, &block->mutex), "pthread_cond_wait() error");
}

timespec Lock::deadlineAfter(const timespec& now, int ms) {
  timespec deadline;
  deadline.tv_sec = now.tv_sec + ms / 1000;
  // The microseconds of now, as a wall-clock reading would give them.
  long nanoseconds = (now.tv_nsec / 1000) * 1000 + static_cast<long>(ms % 1000) * 1000000L;
  if (nanoseconds > 999999999L) {
    deadline.tv_sec += 1;
    nanoseconds -= 1000000000L;
  }
  deadline.tv_nsec = nanoseconds;
  return deadline;
}

void Lock::wait(int ms) {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  timespec deadline = deadlineAfter(now, ms);
  int result = pthread_cond_timedwait(&block->condition, &block->mutex, &deadline);
  if (result == ETIMEDOUT) {
    errno = result;
  } else {
    reportFailure(result, "pthread_cond_timedwait() error");
  }
}

void Lock::notify() {
  reportFailure(pthread_cond_signal(&block->condition), "pthread_cond_signal() error");
}

void Lock::notifyAll() {
  reportFailure(pthread_cond_broadcast(&block->condition), "pthread_cond_broadcast() error");
}

Synchronized::Synchronized(Lock& lock) : held(&lock) {
  held->lock();
}

Synchronized::~Synchronized() {
  held->unlock();
}

}  // namespace orvel
