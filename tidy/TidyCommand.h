// spanmill-tidy's command line: rewrites a trace captured in another form
// into the forms spanmill reads. Exit status 0 when the trace was written
// (warnings of what could not be fixed go to standard error), 1 when the
// input or output cannot be used, 2 for a command line it does not
// understand.
#ifndef ORVEL_TIDY_TIDYCOMMAND_H
#define ORVEL_TIDY_TIDYCOMMAND_H

#include <string>

namespace orvel {

int runTidyCommand(int argc, char* argv[]);

// The thread id that strace -ff wrote into a file's name ("calls.1234"
// gives "1234"), or "0" for the one process of an strace without -f.
std::string idOfStraceFile(const char* path);

}  // namespace orvel

#endif  // ORVEL_TIDY_TIDYCOMMAND_H
