#include "report/Diff.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <ostream>
#include <tuple>
#include <utility>

#include "report/JsonText.h"
#include "report/SectionIndex.h"
#include "report/Summary.h"
#include "report/TextTable.h"

namespace orvel {

namespace {

using SectionKey = std::pair<std::string, std::string>;  // name, location

bool judged(const DiffRow& row) {
  return !std::isnan(row.adjustedP);
}

// Rows in the table's order: significant changes, then the rest on both
// sides, then those on one side only.
int group(const DiffRow& row) {
  switch (row.verdict) {
    case Verdict::kSlower:
    case Verdict::kFaster:
      return 0;
    case Verdict::kAdded:
    case Verdict::kRemoved:
      return 2;
    default:
      return 1;
  }
}

// How far the change is from none, either way; -1 without a change.
double changeSize(const DiffRow& row) {
  return std::isnan(row.change.estimate) ? -1 : std::fabs(std::log(row.change.estimate));
}

const char* verdictText(Verdict verdict) {
  switch (verdict) {
    case Verdict::kSlower:
      return "slower";
    case Verdict::kFaster:
      return "faster";
    case Verdict::kNotSignificant:
      return "not significant";
    case Verdict::kTooFewRuns:
      return "too few runs";
    case Verdict::kNoRatio:
      return "no ratio";
    case Verdict::kAdded:
      return "added";
    case Verdict::kRemoved:
      return "removed";
  }
  return "";
}

std::string pText(double p) {
  if (std::isnan(p)) {
    return "";
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.2g", p);
  return text;
}

// A percentage or a p-value: six significant digits; null for none.
void appendReal(double value, std::string* out) {
  if (!std::isfinite(value)) {
    *out += "null";
    return;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.6g", value);
  *out += text;
}

double percentOf(double factor) {
  return (factor - 1) * 100;
}

void appendMedians(const char* label, const std::vector<double>& medians, double median,
                   std::string* text) {
  *text += ",\"runs_";
  *text += label;
  *text += "\":" + std::to_string(medians.size()) + ",\"median_" + label + "_us\":";
  if (medians.empty()) {
    *text += "null";
  } else {
    appendJsonNumber(median, text);
  }
  *text += ",\"run_medians_";
  *text += label;
  *text += "_us\":[";
  for (size_t i = 0; i < medians.size(); ++i) {
    *text += i == 0 ? "" : ",";
    appendJsonNumber(medians[i], text);
  }
  *text += "]";
}

}  // namespace

RunMedians summarizeRun(const SpanReport& report) {
  SectionIndex index;
  const std::vector<uint32_t>& sectionOfPc = index.idsOf(report);
  std::vector<std::vector<long long>> durations(index.size());
  for (const SpanReport::Thread& thread : report.threads) {
    for (const SpanReport::Span& span : thread.spans) {
      durations[sectionOfPc[span.pc]].push_back(span.micros);
    }
  }
  RunMedians run;
  for (uint32_t id = 0; id < index.size(); ++id) {
    if (!durations[id].empty()) {
      const uint64_t spans = durations[id].size();
      run.push_back({index[id].name, index[id].location, spans, medianOf(&durations[id])});
    }
  }
  std::sort(run.begin(), run.end(), [](const RunSection& a, const RunSection& b) {
    return std::tie(a.name, a.location) < std::tie(b.name, b.location);
  });
  return run;
}

std::vector<DiffRow> compareRuns(const std::vector<RunMedians>& before,
                                 const std::vector<RunMedians>& after, const DiffOptions& options) {
  std::map<SectionKey, DiffRow> bySection;
  for (const auto& [runs, side] :
       {std::make_pair(&before, &DiffRow::before), std::make_pair(&after, &DiffRow::after)}) {
    for (const RunMedians& run : *runs) {
      for (const RunSection& section : run) {
        if (section.spans >= options.minSpans) {
          (bySection[{section.name, section.location}].*side).push_back(section.median);
        }
      }
    }
  }
  std::vector<DiffRow> rows;
  rows.reserve(bySection.size());
  std::vector<double> p;  // of the rows with an interval; none for the others
  for (auto& [key, row] : bySection) {
    row.name = key.first;
    row.location = key.second;
    std::vector<double> sorted = row.before;
    row.medianBefore = medianOf(&sorted);
    sorted = row.after;
    row.medianAfter = medianOf(&sorted);
    if (row.before.empty() || row.after.empty()) {
      row.verdict = row.before.empty() ? Verdict::kAdded : Verdict::kRemoved;
    } else {
      row.p = mannWhitneyP(row.before, row.after);
      row.change = ratioChange(row.before, row.after, options.alpha);
      row.verdict = std::isnan(row.change.estimate) ? Verdict::kNoRatio
                    : std::isnan(row.change.low)    ? Verdict::kTooFewRuns
                                                    : Verdict::kNotSignificant;
    }
    p.push_back(row.verdict == Verdict::kNotSignificant ? row.p : NAN);
    rows.push_back(std::move(row));
  }
  const std::vector<double> adjusted = holmAdjusted(p);
  for (size_t i = 0; i < rows.size(); ++i) {
    DiffRow& row = rows[i];
    row.adjustedP = adjusted[i];
    if (judged(row) && row.adjustedP <= options.alpha && row.change.estimate != 1) {
      row.verdict = row.change.estimate > 1 ? Verdict::kSlower : Verdict::kFaster;
    }
  }
  // The map gave name and location order; the sort keeps it among equals.
  std::stable_sort(rows.begin(), rows.end(), [](const DiffRow& a, const DiffRow& b) {
    return std::make_tuple(group(a), -changeSize(a)) < std::make_tuple(group(b), -changeSize(b));
  });
  return rows;
}

size_t runsNeeded(size_t sections, double alpha) {
  size_t runs = 1;
  while (smallestP(runs, runs) * static_cast<double>(std::max<size_t>(sections, 1)) > alpha) {
    ++runs;
  }
  return runs;
}

bool changeAbove(double factor, double percent) {
  return std::round(percentOf(factor) * 1e6) > std::round(percent * 1e6);
}

Gate judge(const std::vector<DiffRow>& rows, double percent, double alpha) {
  Gate gate;
  for (const DiffRow& row : rows) {
    gate.compared += !row.before.empty() && !row.after.empty();
    gate.judged += judged(row);
  }
  // Holm's first step compares the smallest p-value with alpha / judged:
  // a row whose runs cannot get below that can never be called.
  for (const DiffRow& row : rows) {
    gate.canJudge =
        gate.canJudge || (judged(row) && smallestP(row.before.size(), row.after.size()) *
                                                 static_cast<double>(gate.judged) <=
                                             alpha);
  }
  gate.runsNeeded = runsNeeded(gate.compared, alpha);
  for (const DiffRow& row : rows) {
    if (row.verdict == Verdict::kSlower && changeAbove(row.change.low, percent)) {
      gate.slower.push_back(&row);
    }
  }
  return gate;
}

std::string changeText(double factor) {
  if (std::isnan(factor)) {
    return "n/a";
  }
  char text[64];
  std::snprintf(text, sizeof text, "%+.1f%%", percentOf(factor));
  return text;
}

std::string intervalText(const RatioChange& change) {
  if (std::isnan(change.low)) {
    return "";
  }
  return "[" + changeText(change.low) + ", " + changeText(change.high) + "]";
}

std::vector<std::vector<std::string>> diffTableLines(const std::vector<DiffRow>& rows) {
  std::vector<std::vector<std::string>> lines = {
      {"section", "runs", "median", "change", "interval", "p"}};
  const auto side = [](const std::vector<double>& medians, double median, std::string* runs) {
    *runs += medians.empty() ? "-" : std::to_string(medians.size());
    return medians.empty() ? "-" : durationText(median);
  };
  for (const DiffRow& row : rows) {
    std::string runs;
    std::string median = side(row.before, row.medianBefore, &runs);
    runs += " -> ";
    median += " -> " + side(row.after, row.medianAfter, &runs);
    std::string change;
    switch (row.verdict) {
      case Verdict::kSlower:
      case Verdict::kFaster:
        change = changeText(row.change.estimate);
        break;
      case Verdict::kNoRatio:
        change = "n/a";
        break;
      case Verdict::kAdded:
      case Verdict::kRemoved:
        change = verdictText(row.verdict);
        break;
      default:
        change = "~";
    }
    const std::string interval =
        row.verdict == Verdict::kTooFewRuns ? "too few runs" : intervalText(row.change);
    lines.push_back(
        {sectionText(row.name, row.location), runs, median, change, interval, pText(row.p)});
  }
  return lines;
}

void writeDiffTable(const std::vector<DiffRow>& rows, std::ostream& out) {
  writeTextTable(diffTableLines(rows), 1, out);
}

void writeDiffJson(const std::vector<DiffRow>& rows, double alpha, const Gate* gate, double percent,
                   std::ostream& out) {
  std::string text = "{\"alpha\":";
  appendReal(alpha, &text);
  text += ",\"rows\":[";
  for (size_t i = 0; i < rows.size(); ++i) {
    const DiffRow& row = rows[i];
    text += i == 0 ? "{\"section\":" : ",{\"section\":";
    appendJsonString(row.name, &text);
    text += ",\"location\":";
    appendJsonString(row.location, &text);
    text += ",\"verdict\":\"";
    text += verdictText(row.verdict);
    text += "\"";
    appendMedians("before", row.before, row.medianBefore, &text);
    appendMedians("after", row.after, row.medianAfter, &text);
    text += ",\"change_pct\":";
    appendReal(percentOf(row.change.estimate), &text);
    text += ",\"interval_pct\":";
    if (std::isnan(row.change.low)) {
      text += "null";
    } else {
      text += "[";
      appendReal(percentOf(row.change.low), &text);
      text += ",";
      appendReal(percentOf(row.change.high), &text);
      text += "]";
    }
    text += ",\"p\":";
    appendReal(row.p, &text);
    text += ",\"p_holm\":";
    appendReal(row.adjustedP, &text);
    text += "}";
  }
  text += "]";
  if (gate != nullptr) {
    text += ",\"gate\":{\"fail_above_pct\":";
    appendReal(percent, &text);
    text += ",\"outcome\":\"";
    text += !gate->canJudge ? "too few runs" : gate->slower.empty() ? "passed" : "slower";
    text += "\",\"judged\":" + std::to_string(gate->judged) +
            ",\"runs_needed\":" + std::to_string(gate->runsNeeded) + "}";
  }
  text += "}\n";
  out << text;
}

}  // namespace orvel
