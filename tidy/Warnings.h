// What a tidied trace still lacks: the losses that no rewriting can undo,
// counted by kind and told once per kind at the end.
#ifndef ORVEL_TIDY_WARNINGS_H
#define ORVEL_TIDY_WARNINGS_H

#include <cstdint>
#include <cstdio>

namespace orvel {

class Warnings {
 public:
  enum Kind {
    kOverrun,        // events the ring buffer overwrote, from the header's counts
    kLostEvents,     // events reported lost by "[LOST N EVENTS]" lines
    kClockCounts,    // marker time stamps that count clock ticks, not seconds
    kNoDuration,     // strace calls without their duration (no -T)
    kNothingUsable,  // no line of the input can give a span
    kKinds
  };

  void add(Kind kind, uint64_t count) { counts[kind] += count; }
  uint64_t count(Kind kind) const { return counts[kind]; }

  // One line on to for each kind counted.
  void print(std::FILE* to, const char* traceType) const;

 private:
  uint64_t counts[kKinds] = {};
};

}  // namespace orvel

#endif  // ORVEL_TIDY_WARNINGS_H
