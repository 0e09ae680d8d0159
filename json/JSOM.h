// A handle on one place in a JSONData tree: an existing node, or a place
// that does not exist yet (a missing member, the append position of an
// array). Reading never creates anything; the first write, or navigation
// onward, creates the node there. Copies of a handle share its nodes;
// assignment (operator=) copies values deeply instead.
//
// A document and all handles onto it belong to one thread at a time.
#ifndef ORVEL_JSON_JSOM_H
#define ORVEL_JSON_JSOM_H

#include <cstdint>
#include <iosfwd>
#include <string>

#include "json/JSONData.h"

namespace orvel {

class JSOM {
 public:
  static constexpr int32_t KIND_UNSET = 0;       // the first write makes a new root
  static constexpr int32_t KIND_NODE = 1;        // an existing node
  static constexpr int32_t KIND_CHAR_KEY = 2;    // a missing member of parent
  static constexpr int32_t KIND_STRING_KEY = 3;  // a missing member of parent
  static constexpr int32_t KIND_INDEX = 4;       // a missing position of parent
  static constexpr int32_t KIND_NULL_REF = 5;    // nothing; every write fails

  // Returned by failed navigation and loading; inert.
  static JSOM JERROR;
  // An unset handle to copy from. Writing or navigating through BLANK
  // itself fails like JERROR, so that no copy of it ever shares a root.
  static JSOM BLANK;
  static const std::string EMPTY_STRING;
  static int defaultPrecision;  // digits after the point when a getter makes text of a double

  JSOM();
  // A null node gives a null reference.
  explicit JSOM(JSONData* node);
  JSOM(JSONData* node, JSONData* parent);
  JSOM(JSONData* parent, int index);
  // Pending members copy their key: the caller's key need not outlive the handle.
  JSOM(JSONData* parent, const char* key);
  JSOM(JSONData* parent, const std::string& key);
  JSOM(const JSOM& other);
  ~JSOM();

  // Navigation: by key (the last member with that key) or by index (-1 or
  // size() is the append position). Failures print a message and give a
  // copy of JERROR.
  JSOM at(const std::string& key);
  JSOM operator[](const std::string& key);
  JSOM at(const char* key);
  JSOM operator[](const char* key);
  JSOM at(int index);
  JSOM operator[](int index);

  // KIND_NODE when the handle designates an existing node.
  int32_t getKind() const { return kind; }
  int size();
  const std::string* key(int i) const;
  bool isNull() const;
  bool isBoolean() const;
  bool isString() const;
  bool isArray() const;
  bool isObject() const;
  bool isNumber() const;

  // Typed getters: fallback unless the handle designates a node that can
  // be read as the type. A node of another type that can be read is
  // converted in place (a numeric string becomes a number, a number read
  // as text becomes a string), for every handle onto it. So a pointer or
  // reference that stringValue or stringValuePtr returned earlier dangles
  // after longValue, doubleValue or booleanValue converted that node.
  long long longValue(long long fallback) const;
  long double doubleValue(long double fallback) const;
  bool booleanValue(bool fallback) const;
  const std::string& stringValue(const std::string& fallback) const;
  const char* stringValuePtr(const char* fallback) const;
  // Append the designated node's text (indented, or compact); nothing
  // unless the handle designates a node.
  std::string& toString(std::string& out, int precision) const;
  std::string& toCompactString(std::string& out, int precision) const;

  // Writers create the designated node first where needed.
  JSOM& setString(const std::string& s);
  JSOM& setString(const char* s);  // null makes the node null
  JSOM& setDouble(long double v);
  JSOM& setBoolean(bool b);
  JSOM& setLong(long long v);
  // A deep copy of other's node, or false when other designates none (or
  // a node that never got a value, which a container could not write).
  JSOM& copy(const JSOM& other);
  // A deep copy of other's node into this place; nothing when other
  // designates no node, or one without a value. Returns JERROR when this
  // place cannot be made.
  JSOM& operator=(const JSOM& other);
  JSOM& clear();
  JSOM& erase(int i);
  JSOM& erase(const char* key);
  JSOM& erase(const std::string& key);

  // Documents. fromString and fromFile return *this, or JERROR itself on
  // failure; a load that fails leaves no empty member behind.
  JSOM& fromString(const std::string& text);
  JSOM& fromString(const char* text);
  // Reads the whole file, pipes and /proc files included.
  JSOM& fromFile(const char* path);
  // Indented; an empty file when the handle designates no node.
  bool toFile(const char* path, int precision) const;
  std::istream& fromStream(std::istream& in);
  std::ostream& toStream(std::ostream& out) const;
  // Replaces ${NAME} in every string value below the node with the
  // environment's value; unknown names stay as written.
  void expandValues();

 private:
  bool hasValue() const { return kind == KIND_NODE && slot.node->getType() != JSONData::TYPE_NONE; }
  // Creates the designated node when the handle is unset or pending.
  // False (after a message) for a null reference.
  bool makeInfoNode(const char* label);
  // Makes the place if needed, then lets apply give the node its value.
  template <class Apply>
  JSOM& write(const char* label, Apply apply) {
    if (makeInfoNode(label)) {
      apply(slot.node);
    }
    return *this;
  }
  JSOM navigateByKey(const char* key, const char* label);
  JSOM navigateByIndex(int index, const char* label);
  // After a failed load: takes back a node that the load itself created
  // and left without a value.
  void dropIfEmpty();
  static void report(const char* label, const char* message);
  static void expandString(JSONData* node);
  static void expandTree(JSONData* node);

  JSONData* parent = nullptr;  // counted; null when none
  int32_t kind = KIND_UNSET;
  union {
    JSONData* node;         // KIND_NODE: counted
    std::string* ownedKey;  // pending keys: owned copy
    int position;           // KIND_INDEX
    intptr_t raw;           // -1 for JERROR
  } slot;
};

}  // namespace orvel

#endif  // ORVEL_JSON_JSOM_H
