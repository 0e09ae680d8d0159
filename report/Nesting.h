// How the spans of one thread nest: the one walk that self times, call
// paths and the evented exports all take, so that they agree.
//
// A span is nested in another when it begins at or after the other's start
// and before its end, and ends no more than a microsecond after its end:
// start times are rounded to microseconds and durations cut to them, so a
// child may seem to outlast its parent by one. Spans that only follow one
// another, as system calls do, never nest.
//
// Spans are met in the order they began; of two that began in the same
// microsecond the one that ends later is the outer one, and of two equal
// spans the earlier row (spanmill writes a thread's spans in the order they
// began). Each span is then given an interval that nests exactly:
//  - its end is cut to its parent's, where it outlasts it;
//  - a span that overlaps the next without holding it (misread system call
//    durations, clocks that stepped) ends where the next begins;
//  - a span whose end came before its begin lasts 0.
// A span's self time is the length of its interval less those of the spans
// directly nested in it: never negative, and never more than its duration.
#ifndef ORVEL_REPORT_NESTING_H
#define ORVEL_REPORT_NESTING_H

#include <cstdint>
#include <vector>

#include "report/SpanReport.h"

namespace orvel {

// A span's start in whole microseconds, as the walk takes it.
long long spanBegin(const SpanReport::Span& span);

// Receives the walk: open() for each span in the order above, close() for
// the span opened last and not yet closed, so that opens and closes nest
// like brackets. Times are microseconds and never go back.
class NestingVisitor {
 public:
  virtual ~NestingVisitor() = default;
  // row: the span's index in the thread's spans.
  virtual void open(uint32_t row, long long begin) = 0;
  virtual void close(uint32_t row, long long end, long long self) = 0;
};

// Walks the spans of a thread. Holds the order of the spans when they are
// not in it already (4 bytes a span), and the stack of open spans.
void walkNesting(const std::vector<SpanReport::Span>& spans, NestingVisitor* visitor);

// The self time of each span, by row.
std::vector<long long> selfTimes(const std::vector<SpanReport::Span>& spans);

}  // namespace orvel

#endif  // ORVEL_REPORT_NESTING_H
