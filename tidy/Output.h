// Buffered writing of the tidied trace to a descriptor.
#ifndef ORVEL_TIDY_OUTPUT_H
#define ORVEL_TIDY_OUTPUT_H

#include <cstddef>
#include <cstring>
#include <string_view>
#include <vector>

namespace orvel {

class Output {
 public:
  // Writes to fd (not owned, not closed).
  explicit Output(int fd);
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;

  void put(std::string_view text);
  void put(char c);
  // text and a line feed.
  void putLine(std::string_view text) {
    if (text.size() < buffer.size() - used) {
      std::memcpy(buffer.data() + used, text.data(), text.size());
      used += text.size();
      buffer[used++] = '\n';
    } else {
      put(text);
      put('\n');
    }
  }
  // Writes out what is buffered. Returns 0, or the errno of the first
  // write that failed (later writes are then dropped).
  int flush();

 private:
  const int fd;
  std::vector<char> buffer;
  size_t used = 0;
  int writeError = 0;
};

}  // namespace orvel

#endif  // ORVEL_TIDY_OUTPUT_H
