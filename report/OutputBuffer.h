// Text that is written out in pieces of about a megabyte as it grows, so
// that an export or a listing holds a piece, never the whole of it.
#ifndef ORVEL_REPORT_OUTPUTBUFFER_H
#define ORVEL_REPORT_OUTPUTBUFFER_H

#include <cstdint>
#include <ostream>
#include <string>

namespace orvel {

class OutputBuffer {
 public:
  explicit OutputBuffer(std::ostream& out) : out(out) {}
  OutputBuffer(const OutputBuffer&) = delete;
  OutputBuffer& operator=(const OutputBuffer&) = delete;
  ~OutputBuffer() { flush(); }

  std::string text;  // appended to by the writer

  // Call between records: writes the text once it is a piece.
  void piece() {
    if (text.size() >= (1u << 20)) {
      flush();
    }
  }
  void flush() {
    written += text.size();
    out << text;
    text.clear();
  }
  // The bytes written and still to be written.
  uint64_t size() const { return written + text.size(); }

 private:
  std::ostream& out;
  uint64_t written = 0;
};

}  // namespace orvel

#endif  // ORVEL_REPORT_OUTPUTBUFFER_H
