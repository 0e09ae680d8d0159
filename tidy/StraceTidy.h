// Rewrites strace output so that spanmill reads every call right: a thread
// id column, seconds as time stamps, no location on resumed lines, and at
// most 512 characters after the time stamp, in which the first '<' behind
// the call's name is its duration's. A call that needs rewriting has its
// quoted strings emptied as -s 0 prints them and its -y descriptor
// annotations removed. Lines that are not calls, and calls spanmill reads
// right already, pass unchanged.
#ifndef ORVEL_TIDY_STRACETIDY_H
#define ORVEL_TIDY_STRACETIDY_H

#include <cstdint>
#include <string>
#include <string_view>

#include "tidy/Tidier.h"

namespace orvel {

class StraceTidy : public Tidier {
 public:
  // The most that spanmill reads after a line's time stamp.
  static const size_t kRestLimit = 512;

  // Lines without a thread id column are given defaultId: the id in an
  // strace -ff file's name, or one fixed id for the traced process.
  explicit StraceTidy(std::string defaultId) : defaultId(std::move(defaultId)) {}

  void tidy(const Line& line, Output* out, Warnings* warnings) override;
  void finish(Warnings* warnings) override;

 private:
  // Writes a clock time "HH:MM:SS[.frac]" as seconds since the midnight
  // before the first one, counting a day on when the clock goes back.
  void putClockAsSeconds(std::string_view clock, std::string* to);
  // Counts the call as a span, or as a call without its duration.
  void count(std::string_view call, Warnings* warnings);

  const std::string defaultId;
  uint64_t usable = 0;  // calls that give spanmill an event
  uint64_t days = 0;    // midnights passed since the first clock time
  uint64_t lastClock = 0;
  std::string call;     // the call text being rebuilt
  std::string rebuilt;  // the line being rebuilt
};

// The call text with every quoted string emptied as strace -s 0 prints it
// ("" for an empty string, ""... for any other) and every -y annotation
// after a descriptor number removed, appended to out.
void cleanStraceCall(std::string_view call, std::string* out);

}  // namespace orvel

#endif  // ORVEL_TIDY_STRACETIDY_H
