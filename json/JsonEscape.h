// The library's one JSON string escaper, with two policies.
#ifndef ORVEL_JSON_JSONESCAPE_H
#define ORVEL_JSON_JSONESCAPE_H

#include <cstddef>
#include <string>

namespace orvel {

enum class JsonStrings {
  // The seven escapes JSON names ('"', '\\', '\b', '\t', '\n', '\f', '\r');
  // every other byte as it is, so text passes through byte for byte. What
  // the library's writers and spanmill's report use.
  kCompact,
  // '"' and '\\' escaped, every other byte below 0x20 as \u00XX, and every
  // byte that is not part of a well-formed UTF-8 sequence (overlong forms,
  // surrogates and code points past U+10FFFF included) replaced by U+FFFD:
  // text any JSON reader takes.
  kStrict,
};

// Appends text escaped by policy to out, without quotes.
void appendEscaped(const char* text, size_t length, JsonStrings policy, std::string* out);

}  // namespace orvel

#endif  // ORVEL_JSON_JSONESCAPE_H
