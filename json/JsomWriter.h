// A streaming JSON writer: the caller announces objects, arrays, labels and
// values in document order and the writer puts in separators, quotes,
// escapes and, when asked, indentation. Nothing is kept in memory but one
// character per open container.
//
// A call that does not fit the document (a value where a label is due, a
// label outside an object, closing what is not open) writes nothing, leaves
// the writer as it was and prints one line on std::cerr.
//
// A writer belongs to one thread at a time.
#ifndef ORVEL_JSON_JSOMWRITER_H
#define ORVEL_JSON_JSOMWRITER_H

#include <cstdint>
#include <iosfwd>
#include <string>

namespace orvel {

class JsomWriter {
 public:
  // out is not owned: the writer never closes or deletes it, and it must
  // outlive the writer. Writes nothing.
  explicit JsomWriter(std::ostream* out);
  JsomWriter(const JsomWriter&) = delete;
  JsomWriter& operator=(const JsomWriter&) = delete;
  // Writes and flushes nothing; open containers stay open.
  virtual ~JsomWriter();

  // Compact output (the default) or one member or element per line,
  // indented by one space per level, with a blank after each label's colon.
  void setPretty(bool on) { pretty = on; }

  void startObject();
  void endObject();
  void startArray();
  void endArray();

  // Writes a member label. verbatim: the text needs no escaping.
  void appendLabel(const char* text, int length, bool verbatim);
  void appendLabel(const char* text, bool verbatim);

  // Writes a string value; a null text is written as null.
  void appendString(const std::string& text, bool verbatim);
  void appendString(const char* text, int length, bool verbatim);

  void appendInt(int value);
  void appendUnsignedInt(unsigned int value);
  void appendLong(long long value);
  void appendUnsignedLong(unsigned long long value);
  // Fixed-point with trailing zeros trimmed when precision > 0; "%Lf" when
  // precision is 0; "%Le" beyond +-1e16. NaN and infinities come out as
  // nan and inf, which are not JSON: keep them out.
  void appendDouble(long double value, int precision);
  // The text appendDouble writes, into buffer (kDoubleTextSize bytes, not
  // NUL-terminated); returns its length.
  static const int kDoubleTextSize = 256;
  static int formatDouble(long double value, int precision, char* buffer);
  // The same text for a double, without long double arithmetic where it
  // can.
  static int formatDouble(double value, int precision, char* buffer);
  void appendBoolean(bool value);
  void appendNull();
  // Writes a ready-made JSON value exactly as it stands (not validated).
  void appendJsonValue(const char* text, int length);

  // Closes everything still open (a waiting label gets null), then flushes.
  void end();
  void flush();

  // Raw bytes, with no separator and no change of state.
  void write(const char* data, int length);
  // Writes value in decimal, as printf's %d, %u, %lld or %llu would.
  template <typename Integer>
  void writeInteger(Integer value);
  void writeChar(char c);

 private:
  // The steps every value begins with: refuses a value where a label is
  // due, consumes a waiting label, writes the separator and indentation.
  // Returns false when the value was refused; operation names the caller
  // in the message.
  bool valueStep(const char* operation);
  // Reports a refused call on std::cerr: the operation, the problem and the
  // raw state character (a NUL byte at the top level).
  void misuse(const char* operation, const char* problem) const;
  // Closes the innermost container if state is its empty or filled state
  // character; the filled one is also its closing bracket.
  void closeContainer(char empty, char filled, const char* operation, const char* problem);
  void quote(const char* text, int length, bool verbatim);
  void pushState(char c);
  void popState();
  void indent();
  bool inObject() const { return state == '{' || state == '}'; }

  std::ostream* const out;  // not owned
  bool pretty = false;      // newlines, indentation and a blank after ':'
  // What comes next: 0 top level, '{' empty object, '}' object with a
  // member, '[' empty array, ']' array with an element, ':' label written
  // and its value due.
  int32_t state = 0;
  // States of the enclosing containers, innermost last; never holds 0 or
  // ':'. Its length is the depth used for indentation.
  std::string stateStack;
};

}  // namespace orvel

#endif  // ORVEL_JSON_JSOMWRITER_H
