#include "app/OutOfMemory.h"

#include <cstdio>
#include <cstdlib>
#include <new>

namespace orvel {

namespace {

const char* programName = "spanmill";

}  // namespace

void outOfMemory() {
  // One formatted write on the unbuffered standard error: no allocation.
  std::fprintf(stderr, "%s: out of memory\n", programName);
  std::abort();
}

void handleOutOfMemory(const char* program) {
  programName = program;
  std::set_new_handler(outOfMemory);
}

}  // namespace orvel
