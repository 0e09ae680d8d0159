// JSOM navigation, conversion and writing driven by fuzz bytes over a
// parsed document: no crash, no leak, and the document still serialises
// to text that parses back. The handles' messages on standard error are
// expected.
#include <cstdio>
#include <cstdlib>
#include <new>
#include <sstream>
#include <string>

#include "fuzz/FuzzInput.h"
#include "json/JSOM.h"

namespace {

// Points handle at the place next designates (operator= copies values).
void rebind(orvel::JSOM& handle, const orvel::JSOM& next) {
  orvel::JSOM held(next);
  handle.~JSOM();
  new (&handle) orvel::JSOM(held);
}

// The deepest nesting of brackets in JSON text, strings skipped.
int nesting(const std::string& text) {
  int depth = 0;
  int deepest = 0;
  bool inString = false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (inString) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        inString = false;
      }
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      deepest = ++depth > deepest ? depth : deepest;
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return deepest;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  orvel::fuzzing::FuzzInput input(data, size);
  orvel::JSOM document;
  document.fromString(input.bytes(input.byte()));
  orvel::JSOM handles[4] = {document, document, orvel::JSOM::BLANK, orvel::JSOM::JERROR};
  std::string scratch;
  // A document copied into its own member doubles: a few copies per input
  // keep the fuzzer's memory bounded.
  int copiesLeft = 6;
  while (!input.empty()) {
    uint8_t operation = input.byte();
    orvel::JSOM& target = handles[operation & 3];
    orvel::JSOM& other = handles[(operation >> 2) & 3];
    switch (operation >> 4) {
      case 0:
        rebind(target, target[input.bytes(input.byte() % 4)]);
        break;
      case 1:
        rebind(target, target[static_cast<int>(input.byte() % 8) - 1]);
        break;
      case 2:
        target.longValue(0);
        break;
      case 3:
        target.doubleValue(0);
        break;
      case 4:
        target.booleanValue(false);
        break;
      case 5:
        scratch = target.stringValue(orvel::JSOM::EMPTY_STRING);
        break;
      case 6:
        target.setString(input.bytes(input.byte() % 8));
        break;
      case 7:
        target.setLong(static_cast<int8_t>(input.byte()));
        break;
      case 8:
        if (copiesLeft-- > 0) {
          target = other;  // deep copy into target's place
        }
        break;
      case 9:
        if (copiesLeft-- > 0) {
          target.copy(other);
        }
        break;
      case 10:
        target.erase(static_cast<int>(input.byte() % 4) - 1);
        break;
      case 11:
        target.clear();
        break;
      case 12:
        target.fromString(input.bytes(input.byte() % 16));
        break;
      case 13:
        target.expandValues();
        break;
      case 14:
        scratch.clear();
        target.toString(scratch, input.byte() % 8);
        break;
      default:
        rebind(target, other);
        break;
    }
  }
  std::string text;
  document.toCompactString(text, 6);
  if (!text.empty()) {
    // Read back through the stream form: strings may hold zero bytes,
    // which are written as they are and end the buffer form's input.
    orvel::JSOM again;
    std::istringstream in(text);
    // Navigation can build a tree deeper than the parser accepts.
    if (again.fromStream(in).fail() && nesting(text) <= orvel::JSONData::MAX_PARSE_DEPTH) {
      std::fprintf(stderr, "written, but does not parse back: %s\n", text.c_str());
      std::abort();
    }
  }
  return 0;
}
