// Files over POSIX descriptors.
#ifndef ORVEL_IO_LINUXBASICFILE_H
#define ORVEL_IO_LINUXBASICFILE_H

#include "io/PortableFile.h"

namespace orvel {

// The Linux part of a file: its descriptor and the permission bits of new
// files. Reached through PortableFile::ext().
class LinuxFileExt : public PortableFileExt {
 public:
  virtual int getFd() = 0;
  // Replaces the descriptor without closing the old one or applying the
  // non-blocking flag; the object closes the new one when it is closed or
  // destroyed. Clears the end-of-input flag.
  virtual void setFd(int fd) = 0;
  virtual unsigned int getDefaultMode() = 0;
  virtual void setDefaultMode(unsigned int mode) = 0;
};

class LinuxBasicFile : public PortableBasicFile, public LinuxFileExt {
 public:
  LinuxBasicFile() = default;
  LinuxBasicFile(const LinuxBasicFile&) = delete;
  LinuxBasicFile& operator=(const LinuxBasicFile&) = delete;
  ~LinuxBasicFile() override;

  int read(void* buffer, unsigned int length) override;
  int write(const void* buffer, unsigned int length) override;
  void flush() override {}
  void close() override;
  void setNonBlocking(bool on) override;
  bool isEOF() override { return eof; }
  PortableFileExt* ext() override { return this; }
  // With large-file support; a descriptor held before is closed first.
  int openFile(const char* path, unsigned int mode) override;

  int getFd() override { return fd; }
  void setFd(int fd) override;
  unsigned int getDefaultMode() override { return defaultMode; }
  void setDefaultMode(unsigned int mode) override { defaultMode = mode; }

 private:
  int fd = -1;                      // -1: no file open
  unsigned int defaultMode = 0664;  // permission bits of files this object creates
  bool eof = false;                 // never set: the end shows as a read of 0
  bool nonBlocking = false;
};

}  // namespace orvel

#endif  // ORVEL_IO_LINUXBASICFILE_H
