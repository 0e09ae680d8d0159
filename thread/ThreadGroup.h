// A pool of reusable worker threads with no upper limit on their number.
#ifndef ORVEL_THREAD_THREADGROUP_H
#define ORVEL_THREAD_THREADGROUP_H

#include <atomic>
#include <string>
#include <vector>

#include "thread/Lock.h"
#include "thread/MetricRegistry.h"
#include "thread/Thread.h"

namespace orvel {

class Logger;

// Lock order: a worker's own lock before the pool's lock (a worker returns
// itself to the pool while holding its own). The pool never holds its lock
// while it takes a worker's: close() moves the lists out under the pool
// lock and stops the workers after releasing it.
class ThreadGroup {
 public:
  // One pooled thread. It runs one job at a time, with its own lock held,
  // and then returns itself to the pool.
  class WorkerThread : public Thread {
   public:
    // owner must outlive the worker's thread; close() guarantees it.
    explicit WorkerThread(ThreadGroup* owner);

    // Gives the worker its next job. A stopped worker runs nothing: it
    // deletes runner when deleteUnrun is true.
    void assign(Runnable* runner, bool deleteUnrun);
    // Asks the worker to end and waits until it has dropped or finished its
    // job, and returned itself to the pool if it was about to. A worker whose
    // thread never started drops its job at once (deleting it when asked
    // to). Called from the worker's own job (the job closes its pool), it
    // only marks the worker stopped: the worker ends after that job,
    // without returning to the pool.
    void stop();
    void run() override;
    // False when no thread could be created for the worker.
    bool started() const { return !startFailed(); }

   private:
    // The worker's own lock and condition, distinct from the reference
    // count's lock that Thread inherits; always named explicitly.
    Lock workerLock;
    bool stopped = false;      // the worker ends and takes no more jobs
    bool deleteUnrun = false;  // a job dropped without running is deleted
    Runnable* job = nullptr;   // assigned and not finished; owned only as deleteUnrun says
    ThreadGroup* const owner;  // not owned
  };

  class BusyMetric : public Metric {
   public:
    // Workers created minus workers idle; never negative.
    double collect() override;
    ThreadGroup* owner = nullptr;  // not owned
  };

  class CountMetric : public Metric {
   public:
    // Workers created.
    double collect() override;
    ThreadGroup* owner = nullptr;  // not owned
  };

  explicit ThreadGroup(const char* name);
  explicit ThreadGroup(const std::string& name);
  ThreadGroup(const ThreadGroup&) = delete;
  ThreadGroup& operator=(const ThreadGroup&) = delete;
  // Closes the pool: returns when every worker has finished its job.
  virtual ~ThreadGroup();

  // Runs runner on a pool thread; runner is not owned. After close() the
  // runner is neither run nor deleted. A spawn that loses a race with
  // close(), or finds that no thread can be started, drops the runner,
  // deleting it when deleteUnrun is true.
  void spawn(Runnable* runner, bool deleteUnrun);
  // An idle worker (the one that returned last) or a new one, or null once
  // the pool is closed or when no thread could be started for a new one. The caller holds one
  // reference on the worker and must release() it after assigning a job.
  WorkerThread* getWorker();
  // Called by a worker that finished a job; ignored once the pool is closed.
  void putWorker(WorkerThread* worker);
  // Stops every worker, waiting for running jobs to finish, and empties the
  // pool. Later calls do nothing. Safe from any thread, a job of this pool
  // included (that job's worker ends after it).
  void close();

 private:
  static Logger* logger();

  std::vector<WorkerThread*> workers;  // every worker, in creation order; one reference each
  std::vector<WorkerThread*> idle;     // workers waiting for work; a stack
  Lock lock;                           // guards workers and idle
  std::string name;
  std::string workerName;  // the workers' thread name: name + " Worker"
  // Read without the lock as a shortcut, and again under it where it matters.
  std::atomic<bool> closed{false};
  BusyMetric busyMetric;
  CountMetric countMetric;
};

}  // namespace orvel

#endif  // ORVEL_THREAD_THREADGROUP_H
