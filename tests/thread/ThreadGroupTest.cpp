#include <pthread.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/Testing.h"
#include "tests/thread/ThreadTesting.h"
#include "thread/MetricRegistry.h"
#include "thread/ThreadGroup.h"

namespace orvel {
namespace {

using namespace testing;

// The pool's two metrics, found through the registry by the pool's name:
// "busy/count".
std::string poolMetrics(const std::string& pool) {
  struct : MetricRegistry::Visitor {
    bool visit(Metric* metric) override {
      if (metric->instance == *pool) {
        (metric->name == "Busy Count" ? busy : count) = static_cast<int>(metric->collect());
      }
      return false;
    }
    const std::string* pool;
    int busy = -1;
    int count = -1;
  } metrics;
  metrics.pool = &pool;
  MetricRegistry::Instance()->visit(metrics);
  return std::to_string(metrics.busy) + "/" + std::to_string(metrics.count);
}

// A job that holds its worker until released, and says where it ran.
class BlockingJob : public Runnable {
 public:
  void run() override {
    thread = pthread_self();
    started.open();
    release.wait();
  }
  Gate started;
  Gate release;
  pthread_t thread;
};

TEST(ThreadGroup, BlockingJobsGetAWorkerEach) {
  ThreadGroup pool("Blocking");
  BlockingJob jobs[3];
  for (BlockingJob& job : jobs) {
    pool.spawn(&job, false);
    ASSERT_TRUE(job.started.wait());
  }
  EXPECT_EQ("3/3", poolMetrics("Blocking"));
  jobs[1].release.open();
  ASSERT_TRUE(eventually([&] { return poolMetrics("Blocking") == "2/3"; }));
  jobs[0].release.open();
  ASSERT_TRUE(eventually([&] { return poolMetrics("Blocking") == "1/3"; }));

  // The worker that came back last takes the next job.
  BlockingJob next;
  next.release.open();
  pool.spawn(&next, false);
  ASSERT_TRUE(next.started.wait());
  EXPECT_TRUE(pthread_equal(jobs[0].thread, next.thread));

  jobs[2].release.open();
  pool.close();
}

// Counts its deletion.
class CountedJob : public Runnable {
 public:
  explicit CountedJob(std::atomic<int>* deletions) : deletions(deletions) {}
  ~CountedJob() override { ++*deletions; }
  void run() override { ++runs; }
  std::atomic<int> runs{0};

 private:
  std::atomic<int>* const deletions;
};

TEST(ThreadGroup, JobsThePoolCannotRun) {
  std::atomic<int> deletions{0};

  // After close: neither run nor deleted, whatever deleteUnrun says.
  ThreadGroup closed("Closed");
  closed.close();
  CountedJob late(&deletions);
  closed.spawn(&late, true);
  EXPECT_EQ(nullptr, closed.getWorker());

  // A job that ran is not the pool's to delete.
  std::unique_ptr<CountedJob> ran(new CountedJob(&deletions));
  {
    ThreadGroup pool("Ran");
    pool.spawn(ran.get(), true);
    ASSERT_TRUE(eventually([&] { return ran->runs == 1; }));
  }

  // Without a thread for a new worker the job is dropped at once, deleted
  // only when asked to.
  CaptureOutput err(2);
  std::unique_ptr<CountedJob> kept(new CountedJob(&deletions));
  CountedJob* dropped = new CountedJob(&deletions);
  {
    FailThreadCreation failing;
    ThreadGroup pool("Unstarted");
    pool.spawn(dropped, true);
    pool.spawn(kept.get(), false);
    for (bool deleteUnrun : {true, false}) {  // a worker that never started drops its job

      ThreadGroup::WorkerThread* worker = new ThreadGroup::WorkerThread(&pool);
      worker->reserve();
      worker->start();
      worker->assign(deleteUnrun ? new CountedJob(&deletions) : kept.get(), deleteUnrun);
      worker->stop();
      worker->release();
    }
  }
  const std::string failed = "Thread::start()  pthread_create failed\n";
  EXPECT_EQ(failed + failed + failed + failed, err.finish());
  // So does a worker stopped before it got its job (spawn losing to close).
  ThreadGroup racing("Racing");
  ThreadGroup::WorkerThread* worker = racing.getWorker();
  racing.close();
  worker->assign(kept.get(), false);
  worker->assign(new CountedJob(&deletions), true);
  worker->release();
  EXPECT_EQ(0, late.runs);
  EXPECT_EQ(0, kept->runs);
  EXPECT_EQ(3, deletions);  // only the dropped jobs
}

TEST(ThreadGroup, CloseEndsEveryWorkerOnce) {
  ThreadGroup pool("Closing");
  BlockingJob busy;
  pool.spawn(&busy, false);
  ASSERT_TRUE(busy.started.wait());
  Job quick([] {});
  pool.spawn(&quick, false);
  ASSERT_TRUE(eventually([&] { return poolMetrics("Closing") == "1/2"; }));
  EXPECT_EQ(2, countThreadsNamed("Closing Worker"));

  std::thread closer([&] { pool.close(); });
  busy.release.open();  // close() waits for the running job
  closer.join();
  pool.close();
  EXPECT_EQ("0/0", poolMetrics("Closing"));
  EXPECT_TRUE(eventually([] { return countThreadsNamed("Closing Worker") == 0; }));
}

TEST(ThreadGroup, AJobMayCloseOrDeleteItsOwnPool) {
  Gate closedFromJob;
  ThreadGroup* pool = new ThreadGroup("SelfClosing");
  Job closer([&] {
    pool->close();
    closedFromJob.open();
  });
  pool->spawn(&closer, false);
  ASSERT_TRUE(closedFromJob.wait());

  Gate deletedFromJob;
  ThreadGroup* doomed = new ThreadGroup("SelfDeleting");
  Job deleter([&] {
    delete doomed;
    deletedFromJob.open();
  });
  doomed->spawn(&deleter, false);
  ASSERT_TRUE(deletedFromJob.wait());
  delete pool;
  EXPECT_TRUE(eventually([] {
    return countThreadsNamed("SelfClosing Wor") + countThreadsNamed("SelfDeleting Wo") == 0;
  }));
}

}  // namespace
}  // namespace orvel
