#include "tidy/Warnings.h"

#include <cinttypes>

namespace orvel {

void Warnings::print(std::FILE* to, const char* traceType) const {
  auto say = [&](Kind kind, const char* format) {
    if (counts[kind] > 0) {
      std::fputs("spanmill-tidy: warning: ", to);
      std::fprintf(to, format, counts[kind]);
      std::fputc('\n', to);
    }
  };
  say(kOverrun,
      "the trace buffer overran: %" PRIu64
      " events were overwritten (entries-written less entries-in-buffer); spans that began or "
      "ended in them are missing, and an end without its begin closes an outer span; capture "
      "with a larger buffer");
  say(kLostEvents, "%" PRIu64
                   " events were lost (\"[LOST N EVENTS]\" lines); spans that began or ended in "
                   "them are missing or wrong");
  say(kClockCounts, "%" PRIu64
                    " marker time stamps count clock ticks, not seconds (trace_clock x86-tsc or "
                    "counter): times and durations are wrong; capture with a clock that counts "
                    "seconds (mono, global or local)");
  say(kNoDuration, "%" PRIu64
                   " calls have no duration (strace without -T): they give no span; capture "
                   "with strace -ttt -T -f");
  if (counts[kNothingUsable] > 0) {
    std::fprintf(to, "spanmill-tidy: warning: no line of the input can give a span of type %s\n",
                 traceType);
  }
}

}  // namespace orvel
