// The processor chain: blocks of input bytes become characters, characters
// become lines, and lines go to a trace parser.
//
// Each level of the single inheritance line adds one virtual operation; the
// order of declaration below is the order of the virtual slots and is kept
// on purpose.
//
// None of these classes locks: the caller guarantees that calls on one
// processor never overlap (the file processor calls from its one worker).
#ifndef ORVEL_APP_LINEPROCESSOR_H
#define ORVEL_APP_LINEPROCESSOR_H

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>

namespace orvel {

// The root of the chain: what a file reader knows of a processor.
class BlockProcessor {
 public:
  BlockProcessor() = default;
  BlockProcessor(const BlockProcessor&) = delete;
  BlockProcessor& operator=(const BlockProcessor&) = delete;
  virtual ~BlockProcessor() = default;

  // Called once per successful read, in reading order, with length >= 1.
  // The bytes are valid only during the call: copy what must be kept.
  virtual void processBuffer(const char* data, int length) = 0;

  // Called once when the input has ended, after the last processBuffer.
  virtual void processEOF() {}

  // Called when reading fails; message describes the failure.
  virtual void processError(const char* /*message*/) {}

  // Returns the processor to its constructed state so it can take another
  // input. Never called by the file reader.
  virtual void reset() {}
};

// Splits each block into single bytes.
class CharProcessor : public BlockProcessor {
 public:
  // Hands data[0] .. data[length - 1] to processChar in order; a length of 0
  // or less does nothing.
  void processBuffer(const char* data, int length) override;

  virtual void processChar(char c) = 0;
};

// Assembles characters into lines. A line feed ends a line; carriage returns
// are dropped wherever they stand; every other byte (NUL and bytes from 0x80
// up included) is kept. Lines are delivered whole unless a subclass sets a
// keep limit.
class LineProcessor : public CharProcessor {
 public:
  // Delivers the last, unterminated line, if any, and closes the processor.
  // Does nothing when already closed.
  void processEOF() override;

  // Closes the processor and drops the partial line: nothing more is
  // delivered until reset().
  void processError(const char* message) override;

  // Reopens the processor with an empty line.
  void reset() override;

  void processChar(char c) override;

  // Called once per complete line, in input order. The line is this
  // object's own buffer, emptied when the call returns: copy what must be
  // kept. It never holds a line feed or a carriage return.
  virtual void processLine(const std::string& line) = 0;

 protected:
  // Keeps at most bytes of each line (not counting carriage returns): the
  // rest of a longer line is counted but dropped, so a line that never
  // ends costs no more memory than that. Set it before any input.
  void setKeepLimit(size_t bytes) { keepLimit = bytes; }

  // Whether text is the line this processor assembled, which never holds
  // a line feed (processLine may also be called with other strings).
  bool assembledHere(const std::string& text) const { return &text == &line; }

  // For subclasses that take a block at a time: delivers the lines of
  // data[0 .. length), which the caller lets this write into, exactly as
  // handing each byte to processChar would. A line that lies whole in the
  // block and holds no carriage return goes to processLineInPlace with its
  // line feed (or its first byte past the keep limit) overwritten by a NUL;
  // the others are assembled and go to processLine. The bytes from data up
  // to readable may be read.
  void processWritableBlock(char* data, int length, const char* readable);

  // One line of processWritableBlock, where it stands: text[length] is a
  // NUL, the bytes up to readable may be read, and none is a line feed.
  // mark, where not null, is strchrnul(text, the line mark): found in the
  // pass that found the line's end. By default a copy goes to processLine.
  virtual void processLineInPlace(const char* text, size_t length, const char* readable,
                                  const char* mark);

  // The byte whose first place in each line processWritableBlock looks for
  // while it looks for the line's end; '\0', the default, for none.
  void setLineMark(char mark) { lineMark = mark; }

 private:
  // Adds to lineLength, which saturates.
  void countLength(int64_t added);
  // Appends [from, to) to the line, up to the keep limit.
  void keep(const char* from, const char* to);
  // Appends [from, to) to the line without its carriage returns, up to the
  // keep limit.
  void keepWithoutCarriageReturns(const char* from, const char* to);

  bool closed = false;  // the input ended or failed: characters are ignored
  // Characters received since the last line end, carriage returns included;
  // above zero when a partial line awaits the end of input. Saturates
  // rather than wrapping on a line longer than 2^31 bytes.
  int32_t lineLength = 0;
  std::string line;             // the line being assembled; its storage is reused
  size_t keepLimit = SIZE_MAX;  // bytes of a line kept in line
  char lineMark = '\0';
};

// A line processor that writes a report for a time window.
class CustomProcessor : public LineProcessor {
 public:
  // Sets where the report goes (not owned; must outlive the processor's
  // last processEOF) and the time window: the start and the duration in
  // seconds, and the skew and offset that rescale input time stamps.
  // Called before any input is given.
  virtual void setup(std::ostream* out, double startTime, double duration, double skew,
                     double offset) = 0;
};

}  // namespace orvel

#endif  // ORVEL_APP_LINEPROCESSOR_H
