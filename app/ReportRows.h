// The rows of a report's "trace" arrays: "[start,micros,pc]" for each
// closed span, formatted in batches for the writer.
//
// Rows make the bulk of a large report. Where the machine has more than one
// processor, a report with many rows is formatted by two threads: a helper
// formats the later half of the rows into memory while the reading thread
// formats and writes the earlier half, then writes the helper's batches.
// The bytes are the same either way.
#ifndef ORVEL_APP_REPORTROWS_H
#define ORVEL_APP_REPORTROWS_H

#include <pthread.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "app/FunctionTraceProcessorBase.h"
#include "app/Slabs.h"

namespace orvel {

class JsomWriter;

class ReportRows {
 public:
  using TidInfo = FunctionTraceProcessorBase::TidInfo;

  // Reports with fewer spans are formatted by the reading thread alone.
  static const uint64_t kSharedSpans = 200000;

  // threads are the records in report order; they, their chunks and the
  // spans in them must stay as they are until the rows of each have been
  // written. Starts the helper when the report is shared.
  ReportRows(const std::vector<TidInfo*>& threads, double skew, double outputOffset);
  // Waits for the helper if it still runs.
  ~ReportRows();
  ReportRows(const ReportRows&) = delete;
  ReportRows& operator=(const ReportRows&) = delete;

  // Writes the rows of threads[index] onto writer, into the array the
  // caller has opened. Called for each index in increasing order.
  void write(size_t index, JsomWriter& writer);

  // Whether a helper formats part of the rows.
  bool shared() const { return helperStarted; }

 private:
  // A run of rows as the writer takes them; the text lies in helperText.
  struct Batch {
    const char* text;
    size_t length;
  };
  // The helper's part of one thread: its rows from a position on.
  struct Part {
    uint32_t from;
    std::vector<Batch> batches;
  };

  // Hands the rows of spans [from, to) of info to emit(text, length), in
  // batches formatted in batch (kBatchSize bytes).
  template <typename Emit>
  void formatRows(const TidInfo& info, uint32_t from, uint32_t to, char* batch, Emit emit);
  static void* runHelper(void* rows);
  void formatHelperParts();
  void joinHelper();

  static const size_t kBatchSize = 64 * 1024;

  const std::vector<TidInfo*>& threads;  // not owned
  const double skew;
  const double outputOffset;
  // The helper's share: threads from firstShared on, the first of them
  // from parts[0].from on. Only the helper touches parts until it is joined.
  size_t firstShared;
  std::vector<Part> parts;
  // The helper's text. Fresh memory from the heap would cost a page fault
  // for every 4 KiB, more than formatting the rows in the first place.
  Slabs helperText;
  pthread_t helper;
  bool helperStarted = false;
  bool helperJoined = false;
  std::vector<char> batch;  // the reading thread's batch
};

}  // namespace orvel

#endif  // ORVEL_APP_REPORTROWS_H
