// Runs a program and collects what it printed.
#ifndef ORVEL_TESTS_APP_SUBPROCESS_H
#define ORVEL_TESTS_APP_SUBPROCESS_H

#include <fcntl.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sstream>
#include <string>
#include <vector>

#include "tests/Testing.h"

namespace orvel {
namespace testing {

struct ProgramResult {
  int exitStatus = -1;  // -1 when the program did not exit normally
  std::string out;      // what it wrote on standard output
  std::string err;      // what it wrote on standard error
};

// Starts path with args, its descriptors 0, 1 and 2 taken from in, out and
// err; a descriptor given as -1 is left closed in the child.
// A cross-built program runs through the launcher the build names (an
// emulator and its options, separated by spaces); the program still sees
// path as its argv[0].
inline pid_t startProgram(const std::string& path, const std::vector<std::string>& args, int in,
                          int out, int err) {
  std::vector<std::string> words;
  std::istringstream launcher(SPANMILL_LAUNCHER);
  for (std::string word; launcher >> word;) {
    words.push_back(word);
  }
  words.push_back(path);
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : words) {
    argv.push_back(&word[0]);
  }
  argv.push_back(nullptr);
  pid_t child = fork();
  if (child == 0) {
    // Move the sources above 2 first, so that placing one cannot clobber another.
    int sources[3] = {in, out, err};
    for (int& source : sources) {
      source = source == -1 ? -1 : fcntl(source, F_DUPFD, 10);
    }
    for (int target = 0; target < 3; ++target) {
      sources[target] == -1 ? close(target) : dup2(sources[target], target);
    }
    execvp(argv[0], argv.data());
    _exit(127);
  }
  return child;
}

// The exit status of a started program, or -1 when it did not exit normally.
inline int waitProgram(pid_t child) {
  int status = 0;
  if (child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status)) {
    return WEXITSTATUS(status);
  }
  return -1;
}

// Runs path with args to its end, standard input read from inputPath.
inline ProgramResult runProgram(const std::string& path, const std::vector<std::string>& args,
                                const std::string& inputPath = "/dev/null") {
  char outName[] = "/tmp/spanmill-test-out-XXXXXX";
  char errName[] = "/tmp/spanmill-test-err-XXXXXX";
  int outFd = mkstemp(outName);
  int errFd = mkstemp(errName);
  int inFd = open(inputPath.c_str(), O_RDONLY);
  ProgramResult result;
  result.exitStatus = waitProgram(startProgram(path, args, inFd, outFd, errFd));
  close(inFd);
  close(outFd);
  close(errFd);
  result.out = readWholeFile(outName);
  result.err = readWholeFile(errName);
  unlink(outName);
  unlink(errName);
  return result;
}

}  // namespace testing
}  // namespace orvel

#endif  // ORVEL_TESTS_APP_SUBPROCESS_H
