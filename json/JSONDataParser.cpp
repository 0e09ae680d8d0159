// The JSON text parser of JSONData. One grammar serves both inputs: a
// zero-terminated buffer read through a cursor, and a stream read a
// character at a time. The two differ only where a Source says so.
#include <cstdio>
#include <cstring>
#include <istream>

#include "json/JSONData.h"

namespace orvel {

namespace {

// A zero-terminated buffer: a zero byte ends the input.
class BufferSource {
 public:
  explicit BufferSource(const char*& cursor) : p(cursor) {}
  // The next byte, or -1 at the end; not consumed.
  int peek() const { return *p == '\0' ? -1 : static_cast<unsigned char>(*p); }
  void next() { ++p; }
  bool exhausted() const { return *p == '\0'; }
  // Consumes word if the input starts with it; otherwise the cursor stays.
  bool literal(const char* word) {
    size_t length = std::strlen(word);
    if (std::strncmp(p, word, length) != 0) {
      return false;
    }
    p += length;
    return true;
  }
  static constexpr const char* kOperation = "setFromJsonString()";

 private:
  const char*& p;
};

// A stream: only a failed read ends the input; zero bytes are characters.
class StreamSource {
 public:
  explicit StreamSource(std::istream& in) : in(in) {}
  // Once the end has been seen the stream is left alone: another peek
  // would set its fail flag after a value that parsed.
  int peek() const {
    if (!in.good()) {
      return -1;
    }
    int c = in.peek();
    return c == std::char_traits<char>::eof() ? -1 : c;
  }
  void next() { in.get(); }
  bool exhausted() const { return peek() == -1; }
  // Compares while it reads: a mismatch has consumed the wrong character.
  bool literal(const char* word) {
    for (const char* at = word; *at != '\0'; ++at) {
      int c = in.get();
      if (c != static_cast<unsigned char>(*at)) {
        return false;
      }
    }
    return true;
  }
  static constexpr const char* kOperation = "setFromStream()";

 private:
  std::istream& in;
};

void report(const char* operation, const char* message) {
  std::fprintf(stderr, "JSONData::%s: %s\n", operation, message);
}

template <class Source>
bool scanToken(Source& in, unsigned short& type, bool& comma, bool& colon, bool& close) {
  comma = colon = close = false;
  for (;;) {
    int c = in.peek();
    switch (c) {
      case '\t':
      case '\n':
      case '\r':
      case ' ':
        in.next();
        continue;
      case '/': {
        in.next();
        int kind = in.peek();
        if (kind == '/') {
          do {
            in.next();
            c = in.peek();
          } while (c != -1 && c != '\n');
          if (c == -1) {
            return false;
          }
          in.next();
        } else if (kind == '*') {
          in.next();
          int previous = 0;
          for (;;) {
            c = in.peek();
            if (c == -1) {
              return false;
            }
            in.next();
            if (previous == '*' && c == '/') {
              break;
            }
            previous = c;
          }
        } else {
          return false;
        }
        continue;
      }
      case '"':
        type = JSONData::TYPE_STRING;
        return true;
      case '+':
      case '-':
      case '0':
      case '1':
      case '2':
      case '3':
      case '4':
      case '5':
      case '6':
      case '7':
      case '8':
      case '9':
        type = JSONData::TYPE_LONG;
        return true;
      case '[':
      case ']':
        type = JSONData::TYPE_ARRAY;
        close = c == ']';
        return true;
      case '{':
      case '}':
        type = JSONData::TYPE_OBJECT;
        close = c == '}';
        return true;
      case 't':
      case 'f':
        type = JSONData::TYPE_BOOLEAN;
        return true;
      case 'n':
        type = JSONData::TYPE_NULL;
        return true;
      case ',':
        comma = true;
        return true;
      case ':':
        colon = true;
        return true;
      default:
        return false;  // the end, or a character no token starts with
    }
  }
}

int hexValue(int c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  return -1;
}

template <class Source>
bool readString(Source& in, std::string& out) {
  out.clear();
  if (in.peek() != '"') {
    return false;
  }
  in.next();
  for (;;) {
    int c = in.peek();
    if (c == -1) {
      return false;
    }
    in.next();
    if (c == '"') {
      return true;
    }
    if (c != '\\') {
      out.push_back(static_cast<char>(c));
      continue;
    }
    int escaped = in.peek();
    if (escaped == -1) {
      return false;
    }
    in.next();
    switch (escaped) {
      case '"':
      case '\\':
      case '/':
        out.push_back(static_cast<char>(escaped));
        break;
      case 'b':
        out.push_back('\b');
        break;
      case 'f':
        out.push_back('\f');
        break;
      case 'n':
        out.push_back('\n');
        break;
      case 'r':
        out.push_back('\r');
        break;
      case 't':
        out.push_back('\t');
        break;
      case 'u': {
        // Four hex digits; only the low byte of the code is kept.
        unsigned code = 0;
        for (int digit = 0; digit < 4; ++digit) {
          int nibble = hexValue(in.peek());
          if (nibble < 0) {
            return false;
          }
          in.next();
          code = code * 16 + static_cast<unsigned>(nibble);
        }
        out.push_back(static_cast<char>(code & 0xFF));
        break;
      }
      default:
        out.push_back('\\');
        out.push_back(static_cast<char>(escaped));
        break;
    }
  }
}

bool isDigit(int c) {
  return c >= '0' && c <= '9';
}

template <class Source>
bool readNumber(Source& in, JSONData& node) {
  bool negative = in.peek() == '-';
  if (negative) {
    in.next();
  }
  if (!isDigit(in.peek())) {
    return false;
  }
  uint64_t integer = 0;
  while (isDigit(in.peek())) {
    integer = integer * 10 + static_cast<uint64_t>(in.peek() - '0');  // wraps, as stated
    in.next();
  }
  if (in.peek() != '.') {
    // Negated in unsigned arithmetic: -9223372036854775808 cannot overflow.
    node.setLong(static_cast<long long>(negative ? 0 - integer : integer));
    return true;
  }
  in.next();
  long double real = static_cast<long double>(integer);
  // 10^k exactly as a 64-bit integer up to k = 19; beyond, where it would
  // wrap, as a long double, which only grows (and adds nothing once it is
  // infinite).
  uint64_t power = 1;
  long double widePower = 1.0L;
  for (int k = 1; isDigit(in.peek()); ++k) {
    int digit = in.peek() - '0';
    in.next();
    if (k <= 19) {
      power *= 10;
      widePower = static_cast<long double>(power);
    } else {
      widePower *= 10.0L;
    }
    if (digit != 0) {
      real += static_cast<long double>(digit) / widePower;
    }
  }
  node.setDouble(negative ? -real : real);
  return true;
}

}  // namespace

// Recursive descent over a Source; a friend of JSONData, since it links
// children straight into the containers (duplicate keys included).
template <class Source>
class JsonTextParser {
 public:
  explicit JsonTextParser(Source& in) : in(in) {}

  bool value(JSONData& node, int depth) {
    unsigned short type = JSONData::TYPE_NONE;
    bool comma, colon, close;
    if (!scanToken(in, type, comma, colon, close) || comma || colon || close) {
      if (!in.exhausted()) {
        report(Source::kOperation, "syntax error: missing value");
      }
      return false;
    }
    switch (type) {
      case JSONData::TYPE_NULL:
        if (!in.literal("null")) {
          report(Source::kOperation, "syntax error: invalid null value");
          return false;
        }
        node.setNull();
        return true;
      case JSONData::TYPE_BOOLEAN: {
        bool truth = in.peek() == 't';
        if (!in.literal(truth ? "true" : "false")) {
          report(Source::kOperation, "syntax error: invalid boolean value");
          return false;
        }
        node.setBoolean(truth);
        return true;
      }
      case JSONData::TYPE_STRING:
        node.setType(JSONData::TYPE_STRING);
        if (!readString(in, *node.value.text)) {
          report(Source::kOperation, "syntax error: invalid string");
          return false;
        }
        return true;
      case JSONData::TYPE_LONG:
        if (!readNumber(in, node)) {
          report(Source::kOperation, "syntax error: invalid number");
          return false;
        }
        return true;
      case JSONData::TYPE_ARRAY:
        return array(node, depth);
      default:
        return object(node, depth);
    }
  }

 private:
  bool array(JSONData& node, int depth) {
    if (depth >= JSONData::MAX_PARSE_DEPTH) {
      report(Source::kOperation, "syntax error: array not closed");
      return false;
    }
    node.setType(JSONData::TYPE_ARRAY);
    in.next();
    unsigned short type = JSONData::TYPE_NONE;
    bool comma, colon, close;
    for (;;) {
      if (!scanToken(in, type, comma, colon, close) || (close && in.peek() == '}')) {
        report(Source::kOperation, "syntax error: array not closed");
        return false;
      }
      if (close) {
        in.next();
        return true;
      }
      JSONData* child = new JSONData();
      JSONData::retain(child);
      if (!value(*child, depth + 1)) {
        JSONData::release(child);
        return false;
      }
      if (!scanToken(in, type, comma, colon, close) || !(comma || (close && in.peek() == ']'))) {
        report(Source::kOperation, "syntax error: array comma or end expected");
        JSONData::release(child);
        return false;
      }
      in.next();
      node.value.elements->push_back(child);  // our count becomes the array's
      if (close) {
        return true;
      }
    }
  }

  bool object(JSONData& node, int depth) {
    if (depth >= JSONData::MAX_PARSE_DEPTH) {
      report(Source::kOperation, "syntax error: object not closed");
      return false;
    }
    node.setType(JSONData::TYPE_OBJECT);
    in.next();
    unsigned short type = JSONData::TYPE_NONE;
    bool comma, colon, close;
    std::string key;
    for (;;) {
      if (!scanToken(in, type, comma, colon, close) || (close && in.peek() == ']')) {
        report(Source::kOperation, "syntax error: object not closed");
        return false;
      }
      if (close) {
        in.next();
        return true;
      }
      if (type != JSONData::TYPE_STRING) {
        report(Source::kOperation, "syntax error: object key must be a string");
        return false;
      }
      if (!readString(in, key)) {
        report(Source::kOperation, "syntax error: invalid string for object key");
        return false;
      }
      if (!scanToken(in, type, comma, colon, close) || !colon) {
        report(Source::kOperation, "syntax error: object colon expected");
        return false;
      }
      in.next();
      JSONData* child = new JSONData();
      JSONData::retain(child);
      if (!value(*child, depth + 1)) {
        JSONData::release(child);
        return false;
      }
      if (!scanToken(in, type, comma, colon, close) || !(comma || (close && in.peek() == '}'))) {
        report(Source::kOperation, "syntax error: object comma or end expected");
        JSONData::release(child);
        return false;
      }
      in.next();
      node.value.members->push_back(new JSONData::entry{key, child});
      if (close) {
        return true;
      }
    }
  }

  Source& in;
};

bool JSONData::setFromJsonString(const char*& p) {
  if (p == nullptr) {
    return false;
  }
  BufferSource source(p);
  return JsonTextParser<BufferSource>(source).value(*this, 0);
}

bool JSONData::setFromJsonStlString(const std::string& s) {
  const char* cursor = s.c_str();
  return setFromJsonString(cursor);
}

bool JSONData::setFromStream(std::istream& in) {
  StreamSource source(in);
  return JsonTextParser<StreamSource>(source).value(*this, 0);
}

bool JSONData::fetchNextType(const char*& p, unsigned short& type, bool& comma, bool& colon,
                             bool& close) {
  BufferSource source(p);
  return scanToken(source, type, comma, colon, close);
}

bool JSONData::fetchNextType(std::istream& in, unsigned short& type, bool& comma, bool& colon,
                             bool& close) {
  StreamSource source(in);
  return scanToken(source, type, comma, colon, close);
}

bool JSONData::parseJsonString(const char*& p, std::string& out) {
  BufferSource source(p);
  return readString(source, out);
}

bool JSONData::parseJsonString(std::istream& in, std::string& out) {
  StreamSource source(in);
  return readString(source, out);
}

bool JSONData::parseJsonNumberIntoSelf(const char*& p) {
  BufferSource source(p);
  return readNumber(source, *this);
}

bool JSONData::parseJsonNumberIntoSelf(std::istream& in) {
  StreamSource source(in);
  return readNumber(source, *this);
}

}  // namespace orvel
