#include "tidy/Output.h"

#include <errno.h>
#include <unistd.h>

#include <cstring>

namespace orvel {

Output::Output(int fd) : fd(fd), buffer(64 * 1024) {}

void Output::put(std::string_view text) {
  while (text.size() > buffer.size() - used) {
    const size_t room = buffer.size() - used;
    std::memcpy(buffer.data() + used, text.data(), room);
    used += room;
    text.remove_prefix(room);
    flush();
  }
  std::memcpy(buffer.data() + used, text.data(), text.size());
  used += text.size();
}

void Output::put(char c) {
  if (used == buffer.size()) {
    flush();
  }
  buffer[used++] = c;
}

int Output::flush() {
  for (size_t done = 0; done < used && writeError == 0;) {
    ssize_t wrote = write(fd, buffer.data() + done, used - done);
    if (wrote >= 0) {
      done += static_cast<size_t>(wrote);
    } else if (errno != EINTR) {
      writeError = errno;
    }
  }
  used = 0;
  return writeError;
}

}  // namespace orvel
