#include "io/PortableFileProcessor.h"

#include <climits>
#include <cstdio>
#include <cstdlib>

#include <chrono>

#include "io/PortableSelectorFactory.h"
#include "log/Logger.h"

namespace orvel {

Logger* PortableFileProcessor::logger() {
  static Logger* const instance = Logger::getLogger("PortableFileProcessor");
  return instance;
}

PortableFileProcessor::PortableFileProcessor(PortableFile* file, BlockProcessor* processor,
                                             unsigned int bufferSize)
    : processor(processor), bufferSize(bufferSize == 0 ? 1 : bufferSize) {
  void* self = static_cast<void*>(this);
  logger()->tracef("%p constructor", self);
  if (file == nullptr || processor == nullptr) {
    logger()->warnf("%p null file or processor", self);
    return;
  }
  buffer = static_cast<char*>(std::malloc(this->bufferSize));
  if (buffer == nullptr) {
    logger()->warnf("%p could not allocate buffer size %u", self, this->bufferSize);
    return;
  }
  file->setNonBlocking(true);
  selector = PortableSelectorFactory::createSelector();
  if (selector == nullptr) {
    logger()->warnf("%p could not allocate selector", self);
    return;
  }
  // Not done from before the registration: the selector's thread may read
  // an empty file to its end before addFile has even returned.
  {
    Synchronized hold(lock);
    done = false;
  }
  fileRegistered = selector->addFile(file, this);
  if (!fileRegistered) {
    logger()->warnf("%p addFile failed", self);
    {
      Synchronized hold(lock);
      done = true;
    }
    delete selector;
    selector = nullptr;
  }
}

PortableFileProcessor::~PortableFileProcessor() {
  logger()->tracef("%p destructor", static_cast<void*>(this));
  close();
}

bool PortableFileProcessor::endInputWhenReadable(PortableFile* trigger) {
  if (selector == nullptr || trigger == nullptr) {
    return false;
  }
  {
    // Known before the selector can see it readable.
    Synchronized hold(lock);
    if (this->trigger != nullptr) {
      return false;
    }
    this->trigger = trigger;
  }
  // Without this object's lock: addFile takes the selector's, which comes first.
  if (selector->addFile(trigger, this)) {
    return true;
  }
  Synchronized hold(lock);
  this->trigger = nullptr;
  return false;
}

bool PortableFileProcessor::onCanRead(PortableSelector* selector, PortableFile* file) {
  {
    Synchronized hold(lock);
    if (file == trigger) {
      endInput();
      return false;  // the selector drops the trigger; its onClose does nothing
    }
    if (done) {
      return false;  // ended by the trigger: nothing reaches the processor after its end
    }
  }
  for (unsigned int reads = 0; reads < readsPerEvent;) {
    int count = file->read(buffer, bufferSize);
    if (count > 0) {
      processor->processBuffer(buffer, count);
      ++reads;
    } else if (count == -1) {
      return true;  // nothing more for now
    } else if (count == 0) {
      return false;  // end of input: the selector drops the file
    } else {
      return onError(selector, file, count);
    }
  }
  return true;
}

bool PortableFileProcessor::onError(PortableSelector* selector, PortableFile* file, int code) {
  void* self = static_cast<void*>(this);
  logger()->tracef("%p onError(%p, %p, %d)", self, static_cast<void*>(selector),
                   static_cast<void*>(file), code);
  char text[256];
  std::snprintf(text, sizeof text, "File processing error %d", code);
  logger()->warnf("%p %s", self, text);
  processor->processError(text);
  return false;
}

void PortableFileProcessor::onClose(PortableSelector* /*selector*/, PortableFile* file) {
  Synchronized hold(lock);
  if (file != trigger) {
    endInput();
  }
}

void PortableFileProcessor::endInput() {
  if (!done) {
    processor->processEOF();
    done = true;
    lock.notifyAll();
  }
}

bool PortableFileProcessor::waitTilDone(unsigned int ms) {
  logger()->tracef("%p waitTilDone(%u)", static_cast<void*>(this), ms);
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ms);
  Synchronized hold(lock);
  // Wake-ups may be spurious: only the flag or the deadline ends the wait.
  while (!done) {
    long long left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) {
      break;
    }
    lock.wait(left > INT_MAX ? INT_MAX : static_cast<int>(left));
  }
  return done;
}

void PortableFileProcessor::close() {
  logger()->tracef("%p close()", static_cast<void*>(this));
  // Without this object's lock: closing the selector calls onClose, which
  // takes it, with the selector's lock held. Deleting the selector closes
  // it, delivering the end of input if it had not come; no callback
  // follows, so only then is the buffer free to go. Only the creating
  // thread touches these two fields.
  delete selector;
  selector = nullptr;
  std::free(buffer);
  buffer = nullptr;
}

}  // namespace orvel
