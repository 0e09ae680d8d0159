// Rewrites ftrace text (the kernel's trace or trace_pipe, or trace-cmd
// report) so that spanmill reads every tracing_mark_write marker right:
// the thread id after the last '-' of the task column, a flags column, the
// kernel's event name, and ends as a bare "E". Other lines pass unchanged.
#ifndef ORVEL_TIDY_FTRACETIDY_H
#define ORVEL_TIDY_FTRACETIDY_H

#include <cstdint>
#include <string>
#include <string_view>

#include "tidy/Tidier.h"

namespace orvel {

// The columns of one event line, as views of it.
struct FtraceColumns {
  std::string_view task;     // from the line's start to the '-' before the pid
  std::string_view pid;      // the thread id's digits
  std::string_view toCpu;    // after the pid, up to and including the CPU field's ']'
  std::string_view cpu;      // set only where the CPU has no field of its own (trace-cmd -l)
  std::string_view toFlags;  // the blanks before the flags column
  std::string_view flags;    // empty when the line has no flags column
  std::string_view toTime;   // the blanks before the time stamp
  std::string_view time;     // without its ':'
  std::string_view event;    // the event's name
  std::string_view text;     // the event's text after its name, ':' and blanks
};

// Splits an event line; false for any other line (headers, comments) and
// for a marker event whose columns are not all there. The flags and the
// time stamp are looked for in marker events ("tracing_mark_write", and
// "print" as trace-cmd shows them) only.
bool splitFtraceLine(std::string_view line, FtraceColumns* columns);

class FtraceTidy : public Tidier {
 public:
  void tidy(const Line& line, Output* out, Warnings* warnings) override;
  void finish(Output* out, Warnings* warnings) override;

 private:
  void readHeader(std::string_view line, Warnings* warnings);
  // Writes the line as it came.
  static void pass(const Line& line, Output* out);

  uint64_t markers = 0;  // begin and end markers written
  // The line being read; kept from line to line, since clearing a new one
  // for every line costs a string instruction's slow start.
  FtraceColumns columns;
  std::string scratch;  // the line being rebuilt
};

}  // namespace orvel

#endif  // ORVEL_TIDY_FTRACETIDY_H
