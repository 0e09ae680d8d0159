// A selector over select(2), running its loop on a worker of the default
// pool and steered through a control pipe.
#ifndef ORVEL_IO_LINUXSELECTOR_H
#define ORVEL_IO_LINUXSELECTOR_H

#include <sys/time.h>

#include <atomic>
#include <vector>

#include "io/LinuxPipe.h"
#include "io/PortableSelector.h"
#include "thread/Lock.h"
#include "thread/Thread.h"

namespace orvel {

class Logger;

class LinuxSelectorExt : public PortableSelectorExt {
 public:
  // How long select waits before the loop passes again; 0.0 waits without
  // time-out. Safe from any thread; the loop takes it on its next pass.
  virtual void setWakeUpInterval(double seconds) = 0;
};

// Watched descriptors must be below FD_SETSIZE; addFile refuses others.
// Lock order: this selector's lock before any listener's lock.
class LinuxSelector : public PortableSelector, public LinuxSelectorExt, private Runnable {
 public:
  // Starts the loop; if the control pipe cannot be made the selector is
  // closed from the start and every addFile fails.
  LinuxSelector();
  LinuxSelector(const LinuxSelector&) = delete;
  LinuxSelector& operator=(const LinuxSelector&) = delete;
  // Closes the selector.
  ~LinuxSelector() override;

  bool addFile(PortableFile* file, Listener* listener) override;
  void closeFile(PortableFile* file) override;
  void closeSelector() override;
  PortableSelectorExt* ext() override { return this; }
  // Intervals below one microsecond (but 0.0) wait one microsecond, since
  // a zero time-out spins; intervals beyond what a 32-bit tv_sec holds are
  // cut to it. NaN counts as 0.0.
  void setWakeUpInterval(double seconds) override;

  // The select time-out for a wake-up interval other than 0.0.
  static timeval wakeUpTimeout(double seconds);

 private:
  struct FileInfo {
    PortableFile* file;  // owned from registration on
    Listener* listener;  // not owned
    bool active;         // false: to be dropped at the next rescan
  };
  class Loop;

  void run() override;
  // With the lock held: every remaining file gets its onClose and is
  // deleted, then the selector is marked stopped and waiters are woken.
  void endLoop();
  // Ends a selector whose loop will never run.
  void endWithoutLoop();
  // Index of the file's record, or -1.
  int _find(PortableFile* file);
  void writeControl(char byte);
  static int descriptorOf(PortableFile* file);
  static Logger* logger();

  bool stopped = false;  // the loop has ended (or never could start)
  std::atomic<double> wakeUpInterval{0.0};
  Lock lock;                                // guards the other fields; closeSelector waits on it
  std::vector<FileInfo> files;              // in registration order
  LinuxPipe* controlReadEnd = nullptr;      // owned; read by the loop
  PortablePipe* controlWriteEnd = nullptr;  // owned; written by other threads
};

}  // namespace orvel

#endif  // ORVEL_IO_LINUXSELECTOR_H
