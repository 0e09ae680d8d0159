// Helpers that run text through a whole trace processor (chain, parser,
// model and report) and check what comes out.
#ifndef ORVEL_TESTS_APP_CONVERSION_H
#define ORVEL_TESTS_APP_CONVERSION_H

#include <cstring>
#include <memory>
#include <sstream>
#include <string>

#include "app/Run.h"

namespace orvel {
namespace testing {

struct Window {
  double startTime = 0.0;
  double duration = 0.0;
  double skew = 1.0;
  double offset = 0.0;
};

// The report of a new processor of the given type on input.
inline std::string convert(const char* type, const std::string& input, Window window = {}) {
  std::unique_ptr<CustomProcessor> processor(getProcessor(type));
  std::ostringstream out;
  processor->setup(&out, window.startTime, window.duration, window.skew, window.offset);
  processor->processBuffer(input.data(), static_cast<int>(input.size()));
  processor->processEOF();
  return out.str();
}

// One tracing_mark_write line as the kernel writes it.
inline std::string marker(unsigned tid, const std::string& time, const std::string& text) {
  return "    app_thread-" + std::to_string(tid) + "    [001] ..... " + time +
         ": tracing_mark_write: " + text + "\n";
}

// Checks that text is one JSON value with nothing after it. Strings may hold
// any byte but an unescaped quote or backslash, since the writer passes
// control bytes and bytes from 0x80 up through as they are; numbers must
// follow JSON's grammar, so nan, inf and a bare "-" fail.
class JsonCheck {
 public:
  static bool valid(const std::string& text) {
    JsonCheck check(text);
    return check.value(0) && check.at == check.end;
  }

 private:
  explicit JsonCheck(const std::string& text) : at(text.data()), end(text.data() + text.size()) {}

  bool consume(char c) {
    if (at < end && *at == c) {
      ++at;
      return true;
    }
    return false;
  }
  bool isDigit() const { return at < end && *at >= '0' && *at <= '9'; }
  bool digits() {
    if (!isDigit()) {
      return false;
    }
    while (isDigit()) {
      ++at;
    }
    return true;
  }

  bool value(int depth) {
    if (at == end || depth > 100) {
      return false;
    }
    switch (*at) {
      case '{':
        return container('}', true, depth);
      case '[':
        return container(']', false, depth);
      case '"':
        return string();
      case 't':
        return literal("true");
      case 'f':
        return literal("false");
      case 'n':
        return literal("null");
      default:
        return number();
    }
  }

  bool container(char close, bool object, int depth) {
    ++at;
    if (consume(close)) {
      return true;
    }
    for (;;) {
      if (object && !(string() && consume(':'))) {
        return false;
      }
      if (!value(depth + 1)) {
        return false;
      }
      if (consume(close)) {
        return true;
      }
      if (!consume(',')) {
        return false;
      }
    }
  }

  bool string() {
    if (!consume('"')) {
      return false;
    }
    while (at < end && *at != '"') {
      if (*at == '\\') {
        ++at;
        if (at == end || *at == '\0' || std::strchr("\"\\bfnrt", *at) == nullptr) {
          return false;
        }
      }
      ++at;
    }
    return consume('"');
  }

  bool number() {
    consume('-');
    if (!consume('0') && !digits()) {
      return false;
    }
    if (consume('.') && !digits()) {
      return false;
    }
    if (consume('e') || consume('E')) {
      if (!consume('+')) {
        consume('-');
      }
      return digits();
    }
    return true;
  }

  bool literal(const char* word) {
    size_t length = std::strlen(word);
    if (static_cast<size_t>(end - at) < length || std::memcmp(at, word, length) != 0) {
      return false;
    }
    at += length;
    return true;
  }

  const char* at;
  const char* const end;
};

}  // namespace testing
}  // namespace orvel

#endif  // ORVEL_TESTS_APP_CONVERSION_H
