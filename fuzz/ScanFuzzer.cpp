// Checks every hand-written trace scanner against sscanf with its format:
// the input is one line, read up to its first NUL.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz/ScanCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string line(reinterpret_cast<const char*>(data), size);
  std::string mismatch = orvel::fuzzing::scanMismatch(line);
  if (!mismatch.empty()) {
    std::fprintf(stderr, "scanner and sscanf differ: %s\n", mismatch.c_str());
    std::abort();
  }
  return 0;
}
