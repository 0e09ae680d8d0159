// The command line of spanmill: options into run settings.
#ifndef ORVEL_APP_OPTIONS_H
#define ORVEL_APP_OPTIONS_H

namespace orvel {

// What one conversion needs from the command line. The texts point into
// argv (or at literals), which live as long as the program.
struct RunSettings {
  const char* inputPath = nullptr;   // null: standard input
  const char* outputPath = nullptr;  // null: standard output
  bool append = false;               // the output path came last with -a, not -o
  const char* traceType = "ftrace_marker";
  double startTime = 0.0;  // seconds; 0.0 means no start was given
  double duration = 0.0;   // seconds; 0.0 or less means the window has no end
  double skew = 1.0;
  double offset = 0.0;  // seconds
};

// Reads the options into *settings. Returns true when the conversion should
// run. Returns false when the program must end with exit status 1: -h has
// printed the usage text on standard output, or an option error has printed
// its one line on standard error. Uses getopt, so call it once per process.
bool parseOptions(int argc, char* argv[], RunSettings* settings);

}  // namespace orvel

#endif  // ORVEL_APP_OPTIONS_H
