#include "report/Speedscope.h"

#include <algorithm>
#include <climits>
#include <string>

#include "report/CallTree.h"
#include "report/ChromeTrace.h"
#include "report/JsonText.h"
#include "report/Nesting.h"
#include "report/OutputBuffer.h"
#include "report/SectionIndex.h"

namespace orvel {

namespace {

// Writes a thread's walk as events, the frame of a span being its section.
class Events : public NestingVisitor {
 public:
  Events(OutputBuffer* buffer, const std::vector<SpanReport::Span>& spans,
         const std::vector<uint32_t>& frameOfPc, long long origin)
      : buffer(buffer), spans(spans), frameOfPc(frameOfPc), origin(origin) {}

  void open(uint32_t row, long long begin) override {
    event("{\"type\":\"O\",\"frame\":", row, begin);
  }
  void close(uint32_t row, long long end, long long) override {
    event("{\"type\":\"C\",\"frame\":", row, end);
  }

  long long first = 0, last = 0;  // the times of the first and the last event

 private:
  void event(const char* head, uint32_t row, long long time) {
    std::string& text = buffer->text;
    // No time is before the origin; an end that saturated stays where it is.
    long long at;
    if (__builtin_sub_overflow(time, origin, &at)) {
      at = LLONG_MAX;
    }
    if (!any) {
      first = at;
    }
    text += any ? "," : "";
    any = true;
    text += head;
    appendJsonInteger(frameOfPc[spans[row].pc], &text);
    text += ",\"at\":";
    last = at;
    appendJsonInteger(last, &text);
    text += "}";
    buffer->piece();
  }

  OutputBuffer* buffer;
  const std::vector<SpanReport::Span>& spans;
  const std::vector<uint32_t>& frameOfPc;
  const long long origin;
  bool any = false;
};

}  // namespace

void writeSpeedscope(const std::vector<SpanReport>& reports, std::ostream& out) {
  // The frames of every report first, since the profiles refer to them.
  SectionIndex frames;
  std::vector<std::vector<uint32_t>> frameOfPc;
  for (const SpanReport& report : reports) {
    frameOfPc.push_back(frames.idsOf(report));
  }
  OutputBuffer buffer(out);
  std::string& text = buffer.text;
  text = "{\"$schema\":\"https://www.speedscope.app/file-format-schema.json\",";
  text += "\"exporter\":\"spanmill-report\",\"name\":";
  appendJsonString(
      reports.size() == 1 ? reports[0].name : std::to_string(reports.size()) + " reports", &text);
  text += ",\"activeProfileIndex\":0,\"shared\":{\"frames\":[";
  for (uint32_t id = 0; id < frames.size(); ++id) {
    text += id == 0 ? "\n{\"name\":" : ",\n{\"name\":";
    appendJsonString(frames[id].name.empty() ? kUnnamedSpan : frames[id].name, &text);
    if (!frames[id].location.empty()) {
      text += ",\"file\":";
      appendJsonString(frames[id].location, &text);
    }
    text += "}";
    buffer.piece();
  }
  text += "]},\"profiles\":[";
  bool firstProfile = true;
  for (size_t r = 0; r < reports.size(); ++r) {
    const SpanReport& report = reports[r];
    long long origin = LLONG_MAX;
    for (const SpanReport::Thread& thread : report.threads) {
      for (const SpanReport::Span& span : thread.spans) {
        origin = std::min(origin, spanBegin(span));
      }
    }
    for (const SpanReport::Thread& thread : report.threads) {
      if (thread.spans.empty()) {
        continue;  // speedscope shows nothing for a thread without spans
      }
      text +=
          firstProfile ? "\n{\"type\":\"evented\",\"name\":" : ",\n{\"type\":\"evented\",\"name\":";
      firstProfile = false;
      appendJsonString(threadTitle(report, thread, reports.size()), &text);
      text += ",\"unit\":\"microseconds\",\"events\":[";
      Events events(&buffer, thread.spans, frameOfPc[r], origin);
      walkNesting(thread.spans, &events);
      text += "],\"startValue\":";
      appendJsonInteger(events.first, &text);
      text += ",\"endValue\":";
      appendJsonInteger(events.last, &text);
      text += "}";
    }
  }
  text += "\n]}\n";
}

}  // namespace orvel
