#include "json/JSONData.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace orvel {

namespace {

const unsigned short kStuckCount = 65535;

}  // namespace

JSONData::~JSONData() {
  reset();
}

void JSONData::retain(JSONData* node) {
  if (node->refCount != kStuckCount) {
    ++node->refCount;
  }
}

void JSONData::release(JSONData* node) {
  std::vector<JSONData*> nodes(1, node);
  releaseAll(nodes);
}

// Releases each node once, and the children of every node that goes, with
// an explicit stack instead of recursion.
void JSONData::releaseAll(std::vector<JSONData*>& nodes) {
  while (!nodes.empty()) {
    JSONData* node = nodes.back();
    nodes.pop_back();
    if (node->refCount == kStuckCount) {
      continue;
    }
    if (node->refCount > 0) {
      --node->refCount;
    }
    if (node->refCount == 0) {
      node->detachContent(nodes);
      delete node;
    }
  }
}

void JSONData::detachContent(std::vector<JSONData*>& released) {
  switch (type) {
    case TYPE_OBJECT:
      for (size_t i = value.members->size(); i-- > 0;) {
        released.push_back((*value.members)[i]->value);
        delete (*value.members)[i];
      }
      delete value.members;
      break;
    case TYPE_ARRAY:
      for (size_t i = value.elements->size(); i-- > 0;) {
        released.push_back((*value.elements)[i]);
      }
      delete value.elements;
      break;
    case TYPE_STRING:
      delete value.text;
      break;
    default:
      break;
  }
  type = TYPE_NONE;
  value.integer = 0;
}

void JSONData::reset() {
  std::vector<JSONData*> released;
  detachContent(released);
  releaseAll(released);
}

void JSONData::clear() {
  if (type != TYPE_OBJECT && type != TYPE_ARRAY) {
    return;
  }
  unsigned short kept = type;
  reset();
  setType(kept);
}

void JSONData::setType(int code) {
  if (code == type) {
    return;
  }
  reset();
  type = static_cast<unsigned short>(code);
  switch (code) {
    case TYPE_OBJECT:
      value.members = new std::vector<entry*>();
      break;
    case TYPE_ARRAY:
      value.elements = new std::vector<JSONData*>();
      break;
    case TYPE_STRING:
      value.text = new std::string();
      break;
    default:
      break;
  }
}

void JSONData::setString(const std::string& s) {
  if (type == TYPE_STRING) {
    *value.text = s;
    return;
  }
  std::string saved(s);  // s may die with the old content
  setType(TYPE_STRING);
  value.text->swap(saved);
}

void JSONData::setString(const char* s) {
  if (s == nullptr) {
    setType(TYPE_STRING);
  } else {
    setString(std::string(s));
  }
}

void JSONData::setBoolean(bool b) {
  setType(TYPE_BOOLEAN);
  value.flag = b;
}

void JSONData::setLong(long long v) {
  setType(TYPE_LONG);
  value.integer = v;
}

void JSONData::setDouble(long double v) {
  setType(TYPE_DOUBLE);
  value.real = v;
}

int JSONData::length() const {
  if (type == TYPE_OBJECT) {
    return static_cast<int>(value.members->size());
  }
  if (type == TYPE_ARRAY) {
    return static_cast<int>(value.elements->size());
  }
  return 0;
}

JSONData* JSONData::getByIndex(int i) const {
  if (i < 0 || i >= length()) {
    return nullptr;
  }
  return type == TYPE_ARRAY ? (*value.elements)[i] : (*value.members)[i]->value;
}

int JSONData::findKey(const char* key, size_t keyLength) const {
  if (type != TYPE_OBJECT) {
    return -1;
  }
  for (size_t i = value.members->size(); i-- > 0;) {
    const std::string& candidate = (*value.members)[i]->key;
    if (candidate.size() == keyLength && std::memcmp(candidate.data(), key, keyLength) == 0) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

JSONData* JSONData::getByKey(const std::string& key) const {
  int at = findKey(key.data(), key.size());
  return at < 0 ? nullptr : (*value.members)[at]->value;
}

JSONData* JSONData::getByKey(const char* key) const {
  int at = findKey(key, std::strlen(key));
  return at < 0 ? nullptr : (*value.members)[at]->value;
}

const std::string* JSONData::getKeyAtIndex(int i) const {
  if (type != TYPE_OBJECT || i < 0 || i >= length()) {
    return nullptr;
  }
  return &(*value.members)[i]->key;
}

bool JSONData::booleanValue() const {
  switch (type) {
    case TYPE_BOOLEAN:
      return value.flag;
    case TYPE_LONG:
      return value.integer != 0;
    case TYPE_DOUBLE:
      return value.real != 0;
    default:
      return false;
  }
}

long long JSONData::longValue() const {
  switch (type) {
    case TYPE_LONG:
      return value.integer;
    case TYPE_BOOLEAN:
      return value.flag ? 1 : 0;
    case TYPE_DOUBLE: {
      // Saturates: a conversion out of range would be undefined.
      const long double limit = 9223372036854775808.0L;  // 2^63
      if (std::isnan(value.real)) {
        return 0;
      }
      if (value.real >= limit) {
        return LLONG_MAX;
      }
      if (value.real < -limit) {
        return LLONG_MIN;
      }
      return static_cast<long long>(value.real);
    }
    default:
      return 0;
  }
}

long double JSONData::doubleValue() const {
  switch (type) {
    case TYPE_DOUBLE:
      return value.real;
    case TYPE_LONG:
      return static_cast<long double>(value.integer);
    case TYPE_BOOLEAN:
      return value.flag ? 1.0L : 0.0L;
    default:
      return 0.0L;
  }
}

const std::string* JSONData::stringValue() const {
  return type == TYPE_STRING ? value.text : nullptr;
}

void JSONData::setByKey(const std::string& key, JSONData* v) {
  // Counted first: v may live in the content that setType or the
  // replacement releases. The key is copied for the same reason.
  if (v != nullptr) {
    retain(v);
  }
  std::string ownKey(key);
  setType(TYPE_OBJECT);
  int at = findKey(ownKey.data(), ownKey.size());
  if (at >= 0) {
    entry* found = (*value.members)[at];
    JSONData* old = found->value;
    if (v != nullptr) {
      found->value = v;
    } else {
      delete found;
      value.members->erase(value.members->begin() + at);
    }
    release(old);
  } else if (v != nullptr) {
    value.members->push_back(new entry{std::move(ownKey), v});
  }
}

void JSONData::setByKey(const char* key, JSONData* v) {
  setByKey(std::string(key), v);
}

void JSONData::appendMember(const std::string& key, JSONData* v) {
  retain(v);
  value.members->push_back(new entry{key, v});
}

void JSONData::setByIndex(int i, JSONData* v) {
  if (v == nullptr) {
    if (type == TYPE_ARRAY && i >= 0 && i < length()) {
      removeSlot(i);
    }
    return;
  }
  retain(v);  // before setType may release the content v lives in
  setType(TYPE_ARRAY);
  int size = length();
  if (i == size) {
    value.elements->push_back(v);
  } else if (i >= 0 && i < size) {
    JSONData* old = (*value.elements)[i];
    (*value.elements)[i] = v;
    release(old);
  } else {
    std::fprintf(stderr, "JSONData::%s: %s\n", "setByIndex()", "index out of range");
    release(v);
  }
}

void JSONData::removeSlot(int i) {
  JSONData* old;
  if (type == TYPE_ARRAY) {
    old = (*value.elements)[i];
    value.elements->erase(value.elements->begin() + i);
  } else {
    entry* member = (*value.members)[i];
    old = member->value;
    delete member;
    value.members->erase(value.members->begin() + i);
  }
  release(old);
}

void JSONData::erase(int i) {
  int size = length();
  if (i == -1) {
    i = size - 1;
  }
  if (i >= 0 && i < size) {
    removeSlot(i);
  }
}

void JSONData::erase(const char* key) {
  if (key == nullptr) {
    return;
  }
  int at = findKey(key, std::strlen(key));
  if (at >= 0) {
    removeSlot(at);
  }
}

void JSONData::erase(const std::string& key) {
  int at = findKey(key.data(), key.size());
  if (at >= 0) {
    removeSlot(at);
  }
}

JSONData* JSONData::clone() const {
  JSONData* copy = new JSONData();
  copy->setType(type);
  switch (type) {
    case TYPE_BOOLEAN:
    case TYPE_LONG:
    case TYPE_DOUBLE:
      copy->value = value;
      break;
    case TYPE_STRING:
      *copy->value.text = *value.text;
      break;
    case TYPE_ARRAY:
      copy->value.elements->reserve(value.elements->size());
      for (const JSONData* element : *value.elements) {
        JSONData* child = element->clone();
        child->refCount = 1;
        copy->value.elements->push_back(child);
      }
      break;
    case TYPE_OBJECT:
      copy->value.members->reserve(value.members->size());
      for (const entry* member : *value.members) {
        JSONData* child = member->value->clone();
        child->refCount = 1;
        copy->value.members->push_back(new entry{member->key, child});
      }
      break;
    default:
      break;
  }
  return copy;
}

void JSONData::swapContent(JSONData& other) {
  std::swap(type, other.type);
  std::swap(value, other.value);
}

void JSONData::copy(const JSONData& src) {
  // Everything is read from src before anything here changes: src may be
  // this node or live inside it.
  JSONData* fresh = src.clone();
  swapContent(*fresh);
  fresh->refCount = 1;
  release(fresh);  // with it goes the old content
}

}  // namespace orvel
