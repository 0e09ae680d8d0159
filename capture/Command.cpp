#include "capture/Command.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace orvel {

namespace {

const int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

// The program running, to pass signals on to; 0 while none runs.
volatile sig_atomic_t running = 0;
// The last signal that came while none ran.
volatile sig_atomic_t caught = 0;

void onStopSignal(int signal) {
  if (running > 0) {
    kill(running, signal);
  } else {
    caught = signal;
  }
}

}  // namespace

void catchStopSignals() {
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = onStopSignal;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (int signal : kStopSignals) {
    sigaction(signal, &action, nullptr);
  }
}

int stopSignal() {
  return caught;
}

int runToEnd(char* const argv[], int switchFd, std::string* error) {
  // The child reports a failed exec through this pipe; a successful exec
  // closes it.
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) {
    *error = std::string("cannot make a pipe: ") + std::strerror(errno);
    return -1;
  }
  // No stop signal between the fork and noting the child: it would be lost.
  sigset_t stops, before;
  sigemptyset(&stops);
  for (int signal : kStopSignals) {
    sigaddset(&stops, signal);
  }
  sigprocmask(SIG_BLOCK, &stops, &before);
  const pid_t child = fork();
  const int forkError = errno;
  if (child == 0) {
    sigprocmask(SIG_SETMASK, &before, nullptr);
    // What failed (0: switching tracing on, 1: exec) and its errno.
    int failure[2] = {0, 0};
    if (switchFd == -1 || write(switchFd, "1", 1) == 1) {
      execvp(argv[0], argv);
      failure[0] = 1;
    }
    failure[1] = errno;
    (void)!write(report[1], failure, sizeof failure);
    _exit(127);
  }
  running = child > 0 ? child : 0;
  sigprocmask(SIG_SETMASK, &before, nullptr);
  close(report[1]);
  int failure[2] = {0, 0};
  ssize_t got;
  do {
    got = read(report[0], failure, sizeof failure);
  } while (got < 0 && errno == EINTR);
  close(report[0]);
  if (child < 0) {
    *error = std::string("cannot start '") + argv[0] + "': " + std::strerror(forkError);
    return -1;
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  running = 0;
  if (got == static_cast<ssize_t>(sizeof failure)) {
    *error = std::string(failure[0] == 0 ? "cannot switch tracing on for '" : "cannot run '") +
             argv[0] + "': " + std::strerror(failure[1]);
    return -1;
  }
  return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
}

std::string besideSelf(const char* name) {
  char self[4096];
  const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  std::string path = length > 0 ? std::string(self, static_cast<size_t>(length)) : "";
  return path.substr(0, path.rfind('/') + 1) + name;
}

}  // namespace orvel
