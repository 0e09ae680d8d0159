#include "app/LineProcessor.h"

#include <cstdint>

namespace orvel {

void CharProcessor::processBuffer(const char* data, int length) {
  for (int i = 0; i < length; ++i) {
    processChar(data[i]);
  }
}

void LineProcessor::processChar(char c) {
  if (closed) {
    return;
  }
  if (lineLength < INT32_MAX) {
    ++lineLength;
  }
  if (c == '\n') {
    lineLength = 0;
    processLine(line);
    line.clear();  // keeps the capacity for the next line
  } else if (c != '\r') {
    line.push_back(c);
  }
}

void LineProcessor::processEOF() {
  if (closed) {
    return;
  }
  closed = true;
  if (lineLength <= 0) {
    return;
  }
  lineLength = 0;
  processLine(line);
}

void LineProcessor::processError(const char* /*message*/) {
  closed = true;
}

void LineProcessor::reset() {
  closed = false;
  lineLength = 0;
  line.clear();
}

}  // namespace orvel
