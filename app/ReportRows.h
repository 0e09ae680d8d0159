// The members of a report's "threads" object, one per thread in ascending
// order of id: "TID":{"trace":[ROW,...]}, where each closed span gives a ROW
// "[start,micros,pc]".
//
// The text is made in segments of kSegmentSpans spans. Where the machine
// has a second processor and the report many spans, a helper thread
// formats segments alongside the reading thread, which formats what it can
// and writes every segment in order: the bytes are the same either way,
// and a few reused buffers hold all the text, however large the report.
#ifndef ORVEL_APP_REPORTROWS_H
#define ORVEL_APP_REPORTROWS_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "app/ThreadSpans.h"
#include "thread/Lock.h"

namespace orvel {

class JsomWriter;

class ReportRows {
 public:
  // Reports with fewer spans are formatted by the reading thread alone.
  static const uint64_t kSharedSpans = 200000;
  static const uint32_t kSegmentSpans = 8192;

  // threads[0 .. count), in report order, and the memory of their spans
  // must stay as they are until this object is gone. Starts the helper
  // when the report is shared.
  ReportRows(ThreadSpans* const* threads, size_t count, const SpanMemory& memory, double skew,
             double outputOffset);
  // Waits for the helper if it still runs.
  ~ReportRows();
  ReportRows(const ReportRows&) = delete;
  ReportRows& operator=(const ReportRows&) = delete;

  // Writes every member, with the commas between them, onto writer as
  // raw text: the caller has opened the object and closes it. Once only.
  void write(JsomWriter& writer);

  // Whether a helper formats part of the text.
  bool shared() const { return helperStarted; }

 private:
  class Helper;
  // A thread and a position among its spans.
  struct Cursor {
    size_t thread;
    uint32_t position;
  };
  // A segment runs from its cursor to the next segment's. rowsBefore: the
  // thread it begins in has rows before its cursor.
  struct Segment {
    Cursor from;
    bool rowsBefore;
  };
  // A growing text buffer, reused from segment to segment.
  struct Text {
    std::vector<char> bytes;
    size_t length = 0;  // of the text in bytes
  };

  void planSegments(uint64_t totalSpans);
  // Whether the spans [0, position) of threads[thread] give a row; scans
  // on from the last call's position when the thread is the same.
  bool rowsBefore(size_t thread, uint32_t position);
  void format(size_t segment, Text& text) const;
  // The helper's loop: formats the next unclaimed segment while there is
  // a free buffer.
  void help();
  void finishHelper();

  static const size_t kRing = 4;
  static const size_t kNone = SIZE_MAX;

  ThreadSpans* const* const threads;  // not owned
  const size_t threadCount;
  const SpanMemory& memory;  // not owned
  const double skew;
  const double outputOffset;
  std::vector<Segment> segments;
  // Scan state of rowsBefore().
  size_t scannedThread = SIZE_MAX;
  uint32_t scannedTo = 0;
  bool scannedRow = false;

  // Segment k is formatted into ring[k % kRing]. Under lock: the next
  // segment nobody has claimed, the segments written, which segment each
  // buffer holds ready (kNone: none), and the helper's end.
  Text ring[kRing];
  Lock lock;
  size_t claimed = 0;
  size_t written = 0;
  size_t ready[kRing] = {kNone, kNone, kNone, kNone};
  bool stopping = false;
  bool helperDone = true;
  bool helperStarted = false;
};

}  // namespace orvel

#endif  // ORVEL_APP_REPORTROWS_H
