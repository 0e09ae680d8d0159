// Small readers of trace text, shared by the tidiers.
#ifndef ORVEL_TIDY_TEXT_H
#define ORVEL_TIDY_TEXT_H

#include <cstddef>
#include <cstdint>
#include <string_view>

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
