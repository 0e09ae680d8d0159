#include "json/JSOM.h"

#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <istream>
#include <ostream>

#include "io/WholeFile.h"

namespace orvel {

JSOM JSOM::JERROR(nullptr);
JSOM JSOM::BLANK;
const std::string JSOM::EMPTY_STRING;
int JSOM::defaultPrecision = 4;

namespace {

// The whole of text as an optional '-' and digits, accumulated in 64 bits.
bool wholeLong(const std::string& text, long long* result) {
  size_t at = text.size() > 0 && text[0] == '-' ? 1 : 0;
  if (at == text.size()) {
    return false;
  }
  uint64_t value = 0;
  for (size_t i = at; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') {
      return false;
    }
    value = value * 10 + static_cast<uint64_t>(text[i] - '0');
  }
  *result = static_cast<long long>(at == 1 ? 0 - value : value);
  return true;
}

// The whole of text as an optional '-', digits, and an optional '.' with
// digits. Past the 19th fraction digit the power of ten grows as a long
// double rather than wrap.
bool wholeDouble(const std::string& text, long double* result) {
  size_t at = text.size() > 0 && text[0] == '-' ? 1 : 0;
  size_t digits = at;
  long double value = 0;
  uint64_t integer = 0;
  while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') {
    integer = integer * 10 + static_cast<uint64_t>(text[digits] - '0');
    ++digits;
  }
  if (digits == at) {
    return false;
  }
  value = static_cast<long double>(integer);
  if (digits < text.size()) {
    if (text[digits] != '.') {
      return false;
    }
    uint64_t power = 1;
    long double widePower = 1.0L;
    for (size_t i = digits + 1, k = 1; i < text.size(); ++i, ++k) {
      if (text[i] < '0' || text[i] > '9') {
        return false;
      }
      if (k <= 19) {
        power *= 10;
        widePower = static_cast<long double>(power);
      } else {
        widePower *= 10.0L;
      }
      value += static_cast<long double>(text[i] - '0') / widePower;
    }
  }
  *result = at == 1 ? -value : value;
  return true;
}

bool wholeWord(const std::string& text, bool* result) {
  const char* word = text.c_str();
  switch (text.size()) {
    case 4:
      if (strcasecmp(word, "true") == 0) {
        *result = true;
        return true;
      }
      return false;
    case 3:
      if (strcasecmp(word, "yes") == 0 || strcasecmp(word, "off") == 0) {
        *result = strcasecmp(word, "yes") == 0;
        return true;
      }
      return false;
    case 2:
      if (strcasecmp(word, "on") == 0) {
        *result = true;
        return true;
      }
      return false;
    case 5:
      if (strcasecmp(word, "false") == 0) {
        *result = false;
        return true;
      }
      return false;
    case 1:
      switch (word[0]) {
        case 't':
        case 'T':
        case '1':
        case 'y':
        case 'Y':
          *result = true;
          return true;
        case 'f':
        case 'F':
        case '0':
        case 'n':
        case 'N':
          *result = false;
          return true;
        default:
          return false;
      }
    default:
      return false;
  }
}

}  // namespace

void JSOM::report(const char* label, const char* message) {
  std::fprintf(stderr, "JSOM::%s: %s\n", label, message);
}

JSOM::JSOM() {
  slot.raw = 0;
}

JSOM::JSOM(JSONData* node) : JSOM(node, static_cast<JSONData*>(nullptr)) {
  if (node == nullptr) {
    slot.raw = -1;
  }
}

JSOM::JSOM(JSONData* node, JSONData* parent) : parent(parent) {
  slot.raw = 0;
  if (parent != nullptr) {
    JSONData::retain(parent);
  }
  if (node == nullptr) {
    kind = KIND_NULL_REF;
  } else {
    kind = KIND_NODE;
    slot.node = node;
    JSONData::retain(node);
  }
}

JSOM::JSOM(JSONData* parent, int index) : parent(parent), kind(KIND_INDEX) {
  JSONData::retain(parent);
  slot.position = index;
}

JSOM::JSOM(JSONData* parent, const char* key) : parent(parent), kind(KIND_CHAR_KEY) {
  JSONData::retain(parent);
  slot.ownedKey = new std::string(key);
}

JSOM::JSOM(JSONData* parent, const std::string& key) : parent(parent), kind(KIND_STRING_KEY) {
  JSONData::retain(parent);
  slot.ownedKey = new std::string(key);
}

JSOM::JSOM(const JSOM& other) : parent(other.parent), kind(other.kind), slot(other.slot) {
  if (parent != nullptr) {
    JSONData::retain(parent);
  }
  if (kind == KIND_NODE) {
    JSONData::retain(slot.node);
  } else if (kind == KIND_CHAR_KEY || kind == KIND_STRING_KEY) {
    slot.ownedKey = new std::string(*other.slot.ownedKey);
  }
}

JSOM::~JSOM() {
  if (parent != nullptr) {
    JSONData::release(parent);
    parent = nullptr;
  }
  if (kind == KIND_NODE) {
    JSONData::release(slot.node);
  } else if (kind == KIND_CHAR_KEY || kind == KIND_STRING_KEY) {
    delete slot.ownedKey;
  }
  kind = KIND_NULL_REF;
}

bool JSOM::makeInfoNode(const char* label) {
  if (kind == KIND_NODE) {
    return true;
  }
  if (kind == KIND_NULL_REF || this == &BLANK) {
    report(label, parent == nullptr ? "null reference error" : "internal error, no info");
    return false;
  }
  JSONData* created = new JSONData();
  JSONData::retain(created);
  if (parent != nullptr) {
    if (kind == KIND_CHAR_KEY || kind == KIND_STRING_KEY) {
      // Navigation found the key missing: append without a second scan.
      if (parent->getType() == JSONData::TYPE_OBJECT) {
        parent->appendMember(*slot.ownedKey, created);
      } else {
        parent->setByKey(*slot.ownedKey, created);
      }
      delete slot.ownedKey;
    } else {
      parent->setByIndex(slot.position, created);
    }
  }
  kind = KIND_NODE;
  slot.node = created;
  return true;
}

JSOM JSOM::navigateByKey(const char* key, const char* label) {
  if (key == nullptr) {
    report(label, "null key pointer");
    return JERROR;
  }
  if (kind != KIND_NODE) {
    if (!makeInfoNode(label)) {
      return JERROR;
    }
    slot.node->setObject();
  }
  JSONData* found = slot.node->getByKey(key);
  if (found != nullptr) {
    return JSOM(found, slot.node);
  }
  return JSOM(slot.node, key);
}

JSOM JSOM::navigateByIndex(int index, const char* label) {
  if (kind != KIND_NODE) {
    if (!makeInfoNode(label)) {
      return JERROR;
    }
    slot.node->setArray();
  }
  int n = slot.node->length();
  if (index == -1 || index == n) {
    return JSOM(slot.node, n);
  }
  if (index >= 0 && index < n) {
    return JSOM(slot.node->getByIndex(index), slot.node);
  }
  report(label, "index out of bounds");
  return JERROR;
}

JSOM JSOM::at(const std::string& key) {
  return navigateByKey(key.c_str(), "at(string &)");
}
JSOM JSOM::operator[](const std::string& key) {
  return navigateByKey(key.c_str(), "operator[](string &)");
}
JSOM JSOM::at(const char* key) {
  return navigateByKey(key, "at(char *)");
}
JSOM JSOM::operator[](const char* key) {
  return navigateByKey(key, "operator[](char *)");
}
JSOM JSOM::at(int index) {
  return navigateByIndex(index, "at(int32_t)");
}
JSOM JSOM::operator[](int index) {
  return navigateByIndex(index, "operator[](int32_t)");
}

int JSOM::size() {
  return kind == KIND_NODE ? slot.node->length() : 0;
}

const std::string* JSOM::key(int i) const {
  return kind == KIND_NODE ? slot.node->getKeyAtIndex(i) : nullptr;
}

bool JSOM::isNull() const {
  return kind == KIND_NODE && slot.node->getType() == JSONData::TYPE_NULL;
}
bool JSOM::isBoolean() const {
  return kind == KIND_NODE && slot.node->getType() == JSONData::TYPE_BOOLEAN;
}
bool JSOM::isString() const {
  return kind == KIND_NODE && slot.node->getType() == JSONData::TYPE_STRING;
}
bool JSOM::isArray() const {
  return kind == KIND_NODE && slot.node->getType() == JSONData::TYPE_ARRAY;
}
bool JSOM::isObject() const {
  return kind == KIND_NODE && slot.node->getType() == JSONData::TYPE_OBJECT;
}
bool JSOM::isNumber() const {
  return kind == KIND_NODE && (slot.node->getType() == JSONData::TYPE_LONG ||
                               slot.node->getType() == JSONData::TYPE_DOUBLE);
}

long long JSOM::longValue(long long fallback) const {
  if (kind != KIND_NODE) {
    return fallback;
  }
  JSONData* node = slot.node;
  switch (node->getType()) {
    case JSONData::TYPE_LONG:
    case JSONData::TYPE_DOUBLE:
    case JSONData::TYPE_BOOLEAN:
      return node->longValue();
    case JSONData::TYPE_STRING: {
      long long parsed;
      if (!wholeLong(*node->stringValue(), &parsed)) {
        return fallback;
      }
      node->setLong(parsed);
      return parsed;
    }
    default:
      return fallback;
  }
}

long double JSOM::doubleValue(long double fallback) const {
  if (kind != KIND_NODE) {
    return fallback;
  }
  JSONData* node = slot.node;
  switch (node->getType()) {
    case JSONData::TYPE_LONG:
    case JSONData::TYPE_DOUBLE:
    case JSONData::TYPE_BOOLEAN:
      return node->doubleValue();
    case JSONData::TYPE_STRING: {
      long double parsed;
      if (!wholeDouble(*node->stringValue(), &parsed)) {
        return fallback;
      }
      node->setDouble(parsed);
      return parsed;
    }
    default:
      return fallback;
  }
}

bool JSOM::booleanValue(bool fallback) const {
  if (kind != KIND_NODE) {
    return fallback;
  }
  JSONData* node = slot.node;
  switch (node->getType()) {
    case JSONData::TYPE_BOOLEAN:
    case JSONData::TYPE_LONG:
      return node->booleanValue();
    case JSONData::TYPE_DOUBLE:
      return node->longValue() != 0;  // the truncated value, saturated
    case JSONData::TYPE_STRING: {
      bool parsed;
      if (!wholeWord(*node->stringValue(), &parsed)) {
        return fallback;
      }
      node->setBoolean(parsed);
      return parsed;
    }
    default:
      return fallback;
  }
}

const std::string& JSOM::stringValue(const std::string& fallback) const {
  if (kind != KIND_NODE) {
    return fallback;
  }
  JSONData* node = slot.node;
  switch (node->getType()) {
    case JSONData::TYPE_STRING:
      return *node->stringValue();
    case JSONData::TYPE_LONG:
    case JSONData::TYPE_DOUBLE:
    case JSONData::TYPE_BOOLEAN: {
      std::string text;
      node->appendStringValue(text, defaultPrecision);
      node->setString(text);
      return *node->stringValue();
    }
    default:
      return fallback;
  }
}

const char* JSOM::stringValuePtr(const char* fallback) const {
  static const std::string kNoText;
  const std::string& text = stringValue(kNoText);
  return &text == &kNoText ? fallback : text.c_str();
}

std::string& JSOM::toString(std::string& out, int precision) const {
  if (kind == KIND_NODE) {
    slot.node->appendJsonString(out, true, precision, 0);
  }
  return out;
}

std::string& JSOM::toCompactString(std::string& out, int precision) const {
  if (kind == KIND_NODE) {
    slot.node->appendJsonString(out, false, precision, 0);
  }
  return out;
}

JSOM& JSOM::setString(const std::string& s) {
  return write("setString(string &)", [&s](JSONData* node) { node->setString(s); });
}

JSOM& JSOM::setString(const char* s) {
  return write("setString(char *)", [s](JSONData* node) {
    if (s == nullptr) {
      node->setNull();
    } else {
      node->setString(s);
    }
  });
}

JSOM& JSOM::setDouble(long double v) {
  return write("setDouble()", [v](JSONData* node) { node->setDouble(v); });
}

JSOM& JSOM::setBoolean(bool b) {
  return write("setBoolean()", [b](JSONData* node) { node->setBoolean(b); });
}

JSOM& JSOM::setLong(long long v) {
  return write("setLong()", [v](JSONData* node) { node->setLong(v); });
}

JSOM& JSOM::copy(const JSOM& other) {
  // Cloned before this place is made, so that copying an ancestor into a
  // new member of its own does not take that empty member along.
  JSONData* snapshot = other.hasValue() ? other.slot.node->clone() : nullptr;
  if (makeInfoNode("copy()")) {
    if (snapshot != nullptr) {
      slot.node->copy(*snapshot);
    } else {
      slot.node->setBoolean(false);
    }
  }
  if (snapshot != nullptr) {
    JSONData::retain(snapshot);
    JSONData::release(snapshot);
  }
  return *this;
}

JSOM& JSOM::operator=(const JSOM& other) {
  if (&other == this || !other.hasValue()) {
    return *this;
  }
  JSONData* snapshot = other.slot.node->clone();
  JSONData::retain(snapshot);
  JSOM& result = makeInfoNode("operator[](int32_t)") ? *this : JERROR;
  if (&result == this) {
    slot.node->copy(*snapshot);
  }
  JSONData::release(snapshot);
  return result;
}

JSOM& JSOM::clear() {
  if (kind == KIND_NODE) {
    slot.node->clear();
  }
  return *this;
}

JSOM& JSOM::erase(int i) {
  if (kind == KIND_NODE) {
    slot.node->erase(i);
  }
  return *this;
}

JSOM& JSOM::erase(const char* key) {
  if (kind == KIND_NODE) {
    slot.node->erase(key);
  }
  return *this;
}

JSOM& JSOM::erase(const std::string& key) {
  if (kind == KIND_NODE) {
    slot.node->erase(key);
  }
  return *this;
}

void JSOM::dropIfEmpty() {
  if (kind != KIND_NODE || slot.node->getType() != JSONData::TYPE_NONE || parent == nullptr) {
    return;
  }
  // A node in a tree always holds a value, so this one was made for the
  // load. A member without a value would be written as "key": with nothing
  // after it, which cannot be read back.
  for (int i = parent->length(); i-- > 0;) {
    if (parent->getByIndex(i) == slot.node) {
      parent->erase(i);
      return;
    }
  }
}

JSOM& JSOM::fromString(const std::string& text) {
  return fromString(text.c_str());
}

JSOM& JSOM::fromString(const char* text) {
  if (!makeInfoNode("fromString()")) {
    return JERROR;
  }
  if (text == nullptr || !slot.node->setFromJsonString(text)) {
    dropIfEmpty();
    return JERROR;
  }
  return *this;
}

JSOM& JSOM::fromFile(const char* path) {
  std::string content;
  bool opened = false;
  const int failed = readWholeFile(path, &content, &opened);
  if (!opened) {
    report("fromFile()", "could not open file");
    return JERROR;
  }
  if (failed != 0 || content.empty()) {
    report("fromFile()", "could not read file");
    return JERROR;
  }
  return fromString(content);
}

bool JSOM::toFile(const char* path, int precision) const {
  FILE* file = std::fopen(path, "w");
  if (file == nullptr) {
    report("toFile()", "could not write file");
    return false;
  }
  std::string text;
  toString(text, precision);
  std::fwrite(text.data(), 1, text.size(), file);
  std::fclose(file);
  return true;
}

std::istream& JSOM::fromStream(std::istream& in) {
  if (in.fail()) {
    return in;
  }
  if (makeInfoNode("fromStream()") && slot.node->setFromStream(in)) {
    return in;
  }
  dropIfEmpty();
  in.setstate(std::ios::failbit);
  return in;
}

std::ostream& JSOM::toStream(std::ostream& out) const {
  if (kind == KIND_NODE) {
    slot.node->appendStream(out);
  }
  return out;
}

void JSOM::expandString(JSONData* node) {
  const std::string& text = *node->stringValue();
  std::string result;
  std::string name;
  bool inside = false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (!inside) {
      if (c == '$' && i + 1 < text.size() && text[i + 1] == '{') {
        inside = true;
        name.clear();
        ++i;
      } else {
        result.push_back(c);
      }
    } else if (c != '}') {
      name.push_back(c);
    } else {
      const char* value = name.empty() ? nullptr : std::getenv(name.c_str());
      if (value != nullptr) {
        result.append(value);
      } else {
        result.append("${").append(name).push_back('}');
      }
      inside = false;
    }
  }
  if (inside) {
    result.append("${").append(name);
  }
  node->setString(result);
}

void JSOM::expandTree(JSONData* node) {
  switch (node->getType()) {
    case JSONData::TYPE_STRING:
      expandString(node);
      break;
    case JSONData::TYPE_ARRAY:
    case JSONData::TYPE_OBJECT:
      for (int i = 0; i < node->length(); ++i) {
        expandTree(node->getByIndex(i));
      }
      break;
    default:
      break;
  }
}

void JSOM::expandValues() {
  if (kind == KIND_NODE) {
    expandTree(slot.node);
  }
}

}  // namespace orvel
