#include "report/Summary.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ostream>
#include <tuple>
#include <unordered_map>

#include "report/JsonText.h"
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

std::vector<long long> selfTimes(const std::vector<SpanReport::Span>& spans) {
  std::vector<long long> self(spans.size());
  std::vector<double> begin(spans.size());  // in whole microseconds
  std::vector<uint32_t> order(spans.size());
  for (size_t i = 0; i < spans.size(); ++i) {
    self[i] = spans[i].micros;
    begin[i] = std::round(spans[i].start * 1e6);
    order[i] = static_cast<uint32_t>(i);
  }
  auto end = [&](uint32_t i) { return begin[i] + static_cast<double>(spans[i].micros); };
  // Outer spans first: by start, then the longest first. Of two equal
  // spans the later one ended last (spanmill writes a span when it ends),
  // so it is the outer one.
  std::sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
    return std::tie(begin[a], spans[b].micros, b) < std::tie(begin[b], spans[a].micros, a);
  });
  // The spans that enclose the one at hand, innermost last.
  std::vector<uint32_t> open;
  for (uint32_t i : order) {
    while (!open.empty() && !(begin[i] < end(open.back()) && end(i) <= end(open.back()) + 1)) {
      open.pop_back();
    }
    if (!open.empty()) {
      self[open.back()] -= spans[i].micros;
    }
    open.push_back(i);
  }
  for (long long& micros : self) {
    micros = std::max(micros, 0LL);
  }
  return self;
}

std::vector<SummaryRow> summarize(const std::vector<SpanReport>& reports, bool byThread) {
  std::vector<SummaryRow> rows;
  std::vector<std::vector<long long>> durations;
  // Rows are found by their text (name, location, thread) once per "pc"
  // row and thread, not once per span.
  std::unordered_map<std::string, size_t> byKey;
  for (const SpanReport& report : reports) {
    std::vector<size_t> rowOfPc;
    bool mapped = false;  // without threads, one map serves the whole report
    for (const SpanReport::Thread& thread : report.threads) {
      if (byThread || !mapped) {
        mapped = true;
        const std::string threadName = !byThread            ? ""
                                       : reports.size() > 1 ? report.name + ":" + thread.tid
                                                            : thread.tid;
        rowOfPc.assign(report.pcs.size(), 0);
        for (size_t pc = 0; pc < report.pcs.size(); ++pc) {
          const std::string& name = report.sections[report.pcs[pc].nameIndex];
          const std::string& location = report.pcs[pc].location;
          std::string key = name;
          key.push_back('\0');
          key += location;
          key.push_back('\0');
          key += threadName;
          auto found = byKey.emplace(std::move(key), rows.size());
          if (found.second) {
            rows.push_back(SummaryRow{name, location, threadName});
            durations.emplace_back();
          }
          rowOfPc[pc] = found.first->second;
        }
      }
      const std::vector<long long> self = selfTimes(thread.spans);
      for (size_t i = 0; i < thread.spans.size(); ++i) {
        const size_t row = rowOfPc[thread.spans[i].pc];
        durations[row].push_back(thread.spans[i].micros);
        rows[row].self += static_cast<double>(self[i]);
      }
    }
  }
  // Rows of "pc" entries that no span refers to have no statistics.
  size_t kept = 0;
  for (size_t i = 0; i < rows.size(); ++i) {
    if (!durations[i].empty()) {
      if (kept != i) {
        rows[kept] = std::move(rows[i]);
        durations[kept] = std::move(durations[i]);
      }
      ++kept;
    }
  }
  rows.resize(kept);
  durations.resize(kept);
  double total = 0;
  for (size_t i = 0; i < rows.size(); ++i) {
    fill(&durations[i], &rows[i]);
    total += rows[i].total;
  }
  for (SummaryRow& row : rows) {
    row.share = total != 0 ? row.total / total : 0;
  }
  std::sort(rows.begin(), rows.end(), [](const SummaryRow& a, const SummaryRow& b) {
    return std::tie(b.total, a.name, a.location, a.thread) <
           std::tie(a.total, b.name, b.location, b.thread);
  });
  return rows;
}

void writeSummaryTable(const std::vector<SummaryRow>& rows, bool byThread, std::ostream& out) {
  const std::vector<std::string> heads = {"thread", "section", "spans", "total", "self", "mean",
                                          "min",    "median",  "p95",   "max",   "share"};
  std::vector<std::vector<std::string>> lines = {heads};
  for (const SummaryRow& row : rows) {
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

void writeSummaryJson(const std::vector<SummaryRow>& rows, bool byThread, std::ostream& out) {
  std::string text = "{\"rows\":[";
  double total = 0;
  for (size_t i = 0; i < rows.size(); ++i) {
    const SummaryRow& row = rows[i];
    total += row.total;
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
  appendJsonNumber(total, &text);
  text += "}\n";
  out << text;
}

}  // namespace orvel
