// The function-trace model shared by the trace parsers: the time window,
// the distinct function names and code locations, and per thread the spans
// paired from begin and end events. At the end of input it writes them all
// as the JSON report.
#ifndef ORVEL_APP_FUNCTIONTRACEPROCESSORBASE_H
#define ORVEL_APP_FUNCTIONTRACEPROCESSORBASE_H

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/LineProcessor.h"

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

  // One span of a thread.
  struct TidEntry {
    bool open;        // begun and not yet ended; whole spans are never open
    double start;     // input time stamp of the begin, unconverted
    double duration;  // input seconds; meaningless while open
    uint32_t pcIndex;
  };

  struct TidInfo {
    std::vector<uint32_t> stack;     // positions in entries of open spans, innermost last
    std::vector<TidEntry*> entries;  // owned; in order of begin or recording
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

  // location may be null; null and "" both mean no location.
  void processFunctionBegin(const char* name, const char* location, double time, uint32_t tid);
  // Closes the innermost open span of tid; does nothing when there is none.
  void processFunctionEnd(double time, uint32_t tid);
  void processFunctionEndDuration(double duration, uint32_t tid);
  // Records a closed span; the thread's open spans are not touched.
  void processFunction(const char* name, const char* location, double time, double duration,
                       uint32_t tid);

  // Lookups that create on first use.
  uint32_t getPCIndex(const char* name, const char* location);
  uint32_t getDictionaryIndex(const char* name);
  // The record stays owned by this processor.
  TidInfo* getTidInfo(uint32_t tid);

 private:
  // Pops the innermost open span of tid, or returns null.
  TidEntry* popOpenSpan(uint32_t tid);
  void writeReport();
  void releaseAll();

  double skew = 0.0;
  double outputOffset = 0.0;    // output time = input time * skew + outputOffset
  double fileStartTime = 0.0;   // window start in input time; 0.0: not fixed yet
  double fileEndTime = 0.0;     // window end in input time, excluded; 0.0: no end
  std::ostream* out = nullptr;  // not owned; null until setup
  std::string pcScratch;        // where the "@" + name key is built

  // std::less<> lets lookups take a const char* without building a string.
  std::map<std::string, uint32_t, std::less<>> dictionary;  // name -> index in sections
  std::vector<std::string> sections;                        // names, first seen first
  std::map<std::string, PCEntry*, std::less<>> pcMap;       // key -> entry, owned via pcList
  std::vector<PCEntry*> pcList;                             // owned; in order of creation
  std::map<uint32_t, TidInfo*> tids;                        // owned; by numeric thread id
};

}  // namespace orvel

#endif  // ORVEL_APP_FUNCTIONTRACEPROCESSORBASE_H
