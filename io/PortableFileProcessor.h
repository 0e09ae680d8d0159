// Pumps one input file into a processor chain on a selector's thread, and
// lets the creating thread wait for the end of input.
#ifndef ORVEL_IO_PORTABLEFILEPROCESSOR_H
#define ORVEL_IO_PORTABLEFILEPROCESSOR_H

#include "app/LineProcessor.h"
#include "io/PortableFile.h"
#include "io/PortableSelector.h"
#include "thread/Lock.h"

namespace orvel {

class Logger;

// The creating thread constructs, waits, closes and destroys; everything
// that reaches the processor happens on the selector's thread, one call at
// a time. Lock order: the selector's lock before this object's.
class PortableFileProcessor : private PortableSelector::Listener {
 public:
  // Registers file with a selector of its own, which then owns the file,
  // and reads it in blocks of at most bufferSize bytes (0 counts as 1)
  // into processor (not owned; must outlive this object). When set-up
  // fails (a null file or processor, no memory, a file the selector
  // refuses), it logs a warning, the caller keeps the file, and the
  // processor is never called.
  PortableFileProcessor(PortableFile* file, BlockProcessor* processor, unsigned int bufferSize);
  PortableFileProcessor(const PortableFileProcessor&) = delete;
  PortableFileProcessor& operator=(const PortableFileProcessor&) = delete;
  virtual ~PortableFileProcessor();

  // Whether the constructor handed the file to the selector.
  bool registered() const { return fileRegistered; }

  // Ends the input when trigger becomes readable, as the end of the file
  // would: the processor gets its end of input there, and nothing of the
  // file after it. From a true result the selector owns trigger; on false
  // (no selector, a trigger given before, a file the selector refuses)
  // the caller keeps it. Call from the creating thread.
  bool endInputWhenReadable(PortableFile* trigger);

  // True once the input has been handled completely (processEOF has
  // returned) or set-up failed; false when ms milliseconds of the
  // monotonic clock ran out first.
  bool waitTilDone(unsigned int ms);

  // Stops reading: the end of input is delivered if it has not been, then
  // the selector is deleted and the buffer freed. Later calls do nothing.
  void close();

 private:
  bool onCanRead(PortableSelector* selector, PortableFile* file) override;
  bool onError(PortableSelector* selector, PortableFile* file, int code) override;
  void onClose(PortableSelector* selector, PortableFile* file) override;
  // With the lock held, on the selector's thread: the end of input goes
  // to the processor unless it has already, and the waiters are woken.
  void endInput();
  static Logger* logger();

  unsigned int readsPerEvent = 1;        // reads made for one readiness notification
  BlockProcessor* const processor;       // not owned
  PortableSelector* selector = nullptr;  // owned
  char* buffer = nullptr;                // owned; malloc'ed
  unsigned int bufferSize;               // at least 1
  // No more input will be delivered: false only while the file is
  // registered and its end has not been handled.
  bool done = true;
  PortableFile* trigger = nullptr;  // ends the input when readable; null: none
  Lock lock;                        // guards done and trigger; waitTilDone waits on it
  bool fileRegistered = false;      // the selector took the file
};

}  // namespace orvel

#endif  // ORVEL_IO_PORTABLEFILEPROCESSOR_H
