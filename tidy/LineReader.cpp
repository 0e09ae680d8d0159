#include "tidy/LineReader.h"

#include <errno.h>
#include <unistd.h>

#include <cstring>

#include "app/LineSearch.h"
#include "tidy/Output.h"

namespace orvel {

namespace {

const size_t kReadBytes = 64 * 1024;
const size_t kAlignment = 64;

}  // namespace

LineReader::LineReader(int fd, Output* out, char mark)
    : fd(fd), out(out), mark(mark), buffer(kHeadBytes + kReadBytes + kAlignment) {}

char* LineReader::base() {
  // Reads into an address aligned to a cache line copy much faster.
  const uintptr_t at = reinterpret_cast<uintptr_t>(buffer.data());
  return buffer.data() + ((kAlignment - at % kAlignment) % kAlignment);
}

void LineReader::moveTo(size_t to) {
  if (out != nullptr) {
    out->settle();
  }
  if (start != to) {
    std::memmove(base() + to, base() + start, end - start);
    end = to + (end - start);
    start = to;
  }
}

bool LineReader::readMore() {
  if (out != nullptr) {
    out->settle();
  }
  const size_t capacity = kHeadBytes + kReadBytes;
  while (!atEnd && end < capacity) {
    ssize_t got = read(fd, base() + end, capacity - end);
    if (got > 0) {
      end += static_cast<size_t>(got);
      return true;
    }
    if (got < 0 && errno == EINTR) {
      continue;
    }
    readError = got < 0 ? errno : 0;
    atEnd = true;
  }
  return false;
}

bool LineReader::next(Line* line) {
  for (;;) {
    const char* from = base() + start;
    const char* marked = nullptr;
    const char* feed = mark != '\0'
                           ? findLineFeed(from, base() + end, mark, &marked)
                           : static_cast<const char*>(std::memchr(from, '\n', end - start));
    if (feed != nullptr) {
      const size_t length = static_cast<size_t>(feed - from);
      const size_t head = length < kHeadBytes ? length : kHeadBytes;
      const size_t tail = length - head < kTailBytes ? length - head : kTailBytes;
      line->head = std::string_view(from, head);
      line->tail = std::string_view(feed - tail, tail);
      line->length = length;
      line->inPlace = length == head;
      line->mark = line->inPlace ? marked : nullptr;
      start += length + 1;
      return true;
    }
    if (end - start >= kHeadBytes) {
      finishLongLine(line);
      return true;
    }
    // The part of a line read so far goes right before where the next
    // read lands.
    moveTo(kHeadBytes - (end - start));
    if (!readMore()) {
      if (start == end) {
        return false;
      }
      line->head = std::string_view(base() + start, end - start);
      line->tail = std::string_view();
      line->length = end - start;
      line->inPlace = false;
      line->mark = nullptr;
      start = end;
      return true;
    }
  }
}

void LineReader::finishLongLine(Line* line) {
  // The head stays at the front; the bytes behind it are read, and all but
  // the tail forgotten, up to the line feed.
  moveTo(0);
  uint64_t length = kHeadBytes;
  tail.clear();
  size_t at = kHeadBytes;
  for (;;) {
    const char* from = base() + at;
    const char* feed = static_cast<const char*>(std::memchr(from, '\n', end - at));
    const size_t piece = feed != nullptr ? static_cast<size_t>(feed - from) : end - at;
    tail.insert(tail.end(), from, from + piece);
    if (tail.size() > 2 * kTailBytes) {
      tail.erase(tail.begin(), tail.end() - kTailBytes);
    }
    length += piece;
    if (feed != nullptr) {
      start = at + piece + 1;
      break;
    }
    // Everything behind the head is given out: read the next piece there.
    end = kHeadBytes;
    at = kHeadBytes;
    if (!readMore()) {
      start = end;
      break;
    }
  }
  const size_t kept = tail.size() < kTailBytes ? tail.size() : kTailBytes;
  line->inPlace = false;
  line->mark = nullptr;
  line->head = std::string_view(base(), kHeadBytes);
  line->tail = std::string_view(tail.data() + tail.size() - kept, kept);
  line->length = length;
}

}  // namespace orvel
