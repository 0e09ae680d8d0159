#include "report/Summary.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <ostream>
#include <tuple>

#include "report/JsonText.h"
#include "report/Nesting.h"
#include "report/SectionIndex.h"
#include "report/TextTable.h"

namespace orvel {

namespace {

// Where a row goes: by total, largest first, then by section and thread.
struct Place {
  double total;
  uint32_t section;  // the rank of its name and location
  uint32_t thread;
  uint32_t row;
};

// The statistics of one row from its durations, which it reorders: the
// ranks needed are selected rather than the whole list sorted.
void fill(long long* d, size_t n, double total, SummaryRow* row) {
  row->mean = total / static_cast<double>(n);
  row->min = static_cast<double>(*std::min_element(d, d + n));
  row->max = static_cast<double>(*std::max_element(d, d + n));
  // The nearest rank, counted from 0; in 64 bits, where size_t has 32.
  const size_t p95 = static_cast<size_t>((95 * static_cast<uint64_t>(n) + 99) / 100 - 1);
  std::nth_element(d, d + p95, d + n);
  row->p95 = static_cast<double>(d[p95]);
  // Everything before the 95th percentile's place is at most it, so the
  // middle ranks lie there.
  std::nth_element(d, d + n / 2, d + p95 + 1);
  const double upper = static_cast<double>(d[n / 2]);
  const double lower = n % 2 == 1 ? upper : static_cast<double>(*std::max_element(d, d + n / 2));
  row->median = (lower + upper) / 2;
}

}  // namespace

namespace {

// "X.YYY" with unit for a whole number of microseconds, without printf: a
// table of a million rows spent a third of its time there. Gives what
// printf's "%.3f" gives of micros / scale, or false where the digits cut
// off are exactly half, whose rounding printf takes from the binary value.
bool wholeText(long long micros, long long scale, const char* unit, std::string* text) {
  const unsigned long long size = micros < 0 ? 0 - static_cast<unsigned long long>(micros)
                                             : static_cast<unsigned long long>(micros);
  const unsigned long long step = static_cast<unsigned long long>(scale) / 1000;  // 1 or 1000
  unsigned long long thousandths = size / step;
  const unsigned long long cut = size % step;
  if (2 * cut == step && step > 1) {
    return false;
  }
  thousandths += 2 * cut > step;
  char digits[40];
  char* at = digits;
  if (micros < 0) {
    *at++ = '-';
  }
  at = std::to_chars(at, digits + 24, thousandths / 1000).ptr;
  const unsigned rest = static_cast<unsigned>(thousandths % 1000);
  *at++ = '.';
  *at++ = static_cast<char>('0' + rest / 100);
  *at++ = static_cast<char>('0' + rest / 10 % 10);
  *at++ = static_cast<char>('0' + rest % 10);
  *at++ = ' ';
  text->assign(digits, at);
  *text += unit;
  return true;
}

}  // namespace

std::string durationText(double micros) {
  char text[64];
  const double size = std::fabs(micros);
  const bool whole = micros == std::floor(micros) && size < 9e15;
  std::string fast;
  if (size < 1000) {
    if (whole) {
      return std::to_string(static_cast<long long>(micros)) + " us";
    }
    std::snprintf(text, sizeof text, "%.1f us", micros);
  } else if (size < 1000000) {
    if (whole && wholeText(static_cast<long long>(micros), 1000, "ms", &fast)) {
      return fast;
    }
    std::snprintf(text, sizeof text, "%.3f ms", micros / 1e3);
  } else {
    if (whole && wholeText(static_cast<long long>(micros), 1000000, "s", &fast)) {
      return fast;
    }
    std::snprintf(text, sizeof text, "%.3f s", micros / 1e6);
  }
  return text;
}

std::string shareText(double share) {
  // to_chars rounds as printf's "%.1f" does, at a fraction of the cost.
  char text[32];
  char* end = std::to_chars(text, text + 30, share * 100, std::chars_format::fixed, 1).ptr;
  *end++ = '%';
  return std::string(text, end);
}

Summary summarize(const std::vector<SpanReport>& reports, bool byThread) {
  Summary summary;
  std::vector<SummaryRow> tallies;  // the rows in the order first met
  // The row of each span, in the order met; the durations are then laid
  // out row by row in one array, rather than in a list per row.
  std::vector<uint32_t> rowOfSpan;
  // A row per section, or per section and thread: rowOf[id] is the row of
  // section id where stamp[id] says it is the current thread's, so that a
  // thread costs what its spans cost, not the number of sections.
  std::vector<uint32_t> rowOf;
  std::vector<uint32_t> stamp;
  uint32_t thread = 0;
  for (const SpanReport& report : reports) {
    const std::vector<uint32_t>& sectionOfPc = summary.sections.idsOf(report);
    rowOf.resize(summary.sections.size());
    stamp.resize(summary.sections.size(), 0);
    for (const SpanReport::Thread& each : report.threads) {
      if (byThread) {
        thread += 1;
        summary.threads.push_back(reports.size() > 1 ? report.name + ":" + each.tid : each.tid);
      }
      const std::vector<long long> self = selfTimes(each.spans);
      for (size_t i = 0; i < each.spans.size(); ++i) {
        const uint32_t id = sectionOfPc[each.spans[i].pc];
        if (stamp[id] != thread + 1) {
          stamp[id] = thread + 1;
          rowOf[id] = static_cast<uint32_t>(tallies.size());
          tallies.emplace_back();
          tallies.back().section = id;
          tallies.back().thread = thread;
        }
        SummaryRow& tally = tallies[rowOf[id]];
        tally.count += 1;
        tally.total += static_cast<double>(each.spans[i].micros);
        tally.self += static_cast<double>(self[i]);
        rowOfSpan.push_back(rowOf[id]);
      }
    }
  }
  std::vector<size_t> at(tallies.size() + 1, 0);  // where each row's durations begin
  for (size_t i = 0; i < tallies.size(); ++i) {
    at[i + 1] = at[i] + tallies[i].count;
    // Within [0, total] even where spans ended before they began.
    tallies[i].self = std::min(tallies[i].self, std::max(0.0, tallies[i].total));
    summary.total += tallies[i].total;
    summary.self += tallies[i].self;
  }
  {
    std::vector<long long> durations(rowOfSpan.size());
    std::vector<size_t> next(at.begin(), at.end() - 1);
    size_t span = 0;
    for (const SpanReport& report : reports) {
      for (const SpanReport::Thread& each : report.threads) {
        for (const SpanReport::Span& s : each.spans) {
          durations[next[rowOfSpan[span++]]++] = s.micros;
        }
      }
    }
    std::vector<uint32_t>().swap(rowOfSpan);
    for (size_t i = 0; i < tallies.size(); ++i) {
      fill(&durations[at[i]], tallies[i].count, tallies[i].total, &tallies[i]);
    }
  }
  // Sorted by a compact key, then each row moved to its place once:
  // sorting the rows themselves would move them many times.
  const SectionIndex& sections = summary.sections;
  std::vector<uint32_t> rank(sections.size());  // of each section, by name and location
  {
    std::vector<uint32_t> byText(sections.size());
    for (uint32_t id = 0; id < byText.size(); ++id) {
      byText[id] = id;
    }
    std::sort(byText.begin(), byText.end(), [&](uint32_t a, uint32_t b) {
      return std::tie(sections[a].name, sections[a].location) <
             std::tie(sections[b].name, sections[b].location);
    });
    for (uint32_t i = 0; i < byText.size(); ++i) {
      rank[byText[i]] = i;
    }
  }
  std::vector<Place> order(tallies.size());
  for (uint32_t i = 0; i < order.size(); ++i) {
    order[i] = {tallies[i].total, rank[tallies[i].section], tallies[i].thread, i};
  }
  std::sort(order.begin(), order.end(), [](const Place& a, const Place& b) {
    return std::tie(b.total, a.section, a.thread) < std::tie(a.total, b.section, b.thread);
  });
  summary.rows.resize(order.size());
  for (size_t p = 0; p < order.size(); ++p) {
    // The rows are taken at random: fetching a few ahead hides the wait
    // for memory, which otherwise costs more than the rest of this loop.
    if (p + 8 < order.size()) {
      __builtin_prefetch(&tallies[order[p + 8].row]);
    }
    summary.rows[p] = tallies[order[p].row];
    summary.rows[p].share = summary.self != 0 ? summary.rows[p].self / summary.self : 0;
  }
  return summary;
}

namespace {

// Rows split by thread are sorted by total, so they take their threads'
// labels at random: asking for a row's label a few rows ahead hides the
// wait for memory, which otherwise costs as much as writing the row.
void prefetchThread(const Summary& summary, size_t row) {
  if (row < summary.rows.size()) {
    __builtin_prefetch(&summary.threads[summary.rows[row].thread]);
  }
}

}  // namespace

void writeSummaryTable(const Summary& summary, bool byThread, std::ostream& out) {
  const char* const heads[] = {"thread", "section", "spans", "total", "self", "mean",
                               "min",    "median",  "p95",   "max",   "share"};
  // No thread column unless the rows are split by thread.
  const size_t from = byThread ? 0 : 1;
  TextTable table(std::size(heads) - from, 2 - from);
  for (size_t c = from; c < std::size(heads); ++c) {
    table.add(heads[c]);
  }
  // Each section's text is made once, whatever the number of its rows.
  std::vector<std::string> sectionTexts(summary.sections.size());
  for (uint32_t id = 0; id < sectionTexts.size(); ++id) {
    sectionTexts[id] = sectionText(summary.sections[id].name, summary.sections[id].location);
  }
  for (size_t i = 0; i < summary.rows.size(); ++i) {
    const SummaryRow& row = summary.rows[i];
    if (byThread) {
      prefetchThread(summary, i + 8);
      table.add(printable(summary.threads[row.thread]));
    }
    table.add(sectionTexts[row.section]);
    table.add(std::to_string(row.count));
    // A row of one span has one duration six times over: it is written once.
    double last = std::nan("");
    std::string text;
    for (double micros : {row.total, row.self, row.mean, row.min, row.median, row.p95, row.max}) {
      if (!(micros == last)) {
        text = durationText(micros);
        last = micros;
      }
      table.add(text);
    }
    table.add(shareText(row.share));
  }
  table.write(out);
}

void writeSummaryJson(const Summary& summary, bool byThread, std::ostream& out) {
  std::string text = "{\"rows\":[";
  for (size_t i = 0; i < summary.rows.size(); ++i) {
    const SummaryRow& row = summary.rows[i];
    text += i == 0 ? "{" : ",{";
    if (byThread) {
      prefetchThread(summary, i + 8);
      text += "\"thread\":";
      appendJsonString(summary.threads[row.thread], &text);
      text += ",";
    }
    text += "\"section\":";
    const SectionIndex::Section& section = summary.sections[row.section];
    appendJsonString(section.name, &text);
    text += ",\"location\":";
    appendJsonString(section.location, &text);
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
