#include "app/FunctionTraceProcessorBase.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <ostream>
#include <streambuf>

#include "app/OutOfMemory.h"
#include "app/ReportRows.h"
#include "json/JsomWriter.h"

namespace orvel {

namespace {

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

  // A large piece (the report's rows come in pieces of thousands) goes
  // out as it is, after what is gathered: copying it first would only
  // cost time.
  std::streamsize xsputn(const char* data, std::streamsize count) override {
    if (count < static_cast<std::streamsize>(sizeof space)) {
      return std::streambuf::xsputn(data, count);
    }
    if (sync() != 0) {
      return 0;
    }
    out->write(data, count);
    return out->good() ? count : 0;
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

// A C string as a view; null is the empty view.
std::string_view viewOf(const char* text) {
  return text != nullptr ? std::string_view(text) : std::string_view();
}

}  // namespace

FunctionTraceProcessorBase::~FunctionTraceProcessorBase() {
  releaseAll();
}

void FunctionTraceProcessorBase::processBuffer(const char* data, int length) {
  if (length <= 0) {
    return;
  }
  const size_t size = static_cast<size_t>(length);
  if (block.size() < size + kBlockPadding) {
    block.resize(size + kBlockPadding);
  }
  std::memcpy(block.data(), data, size);
  processWritableBlock(block.data(), length, block.data() + block.size());
}

void FunctionTraceProcessorBase::processLine(const std::string& line) {
  parseLine(line.c_str(), line.size(), assembledHere(line), line.c_str() + line.size() + 1,
            nullptr);
}

void FunctionTraceProcessorBase::processLineInPlace(const char* text, size_t length,
                                                    const char* readable, const char* mark) {
  parseLine(text, length, true, readable, mark);
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

uint32_t FunctionTraceProcessorBase::getDictionaryIndex(const char* name) {
  return getDictionaryIndex(viewOf(name));
}

uint32_t FunctionTraceProcessorBase::getDictionaryIndex(std::string_view name) {
  uint32_t index = dictionary.find(name);
  if (index != StringIndex::kMissing) {
    return index;
  }
  index = static_cast<uint32_t>(sections.size());
  sections.emplace_back(name);
  dictionary.insert(sections.back(), index);
  return index;
}

uint32_t FunctionTraceProcessorBase::getPCIndex(const char* name, const char* location) {
  return getPCIndex(viewOf(name), viewOf(location));
}

uint32_t FunctionTraceProcessorBase::getPCIndex(std::string_view name, std::string_view location) {
  // The key is the location, or "@" and the name. Keys that begin with "@"
  // are indexed without it, so that a name is looked up as it stands: no
  // key is built unless the entry is new.
  const bool marked = location.empty() || location[0] == '@';
  const std::string_view lookup = location.empty() ? name : marked ? location.substr(1) : location;
  StringIndex& keys = marked ? markedPcMap : pcMap;
  uint32_t index = keys.find(lookup);
  if (index != StringIndex::kMissing) {
    return index;
  }
  index = static_cast<uint32_t>(pcList.size());
  if (index >= ThreadSpans::kPcLimit) {
    // Half a billion distinct locations: more than memory holds.
    outOfMemory();
  }
  PCEntry* entry =
      new PCEntry{location.empty() ? "@" + std::string(name) : std::string(location), index, 0};
  entry->nameIndex = getDictionaryIndex(name);
  pcList.push_back(entry);
  const std::string_view key = entry->pc;
  keys.insert(marked ? key.substr(1) : key, index);
  return index;
}

FunctionTraceProcessorBase::TidInfo* FunctionTraceProcessorBase::getTidInfo(uint32_t tid) {
  return tids.findOrAdd(tid, spans.slabs);
}

void FunctionTraceProcessorBase::processFunctionBegin(const char* name, const char* location,
                                                      double time, uint32_t tid) {
  processFunctionBegin(viewOf(name), viewOf(location), time, tid);
}

void FunctionTraceProcessorBase::processFunctionBegin(std::string_view name,
                                                      std::string_view location, double time,
                                                      uint32_t tid) {
  // The PC entry first, so that name and location are reported even when
  // the span never ends.
  uint32_t pcIndex = getPCIndex(name, location);
  getTidInfo(tid)->open(time, pcIndex, spans);
}

void FunctionTraceProcessorBase::processFunction(const char* name, const char* location,
                                                 double time, double duration, uint32_t tid) {
  processFunction(viewOf(name), viewOf(location), time, duration, tid);
}

void FunctionTraceProcessorBase::processFunction(std::string_view name, std::string_view location,
                                                 double time, double duration, uint32_t tid) {
  uint32_t pcIndex = getPCIndex(name, location);
  getTidInfo(tid)->addClosed(time, duration, pcIndex, spans);
}

void FunctionTraceProcessorBase::processFunctionEnd(double time, uint32_t tid) {
  TidInfo* info = tids.find(tid);
  if (info != nullptr) {
    info->closeAt(time, spans);
  }
}

void FunctionTraceProcessorBase::processFunctionEndDuration(double duration, uint32_t tid) {
  TidInfo* info = tids.find(tid);
  if (info != nullptr) {
    info->closeAfter(duration, spans);
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
  markedPcMap.clear();

  writer.appendLabel("threads", true);
  writer.startObject();
  {
    size_t count;
    TidInfo* const* threads = tids.sort(&count);
    ReportRows rows(threads, count, spans, skew, outputOffset);
    rows.write(writer);
  }
  tids.clear();
  spans.release();
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
  markedPcMap.clear();
  tids.clear();
  spans.release();
}

}  // namespace orvel
