// The function-trace model shared by the trace parsers: the time window,
// the distinct function names and code locations, and per thread the spans
// paired from begin and end events. At the end of input it writes them all
// as the JSON report.
#ifndef ORVEL_APP_FUNCTIONTRACEPROCESSORBASE_H
#define ORVEL_APP_FUNCTIONTRACEPROCESSORBASE_H

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "app/LineProcessor.h"
#include "app/Slabs.h"
#include "app/StringIndex.h"

namespace orvel {

// Subclasses parse lines (processLine) and feed events to the operations
// below. All calls after setup come from the one thread that delivers the
// input; nothing here locks.
class FunctionTraceProcessorBase : public CustomProcessor {
 public:
  // One distinct PC key: a location, or "@" and a function name.
  struct PCEntry {
    std::string pc;
    uint32_t index;      // position in pcList
    uint32_t nameIndex;  // the name the entry was created with, in sections
  };

  // A thread's spans, 1024 to a chunk, stored column by column so that a
  // span takes 20 bytes with no padding. Chunks are carved from large
  // slabs: appending never moves a span, and memory grows without copying.
  struct TidEntries {
    static const uint32_t kSize = 1024;
    // Marks pcIndex while the span is open (begun, not yet ended; whole
    // spans are never open). PC indexes stay far below it: each PC entry
    // takes dozens of bytes.
    static const uint32_t kOpen = 0x80000000u;

    double start[kSize];     // input time stamp of the begin, unconverted
    double duration[kSize];  // input seconds; meaningless while open
    uint32_t pcIndex[kSize];
  };

  struct TidInfo {
    std::vector<uint32_t> stack;      // positions of open spans, innermost last
    std::vector<TidEntries*> chunks;  // not owned: they lie in the processor's slabs
    uint32_t count = 0;               // spans, in order of begin or recording
  };

  FunctionTraceProcessorBase() = default;
  // Releases every record the report has not written.
  ~FunctionTraceProcessorBase() override;

  // Writes the report onto out after delivering the last line; writes
  // nothing when setup was never called. Empties the collections.
  void processEOF() override;

  // out is not owned and must outlive the report. A startTime of 0.0 means
  // none was given: the first time stamp tested fixes the window's start,
  // and the window has no end.
  void setup(std::ostream* out, double startTime, double duration, double skew,
             double offset) override;

  // True when time lies in the window: from its start (included) to its end
  // (excluded). While the start is unfixed, the call fixes it at time.
  bool isTimeInRange(double time);

  // location may be null; null and "" both mean no location. Each of these
  // has a form taking views, for parsers that do not copy what they found.
  void processFunctionBegin(const char* name, const char* location, double time, uint32_t tid);
  void processFunctionBegin(std::string_view name, std::string_view location, double time,
                            uint32_t tid);
  // Closes the innermost open span of tid; does nothing when there is none.
  void processFunctionEnd(double time, uint32_t tid);
  void processFunctionEndDuration(double duration, uint32_t tid);
  // Records a closed span; the thread's open spans are not touched.
  void processFunction(const char* name, const char* location, double time, double duration,
                       uint32_t tid);
  void processFunction(std::string_view name, std::string_view location, double time,
                       double duration, uint32_t tid);

  // Lookups that create on first use.
  uint32_t getPCIndex(const char* name, const char* location);
  uint32_t getPCIndex(std::string_view name, std::string_view location);
  uint32_t getDictionaryIndex(const char* name);
  uint32_t getDictionaryIndex(std::string_view name);
  // The record stays owned by this processor.
  TidInfo* getTidInfo(uint32_t tid);

 private:
  // Appends a span to a thread's chunks; pcIndex carries kOpen for a begin.
  void appendSpan(TidInfo* info, double start, double duration, uint32_t pcIndex);
  // Closes the innermost open span of tid: its chunk and place there, or
  // null when the thread has no open span.
  TidEntries* popOpenSpan(uint32_t tid, uint32_t* place);
  void writeReport();
  void releaseAll();

  double skew = 0.0;
  double outputOffset = 0.0;    // output time = input time * skew + outputOffset
  double fileStartTime = 0.0;   // window start in input time; 0.0: not fixed yet
  double fileEndTime = 0.0;     // window end in input time, excluded; 0.0: no end
  std::ostream* out = nullptr;  // not owned; null until setup

  // The indexes hold views of strings owned elsewhere: names in sections (a
  // deque never moves its elements), keys in their PCEntry.
  StringIndex dictionary;            // name -> index in sections
  std::deque<std::string> sections;  // names, first seen first
  StringIndex pcMap;                 // key -> index in pcList
  StringIndex markedPcMap;           // the same for keys beginning with "@", indexed without it
  std::vector<PCEntry*> pcList;      // owned; in order of creation
  std::unordered_map<uint32_t, TidInfo*> tids;  // owned; by numeric thread id
  Slabs slabs;                                  // where every thread's chunks lie

  // Recently used threads, by the low bits of their id: most events find
  // their thread here without a lookup in tids.
  static const uint32_t kRecentThreads = 64;
  struct RecentThread {
    uint32_t tid;
    TidInfo* info;  // null: the place is free
  };
  RecentThread recent[kRecentThreads] = {};
  // The record of tid, or null; create makes a missing one.
  TidInfo* findTidInfo(uint32_t tid, bool create);
};

}  // namespace orvel

#endif  // ORVEL_APP_FUNCTIONTRACEPROCESSORBASE_H
