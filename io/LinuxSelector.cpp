#include "io/LinuxSelector.h"

#include <errno.h>
#include <sys/select.h>

#include <cmath>
#include <cstddef>

#include "log/Logger.h"
#include "thread/DefaultThreadGroup.h"

namespace orvel {

// What the pool runs: the loop. The pool owns it (deleteUnrun), so a pool
// that never runs it (no thread could be started for it) deletes it, and
// then it ends the selector as the loop would have: closeSelector never
// waits for a loop that is not coming.
class LinuxSelector::Loop : public Runnable {
 public:
  explicit Loop(LinuxSelector* selector) : selector(selector) {}
  ~Loop() override {
    if (selector != nullptr) {
      selector->endWithoutLoop();
    }
  }
  void run() override {
    LinuxSelector* running = selector;
    selector = nullptr;
    running->run();
    delete this;  // the selector may be gone already; it is not touched
  }

 private:
  LinuxSelector* selector;  // not owned; null once the loop has run
};

Logger* LinuxSelector::logger() {
  static Logger* const instance = Logger::getLogger("LinuxSelector");
  return instance;
}

LinuxSelector::LinuxSelector() {
  logger()->tracef("%p Constructor", static_cast<void*>(this));
  controlReadEnd = new LinuxPipe();
  controlReadEnd->setNonBlocking(true);
  controlWriteEnd = controlReadEnd->openAnonymousPipe();
  if (controlWriteEnd == nullptr) {
    logger()->errorf("%p Cannot create anonymous pipe! errno=%d", static_cast<void*>(this), errno);
    stopped = true;
    return;
  }
  DefaultThreadGroup::Instance()->spawn(new Loop(this), true);
}

LinuxSelector::~LinuxSelector() {
  logger()->tracef("%p Destructor", static_cast<void*>(this));
  closeSelector();
}

int LinuxSelector::descriptorOf(PortableFile* file) {
  LinuxFileExt* platform = dynamic_cast<LinuxFileExt*>(file->ext());
  return platform == nullptr ? -1 : platform->getFd();
}

int LinuxSelector::_find(PortableFile* file) {
  for (size_t i = 0; i < files.size(); ++i) {
    if (files[i].file == file) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

void LinuxSelector::writeControl(char byte) {
  if (controlWriteEnd != nullptr) {
    controlWriteEnd->write(&byte, 1);
  }
}

bool LinuxSelector::addFile(PortableFile* file, Listener* listener) {
  logger()->tracef("%p addFile(%p, %p)", static_cast<void*>(this), static_cast<void*>(file),
                   static_cast<void*>(listener));
  Synchronized hold(lock);
  if (stopped) {
    return false;
  }
  if (file == nullptr || listener == nullptr) {
    logger()->warnf("%p Null listener or file passed into addFile()", static_cast<void*>(this));
    return false;
  }
  int fd = descriptorOf(file);
  if (fd == -1) {
    logger()->warnf("%p Bad file descriptor passed into addFile()", static_cast<void*>(this));
    return false;
  }
  if (fd >= FD_SETSIZE) {
    // select cannot watch it: setting it in the read set would write past it.
    logger()->warnf("%p File descriptor %d is not below FD_SETSIZE (%d), refused in addFile()",
                    static_cast<void*>(this), fd, FD_SETSIZE);
    return false;
  }
  int at = _find(file);
  if (at != -1) {
    // A file on its way out is not registered any more, and cannot be again.
    return files[at].active && files[at].listener == listener;
  }
  files.push_back(FileInfo{file, listener, true});
  writeControl('U');
  return true;
}

void LinuxSelector::closeFile(PortableFile* file) {
  logger()->tracef("%p closeFile(%p)", static_cast<void*>(this), static_cast<void*>(file));
  Synchronized hold(lock);
  int at = stopped ? -1 : _find(file);
  if (at != -1 && files[at].active) {
    files[at].active = false;
    writeControl('U');
  }
}

void LinuxSelector::closeSelector() {
  logger()->tracef("%p closeSelector()", static_cast<void*>(this));
  Synchronized hold(lock);
  while (!stopped) {
    writeControl('S');
    lock.wait();
  }
  delete controlReadEnd;
  controlReadEnd = nullptr;
  delete controlWriteEnd;
  controlWriteEnd = nullptr;
}

void LinuxSelector::setWakeUpInterval(double seconds) {
  wakeUpInterval = std::isnan(seconds) ? 0.0 : seconds;
}

timeval LinuxSelector::wakeUpTimeout(double seconds) {
  const double kLongest = 2147483647.0;  // what a 32-bit tv_sec holds
  if (!(seconds >= 1e-6)) {
    seconds = 1e-6;
  } else if (seconds > kLongest) {
    seconds = kLongest;
  }
  timeval timeout;
  timeout.tv_sec = static_cast<time_t>(seconds);
  timeout.tv_usec = static_cast<suseconds_t>((seconds - static_cast<double>(timeout.tv_sec)) * 1e6);
  if (timeout.tv_sec == 0 && timeout.tv_usec == 0) {
    timeout.tv_usec = 1;
  }
  return timeout;
}

void LinuxSelector::run() {
  logger()->tracef("%p run()", static_cast<void*>(this));
  Synchronized hold(lock);
  const int controlFd = controlReadEnd->getFd();
  bool rescan = true;
  double cachedInterval = 0.0;
  timeval timeout = {0, 0};
  std::vector<int> watched;  // the descriptor each record had when the read set was built
  fd_set readSet;
  for (;;) {
    double interval = wakeUpInterval;
    if (interval != cachedInterval) {
      cachedInterval = interval;
      timeout = wakeUpTimeout(interval);
    }
    if (rescan) {
      for (size_t i = files.size(); i-- > 0;) {
        if (!files[i].active || descriptorOf(files[i].file) == -1) {
          FileInfo dropped = files[i];
          files.erase(files.begin() + static_cast<std::ptrdiff_t>(i));
          dropped.listener->onClose(this, dropped.file);
          delete dropped.file;
        }
      }
    }
    FD_ZERO(&readSet);
    FD_SET(controlFd, &readSet);
    int highest = controlFd;
    watched.clear();
    for (const FileInfo& info : files) {
      int fd = descriptorOf(info.file);
      watched.push_back(fd);
      if (fd != -1 && fd < FD_SETSIZE) {
        FD_SET(fd, &readSet);
        highest = fd > highest ? fd : highest;
      }
    }

    lock.unlock();
    timeval passTimeout = timeout;
    int ready = select(highest + 1, &readSet, nullptr, nullptr,
                       cachedInterval == 0.0 ? nullptr : &passTimeout);
    int selectError = errno;
    lock.lock();

    if (ready == 0 || (ready < 0 && selectError == EINTR)) {
      rescan = false;
      continue;
    }
    if (ready < 0) {
      if (selectError == EBADF) {
        logger()->warnf("%p Select error: invalid file descriptor was given.",
                        static_cast<void*>(this));
      } else if (selectError == ENOMEM) {
        logger()->warnf("%p Select error: out of memory.", static_cast<void*>(this));
      } else {
        logger()->warnf("%p Select error: errno: %d", static_cast<void*>(this), selectError);
      }
      break;
    }
    rescan = false;
    // Records added while select waited come after these and wait a pass.
    for (size_t i = 0; i < watched.size(); ++i) {
      FileInfo& info = files[i];
      int fd = watched[i];
      if (!info.active || fd == -1 || fd >= FD_SETSIZE || !FD_ISSET(fd, &readSet)) {
        continue;
      }
      if (!info.listener->onCanRead(this, info.file) || info.file->isEOF()) {
        info.active = false;
        rescan = true;
      } else if (descriptorOf(info.file) != fd) {
        rescan = true;  // the file reopened itself
      }
    }
    if (FD_ISSET(controlFd, &readSet)) {
      char byte = 0;
      if (controlReadEnd->read(&byte, 1) != 1) {
        logger()->warnf("%p Control pipe is broken, closing...", static_cast<void*>(this));
        break;
      }
      if (byte == 'U') {
        logger()->debugf("%p Received update control flag", static_cast<void*>(this));
        rescan = true;
      } else if (byte == 'S') {
        logger()->debugf("%p Closed by control flag", static_cast<void*>(this));
        break;
      }
    }
  }
  endLoop();
}

void LinuxSelector::endLoop() {
  for (const FileInfo& info : files) {
    info.listener->onClose(this, info.file);
    delete info.file;
  }
  files.clear();
  stopped = true;
  lock.notifyAll();
}

void LinuxSelector::endWithoutLoop() {
  Synchronized hold(lock);
  endLoop();
}

}  // namespace orvel
