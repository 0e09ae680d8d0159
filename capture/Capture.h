// spanmill-capture: runs a command and saves a trace of it that spanmill
// reads right, tidied by spanmill-tidy and, on request, converted.
#ifndef ORVEL_CAPTURE_CAPTURE_H
#define ORVEL_CAPTURE_CAPTURE_H

namespace orvel {

// The whole program. Returns the command's exit status (128 + the signal
// that killed it); 1 when the capture itself failed, after one line on
// standard error beginning "spanmill-capture: "; 0 or 2 as
// parseCaptureOptions says.
int runCapture(int argc, char* argv[]);

}  // namespace orvel

#endif  // ORVEL_CAPTURE_CAPTURE_H
