// Ctrl-C and SIGTERM as the end of the input.
#ifndef ORVEL_APP_STOPSIGNALS_H
#define ORVEL_APP_STOPSIGNALS_H

#include <signal.h>

namespace orvel {

class LinuxPipe;
class PortableFile;
class PortablePipe;

// While it exists, the first SIGINT or SIGTERM makes a pipe readable (the
// trigger), which the run hands to its file processor as the end of the
// input: the report then covers what was read. The handler writes one byte
// and gives both signals back their default action, both safe in a signal
// handler, so it touches no lock, and a second signal ends the program as
// it would without this object. A signal the process was started with
// ignored (nohup, a background job of a non-interactive shell) stays
// ignored. One object at a time, made and destroyed on the main thread.
class StopSignals {
 public:
  // Makes the pipe and installs the handlers; without a pipe the signals
  // keep their dispositions.
  StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;
  // Gives the signals back the dispositions found, then closes the pipe.
  // Whoever took the trigger must have let it go before: the write end's
  // closing makes it readable.
  ~StopSignals();

  // The pipe's read end, readable from the first signal on; the caller
  // owns it. Null when there is no pipe, or the trigger was taken before.
  PortableFile* takeTrigger();

 private:
  LinuxPipe* readEnd = nullptr;      // owned until taken
  PortablePipe* writeEnd = nullptr;  // owned; the handler writes to it
  struct sigaction found[2];         // SIGINT's and SIGTERM's dispositions before
  bool installed[2] = {false, false};
};

}  // namespace orvel

#endif  // ORVEL_APP_STOPSIGNALS_H
