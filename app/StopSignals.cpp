#include "app/StopSignals.h"

#include <errno.h>
#include <unistd.h>

#include "io/LinuxPipe.h"

namespace orvel {

namespace {

const int kSignals[2] = {SIGINT, SIGTERM};

// The write end of the pipe, -1 while no StopSignals exists.
volatile sig_atomic_t triggerFd = -1;

void onStopSignal(int /*signal*/) {
  const int savedErrno = errno;
  const char byte = 'S';
  if (triggerFd != -1) {
    ssize_t ignored = write(triggerFd, &byte, 1);  // a full pipe has its byte already
    (void)ignored;
  }
  // Only the signals this handler took: an ignored one stays ignored.
  struct sigaction defaults = {};
  defaults.sa_handler = SIG_DFL;
  sigemptyset(&defaults.sa_mask);
  for (int each : kSignals) {
    struct sigaction now;
    if (sigaction(each, nullptr, &now) == 0 && now.sa_handler == onStopSignal) {
      sigaction(each, &defaults, nullptr);
    }
  }
  errno = savedErrno;
}

}  // namespace

StopSignals::StopSignals() {
  readEnd = new LinuxPipe();
  readEnd->setNonBlocking(true);  // both ends: the handler never waits
  writeEnd = readEnd->openAnonymousPipe();
  if (writeEnd == nullptr) {
    delete readEnd;
    readEnd = nullptr;
    return;
  }
  triggerFd = dynamic_cast<LinuxFileExt*>(writeEnd->ext())->getFd();
  struct sigaction handler = {};
  handler.sa_handler = onStopSignal;
  // Calls that a signal interrupts go on, but for select, which no flag
  // restarts and whose loop passes again on EINTR. The other signal waits
  // until the handler has given it its default action back.
  handler.sa_flags = SA_RESTART;
  sigemptyset(&handler.sa_mask);
  for (int each : kSignals) {
    sigaddset(&handler.sa_mask, each);
  }
  for (int i = 0; i < 2; ++i) {
    if (sigaction(kSignals[i], nullptr, &found[i]) == 0 && found[i].sa_handler != SIG_IGN) {
      installed[i] = sigaction(kSignals[i], &handler, nullptr) == 0;
    }
  }
}

StopSignals::~StopSignals() {
  for (int i = 0; i < 2; ++i) {
    if (installed[i]) {
      sigaction(kSignals[i], &found[i], nullptr);
    }
  }
  triggerFd = -1;
  delete writeEnd;
  delete readEnd;
}

PortableFile* StopSignals::takeTrigger() {
  PortableFile* trigger = readEnd;
  readEnd = nullptr;
  return trigger;
}

}  // namespace orvel
