#include "report/Nesting.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <numeric>

namespace orvel {

namespace {

long long saturatedSum(long long a, long long b) {
  long long sum;
  if (__builtin_add_overflow(a, b, &sum)) {
    return b > 0 ? LLONG_MAX : LLONG_MIN;
  }
  return sum;
}

long long endOf(const SpanReport::Span& span) {
  return saturatedSum(spanBegin(span), span.micros);
}

// Whether span a comes before span b in the walk: the earlier start, then
// the later end, then the earlier row.
bool before(const std::vector<SpanReport::Span>& spans, uint32_t a, uint32_t b) {
  const long long beginA = spanBegin(spans[a]);
  const long long beginB = spanBegin(spans[b]);
  if (beginA != beginB) {
    return beginA < beginB;
  }
  const long long endA = endOf(spans[a]);
  const long long endB = endOf(spans[b]);
  return endA != endB ? endA > endB : a < b;
}

struct Open {
  uint32_t row;
  long long begin;     // of its interval
  long long rawEnd;    // its start plus its duration, for the nesting rule
  long long end;       // of its interval, so far
  long long children;  // the length of the intervals directly nested in it
};

}  // namespace

// Held well inside 64 bits so that
// adding a duration saturates rather than overflows.
long long spanBegin(const SpanReport::Span& span) {
  const double micros = std::round(span.start * 1e6);
  const double limit = 4e18;
  return micros > -limit && micros < limit ? static_cast<long long>(micros)
         : micros > 0                      ? static_cast<long long>(limit)
                                           : -static_cast<long long>(limit);  // NaN too
}

void walkNesting(const std::vector<SpanReport::Span>& spans, NestingVisitor* visitor) {
  const uint32_t count = static_cast<uint32_t>(spans.size());
  // spanmill's reports are in the walk's order nearly always; only other
  // orders pay for a sort.
  std::vector<uint32_t> order;
  for (uint32_t i = 1; i < count; ++i) {
    if (before(spans, i, i - 1)) {
      order.resize(count);
      std::iota(order.begin(), order.end(), 0u);
      std::stable_sort(order.begin(), order.end(),
                       [&](uint32_t a, uint32_t b) { return before(spans, a, b); });
      break;
    }
  }
  std::vector<Open> open;
  // Ends the innermost open span no later than cut.
  auto close = [&](long long cut) {
    Open& span = open.back();
    span.end = std::min(span.end, cut);
    const long long length = span.end - span.begin;
    visitor->close(span.row, span.end, std::max(0LL, length - span.children));
    open.pop_back();
    if (!open.empty()) {
      open.back().children += length;
    }
  };
  for (uint32_t at = 0; at < count; ++at) {
    const uint32_t row = order.empty() ? at : order[at];
    const long long begin = spanBegin(spans[row]);
    const long long rawEnd = endOf(spans[row]);
    while (!open.empty() &&
           !(begin < open.back().rawEnd && rawEnd <= saturatedSum(open.back().rawEnd, 1))) {
      close(begin);
    }
    Open span{row, begin, rawEnd, std::max(begin, rawEnd), 0};
    if (!open.empty()) {
      // Within the parent's interval, which may itself have been cut.
      span.begin = std::min(span.begin, open.back().end);
      span.end = std::min(span.end, open.back().end);
    }
    open.push_back(span);
    visitor->open(row, span.begin);
  }
  while (!open.empty()) {
    close(LLONG_MAX);
  }
}

std::vector<long long> selfTimes(const std::vector<SpanReport::Span>& spans) {
  struct Selves : NestingVisitor {
    std::vector<long long> self;
    void open(uint32_t, long long) override {}
    void close(uint32_t row, long long, long long micros) override { self[row] = micros; }
  } selves;
  selves.self.resize(spans.size());
  walkNesting(spans, &selves);
  return selves.self;
}

}  // namespace orvel
