#include "json/JsomWriter.h"

#include <cstdio>
#include <cstring>
#include <iostream>

namespace orvel {

namespace {

// A newline and the deepest indentation written: 47 spaces.
const char indentBuffer[] = "\n                                               ";
const int kMaxIndent = sizeof(indentBuffer) - 2;

// Escape for each byte that needs one, 0 for the bytes written as they are.
char escapeFor(unsigned char c) {
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

// snprintf's result as a length that stays inside the buffer.
int clampedLength(int formatted, int bufferSize) {
  if (formatted < 0) {
    return 0;
  }
  return formatted < bufferSize ? formatted : bufferSize - 1;
}

}  // namespace

JsomWriter::JsomWriter(std::ostream* out) : out(out) {}

JsomWriter::~JsomWriter() = default;

void JsomWriter::misuse(const char* operation, const char* problem) const {
  std::cerr << "ERROR: JsonWriter::" << operation << "() " << problem
            << " state: " << static_cast<char>(state) << '\n';
  std::cerr.flush();
}

bool JsomWriter::valueStep(const char* operation) {
  if (inObject()) {
    misuse(operation, "Invalid sequence.");
    return false;
  }
  if (state == ':') {
    popState();
  }
  if (state == '[') {
    state = ']';
  } else if (state == ']') {
    out->put(',');
  }
  if (pretty && state != 0) {
    if (inObject()) {
      out->put(' ');
    } else {
      indent();
    }
  }
  return true;
}

void JsomWriter::pushState(char c) {
  if (state != 0) {
    stateStack.push_back(static_cast<char>(state));
  }
  state = c;
}

void JsomWriter::popState() {
  if (stateStack.empty()) {
    state = 0;
  } else {
    state = stateStack.back();
    stateStack.pop_back();
  }
}

void JsomWriter::indent() {
  if (state == 0) {
    out->put('\n');
    return;
  }
  int spaces = static_cast<int>(stateStack.size()) + 1;
  if (spaces > kMaxIndent) {
    spaces = kMaxIndent;
  }
  out->write(indentBuffer, 1 + spaces);
}

void JsomWriter::quote(const char* text, int length, bool verbatim) {
  if (text == nullptr) {
    out->write("null", 4);
    return;
  }
  out->put('"');
  if (verbatim) {
    write(text, length);
  } else {
    int runStart = 0;
    for (int i = 0; i < length; ++i) {
      char escape = escapeFor(static_cast<unsigned char>(text[i]));
      if (escape != 0) {
        write(text + runStart, i - runStart);
        const char pair[2] = {'\\', escape};
        out->write(pair, 2);
        runStart = i + 1;
      }
    }
    write(text + runStart, length - runStart);
  }
  out->put('"');
}

void JsomWriter::startObject() {
  if (valueStep("startObject")) {
    out->put('{');
    pushState('{');
  }
}

void JsomWriter::endObject() {
  closeContainer('{', '}', "endObject", "No current object on stack.");
}

void JsomWriter::startArray() {
  if (valueStep("startArray")) {
    out->put('[');
    pushState('[');
  }
}

void JsomWriter::endArray() {
  closeContainer('[', ']', "endArray", "No current array on stack.");
}

void JsomWriter::closeContainer(char empty, char filled, const char* operation,
                                const char* problem) {
  if (state != empty && state != filled) {
    misuse(operation, problem);
    return;
  }
  popState();
  if (pretty) {
    indent();
  }
  out->put(filled);
}

void JsomWriter::appendLabel(const char* text, int length, bool verbatim) {
  if (!inObject()) {
    misuse("appendLabel", "No current object on stack.");
    return;
  }
  if (state == '{') {
    state = '}';
  } else {
    out->put(',');
  }
  if (pretty) {
    indent();
  }
  quote(text, length, verbatim);
  out->put(':');
  pushState(':');
}

void JsomWriter::appendLabel(const char* text, bool verbatim) {
  appendLabel(text, text == nullptr ? 0 : static_cast<int>(std::strlen(text)), verbatim);
}

void JsomWriter::appendString(const std::string& text, bool verbatim) {
  if (valueStep("appendString")) {
    quote(text.data(), static_cast<int>(text.size()), verbatim);
  }
}

void JsomWriter::appendString(const char* text, int length, bool verbatim) {
  if (valueStep("appendString")) {
    quote(text, length, verbatim);
  }
}

void JsomWriter::appendInt(int value) {
  if (valueStep("appendInt")) {
    char buffer[32];
    write(buffer, clampedLength(std::snprintf(buffer, sizeof buffer, "%d", value), sizeof buffer));
  }
}

void JsomWriter::appendUnsignedInt(unsigned int value) {
  if (valueStep("appendUnsignedInt")) {
    char buffer[32];
    write(buffer, clampedLength(std::snprintf(buffer, sizeof buffer, "%u", value), sizeof buffer));
  }
}

void JsomWriter::appendLong(long long value) {
  if (valueStep("appendLong")) {
    char buffer[32];
    write(buffer,
          clampedLength(std::snprintf(buffer, sizeof buffer, "%lld", value), sizeof buffer));
  }
}

void JsomWriter::appendUnsignedLong(unsigned long long value) {
  if (valueStep("appendUnsignedLong")) {
    char buffer[32];
    write(buffer,
          clampedLength(std::snprintf(buffer, sizeof buffer, "%llu", value), sizeof buffer));
  }
}

void JsomWriter::appendDouble(long double value, int precision) {
  if (!valueStep("appendDouble")) {
    return;
  }
  char buffer[256];
  int length;
  if (value > 1e16L || value < -1e16L) {
    length = std::snprintf(buffer, sizeof buffer, "%Le", value);
  } else if (precision == 0) {
    length = std::snprintf(buffer, sizeof buffer, "%Lf", value);
  } else {
    length = clampedLength(std::snprintf(buffer, sizeof buffer, "%.*Lf", precision, value),
                           sizeof buffer);
    // Below this length there is no complete fixed-point number to trim
    // (nan, for one).
    if (length > precision + 1) {
      while (length > 0 && buffer[length - 1] == '0') {
        --length;
      }
      if (length > 0 && buffer[length - 1] == '.') {
        --length;
      }
    }
  }
  write(buffer, clampedLength(length, sizeof buffer));
}

void JsomWriter::appendBoolean(bool value) {
  if (valueStep("appendBoolean")) {
    if (value) {
      out->write("true", 4);
    } else {
      out->write("false", 5);
    }
  }
}

void JsomWriter::appendNull() {
  if (valueStep("appendNull")) {
    out->write("null", 4);
  }
}

void JsomWriter::appendJsonValue(const char* text, int length) {
  if (valueStep("appendJsonValue")) {
    write(text, length);
  }
}

void JsomWriter::end() {
  if (state == ':') {
    appendNull();
  }
  while (state != 0) {
    char closing = inObject() ? '}' : ']';
    popState();
    if (pretty) {
      indent();
    }
    out->put(closing);
  }
  stateStack.clear();
  flush();
}

void JsomWriter::flush() {
  out->flush();
}

void JsomWriter::write(const char* data, int length) {
  if (data != nullptr && length > 0) {
    out->write(data, length);
  }
}

void JsomWriter::writeChar(char c) {
  out->put(c);
}

}  // namespace orvel
