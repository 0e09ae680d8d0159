// marker-bench: what a marker of include/spanmill/markers.h costs, against a
// bare write(2) of the same text to the same file.
//
//   marker-bench [ROUNDS [CALLS]]     (default 15 rounds of 200000 calls)
//
// Writes to the file SPANMILL_MARKER names (bench/markers.sh points it at a
// tracefs instance of its own). Each round times CALLS calls of each kind
// in turn; prints min/median/max of the nanoseconds per call over the rounds,
// one line per kind. Where the file cannot be opened, the markers do nothing
// and the bare write is left out.
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "include/spanmill/markers.h"

namespace {

double nowNanoseconds() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) * 1e9 + static_cast<double>(now.tv_nsec);
}

int bareFd = -1;
std::string bareText;
long failedWrites = 0;  // the bare writes' failures, counted as the markers ignore theirs

void bareWrite() {
  failedWrites += write(bareFd, bareText.data(), bareText.size()) < 0;
}
void begin() {
  spanmill_begin("frame");
}
void beginHere() {
  SPANMILL_BEGIN("frame");
}
void beginAt() {
  spanmill_begin_at("frame", "ui/Renderer.cpp:1187");
}
void end() {
  spanmill_end();
}
void pid() {
  getpid();
}

struct Kind {
  const char* label;
  void (*call)();
  std::vector<double> perCall;  // nanoseconds, one a round
};

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 15;
  const int calls = argc > 2 ? std::atoi(argv[2]) : 200000;
  const char* marker = std::getenv("SPANMILL_MARKER");
  bareFd = marker == nullptr ? -1 : open(marker, O_WRONLY | O_APPEND | O_CLOEXEC);
  bareText = "B|" + std::to_string(getpid()) + "|frame\n";

  std::vector<Kind> kinds = {{"write(2), bare", bareWrite, {}}, {"spanmill_begin", begin, {}},
                             {"SPANMILL_BEGIN", beginHere, {}}, {"spanmill_begin_at", beginAt, {}},
                             {"spanmill_end", end, {}},         {"getpid()", pid, {}}};
  if (bareFd == -1) {
    kinds.erase(kinds.begin());
  }
  spanmill_end();  // opens the marker file before any timing
  for (int round = 0; round < rounds; ++round) {
    for (Kind& kind : kinds) {
      const double start = nowNanoseconds();
      for (int i = 0; i < calls; ++i) {
        kind.call();
      }
      kind.perCall.push_back((nowNanoseconds() - start) / calls);
    }
  }
  for (Kind& kind : kinds) {
    std::sort(kind.perCall.begin(), kind.perCall.end());
    std::printf("  %-20s min/median/max %8.1f / %8.1f / %8.1f ns\n", kind.label, kind.perCall[0],
                kind.perCall[kind.perCall.size() / 2], kind.perCall.back());
  }
  return 0;
}
