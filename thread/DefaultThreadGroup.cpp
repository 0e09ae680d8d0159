#include "thread/DefaultThreadGroup.h"

namespace orvel {

ThreadGroup* DefaultThreadGroup::Instance() {
  static ThreadGroup* const pool = new ThreadGroup("Default");
  return pool;
}

}  // namespace orvel
