// Runnables, reference-counted objects that delete themselves, and named
// detached threads built on them.
#ifndef ORVEL_THREAD_THREAD_H
#define ORVEL_THREAD_THREAD_H

#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <string>

#include "thread/Lock.h"

namespace orvel {

class Logger;

class Runnable {
 public:
  virtual ~Runnable() = default;
  virtual void run() = 0;
};

class SelfDestructingResource {
 public:
  virtual ~SelfDestructingResource() = default;
  virtual void reserve() = 0;
  // Returns true when this was the last reference and the object is gone.
  virtual bool release() = 0;
};

// Counts references under its inherited lock, which guards nothing else,
// and deletes itself when release() brings the count to 0. reserve() and
// release() are safe from any thread; after its own last release() a
// holder must not touch the object.
class SelfDestructingObject : public Lock, public SelfDestructingResource {
 public:
  void reserve() override;
  bool release() override;

 private:
  int32_t count = 0;
};

// A named, detached thread running run(): a subclass's override, or the
// target's run(). Never joined: the running thread holds a reference from
// start() until run() returns, so an object nobody else holds deletes
// itself on its own thread when done. A holder that uses the object after
// start() takes its own reference first.
class Thread : public Runnable, public SelfDestructingObject {
 public:
  // target is not owned and must outlive the run.
  explicit Thread(const std::string& name);
  explicit Thread(const char* name);
  Thread(const std::string& name, Runnable* target);
  Thread(const char* name, Runnable* target);
  ~Thread() override;

  // Starts the thread once; later calls do nothing. Called by the owner
  // before any other thread sees the object. After it returns, a caller
  // without a reference of its own must not touch the object.
  void start();
  void run() override;

  // The entry handed to pthread_create; returns null.
  static void* bootstrap(void* thread);

  // The function start() creates threads with: pthread_create, unless a
  // test replaces it to provoke a failure.
  using CreateFunction = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
  static std::atomic<CreateFunction> createFunction;

 protected:
  // True when start() ran and the thread could not be created. Written only
  // before the object is shared; read under whatever lock shares it.
  bool startFailed() const { return failedToStart; }

  static Logger* logger();

 private:
  std::string name;             // given to the kernel, which keeps 15 characters
  pthread_t* handle = nullptr;  // owned; set once start() has run
  Runnable* const target;       // not owned; may be null
  bool failedToStart = false;
};

}  // namespace orvel

#endif  // ORVEL_THREAD_THREAD_H
