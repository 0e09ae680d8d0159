// A node of the in-memory JSON tree: one value, reference counted and
// shared by the containers that list it and the handles that point at it.
// The class also carries the text parser and the serialiser.
//
// Nodes are freed when their last holder releases them. A node's count
// sticks at 65535 once it gets there: such a node is never freed (a leak,
// never a premature free). A tree belongs to one thread at a time and must
// stay acyclic.
#ifndef ORVEL_JSON_JSONDATA_H
#define ORVEL_JSON_JSONDATA_H

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

namespace orvel {

class JSONData {
 public:
  static constexpr unsigned short TYPE_NONE = 0;  // created, no value yet
  static constexpr unsigned short TYPE_NULL = 1;
  static constexpr unsigned short TYPE_BOOLEAN = 2;
  static constexpr unsigned short TYPE_OBJECT = 3;
  static constexpr unsigned short TYPE_ARRAY = 4;
  static constexpr unsigned short TYPE_STRING = 5;
  static constexpr unsigned short TYPE_LONG = 6;
  static constexpr unsigned short TYPE_DOUBLE = 7;

  // Containers and values deeper than this fail to parse ("... not closed").
  static constexpr int MAX_PARSE_DEPTH = 1024;

  // One member of an object, owned by the object.
  struct entry {
    std::string key;
    JSONData* value;  // counts once in value's refCount; never null
  };

  JSONData() = default;
  JSONData(const JSONData&) = delete;
  JSONData& operator=(const JSONData&) = delete;
  // Releases the content; for a node nobody else holds.
  ~JSONData();

  // Holders. retain() adds one (sticking at 65535); release() takes one
  // and frees the node, and whatever only it held, when none is left.
  // Release works without recursion, whatever the depth of the tree.
  static void retain(JSONData* node);
  static void release(JSONData* node);
  unsigned short getRefCount() const { return refCount; }
  unsigned short getType() const { return type; }

  // Type changes: to another type, the old content is released first.
  void setType(int code);
  void setNull() { setType(TYPE_NULL); }
  void setObject() { setType(TYPE_OBJECT); }
  void setArray() { setType(TYPE_ARRAY); }
  // s may live in this node's old content (one of its keys, say).
  void setString(const std::string& s);
  // A null s leaves the text as it was.
  void setString(const char* s);
  void setBoolean(bool b);
  void setLong(long long v);
  void setDouble(long double v);
  void reset();
  void clear();

  int length() const;
  JSONData* getByIndex(int i) const;
  JSONData* getByKey(const std::string& key) const;
  JSONData* getByKey(const char* key) const;
  const std::string* getKeyAtIndex(int i) const;
  // Booleans as stored; numbers are true when not zero; others false.
  bool booleanValue() const;
  // Doubles truncate toward zero and saturate at the 64-bit limits; NaN
  // gives 0. Booleans give 0 or 1; other types 0.
  long long longValue() const;
  long double doubleValue() const;
  const std::string* stringValue() const;

  // Bind key to v (null removes the last member with that key). v is
  // counted before anything is released, so it may live inside this node.
  void setByKey(const std::string& key, JSONData* v);
  void setByKey(const char* key, JSONData* v);
  // Appends a member without looking for an earlier one with the key: for
  // callers that know it is absent. v is counted; the node must be an object.
  void appendMember(const std::string& key, JSONData* v);
  // Replace slot i, append at i == length(), or remove slot i (v null).
  void setByIndex(int i, JSONData* v);
  // Removes element or member i; -1 is the last one.
  void erase(int i);
  void erase(const char* key);
  void erase(const std::string& key);

  // A deep, independent copy with refCount 0, owned by the caller.
  JSONData* clone() const;
  // Makes this node a deep copy of src, which may be this node or one of
  // its descendants.
  void copy(const JSONData& src);

  // Parsing: the node becomes the parsed value (an object or array that is
  // already one gets the parsed members or elements appended). False on
  // failure, after at most one line on standard error; what was complete
  // stays. The cursor form advances p past the value.
  bool setFromJsonString(const char*& p);
  bool setFromJsonStlString(const std::string& s);
  bool setFromStream(std::istream& in);
  static bool fetchNextType(const char*& p, unsigned short& type, bool& comma, bool& colon,
                            bool& close);
  static bool fetchNextType(std::istream& in, unsigned short& type, bool& comma, bool& colon,
                            bool& close);
  static bool parseJsonString(const char*& p, std::string& out);
  static bool parseJsonString(std::istream& in, std::string& out);
  bool parseJsonNumberIntoSelf(const char*& p);
  bool parseJsonNumberIntoSelf(std::istream& in);

  // Serialising. precision: digits after the point for doubles (negative
  // means 6), trailing zeros trimmed. pretty: one member or element per
  // line, indented one space per level up to 50.
  static void quoteJsonString(const std::string& in, std::string& out);
  void appendStringValue(std::string& out, int precision) const;
  void appendJsonString(std::string& out, bool pretty, int precision, int level) const;
  void toJsonString(std::string& out, bool pretty, int precision) const;
  // Compact, with the stream's precision; stops writing elements once the
  // stream fails, and writes nothing on a stream that failed before.
  void appendStream(std::ostream& os) const;

 private:
  template <class Source>
  friend class JsonTextParser;

  // Moves the children out (into released) and frees the content, leaving
  // TYPE_NONE; the caller releases the children.
  void detachContent(std::vector<JSONData*>& released);
  static void releaseAll(std::vector<JSONData*>& nodes);
  void swapContent(JSONData& other);
  // Index of the last member with key, or -1.
  int findKey(const char* key, size_t length) const;
  void removeSlot(int i);

  unsigned short type = TYPE_NONE;
  unsigned short refCount = 0;  // holders; sticks at 65535
  union {
    bool flag;
    long long integer;
    long double real;
    std::string* text;                 // owned
    std::vector<JSONData*>* elements;  // owned; each counted once
    std::vector<entry*>* members;      // owned
  } value = {};
};

}  // namespace orvel

#endif  // ORVEL_JSON_JSONDATA_H
