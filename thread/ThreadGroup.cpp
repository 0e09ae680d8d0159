#include "thread/ThreadGroup.h"

#include "log/Logger.h"

namespace orvel {

namespace {

// The worker whose run() is on this thread, so that a job stopping its own
// worker (by closing its pool) is told apart from a stop by another thread.
thread_local ThreadGroup::WorkerThread* currentWorker = nullptr;

void fillMetric(Metric* metric, const std::string& instance, const char* name,
                const char* description) {
  metric->category = "Thread Group";
  metric->instance = instance;
  metric->name = name;
  metric->description = description;
}

}  // namespace

Logger* ThreadGroup::logger() {
  static Logger* const instance = Logger::getLogger("ThreadGroup");
  return instance;
}

ThreadGroup::ThreadGroup(const char* name) : ThreadGroup(std::string(name)) {}

ThreadGroup::ThreadGroup(const std::string& name) : name(name), workerName(name + " Worker") {
  logger()->tracef("constructor: this:%p name:%s", static_cast<void*>(this), name.c_str());
  fillMetric(&busyMetric, name, "Busy Count",
             "the number of thread group worker threads that are in use.");
  busyMetric.owner = this;
  MetricRegistry::Instance()->addMetric(&busyMetric);
  fillMetric(&countMetric, name, "Worker Count",
             "the number of worker threads allocated for thread group");
  countMetric.owner = this;
  MetricRegistry::Instance()->addMetric(&countMetric);
}

ThreadGroup::~ThreadGroup() {
  MetricRegistry::Instance()->removeMetric(&busyMetric);
  MetricRegistry::Instance()->removeMetric(&countMetric);
  close();
  logger()->tracef("destructor: name:%s", name.c_str());
}

void ThreadGroup::spawn(Runnable* runner, bool deleteUnrun) {
  if (closed) {
    return;
  }
  WorkerThread* worker = getWorker();
  if (worker == nullptr) {
    // close() came between the test above and getWorker(), or no thread
    // could be started.
    if (deleteUnrun && runner != nullptr) {
      delete runner;
    }
    return;
  }
  logger()->debugf("spawn: group:%s worker:%p runner:%p", name.c_str(), static_cast<void*>(worker),
                   static_cast<void*>(runner));
  worker->assign(runner, deleteUnrun);
  worker->release();  // getWorker's reference for this caller
}

ThreadGroup::WorkerThread* ThreadGroup::getWorker() {
  Synchronized hold(lock);
  // Tested under the lock: close() sets the flag before it takes the lock
  // to empty the lists, so no worker handed out here escapes its stop().
  if (closed) {
    return nullptr;
  }
  WorkerThread* worker;
  if (!idle.empty()) {
    worker = idle.back();
    idle.pop_back();
  } else {
    worker = new WorkerThread(this);
    worker->reserve();  // the pool's reference
    worker->start();
    if (!worker->started()) {
      // No thread will ever run a job given to it: the caller drops its
      // runner, and the worker goes with the pool's reference.
      worker->release();
      return nullptr;
    }
    workers.push_back(worker);
    logger()->debugf("getWorker: group:%s worker:%p new worker created.  There are %d workers.",
                     name.c_str(), static_cast<void*>(worker), static_cast<int>(workers.size()));
  }
  // Keeps the worker alive for the caller even if close() releases the
  // pool's reference before the caller has assigned its job.
  worker->reserve();
  return worker;
}

void ThreadGroup::putWorker(WorkerThread* worker) {
  if (closed) {
    return;
  }
  logger()->debugf("putWorker: group:%s worker:%p has returned", name.c_str(),
                   static_cast<void*>(worker));
  Synchronized hold(lock);
  // Again under the lock: after close() has emptied the lists, a worker
  // must not put itself back.
  if (!closed) {
    idle.push_back(worker);
  }
}

void ThreadGroup::close() {
  if (closed.exchange(true)) {
    return;
  }
  std::vector<WorkerThread*> stopping;
  {
    Synchronized hold(lock);
    stopping.swap(workers);
    idle.clear();
  }
  // Outside the pool lock: a worker finishing its job takes its own lock and
  // then the pool's, so stopping it while holding the pool lock could
  // deadlock. stop() waits until the worker is done with putWorker, which
  // keeps this pool alive for as long as any worker may touch it.
  for (WorkerThread* worker : stopping) {
    worker->stop();
    worker->release();
  }
}

double ThreadGroup::BusyMetric::collect() {
  Synchronized hold(owner->lock);
  size_t all = owner->workers.size();
  size_t waiting = owner->idle.size();
  return all > waiting ? static_cast<double>(all - waiting) : 0.0;
}

double ThreadGroup::CountMetric::collect() {
  Synchronized hold(owner->lock);
  return static_cast<double>(owner->workers.size());
}

ThreadGroup::WorkerThread::WorkerThread(ThreadGroup* owner)
    : Thread(owner->workerName), owner(owner) {}

void ThreadGroup::WorkerThread::assign(Runnable* runner, bool deleteUnrun) {
  Synchronized hold(workerLock);
  if (!stopped) {
    job = runner;
    this->deleteUnrun = deleteUnrun;
    workerLock.notify();
  } else if (deleteUnrun && runner != nullptr) {
    delete runner;
  }
}

void ThreadGroup::WorkerThread::stop() {
  if (currentWorker == this) {
    // Called from this worker's own job, which runs with workerLock held:
    // waiting here would wait for ourselves.
    stopped = true;
    return;
  }
  Synchronized hold(workerLock);
  if (stopped) {
    return;
  }
  stopped = true;
  workerLock.notify();
  if (startFailed()) {
    // No thread will ever take the job.
    if (deleteUnrun && job != nullptr) {
      delete job;
    }
    job = nullptr;
    return;
  }
  while (job != nullptr) {
    workerLock.notify();
    workerLock.wait();
  }
}

void ThreadGroup::WorkerThread::run() {
  currentWorker = this;
  Synchronized hold(workerLock);
  while (!stopped) {
    while (job == nullptr && !stopped) {
      workerLock.wait();
    }
    if (stopped) {
      break;  // a job assigned but not yet run is dropped
    }
    job->run();
    // Only a job closing this pool can have stopped the worker during the
    // run (stop() from another thread needs workerLock); the pool may be
    // gone since, so the worker does not return to it.
    if (!stopped) {
      owner->putWorker(this);
    }
    // Cleared only now, so that a stop() waiting for the job also waits
    // for putWorker.
    job = nullptr;
  }
  if (deleteUnrun && job != nullptr) {
    delete job;
  }
  job = nullptr;
  workerLock.notify();
  currentWorker = nullptr;
}

}  // namespace orvel
