// spanmill-capture's command line.
#ifndef ORVEL_CAPTURE_CAPTUREOPTIONS_H
#define ORVEL_CAPTURE_CAPTUREOPTIONS_H

#include <string>
#include <vector>

namespace orvel {

struct CaptureOptions {
  std::string trace;              // -o: the tidied trace
  std::string report;             // -r: the report, "" for none
  unsigned long bufferKb = 4096;  // -b: the ftrace buffer per CPU
  bool strace = false;            // --strace: system calls instead of markers
  std::vector<char*> command;     // the command and its arguments, then a null
};

// The text -h prints.
extern const char kCaptureUsage[];

// Reads the command line into options. Returns -1 when the capture is to
// run; otherwise the exit status to end with: 0 after printing the usage on
// standard output (-h, --help), 2 after a line saying what is wrong and the
// usage on standard error. The command points into argv.
int parseCaptureOptions(int argc, char* argv[], CaptureOptions* options);

}  // namespace orvel

#endif  // ORVEL_CAPTURE_CAPTUREOPTIONS_H
