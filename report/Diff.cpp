#include "report/Diff.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <ostream>
#include <tuple>
#include <utility>

#include "report/JsonText.h"
#include "report/TextTable.h"

namespace orvel {

namespace {

// "before -> after", or "-" for a run without the section.
std::string change(const DiffRow& row, std::string (*text)(const SummaryRow&)) {
  return (row.before.count > 0 ? text(row.before) : "-") + " -> " +
         (row.after.count > 0 ? text(row.after) : "-");
}

void appendSide(const char* label, const SummaryRow& side, std::string* text) {
  *text += ",\"";
  *text += label;
  *text += "\":";
  if (side.count == 0) {
    *text += "null";
    return;
  }
  *text += "{\"spans\":" + std::to_string(side.count) + ",\"median_us\":";
  appendJsonNumber(side.median, text);
  *text += ",\"p95_us\":";
  appendJsonNumber(side.p95, text);
  *text += ",\"total_us\":";
  appendJsonNumber(side.total, text);
  *text += "}";
}

const char* status(const DiffRow& row) {
  return row.before.count == 0 ? "added" : row.after.count == 0 ? "removed" : "both";
}

}  // namespace

std::string percentText(double percent) {
  if (std::isnan(percent)) {
    return "n/a";
  }
  char text[64];
  std::snprintf(text, sizeof text, "%+.1f%%", percent);
  return text;
}

std::vector<DiffRow> compareRuns(const std::vector<SummaryRow>& before,
                                 const std::vector<SummaryRow>& after) {
  std::map<std::pair<std::string, std::string>, DiffRow> bySection;
  for (const SummaryRow& row : before) {
    DiffRow& diff = bySection[{row.name, row.location}];
    diff.before = row;
  }
  for (const SummaryRow& row : after) {
    DiffRow& diff = bySection[{row.name, row.location}];
    diff.after = row;
  }
  std::vector<DiffRow> rows;
  rows.reserve(bySection.size());
  for (auto& [section, row] : bySection) {
    row.name = section.first;
    row.location = section.second;
    const double was = row.before.median;
    const double is = row.after.median;
    row.medianChange = was == is ? 0 : was != 0 ? (is - was) / was * 100 : NAN;
    row.totalChange = row.after.total - row.before.total;
    rows.push_back(std::move(row));
  }
  // The map gave name and location order; the sort keeps it among equals.
  std::stable_sort(rows.begin(), rows.end(), [](const DiffRow& a, const DiffRow& b) {
    return std::fabs(a.totalChange) > std::fabs(b.totalChange);
  });
  return rows;
}

std::vector<const DiffRow*> slowerThan(const std::vector<DiffRow>& rows, double percent,
                                       uint64_t minSpans) {
  std::vector<const DiffRow*> slower;
  for (const DiffRow& row : rows) {
    if (row.before.count >= minSpans && row.after.count >= minSpans && row.medianChange > percent) {
      slower.push_back(&row);
    }
  }
  return slower;
}

void writeDiffTable(const std::vector<DiffRow>& rows, std::ostream& out) {
  std::vector<std::vector<std::string>> lines = {
      {"section", "spans", "median", "median change", "p95", "total", "total change"}};
  for (const DiffRow& row : rows) {
    const std::string totalChange =
        (row.totalChange > 0 ? "+" : "") + durationText(row.totalChange);
    lines.push_back(
        {sectionText(row.name, row.location),
         change(row, [](const SummaryRow& s) { return std::to_string(s.count); }),
         change(row, [](const SummaryRow& s) { return durationText(s.median); }),
         row.before.count > 0 && row.after.count > 0 ? percentText(row.medianChange) : status(row),
         change(row, [](const SummaryRow& s) { return durationText(s.p95); }),
         change(row, [](const SummaryRow& s) { return durationText(s.total); }), totalChange});
  }
  writeTextTable(lines, 1, out);
}

void writeDiffJson(const std::vector<DiffRow>& rows, std::ostream& out) {
  std::string text = "{\"rows\":[";
  for (size_t i = 0; i < rows.size(); ++i) {
    const DiffRow& row = rows[i];
    text += i == 0 ? "{\"section\":" : ",{\"section\":";
    appendJsonString(row.name, &text);
    text += ",\"location\":";
    appendJsonString(row.location, &text);
    text += ",\"status\":\"";
    text += status(row);
    text += "\"";
    appendSide("before", row.before, &text);
    appendSide("after", row.after, &text);
    text += ",\"median_change_pct\":";
    if (std::isnan(row.medianChange) || row.before.count == 0 || row.after.count == 0) {
      text += "null";
    } else {
      appendJsonNumber(row.medianChange, &text);
    }
    text += ",\"total_change_us\":";
    appendJsonNumber(row.totalChange, &text);
    text += "}";
  }
  text += "]}\n";
  out << text;
}

}  // namespace orvel
