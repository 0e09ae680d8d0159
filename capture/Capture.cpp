#include "capture/Capture.h"

#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "capture/CaptureOptions.h"
#include "capture/Command.h"
#include "capture/TraceInstance.h"

namespace orvel {

namespace {

int fail(const std::string& what) {
  std::fprintf(stderr, "spanmill-capture: %s\n", what.c_str());
  return 1;
}

// Runs a program of the capture's own; false with *error set unless it
// exited with status 0.
bool runStep(std::vector<std::string> words, std::string* error) {
  std::vector<char*> argv;
  for (std::string& word : words) {
    argv.push_back(&word[0]);
  }
  argv.push_back(nullptr);
  const int status = runToEnd(argv.data(), -1, error);
  if (status > 0) {
    *error = words[0] + " failed with exit status " + std::to_string(status);
  }
  return status == 0;
}

// Traces the command with ftrace into raw. Returns its status, or -1 with
// *error set.
int traceMarkers(const CaptureOptions& options, const std::string& raw, std::string* error) {
  TraceInstance instance;
  if (!instance.create("spanmill-capture-" + std::to_string(getpid()), options.bufferKb, error)) {
    return -1;
  }
  if (stopSignal() != 0) {
    *error = "stopped by signal " + std::to_string(stopSignal()) + " before the command ran";
    return -1;
  }
  setenv("SPANMILL_MARKER", instance.file("trace_marker").c_str(), 1);
  const int tracingOn = instance.openSwitch(error);
  if (tracingOn < 0) {
    return -1;
  }
  const int status = runToEnd(options.command.data(), tracingOn, error);
  close(tracingOn);
  if (!instance.stop(error) || status < 0) {
    return -1;
  }
  const uint64_t lost = instance.lostEvents();
  if (!instance.saveTrace(raw, error) || !instance.remove(error)) {
    return -1;
  }
  if (lost > 0) {
    std::fprintf(stderr,
                 "spanmill-capture: %" PRIu64
                 " events lost: the trace buffer overran or dropped them; raise -b (it was %lu "
                 "KiB per CPU)\n",
                 lost, options.bufferKb);
  }
  return status;
}

}  // namespace

int runCapture(int argc, char* argv[]) {
  CaptureOptions options;
  const int parsed = parseCaptureOptions(argc, argv, &options);
  if (parsed >= 0) {
    return parsed;
  }
  const std::string tidy = besideSelf("spanmill-tidy");
  const std::string spanmill = besideSelf("spanmill");
  for (const std::string& program : {tidy, options.report.empty() ? tidy : spanmill}) {
    if (access(program.c_str(), X_OK) != 0) {
      return fail("cannot find '" + program + "'");
    }
  }
  catchStopSignals();
  // The trace as captured, until spanmill-tidy has rewritten it.
  const std::string raw = options.trace + ".raw";
  const char* type = options.strace ? "strace" : "ftrace_marker";
  std::string error;
  int status;
  if (options.strace) {
    std::vector<char*> command = {
        const_cast<char*>("strace"), const_cast<char*>("-ttt"),      const_cast<char*>("-T"),
        const_cast<char*>("-f"),     const_cast<char*>("-s"),        const_cast<char*>("0"),
        const_cast<char*>("-o"),     const_cast<char*>(raw.c_str()), const_cast<char*>("--")};
    command.insert(command.end(), options.command.begin(), options.command.end());
    status = runToEnd(command.data(), -1, &error);
  } else {
    status = traceMarkers(options, raw, &error);
  }
  if (status < 0) {
    return fail(error);
  }
  if (!runStep({tidy, "-t", type, "-i", raw, "-o", options.trace}, &error)) {
    return fail(error + "; the trace as captured is in '" + raw + "'");
  }
  unlink(raw.c_str());
  if (!options.report.empty() &&
      !runStep({spanmill, "-t", type, "-i", options.trace, "-o", options.report}, &error)) {
    return fail(error);
  }
  return status;
}

}  // namespace orvel
