// The process-wide worker pool.
#ifndef ORVEL_THREAD_DEFAULTTHREADGROUP_H
#define ORVEL_THREAD_DEFAULTTHREADGROUP_H

#include "thread/ThreadGroup.h"

namespace orvel {

class DefaultThreadGroup {
 public:
  // The pool named "Default", created on first use and never closed or
  // destroyed. Safe from any thread.
  static ThreadGroup* Instance();
};

}  // namespace orvel

#endif  // ORVEL_THREAD_DEFAULTTHREADGROUP_H
