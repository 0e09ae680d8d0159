#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "tests/ScratchTest.h"

#include "io/LinuxBasicFile.h"
#include "io/LinuxPipe.h"
#include "io/PortableBasicFileFactory.h"

namespace orvel {
namespace {

// Cases run in a scratch folder of their own.
class FilesTest : public testing::ScratchTest {
 protected:
  static int fdOf(PortableFile* file) { return dynamic_cast<LinuxFileExt*>(file->ext())->getFd(); }
};

TEST_F(FilesTest, OpenFailures) {
  std::unique_ptr<PortableBasicFile> file(PortableBasicFileFactory::createBasicFile());
  EXPECT_EQ(-1, fdOf(file.get()));
  EXPECT_EQ(-4, file->openFile(path("missing").c_str(), 0));
  EXPECT_EQ(-1, fdOf(file.get()));
  EXPECT_EQ(-2, file->openFile(folder.c_str(), 1));  // a folder cannot be written
  char buffer[4];
  EXPECT_EQ(-2, file->read(buffer, sizeof buffer));
  EXPECT_EQ(-2, file->write("x", 1));

  writeFile(path("secret"), "x");
  chmod(path("secret").c_str(), 0);
  if (geteuid() == 0) {
    // root reads whatever the permission bits say.
    EXPECT_EQ(0, file->openFile(path("secret").c_str(), 0));
  } else {
    EXPECT_EQ(-3, file->openFile(path("secret").c_str(), 0));
  }
}

TEST_F(FilesTest, CreateAppendAndNoTruncation) {
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
  LinuxBasicFile overwriting;
  ASSERT_EQ(0, overwriting.openFile(path("new").c_str(), 2));
  EXPECT_EQ(1, overwriting.write("J", 1));

  LinuxBasicFile reading;
  ASSERT_EQ(0, reading.openFile(path("new").c_str(), 3));  // 3 reads
  char buffer[16];
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
  const std::string big = path("big");
  int fd = open(big.c_str(), O_WRONLY | O_CREAT, 0600);
  ASSERT_NE(-1, fd);
  // Sparse: the first 4 GB take no room on the disk.
  ASSERT_EQ(0, ftruncate(fd, fourGigabytes + 100));
  ASSERT_EQ(4, pwrite(fd, "tail", 4, fourGigabytes + 10));
  close(fd);

  LinuxBasicFile file;
  ASSERT_EQ(0, file.openFile(big.c_str(), 0));
  ASSERT_EQ(fourGigabytes, lseek(fdOf(&file), fourGigabytes, SEEK_SET));
  char buffer[200] = {};
  ASSERT_EQ(100, file.read(buffer, sizeof buffer));
  EXPECT_EQ("tail", std::string(buffer + 10, 4));
  EXPECT_EQ(0, file.read(buffer, sizeof buffer));
}

TEST_F(FilesTest, AnonymousPipes) {
  LinuxPipe readEnd;
  readEnd.setNonBlocking(true);
  std::unique_ptr<PortablePipe> writeEnd(readEnd.openAnonymousPipe());
  ASSERT_NE(nullptr, writeEnd);
  EXPECT_NE(0, fcntl(fdOf(&readEnd), F_GETFL) & O_NONBLOCK);
  EXPECT_NE(0, fcntl(fdOf(writeEnd.get()), F_GETFL) & O_NONBLOCK);

  char buffer[8];
  EXPECT_EQ(-1, readEnd.read(buffer, sizeof buffer));
  EXPECT_EQ(3, writeEnd->write("abc", 3));
  EXPECT_EQ(3, readEnd.read(buffer, sizeof buffer));
  writeEnd->close();
  EXPECT_EQ(0, readEnd.read(buffer, sizeof buffer));

  LinuxBasicFile file;
  int ends[2];
  ASSERT_EQ(0, pipe(ends));
  file.setFd(ends[0]);
  file.setNonBlocking(true);  // applied to the open descriptor
  EXPECT_NE(0, fcntl(ends[0], F_GETFL) & O_NONBLOCK);
  file.setNonBlocking(false);
  EXPECT_EQ(0, fcntl(ends[0], F_GETFL) & O_NONBLOCK);
  close(ends[1]);
}

TEST_F(FilesTest, NamedPipes) {
  writeFile(path("plain"), "x");
  LinuxPipe notAPipe;
  EXPECT_EQ(-5, notAPipe.openNamedPipe(path("plain").c_str(), 0));
  EXPECT_EQ(-4, notAPipe.openNamedPipe(path("absent").c_str(), 0));

  // A blocking reader keeps reading from the next writer.
  const std::string fifo = path("fifo");
  std::thread writers([&] {
    for (const char* text : {"first", "second"}) {
      LinuxPipe writer;
      while (writer.openNamedPipe(fifo.c_str(), 0x40 | 1) != 0) {
        std::this_thread::yield();
      }
      writer.write(text, 5);
    }
  });
  LinuxPipe reader;
  ASSERT_EQ(0, reader.openNamedPipe(fifo.c_str(), 0x40));
  char buffer[5];
  std::string got;
  while (got.size() < 10) {
    int count = reader.read(buffer, sizeof buffer);
    ASSERT_GT(count, 0);
    got.append(buffer, count);
  }
  writers.join();
  EXPECT_EQ("firstsecon", got);

  // Made non-blocking after opening, it reopens without waiting for a writer.
  reader.setNonBlocking(true);
  int count;
  do {
    count = reader.read(buffer, sizeof buffer);
  } while (count > 0);
  EXPECT_EQ(-1, count);
  EXPECT_NE(-1, fdOf(&reader));
}

}  // namespace
}  // namespace orvel
