// Reads the output of "strace -ttt -T -f" and turns system calls into spans.
#ifndef ORVEL_APP_STRACEPROCESSOR_H
#define ORVEL_APP_STRACEPROCESSOR_H

#include <cstddef>

#include "app/FunctionTraceProcessorBase.h"

namespace orvel {

// A call finished on its line becomes a whole span with the duration that
// strace shows in angle brackets; an unfinished call opens a span that the
// thread's next resumed line closes with the resumed line's duration. A
// bracketed text of at most 32 characters after the time stamp is the
// call's location. Every other line is ignored silently.
class StraceProcessor : public FunctionTraceProcessorBase {
 public:
  // Each line's first '<' is looked for with its end: a finished call's
  // duration follows it.
  StraceProcessor() { setLineMark('<'); }

 protected:
  void parseLine(const char* line, size_t length, bool noLineFeed, const char* readable,
                 const char* mark) override;
};

}  // namespace orvel

#endif  // ORVEL_APP_STRACEPROCESSOR_H
