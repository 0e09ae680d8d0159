// The run of one conversion.
#ifndef ORVEL_APP_RUN_H
#define ORVEL_APP_RUN_H

#include "app/LineProcessor.h"
#include "app/Options.h"

namespace orvel {

// A new processor for the trace type ("ftrace_marker" or "strace", compared
// case-sensitively), owned by the caller; null for any other type.
CustomProcessor* getProcessor(const char* type);

// Makes the process safe to run in: /dev/null on any of descriptors 0, 1
// and 2 that is closed (so nothing opened later takes their place),
// SIGPIPE ignored (a reader that went away makes writes fail rather than
// end the process), and a failed new ending the program with
// "spanmill: out of memory". Call first thing in main.
void prepareProcess();

// Converts the input the settings name into the report. Returns the exit
// status: 0 when the conversion ran (even if its output failed), 1 after
// printing the reason when input, output or trace type is unusable.
int runConversion(const RunSettings& settings);

}  // namespace orvel

#endif  // ORVEL_APP_RUN_H
