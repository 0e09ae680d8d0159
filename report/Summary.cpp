#include "report/Summary.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ostream>
#include <tuple>

#include "report/JsonText.h"
#include "report/Nesting.h"
#include "report/SectionIndex.h"
#include "report/TextTable.h"

namespace orvel {

namespace {

// The statistics of one row from its durations, which it reorders: the
// ranks needed are selected rather than the whole list sorted.
void fill(std::vector<long long>* durations, SummaryRow* row) {
  std::vector<long long>& d = *durations;
  const size_t n = d.size();
  row->count = n;
  double total = 0;
  for (long long micros : d) {
    total += static_cast<double>(micros);
  }
  row->total = total;
  // Within [0, total] even where spans ended before they began.
  row->self = std::min(row->self, std::max(0.0, total));
  row->mean = total / static_cast<double>(n);
  row->min = static_cast<double>(*std::min_element(d.begin(), d.end()));
  row->max = static_cast<double>(*std::max_element(d.begin(), d.end()));
  // The nearest rank, counted from 0; in 64 bits, where size_t has 32.
  const size_t p95 = static_cast<size_t>((95 * static_cast<uint64_t>(n) + 99) / 100 - 1);
  std::nth_element(d.begin(), d.begin() + p95, d.end());
  row->p95 = static_cast<double>(d[p95]);
  // Everything before the 95th percentile's place is at most it, so the
  // middle ranks lie there.
  std::nth_element(d.begin(), d.begin() + n / 2, d.begin() + p95 + 1);
  const double upper = static_cast<double>(d[n / 2]);
  const double lower =
      n % 2 == 1 ? upper : static_cast<double>(*std::max_element(d.begin(), d.begin() + n / 2));
  row->median = (lower + upper) / 2;
}

}  // namespace

std::string durationText(double micros) {
  char text[64];
  const double size = std::fabs(micros);
  if (size < 1000) {
    std::snprintf(text, sizeof text, micros == std::floor(micros) ? "%.0f us" : "%.1f us", micros);
  } else if (size < 1000000) {
    std::snprintf(text, sizeof text, "%.3f ms", micros / 1e3);
  } else {
    std::snprintf(text, sizeof text, "%.3f s", micros / 1e6);
  }
  return text;
}

Summary summarize(const std::vector<SpanReport>& reports, bool byThread) {
  Summary summary;
  std::vector<std::vector<long long>> durations;
  SectionIndex sections;
  // A row per section, or per section and thread: rowOf[id] is the row of
  // section id where stamp[id] says it is the current thread's, so that a
  // thread costs what its spans cost, not the number of sections.
  std::vector<size_t> rowOf;
  std::vector<size_t> stamp;
  size_t threads = 0;
  for (const SpanReport& report : reports) {
    const std::vector<uint32_t>& sectionOfPc = sections.idsOf(report);
    rowOf.resize(sections.size());
    stamp.resize(sections.size(), 0);
    for (const SpanReport::Thread& thread : report.threads) {
      threads += byThread;
      const std::string threadName = !byThread            ? ""
                                     : reports.size() > 1 ? report.name + ":" + thread.tid
                                                          : thread.tid;
      const std::vector<long long> self = selfTimes(thread.spans);
      for (size_t i = 0; i < thread.spans.size(); ++i) {
        const uint32_t id = sectionOfPc[thread.spans[i].pc];
        if (stamp[id] != threads + 1) {
          stamp[id] = threads + 1;
          rowOf[id] = summary.rows.size();
          summary.rows.push_back(SummaryRow{sections[id].name, sections[id].location, threadName});
          durations.emplace_back();
        }
        durations[rowOf[id]].push_back(thread.spans[i].micros);
        summary.rows[rowOf[id]].self += static_cast<double>(self[i]);
      }
    }
  }
  for (size_t i = 0; i < summary.rows.size(); ++i) {
    fill(&durations[i], &summary.rows[i]);
    summary.total += summary.rows[i].total;
    summary.self += summary.rows[i].self;
  }
  for (SummaryRow& row : summary.rows) {
    row.share = summary.self != 0 ? row.self / summary.self : 0;
  }
  std::sort(summary.rows.begin(), summary.rows.end(), [](const SummaryRow& a, const SummaryRow& b) {
    return std::tie(b.total, a.name, a.location, a.thread) <
           std::tie(a.total, b.name, b.location, b.thread);
  });
  return summary;
}

void writeSummaryTable(const Summary& summary, bool byThread, std::ostream& out) {
  const std::vector<std::string> heads = {"thread", "section", "spans", "total", "self", "mean",
                                          "min",    "median",  "p95",   "max",   "share"};
  std::vector<std::vector<std::string>> lines = {heads};
  for (const SummaryRow& row : summary.rows) {
    char share[32];
    std::snprintf(share, sizeof share, "%.1f%%", row.share * 100);
    lines.push_back({printable(row.thread), sectionText(row.name, row.location),
                     std::to_string(row.count), durationText(row.total), durationText(row.self),
                     durationText(row.mean), durationText(row.min), durationText(row.median),
                     durationText(row.p95), durationText(row.max), share});
  }
  // No thread column unless the rows are split by thread.
  if (!byThread) {
    for (auto& line : lines) {
      line.erase(line.begin());
    }
  }
  writeTextTable(lines, byThread ? 2 : 1, out);
}

void writeSummaryJson(const Summary& summary, bool byThread, std::ostream& out) {
  std::string text = "{\"rows\":[";
  for (size_t i = 0; i < summary.rows.size(); ++i) {
    const SummaryRow& row = summary.rows[i];
    text += i == 0 ? "{" : ",{";
    if (byThread) {
      text += "\"thread\":";
      appendJsonString(row.thread, &text);
      text += ",";
    }
    text += "\"section\":";
    appendJsonString(row.name, &text);
    text += ",\"location\":";
    appendJsonString(row.location, &text);
    text += ",\"spans\":" + std::to_string(row.count);
    const std::pair<const char*, double> numbers[] = {
        {"total_us", row.total}, {"self_us", row.self},     {"mean_us", row.mean},
        {"min_us", row.min},     {"median_us", row.median}, {"p95_us", row.p95},
        {"max_us", row.max}};
    for (const auto& number : numbers) {
      text += ",\"";
      text += number.first;
      text += "\":";
      appendJsonNumber(number.second, &text);
    }
    text += ",\"share\":";
    char share[32];
    std::snprintf(share, sizeof share, "%.6f", row.share);
    text += share;
    text += "}";
  }
  text += "],\"total_us\":";
  appendJsonNumber(summary.total, &text);
  text += ",\"self_us\":";
  appendJsonNumber(summary.self, &text);
  text += "}\n";
  out << text;
}

}  // namespace orvel
