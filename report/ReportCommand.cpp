#include "report/ReportCommand.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "report/CallTree.h"
#include "report/CallTreeText.h"
#include "report/ChromeTrace.h"
#include "report/Diff.h"
#include "report/HtmlPage.h"
#include "report/Noise.h"
#include "report/SpanReport.h"
#include "report/Speedscope.h"
#include "report/Summary.h"
#include "report/TextTable.h"

namespace orvel {

namespace {

const char kUsage[] =
    "Usage: spanmill-report summary [--by-thread] [--json] [--top N] REPORT...\n"
    "       spanmill-report diff [options] BASE NEW\n"
    "       spanmill-report diff [options] BASE... -- NEW...\n"
    "       spanmill-report noise [options] RUN...\n"
    "       spanmill-report tree [--by-thread] [--json] [--min-share PCT] [--depth N]\n"
    "                            REPORT...\n"
    "       spanmill-report folded [--by-thread] REPORT...\n"
    "       spanmill-report chrome [-o FILE] REPORT...\n"
    "       spanmill-report speedscope [-o FILE] REPORT...\n"
    "       spanmill-report html [-o FILE] REPORT...\n"
    "       spanmill-report html [-o FILE] [options] BASE... -- NEW...\n"
    "\n"
    "Reads reports written by spanmill (\"-\" reads standard input). A file may\n"
    "hold several reports one after another, as spanmill -a writes them.\n"
    "\n"
    "summary      where the time went: per section (function and location) the\n"
    "             number of spans, total, self (total less the time of spans\n"
    "             nested directly inside), mean, min, median, 95th percentile and\n"
    "             max duration, and the share of all self time, largest total\n"
    "             first\n"
    "  --by-thread  one row per thread and section\n"
    "  --json       the same numbers as JSON, durations in microseconds\n"
    "  --top N      only the first N rows\n"
    "diff         compares runs. Every report is one run, each of those appended\n"
    "             to one file too (no longer one run taken together). Per\n"
    "             section, each run's median is a sample: the runs a side, the\n"
    "             median of their medians before and after, the change\n"
    "             (Hodges-Lehmann: the median of the ratios of every pair of\n"
    "             runs) with its interval, and the two-sided p-value of the\n"
    "             Mann-Whitney U test. \"~\": not significant after Holm's\n"
    "             correction across the sections. Significant changes first,\n"
    "             largest first\n"
    "  --json       every number as JSON, durations in microseconds\n"
    "  --fail-above PCT  exit status 3 when a section is significantly slower\n"
    "               and its whole interval lies above +PCT percent; 4 when no\n"
    "               section has the runs to tell: 4 a side at least, more with\n"
    "               many sections\n"
    "  --alpha A    the significance level, and 1 - the interval's confidence\n"
    "               (0.05)\n"
    "  --min-spans N  a run counts for a section that has N spans in it (1)\n"
    "noise        what runs of unchanged code can tell: split into halves many\n"
    "             times and compared as diff compares, how often --fail-above\n"
    "             trips, and per section the smallest slowdown caught in 95% of\n"
    "             the splits\n"
    "  --fail-above PCT  the threshold tried (5)\n"
    "  --runs N     runs in each half (half of them)\n"
    "  --alpha A, --min-spans N  as for diff\n"
    "tree         the call tree: per call path (a span and the spans it is\n"
    "             nested in) the spans, total, self time and share of the time\n"
    "             the spans covered, the largest first\n"
    "  --by-thread  a tree per thread\n"
    "  --json       the same numbers as JSON\n"
    "  --min-share PCT  leave out paths below PCT percent (0.5)\n"
    "  --depth N    leave out paths deeper than N\n"
    "folded       folded stacks for flame graphs (flamegraph.pl, inferno,\n"
    "             speedscope): a line per call path, its frames joined by ';'\n"
    "             (a ';' in a name becomes ','), a space and its self time in us\n"
    "  --by-thread  the thread as the first frame\n"
    "chrome       Chrome Trace Event Format JSON for Perfetto UI, chrome://tracing\n"
    "             and speedscope; several reports make one time line\n"
    "  -o FILE      write to FILE instead of standard output\n"
    "speedscope   speedscope's own format, which opens far larger exports: a\n"
    "             profile per thread; spans that overlap without nesting are\n"
    "             cut to nest\n"
    "  -o FILE      write to FILE instead of standard output\n"
    "html         one HTML file to open offline in a browser: the summary, the\n"
    "             call tree and a time line of every thread; with \"--\", the\n"
    "             comparison of the runs as diff makes it, and the views of the\n"
    "             runs after\n"
    "  -o FILE      write to FILE instead of standard output\n"
    "  --fail-above PCT  the gate's threshold the page starts with (0)\n"
    "  --alpha A, --min-spans N  as for diff\n";

int usageError(const std::string& message) {
  std::cerr << "spanmill-report: " << message << "\n" << kUsage;
  return 2;
}

// Flushes standard output: 0, or 1 after saying that it could not be
// written (a full disk, a closed pipe).
int finishOutput() {
  errno = 0;
  std::cout.flush();
  if (std::cout) {
    return 0;
  }
  std::cerr << "spanmill-report: cannot write to standard output"
            << (errno != 0 ? std::string(": ") + std::strerror(errno) : std::string()) << "\n";
  return 1;
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

// Reads the reports of every file as runs, one run a report, keeping only
// each run's medians: the spans of one file at a time are held.
bool loadRuns(const std::vector<std::string>& paths, std::vector<RunMedians>* runs,
              std::vector<std::string>* names = nullptr) {
  for (const std::string& path : paths) {
    std::vector<SpanReport> reports;
    if (!loadAll({path}, &reports)) {
      return false;
    }
    for (const SpanReport& report : reports) {
      runs->push_back(summarizeRun(report));
      if (names != nullptr) {
        names->push_back(report.name);
      }
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

// The number after option i within [low, high) (low itself allowed when
// lowIncluded); false when there is none.
bool numberAfter(const std::vector<std::string>& args, size_t i, double low, bool lowIncluded,
                 double high, double* value) {
  if (i + 1 >= args.size()) {
    return false;
  }
  const char* text = args[i + 1].c_str();
  char* end = nullptr;
  *value = std::strtod(text, &end);
  return end != text && *end == '\0' && (lowIncluded ? *value >= low : *value > low) &&
         *value < high;
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
  Summary result = summarize(reports, byThread);
  if (top > 0 && result.rows.size() > top) {
    result.rows.resize(top);
  }
  if (json) {
    writeSummaryJson(result, byThread, std::cout);
  } else {
    writeSummaryTable(result, byThread, std::cout);
  }
  return finishOutput();
}

// The options diff and noise share; false after a usage error, set in status.
bool sharedOption(const std::vector<std::string>& args, size_t* i, DiffOptions* options,
                  double* percent, int* status) {
  if (args[*i] == "--fail-above") {
    if (!numberAfter(args, (*i)++, 0, true, 1e9, percent)) {
      *status = usageError("--fail-above needs a percentage, 0 or more");
    }
  } else if (args[*i] == "--alpha") {
    if (!numberAfter(args, (*i)++, 0, false, 1, &options->alpha)) {
      *status = usageError("--alpha needs a level above 0 and below 1");
    }
  } else if (args[*i] == "--min-spans") {
    size_t count;
    if (!countAfter(args, (*i)++, &count)) {
      *status = usageError("--min-spans needs a number of spans, 1 or more");
    }
    options->minSpans = count;
  } else {
    return false;
  }
  return true;
}

int diff(const std::vector<std::string>& args) {
  bool json = false;
  bool gated = false;
  double percent = 0;
  DiffOptions options;
  std::vector<std::string> base, changed;
  bool separated = false;  // "--" seen: the files after it are NEW
  for (size_t i = 0; i < args.size(); ++i) {
    int status = 0;
    const bool failAbove = args[i] == "--fail-above";
    if (args[i] == "--json") {
      json = true;
    } else if (args[i] == "--" && !separated) {
      separated = true;
    } else if (sharedOption(args, &i, &options, &percent, &status)) {
      if (status != 0) {
        return status;
      }
      gated = gated || failAbove;
    } else if (isReport(args[i])) {
      (separated ? changed : base).push_back(args[i]);
    } else {
      return usageError("unknown option " + args[i]);
    }
  }
  if (!separated) {
    if (base.size() != 2) {
      return usageError("diff needs BASE and NEW, or BASE... -- NEW...");
    }
    changed.push_back(base.back());
    base.pop_back();
  } else if (base.empty() || changed.empty()) {
    return usageError("diff needs a report before and after --");
  }
  std::vector<RunMedians> before, after;
  if (!loadRuns(base, &before) || !loadRuns(changed, &after)) {
    return 1;
  }
  const std::vector<DiffRow> rows = compareRuns(before, after, options);
  const Gate gate = judge(rows, percent, options.alpha);
  if (json) {
    writeDiffJson(rows, options.alpha, gated ? &gate : nullptr, percent, std::cout);
  } else {
    writeDiffTable(rows, std::cout);
  }
  if (finishOutput() != 0) {
    return 1;
  }
  if (!gated) {
    return 0;
  }
  char text[128];
  if (!gate.canJudge && gate.compared == 0) {
    std::cerr << "spanmill-report: nothing to judge: no section is in both BASE and NEW\n";
    return 4;
  }
  if (!gate.canJudge) {
    std::snprintf(text, sizeof text, "%zu section%s at alpha %g: %zu run%s before and %zu after",
                  gate.compared, gate.compared == 1 ? "" : "s", options.alpha, before.size(),
                  before.size() == 1 ? "" : "s", after.size());
    std::cerr << "spanmill-report: too few runs to judge " << text << "; " << gate.runsNeeded
              << " a side needed\n";
    return 4;
  }
  // Sections the gate could not look at are named, so that a pass says
  // what it covered.
  std::string unjudged;
  for (const DiffRow& row : rows) {
    if (row.verdict == Verdict::kTooFewRuns || row.verdict == Verdict::kNoRatio) {
      unjudged += (unjudged.empty() ? "" : ", ") + sectionText(row.name, row.location) + " (" +
                  std::to_string(row.before.size()) + " -> " + std::to_string(row.after.size()) +
                  (row.verdict == Verdict::kNoRatio ? " runs, a median of 0 us)" : " runs)");
    }
  }
  if (!unjudged.empty()) {
    std::cerr << "spanmill-report: not judged: " << unjudged << "\n";
  }
  if (gate.slower.empty()) {
    return 0;
  }
  std::string names;
  for (const DiffRow* row : gate.slower) {
    names += (names.empty() ? "" : ", ") + sectionText(row->name, row->location) + " " +
             changeText(row->change.estimate) + " " + intervalText(row->change);
  }
  std::snprintf(text, sizeof text, "%g", percent);
  std::cerr << "spanmill-report: slower by more than " << text << "%: " << names << "\n";
  return 3;
}

int tree(const std::vector<std::string>& args, bool folded) {
  bool byThread = false;
  bool json = false;
  TreeOptions options;
  std::vector<std::string> paths;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--by-thread") {
      byThread = true;
    } else if (args[i] == "--json" && !folded) {
      json = true;
    } else if (args[i] == "--min-share" && !folded) {
      if (!numberAfter(args, i++, 0, true, 100.000001, &options.minShare)) {
        return usageError("--min-share needs a percentage from 0 to 100");
      }
      options.minShare /= 100;
    } else if (args[i] == "--depth" && !folded) {
      if (!countAfter(args, i++, &options.depth)) {
        return usageError("--depth needs a number of levels, 1 or more");
      }
    } else if (isReport(args[i])) {
      paths.push_back(args[i]);
    } else {
      return usageError("unknown option " + args[i]);
    }
  }
  std::vector<SpanReport> reports;
  if (int status = readReports(folded ? "folded" : "tree", paths, &reports); status != 0) {
    return status;
  }
  const CallTree calls = buildCallTree(reports, byThread);
  if (folded) {
    writeFolded(calls, std::cout);
  } else if (json) {
    writeTreeJson(calls, options, std::cout);
  } else {
    writeTreeTable(calls, options, std::cout);
  }
  return finishOutput();
}

int noise(const std::vector<std::string>& args) {
  NoiseOptions options;
  std::vector<std::string> paths;
  for (size_t i = 0; i < args.size(); ++i) {
    int status = 0;
    if (args[i] == "--runs") {
      if (!countAfter(args, i++, &options.aSide)) {
        return usageError("--runs needs a number of runs, 1 or more");
      }
    } else if (sharedOption(args, &i, &options.diff, &options.percent, &status)) {
      if (status != 0) {
        return status;
      }
    } else if (isReport(args[i])) {
      paths.push_back(args[i]);
    } else {
      return usageError("unknown option " + args[i]);
    }
  }
  if (paths.empty()) {
    return usageError("noise needs a report");
  }
  std::vector<RunMedians> runs;
  if (!loadRuns(paths, &runs)) {
    return 1;
  }
  const size_t aSide = options.aSide != 0 ? options.aSide : runs.size() / 2;
  if (aSide == 0 || 2 * aSide > runs.size()) {
    std::cerr << "spanmill-report: noise needs " << 2 * std::max<size_t>(aSide, 1)
              << " runs or more, has " << runs.size() << "\n";
    return 1;
  }
  writeNoiseTable(measureNoise(runs, options), options, std::cout);
  return finishOutput();
}

// Writes an export to path. A regular file (or a new one) is written under
// a temporary name and renamed when complete, so that a failed export
// leaves no partial file; anything else (/dev/null, a pipe) is written as
// it stands.
template <typename Write>
int writeExport(const std::string& path, Write write) {
  struct stat status;
  const bool inPlace = stat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode);
  const std::string written = inPlace ? path : path + ".partial-" + std::to_string(getpid());
  std::ofstream out(written, std::ios::binary | std::ios::trunc);
  if (out) {
    write(out);
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

// chrome and speedscope: the reports written to -o FILE or standard output.
int exportCommand(const char* command, const std::vector<std::string>& args) {
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
  if (int status = readReports(command, paths, &reports); status != 0) {
    return status;
  }
  const bool chrome = std::strcmp(command, "chrome") == 0;
  ChromeTraceSize size;
  auto write = [&](std::ostream& out) {
    if (chrome) {
      size = writeChromeTrace(reports, out);
    } else {
      writeSpeedscope(reports, out);
    }
  };
  int status;
  if (!output.empty()) {
    status = writeExport(output, write);
  } else {
    write(std::cout);
    status = finishOutput();
  }
  if (status == 0 && beyondViewers(size)) {
    char text[160];
    std::snprintf(text, sizeof text,
                  "spanmill-report: warning: the export holds %.1f M events in %.0f MB, more than "
                  "viewers open (about 1 M events and 256 MB): ",
                  static_cast<double>(size.events) / 1e6, static_cast<double>(size.bytes) / 1e6);
    std::cerr << text << "spanmill-report speedscope writes the same spans for speedscope\n";
  }
  return status;
}

// html: the page of the reports, or with "--" of runs compared, the views
// showing the runs after.
int html(const std::vector<std::string>& args) {
  std::string output;
  double percent = 0;
  DiffOptions options;
  std::vector<std::string> base, changed;
  bool separated = false;
  for (size_t i = 0; i < args.size(); ++i) {
    int status = 0;
    if (args[i] == "-o") {
      if (i + 1 == args.size()) {
        return usageError("-o needs a file");
      }
      output = args[++i];
    } else if (args[i] == "--" && !separated) {
      separated = true;
    } else if (sharedOption(args, &i, &options, &percent, &status)) {
      if (status != 0) {
        return status;
      }
    } else if (isReport(args[i])) {
      (separated ? changed : base).push_back(args[i]);
    } else {
      return usageError("unknown option " + args[i]);
    }
  }
  if (separated && (base.empty() || changed.empty())) {
    return usageError("html needs a report before and after --");
  }
  std::vector<SpanReport> reports;
  HtmlComparison comparison;
  if (separated) {
    std::vector<RunMedians> before, after;
    if (!loadRuns(base, &before, &comparison.before)) {
      return 1;
    }
    if (int status = readReports("html", changed, &reports); status != 0) {
      return status;
    }
    for (const SpanReport& report : reports) {
      after.push_back(summarizeRun(report));
      comparison.after.push_back(report.name);
    }
    comparison.rows = compareRuns(before, after, options);
    comparison.alpha = options.alpha;
    comparison.percent = percent;
  } else if (int status = readReports("html", base, &reports); status != 0) {
    return status;
  }
  auto write = [&](std::ostream& out) {
    writeHtmlPage(reports, separated ? &comparison : nullptr, out);
  };
  if (output.empty()) {
    write(std::cout);
    return finishOutput();
  }
  return writeExport(output, write);
}

}  // namespace

int runReportCommand(int argc, char* argv[]) {
  std::ios::sync_with_stdio(false);
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  if (args.empty()) {
    return usageError(
        "which command: summary, diff, noise, tree, folded, chrome, speedscope or html?");
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
  if (command == "noise") {
    return noise(args);
  }
  if (command == "tree" || command == "folded") {
    return tree(args, command == "folded");
  }
  if (command == "chrome" || command == "speedscope") {
    return exportCommand(command.c_str(), args);
  }
  if (command == "html") {
    return html(args);
  }
  return usageError("unknown command " + command);
}

}  // namespace orvel
