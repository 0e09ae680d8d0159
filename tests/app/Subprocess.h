// Runs a program to completion and collects what it printed.
#ifndef ORVEL_TESTS_APP_SUBPROCESS_H
#define ORVEL_TESTS_APP_SUBPROCESS_H

#include <fcntl.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace orvel {
namespace testing {

struct ProgramResult {
  int exitStatus = -1;  // -1 when the program did not exit normally
  std::string out;      // what it wrote on standard output
  std::string err;      // what it wrote on standard error
};

inline std::string readWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Runs path with args, standard input from /dev/null, and waits for it.
inline ProgramResult runProgram(const std::string& path, const std::vector<std::string>& args) {
  char outName[] = "/tmp/spanmill-test-out-XXXXXX";
  char errName[] = "/tmp/spanmill-test-err-XXXXXX";
  int outFd = mkstemp(outName);
  int errFd = mkstemp(errName);
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(path.c_str()));
  for (const std::string& arg : args) {
    argv.push_back(const_cast<char*>(arg.c_str()));
  }
  argv.push_back(nullptr);

  ProgramResult result;
  pid_t child = fork();
  if (child == 0) {
    int in = open("/dev/null", O_RDONLY);
    dup2(in, 0);
    dup2(outFd, 1);
    dup2(errFd, 2);
    execv(path.c_str(), argv.data());
    _exit(127);
  }
  int status = 0;
  if (child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status)) {
    result.exitStatus = WEXITSTATUS(status);
  }
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
