// The output file of a run, as a stream buffer that locks the file while
// the report is written into it.
#ifndef ORVEL_APP_REPORTFILE_H
#define ORVEL_APP_REPORTFILE_H

#include <streambuf>

namespace orvel {

// Writes straight to the file, without a buffer of its own (the report
// gathers its writes into large ones). Reports appended at once by several
// runs would interleave piece by piece, so the first write takes an
// exclusive flock that close() gives back: a run waits for another's
// report only when its own is ready, not while it reads its input. A lock
// that cannot be had (a file system without locks) is done without. Used
// by one thread at a time.
class ReportFile : public std::streambuf {
 public:
  ReportFile() = default;
  ReportFile(const ReportFile&) = delete;
  ReportFile& operator=(const ReportFile&) = delete;
  ~ReportFile() override { close(); }

  // Opens path for writing, creating it (mode 0666 less the umask),
  // emptied or, with append, written at its end. False, with errno set,
  // when it cannot be opened.
  bool open(const char* path, bool append);

  // Closes the file, which gives back its lock. Later calls do nothing.
  void close();

 protected:
  // Write failures (a full disk) show as a short count, which fails the
  // stream; nothing else reports them.
  std::streamsize xsputn(const char* data, std::streamsize count) override;
  int overflow(int c) override;

 private:
  int fd = -1;          // -1: not open
  bool locked = false;  // the lock was taken, or tried and refused
};

}  // namespace orvel

#endif  // ORVEL_APP_REPORTFILE_H
