#include "report/JsonText.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace orvel {

namespace {

// The length of the well-formed UTF-8 sequence at text[at], or 0.
size_t sequenceLength(const std::string& text, size_t at) {
  const unsigned char first = static_cast<unsigned char>(text[at]);
  size_t length;
  unsigned lowest;  // the smallest code point the length may carry
  unsigned code;
  if (first < 0x80) {
    return 1;
  } else if (first >= 0xC2 && first < 0xE0) {
    length = 2, lowest = 0x80, code = first & 0x1F;
  } else if (first >= 0xE0 && first < 0xF0) {
    length = 3, lowest = 0x800, code = first & 0x0F;
  } else if (first >= 0xF0 && first < 0xF5) {
    length = 4, lowest = 0x10000, code = first & 0x07;
  } else {
    return 0;
  }
  if (text.size() - at < length) {
    return 0;
  }
  for (size_t i = 1; i < length; ++i) {
    const unsigned char next = static_cast<unsigned char>(text[at + i]);
    if ((next & 0xC0) != 0x80) {
      return 0;
    }
    code = code << 6 | (next & 0x3F);
  }
  const bool surrogate = code >= 0xD800 && code < 0xE000;
  return code >= lowest && code <= 0x10FFFF && !surrogate ? length : 0;
}

}  // namespace

void appendJsonString(const std::string& bytes, std::string* out) {
  out->push_back('"');
  for (size_t at = 0; at < bytes.size();) {
    const unsigned char c = static_cast<unsigned char>(bytes[at]);
    if (c == '"' || c == '\\') {
      out->push_back('\\');
      out->push_back(static_cast<char>(c));
      ++at;
    } else if (c < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      out->append(escape);
      ++at;
    } else if (size_t length = sequenceLength(bytes, at); length > 0) {
      out->append(bytes, at, length);
      at += length;
    } else {
      out->append("\xEF\xBF\xBD");  // U+FFFD for the byte that starts no sequence
      ++at;
    }
  }
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
    if (length == 2 && text[0] == '-' && text[1] == '0') {
      length = 1;
      text[0] = '0';
    }
  }
  out->append(text, static_cast<size_t>(length));
}

}  // namespace orvel
