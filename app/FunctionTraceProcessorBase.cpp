#include "app/FunctionTraceProcessorBase.h"

#include <sys/mman.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <ostream>
#include <streambuf>

#include "json/JsomWriter.h"

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

// Gathers the report's many small writes into large ones to the output.
class ReportBuffer : public std::streambuf {
 public:
  explicit ReportBuffer(std::ostream* out) : out(out) { setp(space, space + sizeof space); }
  ~ReportBuffer() override { sync(); }

 protected:
  int overflow(int c) override {
    if (sync() != 0) {
      return traits_type::eof();
    }
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
      *pptr() = traits_type::to_char_type(c);
      pbump(1);
    }
    return traits_type::not_eof(c);
  }

  int sync() override {
    std::streamsize length = pptr() - pbase();
    setp(space, space + sizeof space);
    if (length > 0) {
      out->write(space, length);
    }
    out->flush();
    return out->good() ? 0 : -1;
  }

 private:
  std::ostream* const out;  // not owned
  char space[64 * 1024];
};

// Spans are stored in slabs of this size, aligned to it so that the kernel
// may back each with one huge page: far fewer page faults than small pages.
const size_t kSlabBytes = 2 * 1024 * 1024;

void* newSlab() {
  void* slab = std::aligned_alloc(kSlabBytes, kSlabBytes);
  if (slab == nullptr) {
    // As a failed operator new would: out of memory ends the program.
    std::fputs("spanmill: out of memory\n", stderr);
    std::abort();
  }
  madvise(slab, kSlabBytes, MADV_HUGEPAGE);  // a hint; refused where unsupported
  return slab;
}

}  // namespace

FunctionTraceProcessorBase::~FunctionTraceProcessorBase() {
  releaseAll();
}

void FunctionTraceProcessorBase::setup(std::ostream* out, double startTime, double duration,
                                       double skew, double offset) {
  this->skew = skew;
  outputOffset = offset;
  this->out = out;
  if (startTime == 0.0) {
    fileStartTime = 0.0;
    fileEndTime = 0.0;
    return;
  }
  fileStartTime = (startTime - offset) / skew;
  fileEndTime = duration > 0.0 ? ((startTime + duration) - offset) / skew : 0.0;
  outputOffset = offset - startTime;
}

bool FunctionTraceProcessorBase::isTimeInRange(double time) {
  if (fileStartTime == 0.0) {
    // The first time stamp becomes output time 0.
    fileStartTime = time;
    outputOffset = outputOffset - (time * skew + outputOffset);
  }
  if (!(time >= fileStartTime)) {
    return false;
  }
  if (fileEndTime > time) {
    return true;
  }
  return fileEndTime == 0.0;
}

void FunctionTraceProcessorBase::appendSpan(TidInfo* info, const TidEntry& entry) {
  if (info->count % TidInfo::kChunkSize == 0) {
    const size_t chunkBytes = sizeof(TidEntry) * TidInfo::kChunkSize;
    if (slabs.empty() || slabUsed + chunkBytes > kSlabBytes) {
      slabs.push_back(newSlab());
      slabUsed = 0;
    }
    info->chunks.push_back(
        reinterpret_cast<TidEntry*>(static_cast<char*>(slabs.back()) + slabUsed));
    slabUsed += chunkBytes;
  }
  info->at(info->count++) = entry;
}

uint32_t FunctionTraceProcessorBase::getDictionaryIndex(const char* name) {
  auto found = dictionary.find(name);
  if (found != dictionary.end()) {
    return found->second;
  }
  uint32_t index = static_cast<uint32_t>(sections.size());
  sections.emplace_back(name);
  dictionary.emplace(sections.back(), index);
  return index;
}

uint32_t FunctionTraceProcessorBase::getPCIndex(const char* name, const char* location) {
  const char* key = location;
  if (location == nullptr || location[0] == '\0') {
    pcScratch.assign(1, '@');
    pcScratch.append(name);
    key = pcScratch.c_str();
  }
  auto found = pcMap.find(key);
  if (found != pcMap.end()) {
    return found->second->index;
  }
  PCEntry* entry = new PCEntry{key, static_cast<uint32_t>(pcList.size()), 0};
  entry->nameIndex = getDictionaryIndex(name);
  pcList.push_back(entry);
  pcMap.emplace(entry->pc, entry);
  return entry->index;
}

FunctionTraceProcessorBase::TidInfo* FunctionTraceProcessorBase::getTidInfo(uint32_t tid) {
  if (lastTidInfo != nullptr && lastTid == tid) {
    return lastTidInfo;
  }
  TidInfo*& info = tids[tid];
  if (info == nullptr) {
    info = new TidInfo();
  }
  lastTid = tid;
  lastTidInfo = info;
  return info;
}

void FunctionTraceProcessorBase::processFunctionBegin(const char* name, const char* location,
                                                      double time, uint32_t tid) {
  // The PC entry first, so that name and location are reported even when
  // the span never ends.
  uint32_t pcIndex = getPCIndex(name, location);
  TidInfo* info = getTidInfo(tid);
  info->stack.push_back(info->count);
  appendSpan(info, TidEntry{time, 0.0, pcIndex, true});
}

void FunctionTraceProcessorBase::processFunction(const char* name, const char* location,
                                                 double time, double duration, uint32_t tid) {
  uint32_t pcIndex = getPCIndex(name, location);
  appendSpan(getTidInfo(tid), TidEntry{time, duration, pcIndex, false});
}

FunctionTraceProcessorBase::TidEntry* FunctionTraceProcessorBase::popOpenSpan(uint32_t tid) {
  TidInfo* info;
  if (lastTidInfo != nullptr && lastTid == tid) {
    info = lastTidInfo;
  } else {
    auto found = tids.find(tid);
    if (found == tids.end()) {
      return nullptr;
    }
    info = found->second;
  }
  if (info->stack.empty()) {
    return nullptr;
  }
  TidEntry* entry = &info->at(info->stack.back());
  info->stack.pop_back();
  entry->open = false;
  return entry;
}

void FunctionTraceProcessorBase::processFunctionEnd(double time, uint32_t tid) {
  TidEntry* entry = popOpenSpan(tid);
  if (entry != nullptr) {
    entry->duration = time - entry->start;
  }
}

void FunctionTraceProcessorBase::processFunctionEndDuration(double duration, uint32_t tid) {
  TidEntry* entry = popOpenSpan(tid);
  if (entry != nullptr) {
    entry->duration = duration;
  }
}

void FunctionTraceProcessorBase::processEOF() {
  LineProcessor::processEOF();
  if (out != nullptr) {
    writeReport();
  }
}

// Writes the report compactly, releasing each record as soon as it is written.
void FunctionTraceProcessorBase::writeReport() {
  std::unique_ptr<ReportBuffer> buffer(new ReportBuffer(out));
  std::ostream buffered(buffer.get());
  JsomWriter writer(&buffered);
  writer.startObject();

  writer.appendLabel("sections", true);
  writer.startArray();
  for (const std::string& name : sections) {
    writer.appendString(name, false);
  }
  writer.endArray();
  sections.clear();
  dictionary.clear();

  writer.appendLabel("pc", true);
  writer.startArray();
  for (PCEntry* entry : pcList) {
    writer.startArray();
    // A key built from a name is shown as "": the name index tells the name.
    if (entry->pc[0] == '@') {
      writer.appendString("", 0, false);
    } else {
      writer.appendString(entry->pc, false);
    }
    writer.appendLong(entry->nameIndex);
    writer.endArray();
    delete entry;
  }
  writer.endArray();
  pcList.clear();
  pcMap.clear();

  writer.appendLabel("threads", true);
  writer.startObject();
  std::vector<uint32_t> order;
  order.reserve(tids.size());
  for (const auto& thread : tids) {
    order.push_back(thread.first);
  }
  std::sort(order.begin(), order.end());
  for (uint32_t tid : order) {
    TidInfo* info = tids[tid];
    char label[33];
    std::snprintf(label, sizeof label, "%u", static_cast<unsigned>(tid));
    writer.appendLabel(label, true);
    writer.startObject();
    writer.appendLabel("trace", true);
    writer.startArray();
    for (uint32_t position = 0; position < info->count; ++position) {
      const TidEntry& entry = info->at(position);
      double start;
      long long micros;
      if (!entry.open &&
          spanRow(entry.start, entry.duration, skew, outputOffset, &start, &micros)) {
        writer.startArray();
        writer.appendDouble(start, 6);
        writer.appendLong(micros);
        writer.appendLong(entry.pcIndex);
        writer.endArray();
      }
    }
    writer.endArray();
    writer.endObject();
    delete info;
  }
  tids.clear();
  lastTidInfo = nullptr;
  freeSlabs();
  writer.endObject();
  writer.endObject();
  writer.flush();
}

void FunctionTraceProcessorBase::releaseAll() {
  for (PCEntry* entry : pcList) {
    delete entry;
  }
  pcList.clear();
  pcMap.clear();
  for (auto& thread : tids) {
    delete thread.second;
  }
  tids.clear();
  lastTidInfo = nullptr;
  freeSlabs();
}

void FunctionTraceProcessorBase::freeSlabs() {
  for (void* slab : slabs) {
    std::free(slab);
  }
  slabs.clear();
}

}  // namespace orvel
