// Reads the text output of the kernel's ftrace tracer and turns its
// tracing_mark_write begin and end markers into spans.
#ifndef ORVEL_APP_FTRACEPROCESSOR_H
#define ORVEL_APP_FTRACEPROCESSOR_H

#include <cstddef>

#include "app/FunctionTraceProcessorBase.h"

namespace orvel {

// Marker texts: "B|field|name" begins name; "b|field|name|location" begins
// name at location; "E" alone or followed by a blank ends the innermost
// open span of the line's thread. Every other line is ignored silently.
class FtraceProcessor : public FunctionTraceProcessorBase {
 protected:
  void parseLine(const char* line, size_t length, bool noLineFeed, const char* readable,
                 const char* mark) override;
};

}  // namespace orvel

#endif  // ORVEL_APP_FTRACEPROCESSOR_H
