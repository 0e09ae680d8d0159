// One thread's spans, in the order in which they were begun or recorded,
// with the stack of those still open.
//
// Spans lie in chunks that grow with the thread (2, 2, 4, 8, ... 2048,
// then 4096 spans each), carved from the slabs: a thread with one span
// costs its record and a chunk of 2 spans, 64 bytes, while a thread with
// millions of spans appends without copying and wastes at most the free
// end of its last chunk.
//
// A span takes 16 bytes: its start as it came, its PC row with flags, and
// its duration as the report writes it, in whole microseconds cut toward
// zero. The rare duration that needs more than 32 bits (over 35 minutes)
// is kept in a list of its own.
#ifndef ORVEL_APP_THREADSPANS_H
#define ORVEL_APP_THREADSPANS_H

#include <cstdint>
#include <vector>

#include "app/Slabs.h"

namespace orvel {

// Where spans are kept: the slabs, and the durations too long for a span.
struct SpanMemory {
  Slabs slabs;
  std::vector<int64_t> longMicros;

  void release() {
    slabs.release();
    std::vector<int64_t>().swap(longMicros);
  }
};

class ThreadSpans {
 public:
  // PC rows must stay below this: the bits above carry the flags.
  static const uint32_t kPcLimit = 1u << 29;

  explicit ThreadSpans(uint32_t tid) : tid(tid) {}

  uint32_t id() const { return tid; }
  // Spans, open ones included.
  uint32_t size() const { return count; }

  // Records a closed span; the open spans are not touched. memory must
  // outlive this record.
  void addClosed(double start, double duration, uint32_t pcIndex, SpanMemory& memory);
  // Records a span that stays open until a close below; it becomes the
  // innermost open span.
  void open(double start, uint32_t pcIndex, SpanMemory& memory);
  // Close the innermost open span at the time end, or with the given
  // duration. False, changing nothing, when no span is open.
  bool closeAt(double end, SpanMemory& memory);
  bool closeAfter(double duration, SpanMemory& memory);

  // Calls visit(start, micros, pcIndex) for each closed span at the
  // positions [from, to) in order whose duration can be written: micros is
  // the duration in microseconds cut toward zero, which a NaN duration or
  // one beyond 64 bits does not have. Stops early when visit returns false.
  template <typename Visit>
  void visitClosed(uint32_t from, uint32_t to, const SpanMemory& memory, Visit visit) const;

 private:
  struct Span {
    double start;  // the input time stamp of the begin, unconverted
    // Closed: the duration in microseconds, or with kLong its place in
    // SpanMemory::longMicros. Open: the position + 1 of the enclosing open
    // span (0: none).
    int32_t micros;
    uint32_t pc;  // PC row and flags
  };
  static const uint32_t kOpen = 0x80000000u;   // begun, not yet ended
  static const uint32_t kLong = 0x40000000u;   // micros is a place in longMicros
  static const uint32_t kNoRow = 0x20000000u;  // the duration cannot be written
  static const uint32_t kPcMask = kPcLimit - 1;
  // Chunk k holds 2^kFirstShift spans for k = 0, 2^(k + kFirstShift - 1)
  // up to 2^kLastShift, then 2^kLastShift.
  static const uint32_t kFirstShift = 1;
  static const uint32_t kLastShift = 12;
  static const uint32_t kGrowing = kLastShift - kFirstShift;  // chunks that double

  static uint32_t chunkNumber(uint32_t position);
  static uint32_t chunkStart(uint32_t chunk);
  static uint32_t chunkCapacity(uint32_t chunk);

  // Where the next span goes, adding a chunk when the last one is full.
  Span& append(Slabs& slabs);
  // The innermost open span, taken off the stack and no longer open; null
  // when no span is open.
  Span* popOpen();
  // Stores the duration of a closing span as the report will write it.
  static void setDuration(Span& span, double duration, SpanMemory& memory);

  // The only chunk, while there is no directory: next - count.
  Span* firstChunk() const { return next - count; }

  // A million threads of one span each are a real capture: the record
  // stays at 32 bytes (24 on 32-bit targets).
  const uint32_t tid;
  uint32_t count = 0;      // spans, open ones included
  uint32_t innermost = 0;  // position + 1 of the innermost open span; 0: none is open
  uint32_t room = 0;       // free places left in the last chunk
  Span* next = nullptr;    // the next free place in the last chunk; not owned (slabs)
  // Every chunk by number, once there is more than one; not owned (slabs).
  Span** directory = nullptr;
};

inline uint32_t ThreadSpans::chunkNumber(uint32_t position) {
  if (position < (1u << kFirstShift)) {
    return 0;
  }
  if (position < (1u << kLastShift)) {
    const uint32_t highest = 31 - static_cast<uint32_t>(__builtin_clz(position));
    return highest - kFirstShift + 1;
  }
  return (position >> kLastShift) + kGrowing;
}

inline uint32_t ThreadSpans::chunkStart(uint32_t chunk) {
  if (chunk == 0) {
    return 0;
  }
  if (chunk <= kGrowing) {
    return 1u << (chunk + kFirstShift - 1);
  }
  return (chunk - kGrowing) << kLastShift;
}

inline uint32_t ThreadSpans::chunkCapacity(uint32_t chunk) {
  return chunk == 0 ? 1u << kFirstShift : chunk <= kGrowing ? chunkStart(chunk) : 1u << kLastShift;
}

template <typename Visit>
void ThreadSpans::visitClosed(uint32_t from, uint32_t to, const SpanMemory& memory,
                              Visit visit) const {
  uint32_t chunk = chunkNumber(from);
  uint32_t position = from;
  while (position < to) {
    const Span* spans = directory != nullptr ? directory[chunk] : firstChunk();
    const uint32_t first = chunkStart(chunk);
    const uint32_t end = first + chunkCapacity(chunk);
    const uint32_t stop = end < to ? end : to;
    for (; position < stop; ++position) {
      const Span& span = spans[position - first];
      if ((span.pc & (kOpen | kNoRow)) != 0) {
        continue;
      }
      const int64_t micros = (span.pc & kLong) != 0
                                 ? memory.longMicros[static_cast<uint32_t>(span.micros)]
                                 : span.micros;
      if (!visit(span.start, micros, span.pc & kPcMask)) {
        return;
      }
    }
    ++chunk;
  }
}

}  // namespace orvel

#endif  // ORVEL_APP_THREADSPANS_H
