#include "report/ChromeTrace.h"

#include <ostream>
#include <string>

#include "report/JsonText.h"
#include "report/OutputBuffer.h"

namespace orvel {

const char kUnnamedSpan[] = "(unnamed)";

namespace {}  // namespace

ChromeTraceSize writeChromeTrace(const std::vector<SpanReport>& reports, std::ostream& out) {
  OutputBuffer buffer(out);
  std::string& text = buffer.text;
  text = "{\"traceEvents\":[";
  ChromeTraceSize size;
  auto event = [&]() -> std::string& {
    buffer.piece();
    text += size.events == 0 ? "\n{" : ",\n{";
    size.events += 1;
    return text;
  };
  for (size_t r = 0; r < reports.size(); ++r) {
    const SpanReport& report = reports[r];
    const std::string pid = std::to_string(r + 1);
    event() += "\"name\":\"process_name\",\"ph\":\"M\",\"pid\":" + pid + ",\"args\":{\"name\":";
    appendJsonString(report.name, &text);
    text += "}}";
    // Names and locations as JSON once per "pc" row, not once per span.
    std::vector<std::string> names(report.pcs.size());
    std::vector<std::string> args(report.pcs.size());
    for (size_t i = 0; i < report.pcs.size(); ++i) {
      const std::string& name = report.sections[report.pcs[i].nameIndex];
      appendJsonString(name.empty() ? kUnnamedSpan : name, &names[i]);
      if (!report.pcs[i].location.empty()) {
        args[i] = ",\"args\":{\"location\":";
        appendJsonString(report.pcs[i].location, &args[i]);
        args[i] += "}";
      }
    }
    for (const SpanReport::Thread& thread : report.threads) {
      event() += "\"name\":\"thread_name\",\"ph\":\"M\",\"pid\":" + pid + ",\"tid\":" + thread.tid +
                 ",\"args\":{\"name\":\"tid " + thread.tid + "\"}}";
      const std::string ids = ",\"pid\":" + pid + ",\"tid\":" + thread.tid;
      for (const SpanReport::Span& span : thread.spans) {
        event() += "\"name\":";
        text += names[span.pc];
        text += ",\"cat\":\"span\",\"ph\":\"X\",\"ts\":";
        appendJsonNumber(span.start * 1e6, &text);
        text += ",\"dur\":";
        if (span.micros >= 0) {
          appendJsonInteger(span.micros, &text);
          text += ids;
          text += args[span.pc];
        } else {
          // An end before its begin: viewers take no negative duration, so
          // the event has none and its arguments tell the reported one.
          text += "0";
          text += ids;
          text += ",\"args\":{\"duration_us\":";
          appendJsonInteger(span.micros, &text);
          if (!args[span.pc].empty()) {
            text += ",";
            text.append(args[span.pc], 9, std::string::npos);  // after ,"args":{
            text.pop_back();
          }
          text += "}";
        }
        text += "}";
      }
    }
  }
  text += "\n],\"displayTimeUnit\":\"ms\"}\n";
  size.bytes = buffer.size();
  return size;
}

}  // namespace orvel
