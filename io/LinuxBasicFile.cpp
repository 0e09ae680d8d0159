#include "io/LinuxBasicFile.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "io/LinuxDescriptor.h"

namespace orvel {

namespace linuxio {

int readSome(int fd, void* buffer, unsigned int length) {
  if (fd == -1) {
    return -2;
  }
  for (;;) {
    ssize_t count = ::read(fd, buffer, length);
    if (count >= 0) {
      return static_cast<int>(count);
    }
    if (errno != EINTR) {
      return errno == EAGAIN || errno == EWOULDBLOCK ? -1 : -2;
    }
    errno = 0;
  }
}

int writeSome(int fd, const void* buffer, unsigned int length) {
  if (fd == -1) {
    return -2;
  }
  for (;;) {
    ssize_t count = ::write(fd, buffer, length);
    if (count >= 0) {
      return static_cast<int>(count);
    }
    if (errno != EINTR) {
      return errno == EAGAIN || errno == EWOULDBLOCK ? -1 : -2;
    }
    errno = 0;
  }
}

void applyNonBlocking(int fd, bool on) {
  int flags = fcntl(fd, F_GETFL);
  fcntl(fd, F_SETFL, on ? flags | O_NONBLOCK : flags & ~O_NONBLOCK);
}

int accessFlags(unsigned int mode) {
  int access;
  switch (mode & 3) {
    case 1:
      access = O_WRONLY;
      break;
    case 2:
      access = O_RDWR;
      break;
    default:
      access = O_RDONLY;
      break;
  }
  return access | ((mode & 0x400) != 0 ? O_APPEND : 0);
}

int openFailure(int error) {
  switch (error) {
    case ENOENT:
      return -4;
    case EACCES:
      return -3;
    default:
      return -2;
  }
}

bool sameRegularFile(int fd, const char* path) {
  struct stat open;
  struct stat named;
  return fstat(fd, &open) == 0 && S_ISREG(open.st_mode) && stat(path, &named) == 0 &&
         open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

}  // namespace linuxio

LinuxBasicFile::~LinuxBasicFile() {
  close();
}

int LinuxBasicFile::read(void* buffer, unsigned int length) {
  return linuxio::readSome(fd, buffer, length);
}

int LinuxBasicFile::write(const void* buffer, unsigned int length) {
  return linuxio::writeSome(fd, buffer, length);
}

void LinuxBasicFile::close() {
  if (fd != -1) {
    ::close(fd);
    fd = -1;
  }
}

void LinuxBasicFile::setNonBlocking(bool on) {
  if (nonBlocking == on) {
    return;
  }
  nonBlocking = on;
  linuxio::applyNonBlocking(fd, on);  // no more than EBADF while closed
}

int LinuxBasicFile::openFile(const char* path, unsigned int mode) {
  close();
  int flags = linuxio::accessFlags(mode) | ((mode & 0x40) != 0 ? O_CREAT : 0) |
              (nonBlocking ? O_NONBLOCK : 0) | O_LARGEFILE | O_CLOEXEC;
  fd = ::open(path, flags, defaultMode);
  return fd == -1 ? linuxio::openFailure(errno) : 0;
}

void LinuxBasicFile::setFd(int fd) {
  this->fd = fd;
  eof = false;
}

}  // namespace orvel
