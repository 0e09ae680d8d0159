#include "io/WholeFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace orvel {

int readAll(int fd, std::string* text) {
  struct stat status;
  if (fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_size > 0) {
    text->reserve(text->size() + static_cast<size_t>(status.st_size) + 1);
  }
  char block[65536];
  ssize_t got;
  while ((got = read(fd, block, sizeof block)) != 0) {
    if (got < 0 && errno != EINTR) {
      return errno;
    }
    if (got > 0) {
      text->append(block, static_cast<size_t>(got));
    }
  }
  return 0;
}

int readWholeFile(const char* path, std::string* text, bool* opened) {
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  *opened = fd >= 0;
  if (fd < 0) {
    return errno;
  }
  const int failed = readAll(fd, text);
  close(fd);
  return failed;
}

}  // namespace orvel
