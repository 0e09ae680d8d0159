#include "app/LineProcessor.h"

#include <cstdint>
#include <cstring>

#include "app/LineSearch.h"

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
  } else if (c != '\r' && line.size() < keepLimit) {
    line.push_back(c);
  }
}

// Line ends are found with memchr, far faster than a call per byte.
void LineProcessor::processWritableBlock(char* data, int length, const char* readable) {
  char* const end = data + length;
  // The block's next carriage return, looked for once rather than per line:
  // most blocks have none.
  const char* cr = static_cast<const char*>(std::memchr(data, '\r', end - data));
  while (data != end && !closed) {
    const char* mark = nullptr;
    char* lineEnd = lineMark != '\0' ? const_cast<char*>(findLineFeed(data, end, lineMark, &mark))
                                     : static_cast<char*>(std::memchr(data, '\n', end - data));
    const char* stop = lineEnd != nullptr ? lineEnd : end;
    if (lineEnd != nullptr && lineLength == 0 && (cr == nullptr || cr >= stop)) {
      *lineEnd = '\0';
      size_t length = static_cast<size_t>(lineEnd - data);
      if (length > keepLimit) {
        length = keepLimit;
        data[length] = '\0';
        mark = mark != nullptr && mark > data + length ? data + length : mark;
      }
      processLineInPlace(data, length, readable, mark);
      data = lineEnd + 1;
      continue;
    }
    countLength(stop - data);
    if (cr == nullptr || cr >= stop) {
      keep(data, stop);
    } else {
      keepWithoutCarriageReturns(data, stop);
      cr = static_cast<const char*>(std::memchr(stop, '\r', end - stop));
    }
    if (lineEnd == nullptr) {
      return;
    }
    lineLength = 0;
    processLine(line);
    line.clear();
    data = lineEnd + 1;
  }
}

void LineProcessor::processLineInPlace(const char* text, size_t length, const char* /*readable*/,
                                       const char* /*mark*/) {
  line.assign(text, length);
  processLine(line);
  line.clear();
}

void LineProcessor::countLength(int64_t added) {
  lineLength =
      added >= INT32_MAX - lineLength ? INT32_MAX : lineLength + static_cast<int32_t>(added);
}

void LineProcessor::keep(const char* from, const char* to) {
  const size_t room = keepLimit - line.size();  // the line never holds more than the limit
  const size_t length = static_cast<size_t>(to - from);
  line.append(from, length < room ? length : room);
}

void LineProcessor::keepWithoutCarriageReturns(const char* from, const char* to) {
  while (from < to && line.size() < keepLimit) {
    const char* cr = static_cast<const char*>(std::memchr(from, '\r', to - from));
    const char* stop = cr != nullptr ? cr : to;
    keep(from, stop);
    from = cr != nullptr ? cr + 1 : to;
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
