// The function-trace model shared by the trace parsers: the time window,
// the distinct function names and code locations, and per thread the spans
// paired from begin and end events. At the end of input it writes them all
// as the JSON report.
#ifndef ORVEL_APP_FUNCTIONTRACEPROCESSORBASE_H
#define ORVEL_APP_FUNCTIONTRACEPROCESSORBASE_H

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "app/LineProcessor.h"
#include "app/StringIndex.h"
#include "app/ThreadSpans.h"
#include "app/ThreadTable.h"

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

  // A thread's spans and its stack of open ones.
  using TidInfo = ThreadSpans;

  // Bytes of a line the parsers see: a longer line is parsed on its first
  // kLineKeepLimit bytes, and a line that never ends costs no more memory.
  // Far more than either parser reads: a task name, CPU, flags, id and
  // time stamp, then at most 512 characters.
  static const size_t kLineKeepLimit = 65536;

  FunctionTraceProcessorBase() { setKeepLimit(kLineKeepLimit); }
  // Releases every record the report has not written.
  ~FunctionTraceProcessorBase() override;

  // Lines are found a block at a time and parsed where they stand, in a
  // copy of the block: no byte goes through processChar, which nothing
  // below may override therefore.
  void processBuffer(const char* data, int length) override;
  void processChar(char c) final { LineProcessor::processChar(c); }
  // Hands the line to parseLine.
  void processLine(const std::string& line) final;

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

 protected:
  // Parses one line: line[length] is a NUL, and the bytes up to readable
  // may be read. noLineFeed tells that the line holds no line feed. mark is
  // strchrnul(line, the line mark) where the chain found it, else null.
  virtual void parseLine(const char* line, size_t length, bool noLineFeed, const char* readable,
                         const char* mark) = 0;

  void processLineInPlace(const char* text, size_t length, const char* readable,
                          const char* mark) final;

 private:
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
  ThreadTable tids;                  // by numeric thread id
  SpanMemory spans;                  // every thread's record and spans
  // The block being split into lines; kBlockPadding bytes more than the
  // largest block, so that scanners may read a few bytes past a line.
  std::vector<char> block;
  static const size_t kBlockPadding = 32;
};

}  // namespace orvel

#endif  // ORVEL_APP_FUNCTIONTRACEPROCESSORBASE_H
