// Runs every hand-written trace scanner and std::sscanf with the same format
// over one text and tells where they differ. Used by ScanFuzzer and by the
// scanner tests.
#ifndef ORVEL_FUZZ_SCANCHECK_H
#define ORVEL_FUZZ_SCANCHECK_H

#include <cstdio>
#include <cstring>
#include <string>

#include "app/TraceScan.h"

namespace orvel {
namespace fuzzing {

// What one scanner call produced. Buffers start filled with a marker byte so
// that a string left unwritten is noticed.
struct ScanResult {
  int count = 0;
  unsigned int number = 0xA5A5A5A5u;
  double real = -1.5;
  char first[520];
  char second[520];
  char single = '?';

  ScanResult() {
    std::memset(first, 'Z', sizeof first);
    std::memset(second, 'Z', sizeof second);
    first[sizeof first - 1] = second[sizeof second - 1] = '\0';
  }
};

// Compares the first count conversions, in the order the format assigns
// them (a value is checked only when both assigned it).
inline std::string difference(const char* format, const ScanResult& fast, const ScanResult& slow,
                              const char* order) {
  // sscanf's EOF counts as no conversion: callers only test for success.
  int expected = slow.count < 0 ? 0 : slow.count;
  if (fast.count != expected) {
    return std::string(format) + ": count " + std::to_string(fast.count) + " instead of " +
           std::to_string(expected);
  }
  for (int i = 0; i < expected; ++i) {
    bool same = true;
    switch (order[i]) {
      case 'u':
        same = fast.number == slow.number;
        break;
      case 'f':
        same = std::memcmp(&fast.real, &slow.real, sizeof fast.real) == 0;
        break;
      case '1':
        same = std::strcmp(fast.first, slow.first) == 0;
        break;
      case '2':
        same = std::strcmp(fast.second, slow.second) == 0;
        break;
      case 'c':
        same = fast.single == slow.single;
        break;
    }
    if (!same) {
      return std::string(format) + ": conversion " + std::to_string(i + 1) + " differs";
    }
  }
  return "";
}

// "" when every scanner agrees with sscanf on text (or leaves it to
// sscanf); otherwise what differs. undecided counts the scanners that left
// text to sscanf.
// The line may hold NUL bytes: sscanf, like the scanners, reads it up to
// the first one.
inline std::string scanMismatch(const std::string& line, int* undecided = nullptr) {
  using namespace scan;
  const char* text = line.c_str();
  const char* end = text + line.size() + 1;  // the string's NUL is readable
  std::string found;
  int left = 0;
  auto check = [&](const char* format, ScanResult& fast, ScanResult& slow, const char* order) {
    if (fast.count == kUndecided) {
      ++left;
    } else if (found.empty()) {
      found = difference(format, fast, slow, order);
    }
  };
  const bool noLineFeed = line.find('\n') == std::string::npos;
  {
    ScanResult fast, slow;
    const char* marker = nullptr;
    size_t length = 0;
    fast.count = ftraceMarkerLine(text, line.size(), noLineFeed, end, &fast.number, &fast.real,
                                  &marker, &length);
    if (fast.count == 3) {
      std::memcpy(fast.first, marker, length);
      fast.first[length] = '\0';
    }
    slow.count = std::sscanf(text, kFtraceMarkerLine, &slow.number, &slow.real, slow.first);
    if (fast.count == kNotMarker) {
      // Two conversions, the time stamp's left unconverted.
      fast.count = 2;
      fast.real = slow.real;
    }
    check("ftrace", fast, slow, "uf1");
  }
  for (int pidForm = 0; pidForm < 2; ++pidForm) {
    ScanResult fast, slow;
    const char* rest = nullptr;
    fast.count = straceLine(text, line.size(), pidForm == 1, noLineFeed, end, &fast.number,
                            &fast.real, fast.first, &rest);
    if (fast.count == 3 && rest != fast.first) {
      std::strcpy(fast.first, rest);  // in place: compare it as the copy
    }
    slow.count = std::sscanf(text, pidForm == 1 ? kStracePidLine : kStraceIdLine, &slow.number,
                             &slow.real, slow.first);
    check(pidForm == 1 ? "strace [pid]" : "strace id", fast, slow, "uf1");
  }
  {
    ScanResult fast, slow;
    fast.count = straceResumed(text, end, &fast.real);
    slow.count = std::sscanf(text, kStraceResumed, &slow.real);
    check("resumed", fast, slow, "f");
  }
  {
    ScanResult fast, slow;
    fast.count = straceLocation(text, fast.first, fast.second);
    slow.count = std::sscanf(text, kStraceLocation, slow.first, slow.second);
    check("location", fast, slow, "12");
  }
  {
    ScanResult fast, slow;
    const char* name = nullptr;
    size_t length = 0;
    fast.count = straceFinished(text, end, &name, &length, &fast.real);
    if (fast.count >= 1 && fast.count != kUndecided) {
      std::memcpy(fast.first, name, length);
      fast.first[length] = '\0';
    }
    slow.count = std::sscanf(text, kStraceFinished, slow.first, &slow.real);
    check("finished", fast, slow, "1f");
    // The same where the line's first '<' is known, as the chain finds it.
    ScanResult marked;
    marked.count = straceFinished(text, end, &name, &length, &marked.real, strchrnul(text, '<'));
    if (marked.count >= 1 && marked.count != kUndecided) {
      std::memcpy(marked.first, name, length);
      marked.first[length] = '\0';
    }
    check("finished, '<' known", marked, slow, "1f");
  }
  {
    ScanResult fast, slow;
    const char* name = nullptr;
    size_t length = 0;
    fast.count = straceUnfinished(text, &name, &length, &fast.single);
    if (fast.count >= 1) {
      std::memcpy(fast.first, name, length);
      fast.first[length] = '\0';
    }
    slow.count = std::sscanf(text, kStraceUnfinished, slow.first, &slow.single);
    check("unfinished", fast, slow, "1c");
  }
  if (undecided != nullptr) {
    *undecided = left;
  }
  return found;
}

}  // namespace fuzzing
}  // namespace orvel

#endif  // ORVEL_FUZZ_SCANCHECK_H
