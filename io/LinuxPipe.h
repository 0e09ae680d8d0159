// Anonymous and named pipes over POSIX descriptors.
#ifndef ORVEL_IO_LINUXPIPE_H
#define ORVEL_IO_LINUXPIPE_H

#include <string>

#include "io/LinuxBasicFile.h"

namespace orvel {

class LinuxPipe : public PortablePipe, public LinuxFileExt {
 public:
  LinuxPipe() = default;
  LinuxPipe(const LinuxPipe&) = delete;
  LinuxPipe& operator=(const LinuxPipe&) = delete;
  ~LinuxPipe() override;

  // On a named pipe, a read that finds every writer gone opens the FIFO
  // again: a non-blocking pipe then returns -1, a blocking one waits for
  // the next writer. Only an anonymous pipe returns 0 at end of input.
  int read(void* buffer, unsigned int length) override;
  int write(const void* buffer, unsigned int length) override;
  void flush() override {}
  void close() override;
  void setNonBlocking(bool on) override;
  bool isEOF() override { return eof; }
  PortableFileExt* ext() override { return this; }
  // A descriptor held before is closed first.
  int openNamedPipe(const char* path, unsigned int mode) override;
  // When this object is non-blocking, both ends are.
  PortablePipe* openAnonymousPipe() override;

  int getFd() override { return fd; }
  void setFd(int fd) override;
  unsigned int getDefaultMode() override { return defaultMode; }
  void setDefaultMode(unsigned int mode) override { defaultMode = mode; }

 private:
  // Opens the named pipe with the kept flags, non-blocking when this
  // object is or withoutWaiting asks; the descriptor, or -1.
  int reopen(bool withoutWaiting);

  std::string path;                 // the FIFO's name; empty for an anonymous pipe
  int fd = -1;                      // -1: not open
  unsigned int defaultMode = 0666;  // permission bits given to mkfifo
  int openFlags = 0;                // access and append flags kept for reopening
  bool eof = false;                 // never set: the end shows as a read of 0
  bool nonBlocking = false;
};

}  // namespace orvel

#endif  // ORVEL_IO_LINUXPIPE_H
