#include "report/ReportCommand.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "report/ChromeTrace.h"
#include "report/Diff.h"
#include "report/SpanReport.h"
#include "report/Summary.h"
#include "report/TextTable.h"

namespace orvel {

namespace {

const char kUsage[] =
    "Usage: spanmill-report summary [--by-thread] [--json] [--top N] REPORT...\n"
    "       spanmill-report diff [--json] [--fail-above PCT] [--min-spans N] BASE NEW\n"
    "       spanmill-report chrome [-o FILE] REPORT...\n"
    "\n"
    "Reads reports written by spanmill (\"-\" reads standard input). A file may\n"
    "hold several reports one after another, as spanmill -a writes them.\n"
    "\n"
    "summary      where the time went: per section (function and location) the\n"
    "             number of spans, total, self (total less the time of spans\n"
    "             nested directly inside), mean, min, median, 95th percentile and\n"
    "             max duration and share of the total, largest total first\n"
    "  --by-thread  one row per thread and section\n"
    "  --json       the same numbers as JSON, durations in microseconds\n"
    "  --top N      only the first N rows\n"
    "diff         compares two runs, each the reports of one file: per section the\n"
    "             spans, median, p95 and total before and after, the change of the\n"
    "             median in percent and of the total; largest change of the total\n"
    "             first\n"
    "  --json       the same numbers as JSON, durations in microseconds\n"
    "  --fail-above PCT  exit status 3 when a section's median grew by more than\n"
    "               PCT percent. The median, not the mean, so that an odd misread\n"
    "               span cannot trip it. A median of 0 us has no percent change.\n"
    "  --min-spans N  only sections with at least N spans in both runs count for\n"
    "               --fail-above (5)\n"
    "chrome       Chrome Trace Event Format JSON for Perfetto UI, chrome://tracing\n"
    "             and speedscope; several reports make one time line\n"
    "  -o FILE      write to FILE instead of standard output\n";

int usageError(const std::string& message) {
  std::cerr << "spanmill-report: " << message << "\n" << kUsage;
  return 2;
}

// Reads every report of every file, or says what is wrong with the first
// that is not one: nothing is written before all have been read. A file
// of several reports names them FILE#1, FILE#2, ...
bool loadAll(const std::vector<std::string>& paths, std::vector<SpanReport>* reports) {
  for (const std::string& path : paths) {
    const size_t first = reports->size();
    std::string error;
    size_t failed;
    if (!loadSpanReports(path, reports, &error, &failed)) {
      std::cerr << "spanmill-report: " << path << (failed > 1 ? "#" + std::to_string(failed) : "")
                << ": " << error << "\n";
      return false;
    }
    const size_t slash = path.find_last_of('/');
    const std::string name = path == "-"                  ? "standard input"
                             : slash == std::string::npos ? path
                                                          : path.substr(slash + 1);
    for (size_t i = first; i < reports->size(); ++i) {
      (*reports)[i].name =
          reports->size() - first == 1 ? name : name + "#" + std::to_string(i - first + 1);
    }
  }
  return true;
}

// An argument that is no option of the command: a report, or "-".
bool isReport(const std::string& arg) {
  return arg.size() <= 1 || arg[0] != '-';
}

// Reads the reports named for command: 0, or the exit status to end with.
int readReports(const char* command, const std::vector<std::string>& paths,
                std::vector<SpanReport>* reports) {
  if (paths.empty()) {
    return usageError(std::string(command) + " needs a report");
  }
  return loadAll(paths, reports) ? 0 : 1;
}

// The count after option i, 1 or more; false when there is none.
bool countAfter(const std::vector<std::string>& args, size_t i, size_t* count) {
  char* end = nullptr;
  const long value = i + 1 < args.size() ? std::strtol(args[i + 1].c_str(), &end, 10) : 0;
  if (end == nullptr || *end != '\0' || end == args[i + 1].c_str() || value < 1) {
    return false;
  }
  *count = static_cast<size_t>(value);
  return true;
}

int summary(const std::vector<std::string>& args) {
  bool byThread = false;
  bool json = false;
  size_t top = 0;
  std::vector<std::string> paths;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--by-thread") {
      byThread = true;
    } else if (args[i] == "--json") {
      json = true;
    } else if (args[i] == "--top") {
      if (!countAfter(args, i++, &top)) {
        return usageError("--top needs a number of rows, 1 or more");
      }
    } else if (isReport(args[i])) {
      paths.push_back(args[i]);
    } else {
      return usageError("unknown option " + args[i]);
    }
  }
  std::vector<SpanReport> reports;
  if (int status = readReports("summary", paths, &reports); status != 0) {
    return status;
  }
  std::vector<SummaryRow> rows = summarize(reports, byThread);
  if (top > 0 && rows.size() > top) {
    rows.resize(top);
  }
  if (json) {
    writeSummaryJson(rows, byThread, std::cout);
  } else {
    writeSummaryTable(rows, byThread, std::cout);
  }
  std::cout.flush();
  return std::cout ? 0 : 1;
}

int diff(const std::vector<std::string>& args) {
  bool json = false;
  std::string failAbove;  // as given, for the message
  double percent = 0;
  size_t minSpans = 5;
  std::vector<std::string> paths;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--json") {
      json = true;
    } else if (args[i] == "--fail-above") {
      char* end = nullptr;
      failAbove = i + 1 < args.size() ? args[++i] : "";
      percent = std::strtod(failAbove.c_str(), &end);
      if (end == failAbove.c_str() || *end != '\0' || !(percent >= 0 && percent < 1e300)) {
        return usageError("--fail-above needs a percentage, 0 or more");
      }
    } else if (args[i] == "--min-spans") {
      if (!countAfter(args, i++, &minSpans)) {
        return usageError("--min-spans needs a number of spans, 1 or more");
      }
    } else if (isReport(args[i])) {
      paths.push_back(args[i]);
    } else {
      return usageError("unknown option " + args[i]);
    }
  }
  if (paths.size() != 2) {
    return usageError("diff needs two report files, BASE and NEW");
  }
  std::vector<SpanReport> before, after;
  if (!loadAll({paths[0]}, &before) || !loadAll({paths[1]}, &after)) {
    return 1;
  }
  const std::vector<DiffRow> rows = compareRuns(summarize(before, false), summarize(after, false));
  if (json) {
    writeDiffJson(rows, std::cout);
  } else {
    writeDiffTable(rows, std::cout);
  }
  std::cout.flush();
  if (!std::cout) {
    return 1;
  }
  if (failAbove.empty()) {
    return 0;
  }
  const std::vector<const DiffRow*> slower = slowerThan(rows, percent, minSpans);
  if (slower.empty()) {
    return 0;
  }
  std::string names;
  for (const DiffRow* row : slower) {
    names += (names.empty() ? "" : ", ") + sectionText(row->name, row->location) + " " +
             percentText(row->medianChange);
  }
  std::cerr << "spanmill-report: median grew by more than " << failAbove << "%: " << names << "\n";
  return 3;
}

// Writes the export to path. A regular file (or a new one) is written
// under a temporary name and renamed when complete, so that a failed export
// leaves no partial file; anything else (/dev/null, a pipe) is written as
// it stands.
int writeExport(const std::vector<SpanReport>& reports, const std::string& path) {
  struct stat status;
  const bool inPlace = stat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode);
  const std::string written = inPlace ? path : path + ".partial-" + std::to_string(getpid());
  std::ofstream out(written, std::ios::binary | std::ios::trunc);
  if (out) {
    writeChromeTrace(reports, out);
    out.close();
  }
  if (!out || (!inPlace && std::rename(written.c_str(), path.c_str()) != 0)) {
    std::cerr << "spanmill-report: " << path << ": cannot write: " << std::strerror(errno) << "\n";
    if (!inPlace) {
      std::remove(written.c_str());
    }
    return 1;
  }
  return 0;
}

int chrome(const std::vector<std::string>& args) {
  std::string output;
  std::vector<std::string> paths;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "-o") {
      if (i + 1 == args.size()) {
        return usageError("-o needs a file");
      }
      output = args[++i];
    } else if (isReport(args[i])) {
      paths.push_back(args[i]);
    } else {
      return usageError("unknown option " + args[i]);
    }
  }
  std::vector<SpanReport> reports;
  if (int status = readReports("chrome", paths, &reports); status != 0) {
    return status;
  }
  if (!output.empty()) {
    return writeExport(reports, output);
  }
  writeChromeTrace(reports, std::cout);
  std::cout.flush();
  return std::cout ? 0 : 1;
}

}  // namespace

int runReportCommand(int argc, char* argv[]) {
  std::ios::sync_with_stdio(false);
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  if (args.empty()) {
    return usageError("which command: summary, diff or chrome?");
  }
  const std::string command = args.front();
  args.erase(args.begin());
  if (command == "-h" || command == "--help") {
    std::cout << kUsage;
    return 0;
  }
  if (command == "summary") {
    return summary(args);
  }
  if (command == "diff") {
    return diff(args);
  }
  if (command == "chrome") {
    return chrome(args);
  }
  return usageError("unknown command " + command);
}

}  // namespace orvel
