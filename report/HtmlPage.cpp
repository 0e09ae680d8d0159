#include "report/HtmlPage.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <ostream>
#include <sstream>

#include "report/Deflate.h"
#include "report/HtmlAssets.h"
#include "report/JsonText.h"
#include "report/Nesting.h"
#include "report/SectionIndex.h"
#include "report/Summary.h"
#include "report/TextTable.h"

namespace orvel {

namespace {

void appendVarint(uint64_t value, std::string* out) {
  while (value >= 0x80) {
    out->push_back(static_cast<char>(value | 0x80));
    value >>= 7;
  }
  out->push_back(static_cast<char>(value));
}

uint64_t zigzag(long long value) {
  return value < 0 ? ~(static_cast<uint64_t>(value) << 1) : static_cast<uint64_t>(value) << 1;
}

// The rows of a thread in the order the nesting walk opens them.
struct OpenOrder : NestingVisitor {
  std::vector<uint32_t> rows;
  void open(uint32_t row, long long) override { rows.push_back(row); }
  void close(uint32_t, long long, long long) override {}
};

const char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

void appendBase64(const std::string& bytes, std::string* out) {
  const auto byte = [&](size_t i) { return static_cast<uint32_t>(static_cast<uint8_t>(bytes[i])); };
  size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const uint32_t v = byte(i) << 16 | byte(i + 1) << 8 | byte(i + 2);
    const char four[] = {kBase64[v >> 18], kBase64[v >> 12 & 63], kBase64[v >> 6 & 63],
                         kBase64[v & 63]};
    out->append(four, 4);
  }
  if (i < bytes.size()) {
    const bool two = i + 1 < bytes.size();
    const uint32_t v = byte(i) << 16 | (two ? byte(i + 1) << 8 : 0);
    const char four[] = {kBase64[v >> 18], kBase64[v >> 12 & 63], two ? kBase64[v >> 6 & 63] : '=',
                         '='};
    out->append(four, 4);
  }
}

// JSON inside a script element: "</" would end the element early; "<\/"
// reads the same.
void appendScriptJson(const std::string& json, std::string* out) {
  size_t from = 0;
  for (size_t at = json.find("</"); at != std::string::npos; at = json.find("</", at + 2)) {
    out->append(json, from, at + 1 - from);
    *out += '\\';
    from = at + 1;
  }
  out->append(json, from, std::string::npos);
}

void appendNumberArray(const std::vector<double>& values, std::string* out) {
  *out += '[';
  for (size_t i = 0; i < values.size(); ++i) {
    if (i > 0) {
      *out += ',';
    }
    appendJsonNumber(values[i], out);
  }
  *out += ']';
}

void appendStringArray(const std::vector<std::string>& values, std::string* out) {
  *out += '[';
  for (size_t i = 0; i < values.size(); ++i) {
    if (i > 0) {
      *out += ',';
    }
    appendJsonString(values[i], out);
  }
  *out += ']';
}

// What the page knows besides the spans: the reports and their threads,
// the sections, the summary as summary prints it, and the comparison.
std::string metadata(const std::vector<SpanReport>& reports, const Summary& summary,
                     const HtmlComparison* comparison) {
  std::string json = "{\"version\":1,\"reports\":[";
  for (size_t r = 0; r < reports.size(); ++r) {
    json += r == 0 ? "{\"name\":" : ",{\"name\":";
    appendJsonString(reports[r].name, &json);
    json += ",\"threads\":[";
    for (size_t t = 0; t < reports[r].threads.size(); ++t) {
      const SpanReport::Thread& thread = reports[r].threads[t];
      json += t == 0 ? "{\"tid\":" : ",{\"tid\":";
      appendJsonString(thread.tid, &json);
      json += ",\"spans\":";
      appendJsonInteger(static_cast<long long>(thread.spans.size()), &json);
      json += "}";
    }
    json += "]}";
  }
  json += "],\"sections\":[";
  for (uint32_t id = 0; id < summary.sections.size(); ++id) {
    const SectionIndex::Section& section = summary.sections[id];
    json += id == 0 ? "{\"name\":" : ",{\"name\":";
    appendJsonString(section.name, &json);
    json += ",\"location\":";
    appendJsonString(section.location, &json);
    json += ",\"text\":";
    appendJsonString(sectionText(section.name, section.location), &json);
    json += "}";
  }
  json += "],\"summary\":{\"self_us\":";
  appendJsonNumber(summary.self, &json);
  json += ",\"rows\":[";
  for (size_t i = 0; i < summary.rows.size(); ++i) {
    const SummaryRow& row = summary.rows[i];
    const std::vector<double> figures = {static_cast<double>(row.count),
                                         row.total,
                                         row.self,
                                         row.mean,
                                         row.min,
                                         row.median,
                                         row.p95,
                                         row.max,
                                         row.share};
    json += i == 0 ? "{\"section\":" : ",{\"section\":";
    appendJsonInteger(row.section, &json);
    json += ",\"figures\":";
    appendNumberArray(figures, &json);
    // The cells as the summary's table writes them.
    std::vector<std::string> cells = {std::to_string(row.count)};
    for (double micros : {row.total, row.self, row.mean, row.min, row.median, row.p95, row.max}) {
      cells.push_back(durationText(micros));
    }
    cells.push_back(shareText(row.share));
    json += ",\"cells\":";
    appendStringArray(cells, &json);
    json += "}";
  }
  json += "]}";
  if (comparison != nullptr) {
    std::ostringstream diff;
    const Gate gate = judge(comparison->rows, comparison->percent, comparison->alpha);
    writeDiffJson(comparison->rows, comparison->alpha, &gate, comparison->percent, diff);
    std::string numbers = diff.str();
    while (!numbers.empty() && numbers.back() == '\n') {
      numbers.pop_back();
    }
    json += ",\"comparison\":{\"fail_above_pct\":";
    appendJsonNumber(comparison->percent, &json);
    json += ",\"before\":";
    appendStringArray(comparison->before, &json);
    json += ",\"after\":";
    appendStringArray(comparison->after, &json);
    // The intervals' lower ends exact, for the gate the page judges again
    // at the threshold set there: the diff's JSON rounds them to 6 digits.
    json += ",\"low_pct\":[";
    for (size_t i = 0; i < comparison->rows.size(); ++i) {
      const double low = comparison->rows[i].change.low;
      char text[32];
      std::snprintf(text, sizeof text, "%.17g", (low - 1) * 100);
      json += i > 0 ? "," : "";
      json += std::isfinite(low) ? text : "null";
    }
    json += "],\"diff\":" + numbers + ",\"cells\":[";
    const std::vector<std::vector<std::string>> lines = diffTableLines(comparison->rows);
    for (size_t i = 1; i < lines.size(); ++i) {
      if (i > 1) {
        json += ',';
      }
      appendStringArray(lines[i], &json);
    }
    json += "]}";
  }
  json += "}";
  return json;
}

}  // namespace

std::string spanColumns(const std::vector<SpanReport>& reports) {
  SectionIndex sections;
  size_t count = 0;
  for (const SpanReport& report : reports) {
    for (const SpanReport::Thread& thread : report.threads) {
      count += thread.spans.size();
    }
  }
  // Each column is written into its own string, then the three joined.
  std::string starts, durations, ids;
  starts.reserve(2 * count);
  durations.reserve(3 * count);
  ids.reserve(count);
  OpenOrder order;
  for (const SpanReport& report : reports) {
    const std::vector<uint32_t>& sectionOfPc = sections.idsOf(report);
    for (const SpanReport::Thread& thread : report.threads) {
      order.rows.clear();
      walkNesting(thread.spans, &order);
      long long last = 0;
      for (uint32_t row : order.rows) {
        const SpanReport::Span& span = thread.spans[row];
        const long long begin = spanBegin(span);
        appendVarint(zigzag(begin - last), &starts);
        appendVarint(zigzag(span.micros), &durations);
        appendVarint(sectionOfPc[span.pc], &ids);
        last = begin;
      }
    }
  }
  return starts + durations + ids;
}

void writeHtmlPage(const std::vector<SpanReport>& reports, const HtmlComparison* comparison,
                   std::ostream& out) {
  const Summary summary = summarize(reports, false);
  std::string deflated;
  {
    const std::string columns = spanColumns(reports);
    appendDeflated(reinterpret_cast<const uint8_t*>(columns.data()), columns.size(), &deflated);
  }
  std::string text = kHtmlBeforeData;
  text += "<script type=\"application/json\" id=\"spanmill-meta\">";
  appendScriptJson(metadata(reports, summary, comparison), &text);
  text += "</script>\n<script type=\"application/octet-stream\" id=\"spanmill-spans\">";
  out << text;
  // In pieces of 3 MB, so that the text is never held whole.
  const size_t piece = 3 << 20;
  for (size_t at = 0; at < deflated.size(); at += piece) {
    text.clear();
    appendBase64(deflated.substr(at, piece), &text);
    out << text;
  }
  out << "</script>\n" << kHtmlAfterData;
}

}  // namespace orvel
