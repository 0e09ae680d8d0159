#include "app/Options.h"

#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace orvel {

namespace {

const char kUsage[] =
    "spanmill - convert trace data to CSV. Built %s %s\n"
    "\n"
    "USAGE [options]\n"
    "       -h          Show this help\n"
    "       -s time     Start time in seconds (everything)\n"
    "       -d duration Duration in seconds (everything)\n"
    "       -i file     Input file (stdin)\n"
    "       -o file     Output file (stdout)\n"
    "       -a file     Append output file (alternative to -o)\n"
    "       -A number   Time multiplier or skew (1.0)\n"
    "       -B number   Time offset (0.0)\n"
    "       -t type     Trace source (ftrace_marker)\n"
    "TYPES\n"
    "      ftrace_marker\n"
    "      strace   // strace -ttt -T -f\n"
    "TIME\n"
    "   startTime(-s) = the time to start collection, pre-adjusted.\n"
    "   fileStartTime = the time to start collection, adjusted for input time stamps.\n"
    "                 = (startTime(-s) - offset(-B)) / skew(-A)\n"
    "   inputTime     = the time stamp found in the input data.\n"
    "   outputTime    = the time stamp printed to the output data, an offset.\n"
    "                 = inputTime * skew(-A) + offset(-B) - startTime(-s)\n";

const char kOptions[] = "ht:A:B:o:i:s:d:a:";

// An option takes an argument when a ':' follows its letter in kOptions.
bool takesArgument(int option) {
  const char* letter = option > 0 && option != ':' ? std::strchr(kOptions, option) : nullptr;
  return letter != nullptr && letter[1] == ':';
}

// getopt reports both an unknown option and a missing argument as '?', with
// the option character in optopt.
void reportBadOption(int option) {
  if (takesArgument(option)) {
    std::fprintf(stderr, "Option -%c requires an argument.\n", option);
  } else if (option >= 0 && option <= 0xFF && std::isprint(option)) {
    std::fprintf(stderr, "Unknown option `-%c'.\n", option);
  } else {
    // A byte above 0x7F arrives sign-extended where char is signed.
    std::fprintf(stderr, "Unknown option character `\\x%x'.\n", static_cast<unsigned>(option));
  }
}

}  // namespace

bool parseOptions(int argc, char* argv[], RunSettings* settings) {
  opterr = 0;
  int option;
  while ((option = getopt(argc, argv, kOptions)) != -1) {
    switch (option) {
      case 'h':
        std::printf(kUsage, __DATE__, __TIME__);
        return false;
      case 's':
        settings->startTime = std::strtod(optarg, nullptr);
        break;
      case 'd':
        settings->duration = std::strtod(optarg, nullptr);
        break;
      case 'i':
        settings->inputPath = optarg;
        break;
      case 'o':
        settings->outputPath = optarg;
        settings->append = false;
        break;
      case 'a':
        settings->outputPath = optarg;
        settings->append = true;
        break;
      case 'A':
        settings->skew = std::strtod(optarg, nullptr);
        break;
      case 'B':
        settings->offset = std::strtod(optarg, nullptr);
        break;
      case 't':
        settings->traceType = optarg;
        break;
      default:
        reportBadOption(optopt);
        return false;
    }
  }
  if (optind < argc) {
    std::fprintf(stderr, "Invalid arguments, try -h\n");
    return false;
  }
  return true;
}

}  // namespace orvel
