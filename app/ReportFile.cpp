#include "app/ReportFile.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <climits>

#include "io/LinuxDescriptor.h"

namespace orvel {

bool ReportFile::open(const char* path, bool append) {
  close();
  fd = ::open(path, O_WRONLY | O_CREAT | O_CLOEXEC | O_LARGEFILE | (append ? O_APPEND : O_TRUNC),
              0666);
  return fd != -1;
}

void ReportFile::close() {
  if (fd != -1) {
    ::close(fd);
    fd = -1;
  }
  locked = false;
}

std::streamsize ReportFile::xsputn(const char* data, std::streamsize count) {
  if (!locked) {
    locked = true;
    while (flock(fd, LOCK_EX) != 0 && errno == EINTR) {
    }
  }
  std::streamsize written = 0;
  while (written < count) {
    const std::streamsize left = count - written;
    const int piece = linuxio::writeSome(
        fd, data + written, static_cast<unsigned int>(left > INT_MAX ? INT_MAX : left));
    if (piece <= 0) {
      break;
    }
    written += piece;
  }
  return written;
}

int ReportFile::overflow(int c) {
  if (traits_type::eq_int_type(c, traits_type::eof())) {
    return traits_type::not_eof(c);
  }
  const char byte = traits_type::to_char_type(c);
  return xsputn(&byte, 1) == 1 ? c : traits_type::eof();
}

}  // namespace orvel
