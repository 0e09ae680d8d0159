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
#include "report/SpanReport.h"
#include "report/Summary.h"

namespace orvel {

namespace {

const char kUsage[] =
    "Usage: spanmill-report summary [--by-thread] [--json] [--top N] REPORT...\n"
    "       spanmill-report chrome [-o FILE] REPORT...\n"
    "\n"
    "Reads reports written by spanmill (\"-\" reads standard input).\n"
    "\n"
    "summary      where the time went: per section (function and location) the\n"
    "             number of spans, total, mean, min, median, 95th percentile and\n"
    "             max duration and share of the total, largest total first\n"
    "  --by-thread  one row per thread and section\n"
    "  --json       the same numbers as JSON, durations in microseconds\n"
    "  --top N      only the first N rows\n"
    "chrome       Chrome Trace Event Format JSON for Perfetto UI, chrome://tracing\n"
    "             and speedscope; several reports make one time line\n"
    "  -o FILE      write to FILE instead of standard output\n";

int usageError(const std::string& message) {
  std::cerr << "spanmill-report: " << message << "\n" << kUsage;
  return 2;
}

// Reads every report, or says what is wrong with the first that is not
// one: nothing is written before all have been read.
bool loadAll(const std::vector<std::string>& paths, std::vector<SpanReport>* reports) {
  reports->resize(paths.size());
  for (size_t i = 0; i < paths.size(); ++i) {
    std::string error;
    if (!loadSpanReport(paths[i], &(*reports)[i], &error)) {
      std::cerr << "spanmill-report: " << paths[i] << ": " << error << "\n";
      return false;
    }
    const size_t slash = paths[i].find_last_of('/');
    (*reports)[i].name = paths[i] == "-"              ? "standard input"
                         : slash == std::string::npos ? paths[i]
                                                      : paths[i].substr(slash + 1);
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
      char* end = nullptr;
      const long count = i + 1 < args.size() ? std::strtol(args[i + 1].c_str(), &end, 10) : 0;
      if (end == nullptr || *end != '\0' || end == args[i + 1].c_str() || count < 1) {
        return usageError("--top needs a number of rows, 1 or more");
      }
      top = static_cast<size_t>(count);
      ++i;
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
    return usageError("which command: summary or chrome?");
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
  if (command == "chrome") {
    return chrome(args);
  }
  return usageError("unknown command " + command);
}

}  // namespace orvel
