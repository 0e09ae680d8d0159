#include "json/JsomWriter.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <limits>
#include <string>

#include "json/JsonEscape.h"

// Digits come from 128-bit products where the compiler has such integers.
// ORVEL_WITHOUT_INT128 takes the path of the targets that have none (32-bit
// ARM), so that a test build on any machine checks that path as well.
#if defined(__SIZEOF_INT128__) && !defined(ORVEL_WITHOUT_INT128)
#define ORVEL_INT128 1
#endif

namespace orvel {

namespace {

// A newline and the deepest indentation written: 47 spaces.
const char indentBuffer[] = "\n                                               ";
const int kMaxIndent = sizeof(indentBuffer) - 2;

// snprintf's result as a length that stays inside the buffer.
int clampedLength(int formatted, int bufferSize) {
  if (formatted < 0) {
    return 0;
  }
  return formatted < bufferSize ? formatted : bufferSize - 1;
}

static_assert(std::numeric_limits<double>::is_iec559, "fixedPoint reads IEEE 754 doubles");

#ifndef ORVEL_INT128
// Where the compiler has no 128-bit integers (32-bit targets): a 128-bit
// unsigned number, high * 2^64 + low.
struct Wide {
  uint64_t high;
  uint64_t low;

  bool bit(int i) const { return ((i < 64 ? low >> i : high >> (i - 64)) & 1) != 0; }
  // Whether any of bits 0 .. i-1 is set, for 0 < i < 128.
  bool anyBelow(int i) const {
    if (i <= 64) {
      return (i == 64 ? low : low & ((uint64_t(1) << i) - 1)) != 0;
    }
    return low != 0 || (high & ((uint64_t(1) << (i - 64)) - 1)) != 0;
  }
  // The low 64 bits of this >> shift, for 0 < shift < 128.
  uint64_t shiftedRight(int shift) const {
    return shift < 64 ? (low >> shift) | (high << (64 - shift)) : high >> (shift - 64);
  }
};

// mantissa * factor for mantissa < 2^64 and factor < 2^32.
Wide multiply(uint64_t mantissa, uint64_t factor) {
  uint64_t low = (mantissa & 0xFFFFFFFFu) * factor;
  uint64_t high = (mantissa >> 32) * factor;
  Wide product;
  product.low = low + (high << 32);
  product.high = (high >> 32) + (product.low < low ? 1 : 0);
  return product;
}
#endif

const char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// round(magnitude * Scale), ties to even, from the exact binary value, for
// magnitude * Scale below 2^63.
template <uint64_t Scale>
uint64_t roundedExactly(double magnitude) {
  // magnitude = mantissa * 2^exponent, read from the IEEE 754 bits.
  uint64_t bits;
  std::memcpy(&bits, &magnitude, sizeof bits);
  const int biased = static_cast<int>(bits >> 52);
  uint64_t mantissa = bits & ((uint64_t(1) << 52) - 1);
  int exponent = -1074;  // zero and subnormals
  if (biased != 0) {
    mantissa |= uint64_t(1) << 52;
    exponent = biased - 1075;
  }
  if (exponent >= 0) {
    return (mantissa << exponent) * Scale;
  }
  if (exponent <= -128) {
    return 0;  // below 2^-45: far under half a unit of the last digit
  }
  const int shift = -exponent;
#ifdef ORVEL_INT128
  // The compiler's 128-bit integers: one multiplication.
  const unsigned __int128 product = static_cast<unsigned __int128>(mantissa) * Scale;
  uint64_t scaled = static_cast<uint64_t>(product >> shift);
  const unsigned __int128 half = static_cast<unsigned __int128>(1) << (shift - 1);
  const unsigned __int128 below = product & ((half << 1) - 1);
  // Rounds up or not about as often: added, not branched on.
  scaled += static_cast<uint64_t>(below > half) | (static_cast<uint64_t>(below == half) & scaled);
#else
  const Wide product = multiply(mantissa, Scale);
  uint64_t scaled = product.shiftedRight(shift);
  const bool sticky = shift > 1 && product.anyBelow(shift - 1);
  scaled +=
      static_cast<uint64_t>(product.bit(shift - 1)) & (static_cast<uint64_t>(sticky) | scaled);
#endif
  return scaled;
}

// The same in double arithmetic where that is sure to agree, for magnitude
// below 4.5e15 / Scale: the whole part splits off exactly, and the fraction
// times Scale (below 2^30) is then off by at most 2^-23, so a fractional
// part further than 1e-6 from one half rounds as the exact one would. False
// near a tie.
template <uint64_t Scale>
bool roundedQuickly(double magnitude, uint64_t* whole, uint64_t* fraction) {
  if (!(magnitude < 4.5e15 / static_cast<double>(Scale))) {
    return false;
  }
  // Signed conversions: one instruction each, where unsigned ones take a
  // branch on some targets. Every value here is far below 2^63.
  const int64_t wholePart = static_cast<int64_t>(magnitude);
  const double product = (magnitude - static_cast<double>(wholePart)) * static_cast<double>(Scale);
  const int64_t below = static_cast<int64_t>(product);
  const double part = product - static_cast<double>(below);
  if (part > 0.5 - 1e-6 && part < 0.5 + 1e-6) {
    return false;
  }
  *whole = static_cast<uint64_t>(wholePart);
  *fraction = static_cast<uint64_t>(below) + (part > 0.5 ? 1 : 0);
  if (*fraction == Scale) {
    ++*whole;
    *fraction = 0;
  }
  return true;
}

// "%.*f" of a double as printf writes it (from the exact binary value,
// ties to even), with Scale = 10^precision, for |value| * Scale below 2^63,
// then without trailing zeros after the point, as appendDouble writes it.
// Returns the length, or -1 where printf must do it. A constant Scale turns
// the divisions into multiplications.
template <uint64_t Scale>
int fixedDigits(double value, int precision, char* buffer) {
  const double magnitude = std::fabs(value);
  if (!(magnitude < 9.2e18 / static_cast<double>(Scale))) {
    return -1;
  }
  uint64_t whole;
  uint64_t fraction;
#ifdef ORVEL_INT128
  // With 128-bit integers the exact path is the quicker one.
  const bool rounded = false;
#else
  const bool rounded = roundedQuickly<Scale>(magnitude, &whole, &fraction);
#endif
  if (!rounded) {
    const uint64_t scaled = roundedExactly<Scale>(magnitude);
    whole = scaled / Scale;
    fraction = scaled % Scale;
  }
  char* at = buffer;
  if (std::signbit(value)) {
    *at++ = '-';
  }
  at = std::to_chars(at, at + 24, whole).ptr;
  // The fraction without its trailing zeros, two digits at a time from the
  // right; none at all (nor the point) when it is zero.
  uint32_t digits = static_cast<uint32_t>(fraction);
  if (digits == 0) {
    return static_cast<int>(at - buffer);
  }
  if (Scale == 1000000) {
    // The report's precision: the three pairs computed side by side rather
    // than one after another.
    *at++ = '.';
    const uint32_t pairs[3] = {digits / 10000, digits / 100 % 100, digits % 100};
    std::memcpy(at, kDigitPairs + 2 * pairs[0], 2);
    std::memcpy(at + 2, kDigitPairs + 2 * pairs[1], 2);
    std::memcpy(at + 4, kDigitPairs + 2 * pairs[2], 2);
    int last = pairs[2] != 0 ? 2 : pairs[1] != 0 ? 1 : 0;  // the last pair not 00
    int count = 2 * last + (pairs[last] % 10 != 0 ? 2 : 1);
    return static_cast<int>(at + count - buffer);
  }
  int count = precision;
  while (digits % 10 == 0) {
    digits /= 10;
    --count;
  }
  *at++ = '.';
  int i = count;
  for (; i >= 2; i -= 2) {
    std::memcpy(at + i - 2, kDigitPairs + 2 * (digits % 100), 2);
    digits /= 100;
  }
  if (i == 1) {
    at[0] = static_cast<char>('0' + digits);
  }
  return static_cast<int>(at + count - buffer);
}

int fixedPoint(double value, int precision, char* buffer) {
  switch (precision) {
    case 1:
      return fixedDigits<10>(value, precision, buffer);
    case 2:
      return fixedDigits<100>(value, precision, buffer);
    case 3:
      return fixedDigits<1000>(value, precision, buffer);
    case 4:
      return fixedDigits<10000>(value, precision, buffer);
    case 5:
      return fixedDigits<100000>(value, precision, buffer);
    case 6:
      return fixedDigits<1000000>(value, precision, buffer);
    case 7:
      return fixedDigits<10000000>(value, precision, buffer);
    case 8:
      return fixedDigits<100000000>(value, precision, buffer);
    case 9:
      return fixedDigits<1000000000>(value, precision, buffer);
    default:
      return -1;
  }
}

// Drops the trailing zeros of fixed-point text, then a trailing point.
int trimmed(const char* buffer, int length, int precision) {
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
  return length;
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
    std::string escaped;
    appendEscaped(text, static_cast<size_t>(length > 0 ? length : 0), JsonStrings::kCompact,
                  &escaped);
    write(escaped.data(), static_cast<int>(escaped.size()));
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
    writeInteger(value);
  }
}

void JsomWriter::appendUnsignedInt(unsigned int value) {
  if (valueStep("appendUnsignedInt")) {
    writeInteger(value);
  }
}

void JsomWriter::appendLong(long long value) {
  if (valueStep("appendLong")) {
    writeInteger(value);
  }
}

void JsomWriter::appendUnsignedLong(unsigned long long value) {
  if (valueStep("appendUnsignedLong")) {
    writeInteger(value);
  }
}

template <typename Integer>
void JsomWriter::writeInteger(Integer value) {
  char buffer[24];
  write(buffer,
        static_cast<int>(std::to_chars(buffer, buffer + sizeof buffer, value).ptr - buffer));
}

void JsomWriter::appendDouble(long double value, int precision) {
  if (valueStep("appendDouble")) {
    char buffer[kDoubleTextSize];
    write(buffer, formatDouble(value, precision, buffer));
  }
}

int JsomWriter::formatDouble(long double value, int precision, char* buffer) {
  if (value > 1e16L || value < -1e16L) {
    return clampedLength(std::snprintf(buffer, kDoubleTextSize, "%Le", value), kDoubleTextSize);
  }
  if (precision == 0) {
    return clampedLength(std::snprintf(buffer, kDoubleTextSize, "%Lf", value), kDoubleTextSize);
  }
  const double exact = static_cast<double>(value);
  if (static_cast<long double>(exact) == value) {
    const int length = fixedPoint(exact, precision, buffer);
    if (length >= 0) {
      return length;
    }
  }
  const int length = clampedLength(
      std::snprintf(buffer, kDoubleTextSize, "%.*Lf", precision, value), kDoubleTextSize);
  return trimmed(buffer, length, precision);
}

int JsomWriter::formatDouble(double value, int precision, char* buffer) {
  if (value > 1e16 || value < -1e16 || precision == 0) {
    return formatDouble(static_cast<long double>(value), precision, buffer);
  }
  const int length = fixedPoint(value, precision, buffer);
  return length >= 0 ? length : formatDouble(static_cast<long double>(value), precision, buffer);
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
