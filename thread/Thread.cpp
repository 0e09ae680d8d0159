#include "thread/Thread.h"

#include <sys/prctl.h>

#include <cstdio>

#include "log/Logger.h"

namespace orvel {

void SelfDestructingObject::reserve() {
  Synchronized hold(*this);
  ++count;
}

bool SelfDestructingObject::release() {
  int32_t left;
  {
    Synchronized hold(*this);
    left = --count;
  }
  if (left != 0) {
    return false;
  }
  delete this;
  return true;
}

std::atomic<Thread::CreateFunction> Thread::createFunction{pthread_create};

Logger* Thread::logger() {
  // Fetched once; a thread deleting itself may read it while others start.
  static Logger* const instance = Logger::getLogger("Thread");
  return instance;
}

Thread::Thread(const std::string& name) : Thread(name, nullptr) {}

Thread::Thread(const char* name) : Thread(std::string(name), nullptr) {}

Thread::Thread(const char* name, Runnable* target) : Thread(std::string(name), target) {}

Thread::Thread(const std::string& name, Runnable* target) : name(name), target(target) {
  logger();
}

Thread::~Thread() {
  if (handle != nullptr) {
    logger()->debugf("deleting threadinfo in destructor this is [%p]", static_cast<void*>(this));
    delete handle;
  }
}

void Thread::run() {
  if (target != nullptr) {
    target->run();
  }
}

void Thread::start() {
  if (handle != nullptr) {
    return;
  }
  Logger* log = logger();
  log->debugf("Creating Thread");
  reserve();  // the running thread's reference
  handle = new pthread_t();
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  // The new thread may have finished and deleted this object by the time
  // the call returns, so it writes into a local, and this object is not
  // touched again on success.
  pthread_t created;
  int result = createFunction.load()(&created, &attributes, bootstrap, this);
  pthread_attr_destroy(&attributes);
  if (result != 0) {
    std::fputs("Thread::start()  pthread_create failed\n", stderr);
    std::fflush(stderr);
    failedToStart = true;
    // No thread will give the reference back. This deletes the object when
    // nobody else holds it, as a finished thread would have.
    release();
    return;
  }
  log->debugf("Thread Created successfully");
}

void* Thread::bootstrap(void* thread) {
  Thread* self = static_cast<Thread*>(thread);
  prctl(PR_SET_NAME, self->name.c_str(), 0, 0, 0);
  self->run();
  self->release();
  return nullptr;
}

}  // namespace orvel
