// Reads a descriptor line by line in memory that does not grow with the
// input: a line longer than kHeadBytes is given as its first kHeadBytes and
// its last kTailBytes, which is all that a trace line's reader needs (the
// fields in front, the duration at the end).
#ifndef ORVEL_TIDY_LINEREADER_H
#define ORVEL_TIDY_LINEREADER_H

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace orvel {

class Output;

// One line without its line feed. Views stay valid until the next call of
// LineReader::next.
struct Line {
  std::string_view head;  // the whole line, or its first kHeadBytes when cut
  // When cut: the line's last bytes after head, at most kTailBytes of them
  // (the whole rest when it is no longer).
  std::string_view tail;
  uint64_t length = 0;  // of the whole line
  bool cut() const { return length > head.size(); }
  // head is the whole line, and its line feed follows it in the reader's
  // buffer: it can be passed to Output::passLine.
  bool inPlace = false;
  // Where the reader was asked to note a byte (its `mark`) and the line is
  // in place: the first byte of head that is the mark or a NUL, or head's
  // end when there is none. Null when not known.
  const char* mark = nullptr;
};

class LineReader {
 public:
  static const size_t kHeadBytes = 65536;
  static const size_t kTailBytes = 4096;

  // Reads fd (not owned, not closed) from where it stands. Lines passed in
  // place to out (not owned; may be null) are settled before the buffer is
  // reused. A mark other than '\0' is looked for in each line in the same
  // pass that finds its line feed (see Line::mark).
  LineReader(int fd, Output* out, char mark = '\0');
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;

  // The next line: true with *line set, false at the end of the input or
  // on a read error (then error() is the errno). A last line without line
  // feed is a line. Bytes are given as they are, carriage returns included.
  bool next(Line* line);
  int error() const { return readError; }

 private:
  // The buffer's first byte used, aligned.
  char* base();
  // Moves the data not given out to base() + to.
  void moveTo(size_t to);
  // Reads once behind the data held; false at the end or on an error.
  bool readMore();
  // Gives the line that fills the buffer's first kHeadBytes: reads on to
  // its line feed, keeping only its last kTailBytes.
  void finishLongLine(Line* line);

  const int fd;
  Output* const out;
  const char mark;
  std::vector<char> buffer;  // [start, end) holds data not yet given out
  size_t start = 0;
  size_t end = 0;
  bool atEnd = false;  // the descriptor gave its end or failed
  int readError = 0;
  std::vector<char> tail;  // the end of a long line: its last kTailBytes and more
};

}  // namespace orvel

#endif  // ORVEL_TIDY_LINEREADER_H
