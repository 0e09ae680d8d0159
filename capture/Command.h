// Running the programs of a capture: the command traced, strace,
// spanmill-tidy and spanmill. While one runs, SIGINT, SIGTERM and SIGHUP
// sent to the capture are passed on to it, so that the capture can save
// what was traced and clean up after it ends.
#ifndef ORVEL_CAPTURE_COMMAND_H
#define ORVEL_CAPTURE_COMMAND_H

#include <string>

namespace orvel {

// Catches SIGINT, SIGTERM and SIGHUP from now on: passed on to the program
// running, noted otherwise. Call once, before any program runs.
void catchStopSignals();

// The signal caught while no program ran, or 0.
int stopSignal();

// Runs argv (a null-terminated list; the program is looked up in PATH) to
// its end and returns its exit status, or 128 + the signal that killed it.
// Where switchFd is not -1, the child writes "1" to it just before exec:
// the tracing_on of a trace instance. Returns -1 and sets *error when the
// program could not be started.
int runToEnd(char* const argv[], int switchFd, std::string* error);

// The path of the program name in the folder of this process's executable.
std::string besideSelf(const char* name);

}  // namespace orvel

#endif  // ORVEL_CAPTURE_COMMAND_H
