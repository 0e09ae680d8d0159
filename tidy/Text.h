// Small readers of trace text, shared by the tidiers.
#ifndef ORVEL_TIDY_TEXT_H
#define ORVEL_TIDY_TEXT_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "app/EightBytes.h"

namespace orvel {

inline bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

// True for a non-empty run of decimal digits.
inline bool allDigits(std::string_view text) {
  if (text.empty()) {
    return false;
  }
  for (char c : text) {
    if (!isDigit(c)) {
      return false;
    }
  }
  return true;
}

// The first position from at on that is not a digit (or the end).
inline size_t digitsEnd(std::string_view text, size_t at) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  // Eight bytes at a time: a byte is a digit when its high half is 3 and
  // adding 6 to it carries into no high half. A carry out of a byte that is
  // no digit may spoil the bytes after it, but never the first one that is
  // no digit, the lowest set bit.
  const uint64_t kHigh = 0xF0F0F0F0F0F0F0F0u;
  const uint64_t kThrees = 0x3030303030303030u;
  while (at + 8 <= text.size()) {
    uint64_t bytes;
    std::memcpy(&bytes, text.data() + at, 8);
    const uint64_t other =
        ((bytes & kHigh) ^ kThrees) | (((bytes + 0x0606060606060606u) & kHigh) ^ kThrees);
    if (other != 0) {
      return at + static_cast<size_t>(__builtin_ctzll(other)) / 8;
    }
    at += 8;
  }
#endif
  while (at < text.size() && isDigit(text[at])) {
    ++at;
  }
  return at;
}

// The first position from at on that is not a blank (or the end).
inline size_t skipBlanks(std::string_view text, size_t at) {
  while (at < text.size() && text[at] == ' ') {
    ++at;
  }
  return at;
}

// The first blank from at on (or the end).
inline size_t wordEndFrom(std::string_view text, size_t at) {
  const size_t blank = text.find(' ', at);
  return blank == std::string_view::npos ? text.size() : blank;
}

// The value of the `count` (1 to 8) decimal digits that end right before
// `end`, where the 8 bytes before end may be read. A loop's exit after a
// varying number of digits is a branch the processor often guesses wrong.
inline uint64_t digitsBefore(const char* end, size_t count) {
  const uint64_t digits = ~uint64_t{0} << (8 * (8 - count));  // the highest count bytes
  return valueOfEight((loadEight(end - 8) & digits) | (kZeroCharInEachByte & ~digits));
}

// The same for the `count` digits that begin at p, where the 8 bytes from
// p on may be read.
inline uint64_t digitsFrom(const char* p, size_t count) {
  const size_t shift = 8 * (8 - count);  // the digits to the highest bytes, '0's below
  return valueOfEight((loadEight(p) << shift) | (kZeroCharInEachByte & ~(~uint64_t{0} << shift)));
}

// Reads the decimal digits at *at, moving *at behind them; saturates.
inline uint64_t readNumber(std::string_view text, size_t* at) {
  uint64_t value = 0;
  for (; *at < text.size() && isDigit(text[*at]); ++*at) {
    const uint64_t digit = static_cast<uint64_t>(text[*at] - '0');
    value = value > (UINT64_MAX - digit) / 10 ? UINT64_MAX : value * 10 + digit;
  }
  return value;
}

}  // namespace orvel

#endif  // ORVEL_TIDY_TEXT_H
