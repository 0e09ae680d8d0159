// Platform-neutral interfaces of things that can be read, written and
// waited on. Platform access (descriptors, permission bits) sits on the
// extension reached through ext().
//
// Results: read and write give the byte count (0 from read at end of
// input), -1 when nothing can be transferred now, -2 when there is no
// descriptor or the call failed. Opens give 0, or -2 for a failure, -3 for
// permission denied, -4 for no such file, -5 for a path that is not a pipe.
// Nothing throws or logs. A file is used by one thread at a time.
#ifndef ORVEL_IO_PORTABLEFILE_H
#define ORVEL_IO_PORTABLEFILE_H

namespace orvel {

class PortableFileExt {
 public:
  virtual ~PortableFileExt() = default;
};

class PortableFile {
 public:
  virtual ~PortableFile() = default;
  virtual int read(void* buffer, unsigned int length) = 0;
  virtual int write(const void* buffer, unsigned int length) = 0;
  virtual void flush() = 0;
  virtual void close() = 0;
  // Also applies to later opens of the object.
  virtual void setNonBlocking(bool on) = 0;
  virtual bool isEOF() = 0;
  // The platform part; not owned by the caller.
  virtual PortableFileExt* ext() = 0;
};

// Mode word of the opens: access in the low two bits (0 read, 1 write,
// 2 both, 3 read), 0x40 create, 0x400 append; no truncation.
class PortableBasicFile : public PortableFile {
 public:
  virtual int openFile(const char* path, unsigned int mode) = 0;
};

class PortablePipe : public PortableFile {
 public:
  // Opens a FIFO, making it first with the create bit. Reading a named
  // pipe never reports end of input: when the last writer leaves, the pipe
  // is opened again for the next one.
  virtual int openNamedPipe(const char* path, unsigned int mode) = 0;
  // Keeps the read end; returns a new pipe object holding the write end,
  // owned by the caller, or null when no pipe could be made.
  virtual PortablePipe* openAnonymousPipe() = 0;
};

}  // namespace orvel

#endif  // ORVEL_IO_PORTABLEFILE_H
