#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "io/LinuxBasicFile.h"
#include "io/LinuxPipe.h"
#include "io/LinuxSelector.h"
#include "io/PortableBasicFileFactory.h"
#include "io/PortableFileProcessor.h"
#include "io/PortableSelectorFactory.h"
#include "tests/Testing.h"
#include "tests/thread/ThreadTesting.h"

namespace orvel {
namespace {

using testing::eventually;
using testing::Gate;

// Cases run in a scratch folder of their own.
class FilesTest : public testing::ScratchTest {
 protected:
  static int fdOf(PortableFile* file) { return dynamic_cast<LinuxFileExt*>(file->ext())->getFd(); }
};

TEST_F(FilesTest, OpenCreateAppendAndFailures) {
  std::unique_ptr<PortableBasicFile> file(PortableBasicFileFactory::createBasicFile());
  EXPECT_EQ(-1, fdOf(file.get()));
  EXPECT_EQ(-4, file->openFile(path("missing").c_str(), 0));
  EXPECT_EQ(-2, file->openFile(folder.c_str(), 1));  // a folder cannot be written
  char buffer[16];
  EXPECT_EQ(-2, file->read(buffer, sizeof buffer));
  writeFile(path("secret"), "x");
  chmod(path("secret").c_str(), 0);
  // root reads whatever the permission bits say.
  EXPECT_EQ(geteuid() == 0 ? 0 : -3, file->openFile(path("secret").c_str(), 0));

  mode_t savedMask = umask(0);
  LinuxBasicFile created;
  ASSERT_EQ(0, created.openFile(path("new").c_str(), 0x40 | 1));
  struct stat status;
  stat(path("new").c_str(), &status);
  umask(savedMask);
  EXPECT_EQ(0664u, status.st_mode & 0777);
  EXPECT_EQ(5, created.write("hello", 5));
  created.close();
  created.close();
  LinuxBasicFile appending;
  ASSERT_EQ(0, appending.openFile(path("new").c_str(), 0x40 | 0x400 | 1));
  EXPECT_EQ(1, appending.write("!", 1));
  LinuxBasicFile overwriting;  // no truncation
  ASSERT_EQ(0, overwriting.openFile(path("new").c_str(), 2));
  EXPECT_EQ(1, overwriting.write("J", 1));

  LinuxBasicFile reading;
  ASSERT_EQ(0, reading.openFile(path("new").c_str(), 3));  // 3 reads
  EXPECT_EQ(6, reading.read(buffer, sizeof buffer));
  EXPECT_EQ("Jello!", std::string(buffer, 6));
  EXPECT_EQ(0, reading.read(buffer, sizeof buffer));
  EXPECT_FALSE(reading.isEOF());
  int first = reading.getFd();
  ASSERT_EQ(0, reading.openFile(path("new").c_str(), 0));
  EXPECT_EQ(first, reading.getFd());  // the earlier descriptor was closed, and reused
  EXPECT_EQ(-2, reading.write("x", 1));
}

// A 32-bit build needs 64-bit file offsets to open such a file at all.
TEST_F(FilesTest, FilesPastFourGigabytesOpenAndRead) {
  const off_t fourGigabytes = off_t(1) << 32;
  int fd = open(path("big").c_str(), O_WRONLY | O_CREAT, 0600);
  // Sparse: the first 4 GB take no room on the disk.
  ASSERT_EQ(0, ftruncate(fd, fourGigabytes + 100));
  ASSERT_EQ(4, pwrite(fd, "tail", 4, fourGigabytes + 10));
  close(fd);
  LinuxBasicFile file;
  ASSERT_EQ(0, file.openFile(path("big").c_str(), 0));
  ASSERT_EQ(fourGigabytes, lseek(fdOf(&file), fourGigabytes, SEEK_SET));
  char buffer[200] = {};
  ASSERT_EQ(100, file.read(buffer, sizeof buffer));
  EXPECT_EQ("tail", std::string(buffer + 10, 4));
}

TEST_F(FilesTest, NamedPipes) {
  writeFile(path("plain"), "x");
  LinuxPipe notAPipe;
  EXPECT_EQ(-5, notAPipe.openNamedPipe(path("plain").c_str(), 0));
  EXPECT_EQ(-4, notAPipe.openNamedPipe(path("absent").c_str(), 0));
  LinuxPipe reader;  // made, and opened without waiting for a writer
  reader.setNonBlocking(true);
  EXPECT_EQ(0, reader.openNamedPipe(path("fifo").c_str(), 0x40));
  EXPECT_NE(-1, fdOf(&reader));

  // A blocking reader whose writers went reopens the pipe without waiting in
  // open(), so a writer that came, wrote and went meanwhile is read: here a
  // new pipe at the path, holding the data, kept open by a reader only.
  reader.setNonBlocking(false);
  unlink(path("fifo").c_str());
  ASSERT_EQ(0, mkfifo(path("fifo").c_str(), 0600));
  const int kept = open(path("fifo").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  const int writer = open(path("fifo").c_str(), O_WRONLY | O_CLOEXEC);
  ASSERT_EQ(4, write(writer, "left", 4));
  close(writer);
  char buffer[8];
  alarm(20);  // a reader waiting in open() would never return
  EXPECT_EQ(4, reader.read(buffer, sizeof buffer));
  alarm(0);
  close(kept);
}

// A pipe whose deletion is seen, and a listener that records the callbacks
// (on the selector's thread; the test reads them after the gates). It
// reads what is there and keeps the file while keep says so.
class WatchedPipe : public LinuxPipe {
 public:
  explicit WatchedPipe(Gate* deleted) : deleted(deleted) { writeEnd.reset(openAnonymousPipe()); }
  ~WatchedPipe() override { deleted->open(); }
  std::unique_ptr<PortablePipe> writeEnd;

 private:
  Gate* const deleted;
};

class Recorder : public PortableSelector::Listener {
 public:
  bool onCanRead(PortableSelector*, PortableFile* file) override {
    char buffer[64];
    int count = file->read(buffer, sizeof buffer);
    received.append(buffer, count > 0 ? count : 0);
    return keep;
  }
  bool onError(PortableSelector*, PortableFile*, int) override { return false; }
  void onClose(PortableSelector*, PortableFile* file) override { closed.push_back(file); }

  bool keep = true;
  std::string received;
  std::vector<PortableFile*> closed;
};

TEST(LinuxSelector, ReadsFilesUntilTheyAreLetGoOrClosed) {
  Recorder recorder;      // outlives the selector
  recorder.keep = false;  // lets a file go once it read from it
  Gate deleted[3];
  std::unique_ptr<PortableSelector> selector(PortableSelectorFactory::createSelector());
  WatchedPipe* pipes[3];
  for (int i = 0; i < 3; ++i) {
    pipes[i] = new WatchedPipe(&deleted[i]);
    ASSERT_TRUE(selector->addFile(pipes[i], &recorder));
  }
  EXPECT_TRUE(selector->addFile(pipes[0], &recorder));  // already there, same listener
  Recorder other;
  EXPECT_FALSE(selector->addFile(pipes[0], &other));
  // Every watched file is served, not only the first; one let go leaves
  // the others watched.
  pipes[1]->writeEnd->write("one\n", 4);
  ASSERT_TRUE(deleted[1].wait());
  pipes[2]->writeEnd->write("two\n", 4);
  ASSERT_TRUE(deleted[2].wait());
  EXPECT_EQ("one\ntwo\n", recorder.received);
  selector->closeFile(pipes[0]);
  selector->closeFile(reinterpret_cast<PortableFile*>(&recorder));  // unknown: ignored
  ASSERT_TRUE(deleted[0].wait());

  selector->closeSelector();
  EXPECT_EQ(3u, recorder.closed.size());
  selector->closeSelector();
  Gate lateDeleted;
  WatchedPipe late(&lateDeleted);
  EXPECT_FALSE(selector->addFile(&late, &recorder));
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
  EXPECT_EQ(500000, LinuxSelector::wakeUpTimeout(1.5).tv_usec);
  EXPECT_EQ(250000, LinuxSelector::wakeUpTimeout(0.25).tv_usec);
  EXPECT_EQ(1, LinuxSelector::wakeUpTimeout(1e-9).tv_usec);
  EXPECT_EQ(2147483647, LinuxSelector::wakeUpTimeout(1e12).tv_sec);
}

// Records what reaches it; called on the selector's thread, read by the
// test after waitTilDone or close, which order the two.
class RecordingProcessor : public BlockProcessor {
 public:
  void processBuffer(const char* data, int length) override {
    thread = pthread_self();
    blocks.push_back(length);
    bytes.append(data, length);
  }
  void processEOF() override { ++ends; }
  void processError(const char* message) override { errors.push_back(message); }

  std::vector<int> blocks;
  std::string bytes;
  std::vector<std::string> errors;
  int ends = 0;
  std::atomic<pthread_t> thread{pthread_t()};  // the selector's
};

// A file of the given text, opened for reading; the caller owns it until
// a file processor takes it.
PortableBasicFile* fileWith(const std::string& text) {
  char name[] = "/tmp/orvel-input-XXXXXX";
  int fd = mkstemp(name);
  EXPECT_EQ(static_cast<ssize_t>(text.size()), write(fd, text.data(), text.size()));
  close(fd);
  PortableBasicFile* file = PortableBasicFileFactory::createBasicFile();
  file->openFile(name, 0);
  unlink(name);
  return file;
}

TEST(PortableFileProcessor, DeliversBlocksOfTheBufferSizeThenOneEnd) {
  RecordingProcessor big;
  {
    PortableFileProcessor pump(fileWith(std::string(100000, 'x')), &big, 65536);
    ASSERT_TRUE(pump.waitTilDone(10000));
  }
  EXPECT_EQ((std::vector<int>{65536, 34464}), big.blocks);
  EXPECT_EQ(1, big.ends);

  RecordingProcessor tiny;
  PortableFileProcessor pump(fileWith("abc"), &tiny, 0);
  ASSERT_TRUE(pump.waitTilDone(10000));
  EXPECT_EQ((std::vector<int>{1, 1, 1}), tiny.blocks);
  pump.close();
  pump.close();
  EXPECT_EQ(1, tiny.ends);

  // What cannot be set up is finished at once, without an end.
  RecordingProcessor none;
  std::unique_ptr<PortableBasicFile> kept(fileWith("x"));  // refused: still ours
  PortableFileProcessor noProcessor(kept.get(), nullptr, 16);
  std::unique_ptr<PortableBasicFile> unopened(PortableBasicFileFactory::createBasicFile());
  PortableFileProcessor noDescriptor(unopened.get(), &none, 16);
  EXPECT_FALSE(noProcessor.registered() || noDescriptor.registered());
  EXPECT_TRUE(noProcessor.waitTilDone(0) && noDescriptor.waitTilDone(0));
  noDescriptor.close();
  EXPECT_EQ(0, none.ends);
}

TEST(PortableFileProcessor, ShortInputsFinishAtOnce) {
  // The end of an empty file can be handled before the constructor returns.
  for (const char* text : {"", "one line\n"}) {
    for (int round = 0; round < 200; ++round) {
      RecordingProcessor processor;
      PortableFileProcessor pump(fileWith(text), &processor, 65536);
      ASSERT_TRUE(pump.waitTilDone(5000)) << "round " << round;
      ASSERT_EQ(1, processor.ends);
      ASSERT_EQ(text, processor.bytes);
    }
  }
}

// A pipe stays watched while its writer pauses, also after a read that
// finds nothing for now and signals that interrupt select (a handler
// without SA_RESTART); an input that never ends is closed with one end.
TEST(PortableFileProcessor, InputThatNeverEndsIsClosedWithOneEnd) {
  class PausingPipe : public LinuxPipe {
   public:
    int read(void* buffer, unsigned int length) override {
      return paused++ == 0 ? -1 : LinuxPipe::read(buffer, length);
    }
    int paused = 0;
  };
  PausingPipe* readEnd = new PausingPipe();
  std::unique_ptr<PortablePipe> writeEnd(readEnd->openAnonymousPipe());
  writeEnd->write("first ", 6);
  RecordingProcessor processor;
  PortableFileProcessor pump(readEnd, &processor, 64);
  EXPECT_FALSE(pump.waitTilDone(200));
  struct sigaction quiet = {};
  quiet.sa_handler = [](int) {};
  sigaction(SIGUSR1, &quiet, nullptr);
  ASSERT_TRUE(eventually([&] { return processor.thread.load() != pthread_t(); }));
  for (int i = 0; i < 50; ++i) {
    pthread_kill(processor.thread, SIGUSR1);  // the loop waits in select all but a moment
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  writeEnd->write("second", 6);
  EXPECT_FALSE(pump.waitTilDone(200));
  pump.close();
  EXPECT_EQ("first second", processor.bytes);
  EXPECT_EQ(1, processor.ends);
  EXPECT_TRUE(pump.waitTilDone(0));
}

// A readable trigger ends the input: one end, and nothing of the file after it.
TEST(PortableFileProcessor, AReadableTriggerEndsTheInput) {
  LinuxPipe* readEnd = new LinuxPipe();
  std::unique_ptr<PortablePipe> writeEnd(readEnd->openAnonymousPipe());
  RecordingProcessor processor;
  PortableFileProcessor pump(readEnd, &processor, 64);
  ASSERT_TRUE(pump.endInputWhenReadable(fileWith("a file is readable at once")));
  ASSERT_TRUE(pump.waitTilDone(10000));
  writeEnd->write("late", 4);
  pump.close();
  EXPECT_EQ("", processor.bytes);
  EXPECT_EQ(1, processor.ends);
}

TEST(PortableFileProcessor, AReadErrorIsReportedThenEnds) {
  // A descriptor open for writing only cannot be read.
  int ends[2];
  ASSERT_EQ(0, pipe(ends));
  LinuxBasicFile* writeOnly = new LinuxBasicFile();
  writeOnly->setFd(ends[1]);
  RecordingProcessor processor;
  {
    PortableFileProcessor pump(writeOnly, &processor, 64);
    close(ends[0]);  // the write end now reports readiness (an error)
    ASSERT_TRUE(pump.waitTilDone(10000));
  }
  EXPECT_EQ(std::vector<std::string>{"File processing error -2"}, processor.errors);
  EXPECT_EQ(1, processor.ends);
}

}  // namespace
}  // namespace orvel
