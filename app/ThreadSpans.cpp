#include "app/ThreadSpans.h"

#include <cstring>

namespace orvel {

namespace {

// Bounds of the doubles that truncate to a signed 64-bit integer: [-2^63, 2^63).
const double kMinInt64AsDouble = -9223372036854775808.0;
const double kInt64LimitAsDouble = 9223372036854775808.0;

}  // namespace

static_assert(sizeof(ThreadSpans) <= 32, "a thread's record is meant to stay small");

ThreadSpans::Span& ThreadSpans::append(Slabs& slabs) {
  if (room == 0) {
    const uint32_t number = chunkNumber(count);
    const uint32_t capacity = chunkCapacity(number);
    Span* chunk = static_cast<Span*>(slabs.take(capacity * sizeof(Span)));
    if (number > 0) {
      // The directory starts with room for 4 chunks and doubles whenever
      // they are taken; the old one stays in the slabs, unused.
      if (number == 1 || (number >= 4 && (number & (number - 1)) == 0)) {
        const uint32_t places = number == 1 ? 4 : 2 * number;
        Span** grown = static_cast<Span**>(slabs.take(places * sizeof(Span*)));
        if (directory != nullptr) {
          std::memcpy(grown, directory, number * sizeof(Span*));
        } else {
          grown[0] = firstChunk();
        }
        directory = grown;
      }
      directory[number] = chunk;
    }
    next = chunk;
    room = capacity;
  }
  --room;
  ++count;
  return *next++;
}

void ThreadSpans::setDuration(Span& span, double duration, SpanMemory& memory) {
  const double micros = duration * 1e6;
  if (micros >= INT32_MIN && micros < 2147483648.0) {
    span.micros = static_cast<int32_t>(micros);  // cuts toward zero
  } else if (micros >= kMinInt64AsDouble && micros < kInt64LimitAsDouble) {
    span.micros = static_cast<int32_t>(memory.longMicros.size());
    memory.longMicros.push_back(static_cast<int64_t>(micros));
    span.pc |= kLong;
  } else {
    span.pc |= kNoRow;  // NaN, or beyond 64 bits
  }
}

void ThreadSpans::addClosed(double start, double duration, uint32_t pcIndex, SpanMemory& memory) {
  Span& span = append(memory.slabs);
  span.start = start;
  span.pc = pcIndex;
  setDuration(span, duration, memory);
}

void ThreadSpans::open(double start, uint32_t pcIndex, SpanMemory& memory) {
  Span& span = append(memory.slabs);
  span.start = start;
  span.micros = static_cast<int32_t>(innermost);
  span.pc = pcIndex | kOpen;
  innermost = count;
}

ThreadSpans::Span* ThreadSpans::popOpen() {
  if (innermost == 0) {
    return nullptr;
  }
  const uint32_t position = innermost - 1;
  const uint32_t chunk = chunkNumber(position);
  Span* spans = directory != nullptr ? directory[chunk] : firstChunk();
  Span& span = spans[position - chunkStart(chunk)];
  innermost = static_cast<uint32_t>(span.micros);
  span.pc &= ~kOpen;
  return &span;
}

bool ThreadSpans::closeAt(double end, SpanMemory& memory) {
  Span* span = popOpen();
  if (span == nullptr) {
    return false;
  }
  setDuration(*span, end - span->start, memory);
  return true;
}

bool ThreadSpans::closeAfter(double duration, SpanMemory& memory) {
  Span* span = popOpen();
  if (span == nullptr) {
    return false;
  }
  setDuration(*span, duration, memory);
  return true;
}

}  // namespace orvel
