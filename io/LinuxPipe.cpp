#include "io/LinuxPipe.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include "io/LinuxDescriptor.h"

namespace orvel {

LinuxPipe::~LinuxPipe() {
  close();
}

int LinuxPipe::read(void* buffer, unsigned int length) {
  for (;;) {
    int count = linuxio::readSome(fd, buffer, length);
    if (count != 0 || path.empty()) {
      return count;
    }
    // Every writer has gone: wait for the next one on a fresh descriptor.
    // Opened before the old one is closed, so that the pipe, and whatever a
    // writer put into it meanwhile, lives on. The open itself never waits:
    // a writer may have come, written and gone since the read above, and a
    // reader waiting in open() for a writer would wait for the one after it.
    int fresh = reopen(true);
    ::close(fd);
    fd = fresh;
    if (fd == -1) {
      return 0;
    }
    if (nonBlocking) {
      return -1;
    }
    linuxio::applyNonBlocking(fd, false);
    // A read end opened without writers is not readable until a writer
    // brings data or comes and goes; a read would see the end at once.
    pollfd wait = {fd, POLLIN, 0};
    while (poll(&wait, 1, -1) < 0 && errno == EINTR) {
    }
  }
}

int LinuxPipe::write(const void* buffer, unsigned int length) {
  return linuxio::writeSome(fd, buffer, length);
}

void LinuxPipe::close() {
  if (fd != -1) {
    ::close(fd);
    fd = -1;
  }
}

void LinuxPipe::setNonBlocking(bool on) {
  if (nonBlocking == on) {
    return;
  }
  nonBlocking = on;
  linuxio::applyNonBlocking(fd, on);  // no more than EBADF while closed
}

int LinuxPipe::reopen(bool withoutWaiting) {
  // The flag as it is now: a pipe made non-blocking after it was opened
  // must not block its reader in open() until a writer comes.
  int flags =
      openFlags | (nonBlocking || withoutWaiting ? O_NONBLOCK : 0) | O_LARGEFILE | O_CLOEXEC;
  return ::open(path.c_str(), flags);
}

int LinuxPipe::openNamedPipe(const char* path, unsigned int mode) {
  close();
  this->path = path;
  openFlags = linuxio::accessFlags(mode);
  if ((mode & 0x40) != 0 && mkfifo(path, defaultMode) != 0 && errno != EEXIST) {
    return errno == EACCES ? -3 : -2;
  }
  struct stat status;
  if (stat(path, &status) != 0) {
    return linuxio::openFailure(errno);
  }
  if (!S_ISFIFO(status.st_mode)) {
    return -5;
  }
  fd = reopen(false);
  return fd == -1 ? linuxio::openFailure(errno) : 0;
}

PortablePipe* LinuxPipe::openAnonymousPipe() {
  path.clear();
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) {
    return nullptr;
  }
  close();
  fd = ends[0];
  LinuxPipe* writeEnd = new LinuxPipe();
  writeEnd->setFd(ends[1]);
  if (nonBlocking) {
    linuxio::applyNonBlocking(fd, true);
    writeEnd->setNonBlocking(true);
  }
  return writeEnd;
}

void LinuxPipe::setFd(int fd) {
  this->fd = fd;
  eof = false;
}

}  // namespace orvel
