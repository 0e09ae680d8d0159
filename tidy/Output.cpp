#include "tidy/Output.h"

#include <errno.h>
#include <unistd.h>

#include <cstring>

namespace orvel {

Output::Output(int fd) : fd(fd), buffer(64 * 1024) {}

void Output::put(std::string_view text) {
  if (passFrom != nullptr) {
    settle();
  }
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
  if (passFrom != nullptr) {
    settle();
  }
  if (used == buffer.size()) {
    flush();
  }
  buffer[used++] = c;
}

void Output::settle() {
  if (passFrom == nullptr) {
    return;
  }
  const size_t length = static_cast<size_t>(passed - passFrom);
  const char* from = passFrom;
  passFrom = passed = nullptr;
  // A short piece is cheaper copied than written on its own.
  if (length <= buffer.size() - used && length < buffer.size() / 4) {
    std::memcpy(buffer.data() + used, from, length);
    used += length;
    return;
  }
  flush();
  writeOut(from, length);
}

void Output::writeOut(const char* data, size_t length) {
  for (size_t done = 0; done < length && writeError == 0;) {
    ssize_t wrote = write(fd, data + done, length - done);
    if (wrote >= 0) {
      done += static_cast<size_t>(wrote);
    } else if (errno != EINTR) {
      writeError = errno;
    }
  }
}

int Output::flush() {
  settle();
  writeOut(buffer.data(), used);
  used = 0;
  return writeError;
}

}  // namespace orvel
