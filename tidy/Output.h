// Buffered writing of the tidied trace to a descriptor. Lines that pass
// unchanged are written from where the reader holds them, not copied.
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
    if (passFrom != nullptr) {
      settle();
    }
    if (text.size() < buffer.size() - used) {
      std::memcpy(buffer.data() + used, text.data(), text.size());
      used += text.size();
      buffer[used++] = '\n';
    } else {
      put(text);
      put('\n');
    }
  }
  // Writes a line that comes unchanged, and its line feed, which follows
  // it where it stands: the reader's buffer, which must stay as it is until
  // settle(). Lines that follow each other there are written as one piece.
  void passLine(std::string_view text) {
    if (passed == text.data()) {
      passed += text.size() + 1;
    } else {
      settle();
      passFrom = text.data();
      passed = passFrom + text.size() + 1;
    }
  }
  // Takes the lines passed into the output: the reader calls it before it
  // reuses its buffer, and every other write first.
  void settle();

  // Writes out what is buffered. Returns 0, or the errno of the first
  // write that failed (later writes are then dropped).
  int flush();

 private:
  void writeOut(const char* data, size_t length);

  const int fd;
  std::vector<char> buffer;
  size_t used = 0;
  int writeError = 0;
  // Lines passed and not yet taken: [passFrom, passed) of the reader's buffer.
  const char* passFrom = nullptr;
  const char* passed = nullptr;
};

}  // namespace orvel

#endif  // ORVEL_TIDY_OUTPUT_H
