#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/LineProcessor.h"
#include "io/LinuxBasicFile.h"
#include "io/LinuxPipe.h"
#include "io/PortableBasicFileFactory.h"
#include "io/PortableFileProcessor.h"

namespace orvel {
namespace {

// Records what reaches it; called on the selector's thread, read by the
// test after waitTilDone or close, which order the two.
class RecordingProcessor : public BlockProcessor {
 public:
  void processBuffer(const char* data, int length) override {
    blocks.push_back(length);
    bytes.append(data, length);
  }
  void processEOF() override { ++ends; }
  void processError(const char* message) override { errors.push_back(message); }

  std::vector<int> blocks;
  std::string bytes;
  std::vector<std::string> errors;
  int ends = 0;
};

// A file of the given text, opened for reading; the caller owns it until
// a file processor takes it.
PortableBasicFile* fileWith(const std::string& text) {
  char name[] = "/tmp/orvel-input-XXXXXX";
  int fd = mkstemp(name);
  if (write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
    return nullptr;
  }
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

TEST(PortableFileProcessor, SetUpFailuresFinishAtOnce) {
  RecordingProcessor processor;
  std::unique_ptr<PortableBasicFile> kept(fileWith("x"));  // refused: still ours
  PortableFileProcessor noProcessor(kept.get(), nullptr, 16);
  EXPECT_FALSE(noProcessor.registered());
  EXPECT_TRUE(noProcessor.waitTilDone(0));

  std::unique_ptr<PortableBasicFile> unopened(PortableBasicFileFactory::createBasicFile());
  PortableFileProcessor noDescriptor(unopened.get(), &processor, 16);
  EXPECT_FALSE(noDescriptor.registered());
  EXPECT_TRUE(noDescriptor.waitTilDone(0));
  noDescriptor.close();
  EXPECT_EQ(0, processor.ends);
}

// A pipe stays watched while its writer pauses, also after a read that
// finds nothing for now; an input that never ends is closed with one end.
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
  writeEnd->write("second", 6);
  EXPECT_FALSE(pump.waitTilDone(200));
  pump.close();
  EXPECT_EQ("first second", processor.bytes);
  EXPECT_EQ(1, processor.ends);
  EXPECT_TRUE(pump.waitTilDone(0));
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
