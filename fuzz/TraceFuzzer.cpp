// The trace parsers through the whole chain and report: any input, any
// split into blocks, any window. The report must always read back as one.
#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>
#include <sstream>
#include <string>

#include "app/Run.h"
#include "fuzz/FuzzInput.h"
#include "tests/app/Conversion.h"

namespace {

double windowValue(uint8_t choice) {
  const double values[] = {0.0,
                           1.0,
                           -1.0,
                           0.5,
                           100.0,
                           1e308,
                           -0.0,
                           2e-308,
                           1e16,
                           -1e16,
                           std::numeric_limits<double>::infinity(),
                           std::numeric_limits<double>::quiet_NaN()};
  return values[choice % (sizeof values / sizeof values[0])];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  orvel::fuzzing::FuzzInput input(data, size);
  uint8_t settings = input.byte();
  std::unique_ptr<orvel::CustomProcessor> processor(
      orvel::getProcessor((settings & 1) != 0 ? "strace" : "ftrace_marker"));
  std::ostringstream out;
  double startTime = (settings & 2) != 0 ? windowValue(input.byte()) : 0.0;
  double duration = (settings & 4) != 0 ? windowValue(input.byte()) : 0.0;
  double skew = (settings & 8) != 0 ? windowValue(input.byte()) : 1.0;
  double offset = (settings & 16) != 0 ? windowValue(input.byte()) : 0.0;
  processor->setup(&out, startTime, duration, skew, offset);
  size_t block = 1 + input.byte() % 64;
  std::string text = input.rest();
  for (size_t at = 0; at < text.size(); at += block) {
    std::string piece = text.substr(at, block);
    processor->processBuffer(piece.data(), static_cast<int>(piece.size()));
  }
  processor->processEOF();
  // What spanmill writes, spanmill-report must read, but for a start past
  // 2^53 microseconds: spanmill writes a start as its input has it, and the
  // report tool refuses, by name, what it cannot hold to the microsecond.
  const std::string error = orvel::testing::readBackError(out.str());
  if (!error.empty() &&
      error.find("starts at a time that cannot be held to the microsecond") == std::string::npos) {
    std::abort();
  }
  return 0;
}
