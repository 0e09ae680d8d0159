#include "app/ReportRows.h"

#include <sched.h>
#include <unistd.h>

#include <charconv>
#include <cmath>
#include <cstring>

#include "json/JsomWriter.h"
#include "thread/Thread.h"

namespace orvel {

namespace {

// The span's start on the output time line; false when it cannot be
// written as a JSON number (an infinite or NaN time stamp).
bool outputStart(double start, double skew, double outputOffset, double* out) {
  *out = start * skew + outputOffset;
  return std::isfinite(*out);
}

// The processors this process may run on: a helper thread gains nothing
// without a second one.
int availableProcessors() {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    return CPU_COUNT(&set);
  }
  return static_cast<int>(sysconf(_SC_NPROCESSORS_ONLN));
}

// The longest texts of a row and of a thread's opening.
const size_t kRowSize = JsomWriter::kDoubleTextSize + 64;
const size_t kOpeningSize = 32;

}  // namespace

class ReportRows::Helper : public Thread {
 public:
  explicit Helper(ReportRows* rows) : Thread("Report Rows"), rows(rows) {}
  void run() override { rows->help(); }
  bool failed() const { return startFailed(); }

 private:
  ReportRows* const rows;  // not owned; waits for this thread's end
};

ReportRows::ReportRows(ThreadSpans* const* threads, size_t count, const SpanMemory& memory,
                       double skew, double outputOffset)
    : threads(threads), threadCount(count), memory(memory), skew(skew), outputOffset(outputOffset) {
  uint64_t spans = 0;
  for (size_t i = 0; i < threadCount; ++i) {
    spans += threads[i]->size();
  }
  planSegments(spans);
  if (spans < kSharedSpans || availableProcessors() < 2) {
    return;
  }
  helperDone = false;
  Helper* helper = new Helper(this);
  // A reference of this side's own, so that a failed start cannot delete
  // the object before it is asked.
  helper->reserve();
  helper->start();
  helperStarted = !helper->failed();
  helper->release();
  if (!helperStarted) {
    helperDone = true;
  }
}

ReportRows::~ReportRows() {
  finishHelper();
}

void ReportRows::planSegments(uint64_t total) {
  const uint64_t count = total == 0 ? 1 : (total + kSegmentSpans - 1) / kSegmentSpans;
  segments.reserve(static_cast<size_t>(count));
  segments.push_back(Segment{Cursor{0, 0}, false});
  size_t thread = 0;
  uint64_t before = 0;  // spans of the threads before thread
  for (uint64_t k = 1; k < count; ++k) {
    const uint64_t first = k * kSegmentSpans;
    while (before + threads[thread]->size() <= first) {
      before += threads[thread++]->size();
    }
    const uint32_t position = static_cast<uint32_t>(first - before);
    segments.push_back(Segment{Cursor{thread, position}, rowsBefore(thread, position)});
  }
}

bool ReportRows::rowsBefore(size_t thread, uint32_t position) {
  if (thread != scannedThread) {
    scannedThread = thread;
    scannedTo = 0;
    scannedRow = false;
  }
  if (!scannedRow) {
    threads[thread]->visitClosed(scannedTo, position, memory,
                                 [this](double start, int64_t, uint32_t) {
                                   double outStart;
                                   scannedRow = outputStart(start, skew, outputOffset, &outStart);
                                   return !scannedRow;
                                 });
    scannedTo = position;
  }
  return scannedRow;
}

void ReportRows::format(size_t index, Text& text) const {
  const Segment& segment = segments[index];
  const Cursor to = index + 1 < segments.size() ? segments[index + 1].from : Cursor{threadCount, 0};
  // Written through locals, which stores of characters cannot alias.
  char* at = text.bytes.data();
  char* limit = at + text.bytes.size();
  auto reserve = [&](size_t size) {
    if (static_cast<size_t>(limit - at) < size) {
      const size_t used = static_cast<size_t>(at - text.bytes.data());
      text.bytes.resize(2 * text.bytes.size() + size);
      at = text.bytes.data() + used;
      limit = text.bytes.data() + text.bytes.size();
    }
  };
  bool rowBefore = segment.rowsBefore;
  for (size_t i = segment.from.thread; i < threadCount; ++i) {
    if (i == to.thread && to.position == 0) {
      break;
    }
    const ThreadSpans& thread = *threads[i];
    const uint32_t from = i == segment.from.thread ? segment.from.position : 0;
    if (from == 0) {
      reserve(kOpeningSize);
      if (i > 0) {
        *at++ = ',';
      }
      *at++ = '"';
      at = std::to_chars(at, at + 10, thread.id()).ptr;
      std::memcpy(at, "\":{\"trace\":[", 12);
      at += 12;
      rowBefore = false;
    }
    const uint32_t end = i == to.thread ? to.position : thread.size();
    thread.visitClosed(from, end, memory, [&](double start, int64_t micros, uint32_t pc) {
      double outStart;
      if (!outputStart(start, skew, outputOffset, &outStart)) {
        return true;
      }
      reserve(kRowSize);
      if (rowBefore) {
        *at++ = ',';
      }
      *at++ = '[';
      at += JsomWriter::formatDouble(outStart, 6, at);
      *at++ = ',';
      at = std::to_chars(at, at + 24, micros).ptr;
      *at++ = ',';
      at = std::to_chars(at, at + 24, pc).ptr;
      *at++ = ']';
      rowBefore = true;
      return true;
    });
    if (i == to.thread) {
      break;  // the thread goes on in the next segment
    }
    reserve(2);
    *at++ = ']';
    *at++ = '}';
  }
  text.length = static_cast<size_t>(at - text.bytes.data());
}

void ReportRows::write(JsomWriter& writer) {
  if (!helperStarted) {
    for (size_t k = 0; k < segments.size(); ++k) {
      format(k, ring[0]);
      writer.write(ring[0].bytes.data(), static_cast<int>(ring[0].length));
    }
    return;
  }
  for (size_t k = 0; k < segments.size(); ++k) {
    const size_t slot = k % kRing;
    // Format segments, k or later ones, until k is ready; wait only while
    // the helper formats k and every buffer is taken.
    for (;;) {
      size_t next = kNone;
      {
        Synchronized hold(lock);
        while (ready[slot] != k && !(claimed < segments.size() && claimed < k + kRing)) {
          lock.wait();
        }
        if (ready[slot] == k) {
          break;
        }
        next = claimed++;
      }
      format(next, ring[next % kRing]);
      Synchronized hold(lock);
      ready[next % kRing] = next;
    }
    writer.write(ring[slot].bytes.data(), static_cast<int>(ring[slot].length));
    Synchronized hold(lock);
    ready[slot] = kNone;
    written = k + 1;
    lock.notifyAll();
  }
  finishHelper();
}

void ReportRows::help() {
  for (;;) {
    size_t next;
    {
      Synchronized hold(lock);
      while (!stopping && claimed < segments.size() && claimed >= written + kRing) {
        lock.wait();
      }
      if (stopping || claimed >= segments.size()) {
        // The last touch of this object: the owner may go as soon as the
        // lock is free.
        helperDone = true;
        lock.notifyAll();
        return;
      }
      next = claimed++;
    }
    format(next, ring[next % kRing]);
    Synchronized hold(lock);
    ready[next % kRing] = next;
    lock.notifyAll();
  }
}

void ReportRows::finishHelper() {
  Synchronized hold(lock);
  stopping = true;
  lock.notifyAll();
  while (!helperDone) {
    lock.wait();
  }
}

}  // namespace orvel
