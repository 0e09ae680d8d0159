// The run of one conversion.
#ifndef ORVEL_APP_RUN_H
#define ORVEL_APP_RUN_H

#include "app/LineProcessor.h"

namespace orvel {

// A new processor for the trace type ("ftrace_marker" or "strace", compared
// case-sensitively), owned by the caller; null for any other type.
CustomProcessor* getProcessor(const char* type);

}  // namespace orvel

#endif  // ORVEL_APP_RUN_H
