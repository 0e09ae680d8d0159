#include "report/JsonText.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "json/JsonEscape.h"

namespace orvel {

void appendJsonString(const std::string& bytes, std::string* out) {
  out->push_back('"');
  appendEscaped(bytes.data(), bytes.size(), JsonStrings::kStrict, out);
  out->push_back('"');
}

void appendJsonNumber(double value, std::string* out) {
  // Most values are times in microseconds: thousandths counted exactly in
  // an integer, written without printf.
  if (value > -1e12 && value < 1e12) {
    const long long thousandths = std::llround(value * 1000);
    const unsigned long long size =
        thousandths < 0 ? 0 - static_cast<unsigned long long>(thousandths) : thousandths;
    char text[32];
    char* at = text;
    if (thousandths < 0) {
      *at++ = '-';
    }
    at = std::to_chars(at, text + sizeof text, size / 1000).ptr;
    unsigned part = static_cast<unsigned>(size % 1000);
    if (part != 0) {
      *at++ = '.';
      *at++ = static_cast<char>('0' + part / 100);
      part %= 100;
      if (part != 0) {
        *at++ = static_cast<char>('0' + part / 10);
        part %= 10;
        if (part != 0) {
          *at++ = static_cast<char>('0' + part);
        }
      }
    }
    out->append(text, static_cast<size_t>(at - text));
    return;
  }
  char text[64];
  if (!std::isfinite(value)) {
    value = 0.0;  // not JSON; the callers never have such values
  }
  int length = std::snprintf(text, sizeof text, "%.3f", value);
  if (length < 0 || length >= static_cast<int>(sizeof text)) {
    length = std::snprintf(text, sizeof text, "%.17g", value);
  } else {
    while (text[length - 1] == '0') {
      --length;
    }
    if (text[length - 1] == '.') {
      --length;
    }
  }
  out->append(text, static_cast<size_t>(length));
}

void appendJsonInteger(long long value, std::string* out) {
  char digits[24];
  out->append(digits, static_cast<size_t>(std::to_chars(digits, digits + sizeof digits, value).ptr -
                                          digits));
}

}  // namespace orvel
