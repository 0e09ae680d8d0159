#include "report/Summary.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ostream>
#include <tuple>
#include <unordered_map>

#include "report/JsonText.h"

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

// Names as a terminal shows them: control bytes would break the table.
std::string printable(const std::string& text) {
  std::string shown = text;
  for (char& c : shown) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
      c = '?';
    }
  }
  return shown;
}

// Columns are counted in characters: UTF-8 continuation bytes take none.
size_t width(const std::string& text) {
  size_t count = 0;
  for (char c : text) {
    count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }
  return count;
}

std::string sectionText(const SummaryRow& row) {
  std::string text = row.name.empty() ? "(unnamed)" : printable(row.name);
  if (!row.location.empty()) {
    text += " (" + printable(row.location) + ")";
  }
  return text;
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
      for (const SpanReport::Span& span : thread.spans) {
        durations[rowOfPc[span.pc]].push_back(span.micros);
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
  const std::vector<std::string> heads = {"thread", "section", "spans", "total", "mean",
                                          "min",    "median",  "p95",   "max",   "share"};
  std::vector<std::vector<std::string>> cells;
  for (const SummaryRow& row : rows) {
    char share[32];
    std::snprintf(share, sizeof share, "%.1f%%", row.share * 100);
    cells.push_back({printable(row.thread), sectionText(row), std::to_string(row.count),
                     durationText(row.total), durationText(row.mean), durationText(row.min),
                     durationText(row.median), durationText(row.p95), durationText(row.max),
                     share});
  }
  std::vector<size_t> widths(heads.size());
  for (size_t c = 0; c < heads.size(); ++c) {
    widths[c] = width(heads[c]);
    for (const auto& line : cells) {
      widths[c] = std::max(widths[c], width(line[c]));
    }
  }
  // Text columns to the left, numbers to the right; no thread column
  // unless the rows are split by thread.
  auto print = [&](const std::vector<std::string>& line) {
    std::string text;
    for (size_t c = byThread ? 0 : 1; c < line.size(); ++c) {
      const std::string pad(widths[c] - width(line[c]), ' ');
      if (c > (byThread ? 0u : 1u)) {
        text += "  ";
      }
      text += c < 2 ? line[c] + (c + 1 < line.size() ? pad : "") : pad + line[c];
    }
    out << text << '\n';
  };
  print(heads);
  for (const auto& line : cells) {
    print(line);
  }
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
        {"total_us", row.total},   {"mean_us", row.mean}, {"min_us", row.min},
        {"median_us", row.median}, {"p95_us", row.p95},   {"max_us", row.max}};
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
