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

// Bounds of the doubles that truncate to a signed 64-bit integer: [-2^63, 2^63).
const double kMinInt64AsDouble = -9223372036854775808.0;
const double kInt64LimitAsDouble = 9223372036854775808.0;

// The span's output start and its duration in whole microseconds, or false
// when either cannot be written as a JSON number: an infinite or NaN time
// stamp, or a duration beyond 64 bits.
bool spanRow(double start, double duration, double skew, double outputOffset, double* outStart,
             long long* micros) {
  *outStart = start * skew + outputOffset;
  double exactMicros = duration * 1e6;
  if (!std::isfinite(*outStart) || !(exactMicros >= kMinInt64AsDouble) ||
      !(exactMicros < kInt64LimitAsDouble)) {
    return false;
  }
  *micros = static_cast<long long>(exactMicros);  // truncates toward zero
  return true;
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

}  // namespace

ReportRows::ReportRows(const std::vector<TidInfo*>& threads, double skew, double outputOffset)
    : threads(threads), skew(skew), outputOffset(outputOffset), firstShared(threads.size()) {
  uint64_t spans = 0;
  for (const TidInfo* info : threads) {
    spans += info->count;
  }
  if (spans < kSharedSpans || availableProcessors() < 2) {
    return;
  }
  // The helper takes the spans from the middle of the report on: the rest
  // of the thread where the middle falls, and every later thread.
  uint64_t before = 0;
  size_t index = 0;
  while (before + threads[index]->count <= spans / 2) {
    before += threads[index++]->count;
  }
  firstShared = index;
  parts.resize(threads.size() - index);
  parts[0].from = static_cast<uint32_t>(spans / 2 - before);
  // Through the thread library's creation function, so that tests can make
  // it fail; the reading thread then formats everything itself.
  if (Thread::createFunction.load()(&helper, nullptr, runHelper, this) == 0) {
    helperStarted = true;
  } else {
    firstShared = threads.size();
    parts.clear();
  }
}

ReportRows::~ReportRows() {
  joinHelper();
}

void* ReportRows::runHelper(void* rows) {
  static_cast<ReportRows*>(rows)->formatHelperParts();
  return nullptr;
}

void ReportRows::formatHelperParts() {
  std::vector<char> helperBatch(kBatchSize);
  for (size_t i = 0; i < parts.size(); ++i) {
    Part& part = parts[i];
    const TidInfo& info = *threads[firstShared + i];
    formatRows(info, part.from, info.count, helperBatch.data(),
               [this, &part](const char* text, size_t length) {
                 char* kept = static_cast<char*>(helperText.take(length));
                 std::memcpy(kept, text, length);
                 part.batches.push_back(Batch{kept, length});
               });
  }
}

void ReportRows::joinHelper() {
  if (helperStarted && !helperJoined) {
    pthread_join(helper, nullptr);
    helperJoined = true;
  }
}

void ReportRows::write(size_t index, JsomWriter& writer) {
  const TidInfo& info = *threads[index];
  auto toWriter = [&writer](const char* text, size_t length) {
    writer.appendJsonValue(text, static_cast<int>(length));
  };
  if (batch.empty()) {
    batch.resize(kBatchSize);
  }
  if (index < firstShared) {
    formatRows(info, 0, info.count, batch.data(), toWriter);
    return;
  }
  const Part& part = parts[index - firstShared];
  formatRows(info, 0, part.from, batch.data(), toWriter);
  joinHelper();
  for (const Batch& rows : part.batches) {
    toWriter(rows.text, rows.length);
  }
}

// The writer puts a comma before each batch as before any value, which
// separates the last row of one batch from the first of the next.
template <typename Emit>
void ReportRows::formatRows(const TidInfo& info, uint32_t from, uint32_t to, char* batch,
                            Emit emit) {
  using TidEntries = FunctionTraceProcessorBase::TidEntries;
  const size_t kRowSize = JsomWriter::kDoubleTextSize + 64;
  char* at = batch;
  for (uint32_t position = from; position < to; ++position) {
    const TidEntries& chunk = *info.chunks[position / TidEntries::kSize];
    const uint32_t place = position % TidEntries::kSize;
    double start;
    long long micros;
    if ((chunk.pcIndex[place] & TidEntries::kOpen) != 0 ||
        !spanRow(chunk.start[place], chunk.duration[place], skew, outputOffset, &start, &micros)) {
      continue;
    }
    if (at != batch) {
      *at++ = ',';
    }
    *at++ = '[';
    at += JsomWriter::formatDouble(start, 6, at);
    *at++ = ',';
    at = std::to_chars(at, at + 24, micros).ptr;
    *at++ = ',';
    at = std::to_chars(at, at + 24, chunk.pcIndex[place]).ptr;
    *at++ = ']';
    if (static_cast<size_t>(at - batch) > kBatchSize - kRowSize) {
      emit(batch, static_cast<size_t>(at - batch));
      at = batch;
    }
  }
  if (at != batch) {
    emit(batch, static_cast<size_t>(at - batch));
  }
}

}  // namespace orvel
