#include <sys/resource.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "io/LinuxPipe.h"
#include "io/LinuxSelector.h"
#include "io/PortableSelectorFactory.h"
#include "tests/thread/ThreadTesting.h"

namespace orvel {
namespace {

using testing::Gate;

// A pipe whose read end is registered, and whose deletion is seen.
class WatchedPipe : public LinuxPipe {
 public:
  explicit WatchedPipe(Gate* deleted) : deleted(deleted) { writeEnd.reset(openAnonymousPipe()); }
  ~WatchedPipe() override { deleted->open(); }
  void send(const std::string& text) { writeEnd->write(text.data(), text.size()); }

  std::unique_ptr<PortablePipe> writeEnd;

 private:
  Gate* const deleted;
};

// Records the callbacks; onCanRead reads what is there and keeps the file
// while keep says so. Runs on the selector's thread, read after the gates.
class Recorder : public PortableSelector::Listener {
 public:
  bool onCanRead(PortableSelector*, PortableFile* file) override {
    char buffer[64];
    int count = file->read(buffer, sizeof buffer);
    if (count > 0) {
      received.append(buffer, count);
      if (received.find('\n') != std::string::npos) {
        lineSeen.open();
      }
    }
    return keep;
  }
  bool onError(PortableSelector*, PortableFile*, int) override { return false; }
  void onClose(PortableSelector*, PortableFile* file) override {
    closed.push_back(file);
    if (closed.size() == expectedCloses) {
      allClosed.open();
    }
  }

  bool keep = true;
  std::string received;
  std::vector<PortableFile*> closed;
  size_t expectedCloses = 1;
  Gate lineSeen;
  Gate allClosed;
};

TEST(LinuxSelector, ReadsAddedFilesUntilTheListenerLetsGo) {
  Recorder recorder;  // both outlive the selector
  Gate deleted;
  std::unique_ptr<PortableSelector> selector(PortableSelectorFactory::createSelector());
  recorder.keep = false;
  WatchedPipe* pipe = new WatchedPipe(&deleted);
  ASSERT_TRUE(selector->addFile(pipe, &recorder));
  EXPECT_TRUE(selector->addFile(pipe, &recorder));  // already there, same listener
  Recorder other;
  EXPECT_FALSE(selector->addFile(pipe, &other));
  pipe->send("line\n");
  ASSERT_TRUE(recorder.lineSeen.wait());
  ASSERT_TRUE(recorder.allClosed.wait());
  EXPECT_TRUE(deleted.wait());
  EXPECT_EQ("line\n", recorder.received);
  EXPECT_EQ(1u, recorder.closed.size());
}

TEST(LinuxSelector, ClosingFilesAndTheSelector) {
  Recorder recorder;  // both outlive the selector
  Gate deleted[3];
  std::unique_ptr<PortableSelector> selector(PortableSelectorFactory::createSelector());
  WatchedPipe* pipes[3];
  for (int i = 0; i < 3; ++i) {
    pipes[i] = new WatchedPipe(&deleted[i]);
    ASSERT_TRUE(selector->addFile(pipes[i], &recorder));
  }
  selector->closeFile(pipes[0]);
  selector->closeFile(reinterpret_cast<PortableFile*>(&recorder));  // unknown: ignored
  ASSERT_TRUE(deleted[0].wait());

  selector->closeSelector();
  EXPECT_EQ(3u, recorder.closed.size());
  selector->closeSelector();
  Gate extraDeleted;
  WatchedPipe* late = new WatchedPipe(&extraDeleted);
  EXPECT_FALSE(selector->addFile(late, &recorder));
  delete late;
}

TEST(LinuxSelector, RefusesWhatSelectCannotWatch) {
  Recorder recorder;  // outlives the selector
  std::unique_ptr<PortableSelector> selector(PortableSelectorFactory::createSelector());
  LinuxBasicFile closedFile;
  EXPECT_FALSE(selector->addFile(&closedFile, &recorder));
  EXPECT_FALSE(selector->addFile(nullptr, &recorder));
  EXPECT_FALSE(selector->addFile(&closedFile, nullptr));

  rlimit limit;
  getrlimit(RLIMIT_NOFILE, &limit);
  if (limit.rlim_cur <= FD_SETSIZE && limit.rlim_max > FD_SETSIZE + 1) {
    limit.rlim_cur = FD_SETSIZE + 1;
    setrlimit(RLIMIT_NOFILE, &limit);
  }
  int ends[2];
  ASSERT_EQ(0, pipe(ends));
  LinuxBasicFile high;
  high.setFd(dup2(ends[0], FD_SETSIZE));
  ASSERT_EQ(FD_SETSIZE, high.getFd());
  EXPECT_FALSE(selector->addFile(&high, &recorder));
  close(ends[0]);
  close(ends[1]);
}

TEST(LinuxSelector, WakeUpTimeouts) {
  timeval timeout = LinuxSelector::wakeUpTimeout(1.5);
  EXPECT_EQ(1, timeout.tv_sec);
  EXPECT_EQ(500000, timeout.tv_usec);
  timeout = LinuxSelector::wakeUpTimeout(1e-9);
  EXPECT_EQ(0, timeout.tv_sec);
  EXPECT_EQ(1, timeout.tv_usec);
  timeout = LinuxSelector::wakeUpTimeout(1e12);
  EXPECT_EQ(2147483647, timeout.tv_sec);

  // A selector that wakes up now and then still reads its files.
  Recorder recorder;  // both outlive the selector, which calls them until closed
  Gate deleted;
  LinuxSelector selector;
  selector.setWakeUpInterval(0.001);
  WatchedPipe* pipe = new WatchedPipe(&deleted);
  ASSERT_TRUE(selector.addFile(pipe, &recorder));
  usleep(20000);
  pipe->send("late\n");
  EXPECT_TRUE(recorder.lineSeen.wait());
}

TEST(LinuxSelector, ALoopThatNeverStartsDoesNotHoldUpClosing) {
  Recorder recorder;
  std::unique_ptr<PortableSelector> selector;
  {
    testing::FailThreadCreation failing;
    selector.reset(PortableSelectorFactory::createSelector());
  }
  Gate deleted;
  WatchedPipe* pipe = new WatchedPipe(&deleted);
  // Refused when no thread could be started; accepted otherwise (an idle
  // worker of the default pool took the loop).
  if (selector->addFile(pipe, &recorder)) {
    selector->closeSelector();
    EXPECT_TRUE(deleted.wait());
  } else {
    delete pipe;
  }
  selector->closeSelector();
}

}  // namespace
}  // namespace orvel
