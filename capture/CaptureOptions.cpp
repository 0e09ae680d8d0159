#include "capture/CaptureOptions.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace orvel {

const char kCaptureUsage[] =
    "Usage: spanmill-capture [-o TRACE] [-r REPORT] [-b KB] [--strace] -- COMMAND [ARGS...]\n"
    "\n"
    "Runs COMMAND and saves a trace of it that spanmill reads right: the markers\n"
    "it writes (ftrace, in a tracefs instance of its own, whose trace_marker\n"
    "SPANMILL_MARKER names) or its system calls (--strace). Needs root for ftrace.\n"
    "Exits with COMMAND's status (128 + the signal that killed it), 1 when the\n"
    "capture failed, 2 for a command line it does not understand.\n"
    "\n"
    "  -o TRACE   the trace (trace.ftrace, or trace.strace with --strace)\n"
    "  -r REPORT  also convert the trace into a spanmill report\n"
    "  -b KB      ftrace buffer per CPU, in KiB (4096)\n"
    "  --strace   strace -ttt -T -f -s 0 instead of ftrace\n"
    "  -h, --help this text\n";

namespace {

int usageError(const char* what, const char* detail) {
  std::fprintf(stderr, "spanmill-capture: %s%s\n", what, detail);
  std::fputs(kCaptureUsage, stderr);
  return 2;
}

// The KiB of -b: decimal digits, 1 to 4 GiB.
bool readKb(const char* text, unsigned long* kb) {
  if (*text == '\0' || std::strspn(text, "0123456789") != std::strlen(text) ||
      std::strlen(text) > 7) {
    return false;
  }
  *kb = std::strtoul(text, nullptr, 10);
  return *kb > 0 && *kb <= 4UL * 1024 * 1024;
}

}  // namespace

int parseCaptureOptions(int argc, char* argv[], CaptureOptions* options) {
  int at = 1;
  for (; at < argc && argv[at][0] == '-'; ++at) {
    const char* option = argv[at];
    if (std::strcmp(option, "--") == 0) {
      ++at;
      break;
    }
    if (std::strcmp(option, "-h") == 0 || std::strcmp(option, "--help") == 0) {
      std::fputs(kCaptureUsage, stdout);
      return 0;
    }
    if (std::strcmp(option, "--strace") == 0) {
      options->strace = true;
      continue;
    }
    const bool takesValue = std::strcmp(option, "-o") == 0 || std::strcmp(option, "-r") == 0 ||
                            std::strcmp(option, "-b") == 0;
    if (!takesValue) {
      return usageError("unknown option ", option);
    }
    if (at + 1 == argc || argv[at + 1][0] == '\0') {
      return usageError(option, " needs a value");
    }
    const char* value = argv[++at];
    if (option[1] == 'o') {
      options->trace = value;
    } else if (option[1] == 'r') {
      options->report = value;
    } else if (!readKb(value, &options->bufferKb)) {
      return usageError("-b takes KiB from 1 to 4194304, not ", value);
    }
  }
  if (at == argc) {
    return usageError("no command to run", "");
  }
  if (options->trace.empty()) {
    options->trace = options->strace ? "trace.strace" : "trace.ftrace";
  }
  options->command.assign(argv + at, argv + argc);
  options->command.push_back(nullptr);
  return -1;
}

}  // namespace orvel
