// Platform-neutral interface of a readiness selector: it watches files on
// a thread of its own and calls a listener for each file that has data.
#ifndef ORVEL_IO_PORTABLESELECTOR_H
#define ORVEL_IO_PORTABLESELECTOR_H

#include "io/PortableFile.h"

namespace orvel {

class PortableSelectorExt {
 public:
  virtual ~PortableSelectorExt() = default;
};

class PortableSelector {
 public:
  // Callbacks, all made on the selector's thread with the selector's lock
  // held: they must not call addFile, closeFile or closeSelector of the
  // same selector. A listener must outlive the onClose of every file it
  // registered. Locks a listener takes come after the selector's lock.
  class Listener {
   public:
    // Data can be read from file. Returns true to keep watching it, false
    // to have it dropped.
    virtual bool onCanRead(PortableSelector* selector, PortableFile* file) = 0;
    // Never called by the selector itself.
    virtual bool onError(PortableSelector* selector, PortableFile* file, int code) = 0;
    // Called once for every registered file, when it is dropped or the
    // selector closes; the selector deletes the file right after.
    virtual void onClose(PortableSelector* selector, PortableFile* file) = 0;

   protected:
    ~Listener() = default;  // listeners are not deleted through this interface
  };

  virtual ~PortableSelector() = default;

  // Registers file; from a true result on the selector owns it. A refused
  // file stays the caller's. Safe from any thread but the callbacks.
  virtual bool addFile(PortableFile* file, Listener* listener) = 0;
  // Drops a registered file: its onClose and deletion follow on the
  // selector's thread. An unknown file is ignored.
  virtual void closeFile(PortableFile* file) = 0;
  // Ends the loop; returns when every file has had its onClose and been
  // deleted. Later calls do nothing.
  virtual void closeSelector() = 0;
  virtual PortableSelectorExt* ext() = 0;
};

}  // namespace orvel

#endif  // ORVEL_IO_PORTABLESELECTOR_H
