// The JSON text serialiser of JSONData.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ostream>

#include "json/JSONData.h"
#include "json/JsomWriter.h"
#include "json/JsonEscape.h"

namespace orvel {

namespace {

// A line feed and the deepest indentation: 50 spaces.
const char indentBuffer[] = "\n                                                  ";
const int kMaxIndent = sizeof(indentBuffer) - 2;

void indent(std::string& out, int level) {
  out.append(indentBuffer, 1 + std::min(std::max(level, 0), kMaxIndent));
}

// Fixed-point text of value with precision digits after the point (6 when
// negative), trailing zeros and then a trailing point trimmed. Long texts
// (huge magnitudes or precisions) are formatted whole, never cut.
void appendDouble(std::string& out, long double value, int precision) {
  if (precision < 0) {
    precision = 6;
  }
  // The usual values get the digits the streaming writer computes; only
  // what it writes otherwise (an exponent past 1e16, no trimming at
  // precision 0) and precisions past its buffer are formatted here.
  if (precision > 0 && precision <= 200 && value >= -1e16L && value <= 1e16L) {
    char text[JsomWriter::kDoubleTextSize];
    out.append(text, static_cast<size_t>(JsomWriter::formatDouble(value, precision, text)));
    return;
  }
  char buffer[64];
  int length = std::snprintf(buffer, sizeof buffer, "%.*Lf", precision, value);
  std::string wide;
  const char* text = buffer;
  if (length < 0) {
    // A precision the C library refuses: ask for what a long double can show.
    precision = 5000;
    length = std::snprintf(buffer, sizeof buffer, "%.*Lf", precision, value);
  }
  if (length >= static_cast<int>(sizeof buffer)) {
    wide.resize(static_cast<size_t>(length) + 1);
    std::snprintf(&wide[0], wide.size(), "%.*Lf", precision, value);
    text = wide.c_str();
  }
  if (length < 0) {
    return;
  }
  if (std::memchr(text, '.', static_cast<size_t>(length)) != nullptr) {
    while (length > 0 && text[length - 1] == '0') {
      --length;
    }
    if (length > 0 && text[length - 1] == '.') {
      --length;
    }
  }
  out.append(text, static_cast<size_t>(length));
}

}  // namespace

void JSONData::quoteJsonString(const std::string& in, std::string& out) {
  out.push_back('"');
  appendEscaped(in.data(), in.size(), JsonStrings::kCompact, &out);
  out.push_back('"');
}

void JSONData::appendStringValue(std::string& out, int precision) const {
  switch (type) {
    case TYPE_LONG: {
      char buffer[32];
      int length = std::snprintf(buffer, sizeof buffer, "%lld", value.integer);
      out.append(buffer, static_cast<size_t>(length));
      break;
    }
    case TYPE_DOUBLE:
      appendDouble(out, value.real, precision);
      break;
    case TYPE_BOOLEAN:
      out.append(value.flag ? "true" : "false");
      break;
    case TYPE_NULL:
      out.append("null");
      break;
    case TYPE_STRING:
      out.append(*value.text);
      break;
    default:
      break;
  }
}

void JSONData::appendJsonString(std::string& out, bool pretty, int precision, int level) const {
  switch (type) {
    case TYPE_NULL:
    case TYPE_BOOLEAN:
    case TYPE_LONG:
    case TYPE_DOUBLE:
      appendStringValue(out, precision);
      return;
    case TYPE_STRING:
      quoteJsonString(*value.text, out);
      return;
    case TYPE_ARRAY:
      out.push_back('[');
      for (size_t i = 0; i < value.elements->size(); ++i) {
        if (i > 0) {
          out.push_back(',');
        }
        if (pretty) {
          indent(out, level + 1);
        }
        (*value.elements)[i]->appendJsonString(out, pretty, precision, level + 1);
      }
      if (pretty) {
        indent(out, level);
      }
      out.push_back(']');
      return;
    case TYPE_OBJECT:
      out.push_back('{');
      for (size_t i = 0; i < value.members->size(); ++i) {
        const entry* member = (*value.members)[i];
        if (i > 0) {
          out.push_back(',');
        }
        if (pretty) {
          indent(out, level + 1);
        }
        quoteJsonString(member->key, out);
        out.push_back(':');
        if (pretty) {
          out.push_back(' ');
        }
        member->value->appendJsonString(out, pretty, precision, level + 1);
      }
      if (pretty) {
        indent(out, level);
      }
      out.push_back('}');
      return;
    default:
      return;
  }
}

void JSONData::toJsonString(std::string& out, bool pretty, int precision) const {
  out.clear();
  appendJsonString(out, pretty, precision, 0);
}

void JSONData::appendStream(std::ostream& os) const {
  if (!os.good()) {
    return;
  }
  std::string text;
  switch (type) {
    case TYPE_NULL:
    case TYPE_BOOLEAN:
    case TYPE_LONG:
    case TYPE_DOUBLE:
      appendStringValue(text, static_cast<int>(os.precision()));
      os << text;
      return;
    case TYPE_STRING:
      quoteJsonString(*value.text, text);
      os << text;
      return;
    case TYPE_ARRAY:
    case TYPE_OBJECT: {
      bool isArray = type == TYPE_ARRAY;
      os.put(isArray ? '[' : '{');
      int count = length();
      for (int i = 0; i < count && os.good(); ++i) {
        if (i > 0) {
          os.put(',');
        }
        if (!isArray) {
          text.clear();
          quoteJsonString((*value.members)[i]->key, text);
          os << text;
          os.put(':');
        }
        getByIndex(i)->appendStream(os);
      }
      os.put(isArray ? ']' : '}');
      return;
    }
    default:
      return;
  }
}

}  // namespace orvel
