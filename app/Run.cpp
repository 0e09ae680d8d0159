#include "app/Run.h"

#include <cstring>

#include "app/FtraceProcessor.h"
#include "app/StraceProcessor.h"

namespace orvel {

CustomProcessor* getProcessor(const char* type) {
  if (std::strcmp(type, "ftrace_marker") == 0) {
    return new FtraceProcessor();
  }
  if (std::strcmp(type, "strace") == 0) {
    return new StraceProcessor();
  }
  return nullptr;
}

}  // namespace orvel
