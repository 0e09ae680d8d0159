#include "json/JsonEscape.h"

#include <cstdio>

namespace orvel {

namespace {

// The compact escape of a byte, 0 for the bytes written as they are.
char compactEscape(unsigned char c) {
  switch (c) {
    case '"':
      return '"';
    case '\\':
      return '\\';
    case '\b':
      return 'b';
    case '\t':
      return 't';
    case '\n':
      return 'n';
    case '\f':
      return 'f';
    case '\r':
      return 'r';
    default:
      return 0;
  }
}

// The length of the well-formed UTF-8 sequence at text[at], or 0.
size_t sequenceLength(const char* text, size_t size, size_t at) {
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
  if (size - at < length) {
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

void appendEscaped(const char* text, size_t length, JsonStrings policy, std::string* out) {
  size_t runStart = 0;  // bytes that stand for themselves are appended in runs
  for (size_t at = 0; at < length;) {
    const unsigned char c = static_cast<unsigned char>(text[at]);
    if (policy == JsonStrings::kCompact) {
      if (const char escape = compactEscape(c); escape != 0) {
        out->append(text + runStart, at - runStart);
        out->push_back('\\');
        out->push_back(escape);
        runStart = at + 1;
      }
      ++at;
      continue;
    }
    size_t sequence = c == '"' || c == '\\' || c < 0x20 ? 0 : sequenceLength(text, length, at);
    if (sequence > 0) {
      at += sequence;
      continue;
    }
    out->append(text + runStart, at - runStart);
    if (c == '"' || c == '\\') {
      out->push_back('\\');
      out->push_back(static_cast<char>(c));
    } else if (c < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      out->append(escape);
    } else {
      out->append("\xEF\xBF\xBD");  // U+FFFD for the byte that starts no sequence
    }
    runStart = ++at;
  }
  out->append(text + runStart, length - runStart);
}

}  // namespace orvel
