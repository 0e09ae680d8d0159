// A mutual-exclusion lock and its condition, in one object, and the scoped
// holder that takes it for a block.
//
// Failures of the thread library are printed on standard error (perror,
// with errno set to the pthread result) and otherwise ignored: no
// operation reports to its caller.
#ifndef ORVEL_THREAD_LOCK_H
#define ORVEL_THREAD_LOCK_H

#include <time.h>

namespace orvel {

class Lock {
 public:
  Lock();
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;
  virtual ~Lock();

  // Not recursive: a thread holding the lock must not take it again.
  void lock();
  void unlock();

  // Both waits need the lock held; they release it while waiting and hold
  // it again when they return. Wake-ups may be spurious: re-check the state
  // waited for after every return.
  void wait();
  // Waits at most ms milliseconds, measured on the monotonic clock, so a
  // change of the wall clock neither shortens nor stretches the wait. A
  // time-out is silent. Pass ms >= 0.
  void wait(int ms);

  // Called with the lock held.
  void notify();
  void notifyAll();

  // The absolute deadline ms milliseconds after now: seconds plus ms / 1000,
  // microseconds of now as nanoseconds plus (ms % 1000) milliseconds, one
  // carry when that passes a second.
  static timespec deadlineAfter(const timespec& now, int ms);

  // Prints "<operation>: <system text for result>" on standard error when
  // result, a pthread return code, is not 0.
  static void reportFailure(int result, const char* operation);

 private:
  struct Block;
  Block* block;  // owned; a mutex and its condition, allocated together
};

// Holds a lock from construction to destruction. Always a named variable:
// Synchronized hold(lock);
class Synchronized {
 public:
  explicit Synchronized(Lock& lock);
  Synchronized(const Synchronized&) = delete;
  Synchronized& operator=(const Synchronized&) = delete;
  virtual ~Synchronized();

 private:
  Lock* const held;  // not owned
};

}  // namespace orvel

#endif  // ORVEL_THREAD_LOCK_H
