#include "app/Run.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <ostream>

#include "app/FtraceProcessor.h"
#include "app/OutOfMemory.h"
#include "app/ReportFile.h"
#include "app/StopSignals.h"
#include "app/StraceProcessor.h"
#include "io/LinuxBasicFile.h"
#include "io/LinuxDescriptor.h"
#include "io/PortableBasicFileFactory.h"
#include "io/PortableFileProcessor.h"

namespace orvel {

namespace {

const unsigned int kBufferSize = 65536;
const unsigned int kInputTimeLimitMs = 60000;

// Standard input as it will be read: the file processor makes its input
// non-blocking, and O_NONBLOCK belongs to the open file description, which
// on a terminal standard output shares. So standard input is opened again,
// giving a description of its own, wherever the system allows (not for a
// socket); otherwise descriptor 0 is used and its flags are restored at the
// end of the run.
class StandardInput {
 public:
  StandardInput() {
    fd = open("/proc/self/fd/0", O_RDONLY | O_NOCTTY | O_CLOEXEC);
    if (fd != -1) {
      off_t at = lseek(0, 0, SEEK_CUR);  // a file read in part before
      if (at > 0) {
        lseek(fd, at, SEEK_SET);
      }
      return;
    }
    fd = 0;
    // A second descriptor on the same description: the input object
    // closes descriptor 0 when it is done.
    sameDescription = fcntl(0, F_DUPFD_CLOEXEC, 3);
    savedFlags = fcntl(0, F_GETFL);
  }
  StandardInput(const StandardInput&) = delete;
  StandardInput& operator=(const StandardInput&) = delete;
  ~StandardInput() {
    if (sameDescription != -1) {
      if (savedFlags != -1) {
        fcntl(sameDescription, F_SETFL, savedFlags);
      }
      close(sameDescription);
    }
  }

  int fd;  // the descriptor to read

 private:
  int sameDescription = -1;
  int savedFlags = -1;
};

// Closes the output file, which ends its lock, and deletes its stream;
// standard output is left open.
void closeOutput(std::ostream* out, ReportFile* file) {
  if (file != nullptr) {
    file->close();
    delete out;
    delete file;
  }
}

}  // namespace

CustomProcessor* getProcessor(const char* type) {
  if (std::strcmp(type, "ftrace_marker") == 0) {
    return new FtraceProcessor();
  }
  if (std::strcmp(type, "strace") == 0) {
    return new StraceProcessor();
  }
  return nullptr;
}

void prepareProcess() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
      open("/dev/null", O_RDWR);  // takes the lowest free descriptor: fd
    }
  }
  signal(SIGPIPE, SIG_IGN);
  handleOutOfMemory("spanmill");
}

int runConversion(const RunSettings& settings) {
  PortableBasicFile* input = PortableBasicFileFactory::createBasicFile();
  StandardInput* standardInput = nullptr;
  if (settings.inputPath != nullptr) {
    if (input->openFile(settings.inputPath, 0) != 0) {
      std::fprintf(stderr, "Cannot open '%s' for reading.\n", settings.inputPath);
      delete input;
      return 1;
    }
  } else {
    standardInput = new StandardInput();
    dynamic_cast<LinuxFileExt*>(input->ext())->setFd(standardInput->fd);
  }

  ReportFile* outputFile = nullptr;
  std::ostream* out = &std::cout;
  if (settings.outputPath != nullptr) {
    const char* refusal = nullptr;
    outputFile = new ReportFile();
    if (!settings.append &&
        linuxio::sameRegularFile(dynamic_cast<LinuxFileExt*>(input->ext())->getFd(),
                                 settings.outputPath)) {
      refusal = "Cannot write the report over the input '%s'.\n";
    } else if (!outputFile->open(settings.outputPath, settings.append)) {
      refusal = "Cannot open '%s' for writing.\n";
    }
    if (refusal != nullptr) {
      std::fprintf(stderr, refusal, settings.outputPath);
      delete outputFile;
      delete input;
      delete standardInput;
      return 1;
    }
    out = new std::ostream(outputFile);
  }

  CustomProcessor* processor = getProcessor(settings.traceType);
  if (processor == nullptr) {
    std::fprintf(stderr, "Invalid trace type '%s'\n", settings.traceType);
    closeOutput(out, outputFile);
    delete input;
    delete standardInput;
    return 1;
  }
  processor->setup(out, settings.startTime, settings.duration, settings.skew, settings.offset);

  // Outlives the file processor, whose selector holds the trigger: the
  // pipe's closing would make it readable.
  StopSignals stopSignals;
  PortableFileProcessor* pump = new PortableFileProcessor(input, processor, kBufferSize);
  if (!pump->registered()) {
    delete input;  // the selector never took it
  }
  PortableFile* trigger = stopSignals.takeTrigger();
  if (!pump->endInputWhenReadable(trigger)) {
    delete trigger;
  }
  if (!pump->waitTilDone(kInputTimeLimitMs)) {
    // The input has not ended: stop reading, and report what was read.
    pump->close();
  }
  delete processor;
  closeOutput(out, outputFile);
  delete pump;
  delete standardInput;
  return 0;
}

}  // namespace orvel
