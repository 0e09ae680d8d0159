#include "app/TraceScan.h"

#include <cstdint>
#include <cstring>

#include "app/EightBytes.h"
#include "json/Decimal.h"

namespace orvel {
namespace scan {

namespace {

// What a step of a format did: matched, failed as sscanf would, or met a
// form left to sscanf.
enum Step { kMatched, kFailed, kLeft };

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

// A digit's value; above 9 for every other byte.
unsigned int digitValue(char c) {
  return static_cast<unsigned int>(static_cast<unsigned char>(c)) - '0';
}

// White space as scanf skips it in the C locale: ' ' and '\t' to '\r', as
// one test of a bit in a set.
bool isSpace(char c) {
  const unsigned int u = static_cast<unsigned char>(c);
  return u <= ' ' && ((uint64_t(0x100003E00) >> u) & 1) != 0;
}

void skipSpace(const char*& p) {
  // Blanks first: traces align their columns with them.
  while (*p == ' ') {
    ++p;
  }
  while (isSpace(*p)) {
    ++p;
  }
}

// Eight characters at a time (app/EightBytes.h): findOrNul() and
// eightDigits() search and check all eight with whole-word operations.
const uint64_t kHighBitOfEachByte = kEachByte * 0x80;
// Added to a byte below 0x80, 0x46 reaches its high bit exactly when the
// byte is above '9': '9' + 0x46 = 0x7F, ':' + 0x46 = 0x80.
const uint64_t kAboveNineToHighBit = kEachByte * (0x80 - ':');

// The first byte from p on that is stop or NUL, as strchrnul finds it.
// Where the bytes up to end may be read (end is not null), eight bytes are
// looked at in one step: for the short distances at the start of a line a
// library call costs more than the search.
const char* findOrNul(const char* p, const char* end, char stop) {
  const uint64_t pattern = kEachByte * static_cast<unsigned char>(stop);
  if (end != nullptr) {
    while (end - p >= 8) {
      const uint64_t bytes = loadEight(p);
      const uint64_t matches = bytes ^ pattern;  // a zero byte where stop is
      // (x - kEachByte) & ~x sets the high bit of each zero byte of x. A
      // borrow runs only upward, so bits above the first zero byte may be
      // wrong, but the lowest set bit is always that byte's.
      const uint64_t found = (((bytes - kEachByte) & ~bytes) | ((matches - kEachByte) & ~matches)) &
                             kHighBitOfEachByte;
      if (found != 0) {
        return p + __builtin_ctzll(found) / 8;
      }
      p += 8;
    }
  }
  return strchrnul(p, stop);
}

// "%*[^stop]": one or more characters up to stop or the end.
bool skipUntil(const char*& p, char stop, const char* end = nullptr) {
  const char* found = findOrNul(p, end, stop);
  if (found == p) {
    return false;
  }
  p = found;
  return true;
}

// "%width[^stop]" into out, which holds width + 1.
bool copyUntil(const char*& p, char stop, char* out, size_t width) {
  size_t length = static_cast<size_t>(strchrnul(p, stop) - p);
  if (length == 0) {
    return false;
  }
  length = length < width ? length : width;
  std::memcpy(out, p, length);
  out[length] = '\0';
  p += length;
  return true;
}

// "%width[^stop]" as a view of the text itself: its start stays p.
size_t lengthUntil(const char*& p, char stop, size_t width) {
  size_t length = static_cast<size_t>(strchrnul(p, stop) - p);
  length = length < width ? length : width;
  p += length;
  return length;
}

// The same for a name before '(': names are short, so the first sixteen
// bytes are looked at before the library call, eight at a time where the
// bytes up to end may be read (end is not null).
size_t nameUntilParenthesis(const char*& p, const char* end) {
  size_t length = 0;
  if (end != nullptr && end - p >= 16) {
    length = static_cast<size_t>(findOrNul(p, p + 16, '(') - p);
  } else {
    while (length < 16 && p[length] != '(' && p[length] != '\0') {
      ++length;
    }
    if (length == 16) {
      length += static_cast<size_t>(strchrnul(p + 16, '(') - (p + 16));
    }
  }
  length = length < 512 ? length : 512;
  p += length;
  return length;
}

// "%u" for up to nine digits; a sign or a longer number is left to sscanf
// (its overflow rules depend on the width of long).
Step readUnsigned(const char*& p, unsigned int* out) {
  skipSpace(p);
  const char* q = p;
  unsigned int value = digitValue(*q);
  if (value > 9) {
    return *q == '+' || *q == '-' ? kLeft : kFailed;
  }
  for (unsigned int digit; (digit = digitValue(*++q)) <= 9;) {
    value = value * 10 + digit;
  }
  if (q - p > 9) {
    return kLeft;  // the value above may have wrapped
  }
  p = q;
  *out = value;
  return kMatched;
}

// Whether all eight bytes of a loadEight() result are decimal digits.
// Subtracting '0' sets a byte's high bit when the byte is below '0' (it
// borrows); adding 0x46 sets it when the byte is above '9'; a byte of 0x80
// or more has the high bit set in one of the two. Borrows and carries run
// only from a byte into the bytes above it, and only out of a byte that is
// no digit; so the lowest byte that is no digit always shows in its own high
// bit, and eight digits show none: the answer is exact.
bool eightDigits(uint64_t bytes) {
  return (((bytes + kAboveNineToHighBit) | (bytes - kZeroCharInEachByte)) & kHighBitOfEachByte) ==
         0;
}

// Whether c ends a plain decimal as readDouble reads it: not a digit, not
// a second point, not an exponent or a mark of hex. One test of a bit in a
// 128-bit set of the bytes that would continue one.
bool endsPlainDecimal(char c) {
  const unsigned int u = static_cast<unsigned char>(c);
  const uint64_t kBelow64 = 0x03FF400000000000ULL;  // '.' and '0' to '9'
  const uint64_t kFrom64 = 0x0101002001010020ULL;   // 'E' 'P' 'X' 'e' 'p' 'x'
  return u >= 128 || (((u < 64 ? kBelow64 : kFrom64) >> (u & 63)) & 1) == 0;
}

// strace's time stamp "1796584942.152349", ten digits and six decimals,
// read whole where the bytes up to end may be read; false for any other
// form, which readDouble then reads.
bool readTimeStamp(const char*& p, const char* end, double* out) {
  if (end - p < 18 || p[10] != '.') {
    return false;
  }
  const uint64_t high = loadEight(p);
  const uint64_t point = loadEight(p + 10);  // the point, six decimals, the next byte
  const uint64_t low = (loadEight(p + 8) & 0xFFFF) | ((point << 8) & ~0xFFFFULL);
  if (!eightDigits(high) || !eightDigits(low) ||
      !endsPlainDecimal(static_cast<char>(point >> 56))) {
    return false;
  }
  const uint64_t mantissa = valueOfEight(high) * 100000000 + valueOfEight(low);
  if (mantissa > (uint64_t(1) << 53)) {
    return false;
  }
  *out = static_cast<double>(mantissa) / 1e6;
  p += 17;
  return true;
}

// The same for strace's duration "0.000058": one digit and six decimals.
bool readDuration(const char*& p, const char* end, double* out) {
  if (end - p < 9 || p[1] != '.') {
    return false;
  }
  const uint64_t bytes = loadEight(p);
  const uint64_t digits = (bytes & ~0xFFFFULL) | ((bytes & 0xFF) << 8) | 0x30;  // "0" first
  if (!eightDigits(digits) || !endsPlainDecimal(p[8])) {
    return false;
  }
  *out = static_cast<double>(valueOfEight(digits)) / 1e6;
  p += 8;
  return true;
}

// "%lf" for plain decimals: digits, optionally a point and more digits, at
// most 18 digits in all and at most 2^53 without the point, so that the
// quotient of two exact doubles gives strtod's rounding. Where the caller
// knows that the bytes up to end may be read (end is not null), eight
// leading digits are taken in one step, and so are six decimals.
Step readDouble(const char*& p, const char* end, double* out) {
  skipSpace(p);
  const char first = *p;
  if (!isDigit(first)) {
    // Only these can begin a number for scanf: a sign, a point, inf, nan.
    bool maybeNumber = first == '+' || first == '-' || first == '.' || first == 'i' ||
                       first == 'I' || first == 'n' || first == 'N';
    return maybeNumber ? kLeft : kFailed;
  }
  // Whole and fractional digits in two chains the processor can overlap.
  // They wrap silently past 19 digits; such numbers are refused below.
  uint64_t whole = 0;
  const char* q = p;
  if (end != nullptr && end - q >= 8) {
    const uint64_t bytes = loadEight(q);
    if (eightDigits(bytes)) {
      whole = valueOfEight(bytes);
      q += 8;
    }
  }
  for (unsigned int digit; (digit = digitValue(*q)) <= 9; ++q) {
    whole = whole * 10 + digit;
  }
  size_t digits = static_cast<size_t>(q - p);
  size_t fraction = 0;
  uint64_t part = 0;
  if (*q == '.') {
    const char* point = q++;
    if (end != nullptr && end - point >= 8) {
      // Time stamps and durations carry six decimals: the point, those
      // and the byte after them are read in one step.
      const uint64_t bytes = loadEight(point);
      const uint64_t decimals = ((bytes << 8) & ~0xFFFFULL) | 0x3030;  // "00" and the six
      if (eightDigits(decimals) && digitValue(static_cast<char>(bytes >> 56)) > 9) {
        part = valueOfEight(decimals);
        q = point + 7;
      }
    }
    for (unsigned int digit; (digit = digitValue(*q)) <= 9; ++q) {
      part = part * 10 + digit;
    }
    fraction = static_cast<size_t>(q - point - 1);
    digits += fraction;
  }
  if (!endsPlainDecimal(*q) || digits > decimal::kMaxDigits ||
      !decimal::exactQuotient(whole * decimal::kTens[fraction] + part, fraction, out)) {
    return kLeft;
  }
  p = q;
  return kMatched;
}

// An ordinary format text: the same characters, exactly.
bool literal(const char*& p, const char* text, size_t length) {
  // Stops at the first difference: a NUL in p ends the comparison.
  for (size_t i = 0; i < length; ++i) {
    if (p[i] != text[i]) {
      return false;
    }
  }
  p += length;
  return true;
}

// A scanner's result where a step did not match: left to sscanf, or
// failed after the given number of conversions.
int stopAt(Step step, int assigned) {
  return step == kLeft ? kUndecided : assigned;
}

}  // namespace

const char kFtraceMarkerLine[] = "%*[^-]-%u %*[^]]] %*s %lf: tracing_mark_write: %512[^\n]";
const char kStracePidLine[] = "[pid %u] %lf %512[^\n]";
const char kStraceIdLine[] = "%u %lf %512[^\n]";
const char kStraceResumed[] = "%*[^<]<%lf>";
const char kStraceLocation[] = "%*[[[ ]%32[^]]] %512[^\n]";
const char kStraceFinished[] = "%512[^(]%*[^<]<%lf>";
const char kStraceUnfinished[] = "%512[^(]%*[^<]<unfin%*[^>]%c";

int ftraceMarkerLine(const char* line, size_t length, bool noLineFeed, const char* end,
                     unsigned int* tid, double* time, const char** marker, size_t* markerLength) {
  const char* p = line;
  if (!skipUntil(p, '-', end) || *p++ != '-') {
    return 0;
  }
  if (Step step = readUnsigned(p, tid); step != kMatched) {
    return stopAt(step, 0);
  }
  skipSpace(p);
  if (!skipUntil(p, ']', end) || *p++ != ']') {
    return 1;
  }
  skipSpace(p);
  const char* word = p;
  while (*p != '\0' && !isSpace(*p)) {
    ++p;
  }
  if (p == word) {
    return 1;
  }
  skipSpace(p);
  // Most lines of a trace are other events: where the time stamp is plain
  // digits, its value is gathered while it is skipped, and divided only
  // once the event's name shows a marker.
  bool converted = false;
  uint64_t mantissa = UINT64_MAX;  // the digits where readDouble would take them
  size_t fraction = 0;
  if (isDigit(*p)) {
    const char* q = p;
    uint64_t whole = 0;  // wraps past 19 digits: such numbers are not exact
    for (unsigned int digit; (digit = digitValue(*q)) <= 9; ++q) {
      whole = whole * 10 + digit;
    }
    size_t digits = static_cast<size_t>(q - p);
    uint64_t part = 0;
    if (*q == '.') {
      const char* point = q++;
      for (unsigned int digit; (digit = digitValue(*q)) <= 9; ++q) {
        part = part * 10 + digit;
      }
      fraction = static_cast<size_t>(q - point - 1);
      digits += fraction;
    }
    if (!endsPlainDecimal(*q)) {
      if (Step step = readDouble(p, end, time); step != kMatched) {
        return stopAt(step, 1);
      }
      converted = true;
    } else {
      // The limits of readDouble, which leaves other numbers to sscanf.
      if (digits <= decimal::kMaxDigits) {
        mantissa = whole * decimal::kTens[fraction] + part;
      }
      p = q;
    }
  } else if (Step step = readDouble(p, end, time); step != kMatched) {
    return stopAt(step, 1);
  } else {
    converted = true;
  }
  const int failed = converted ? 2 : kNotMarker;
  if (*p++ != ':') {
    return failed;
  }
  skipSpace(p);
  static const char kEvent[] = "tracing_mark_write:";
  const size_t kEventLength = sizeof kEvent - 1;
  if (end - p < static_cast<ptrdiff_t>(kEventLength) || std::memcmp(p, kEvent, kEventLength) != 0) {
    return failed;  // a NUL in the line differs from every character of the name
  }
  p += kEventLength;
  if (!converted) {
    if (!decimal::exactQuotient(mantissa, fraction, time)) {
      return kUndecided;
    }
  }
  skipSpace(p);
  // The text runs to the first NUL, which is at line[length] at the latest.
  const size_t left = static_cast<size_t>(line + length - p);
  size_t size = left <= 64 ? static_cast<size_t>(findOrNul(p, end, '\0') - p)
                           : strnlen(p, left < 512 ? left : 512);
  if (!noLineFeed) {
    const char* lineFeed = static_cast<const char*>(std::memchr(p, '\n', size));
    size = lineFeed != nullptr ? static_cast<size_t>(lineFeed - p) : size;
  }
  if (size == 0) {
    return 2;
  }
  *marker = p;
  *markerLength = size;
  return 3;
}

int straceLine(const char* line, size_t length, bool pidForm, bool noLineFeed, const char* end,
               unsigned int* tid, double* time, char* restBuffer, const char** rest) {
  const char* p = line;
  const char* const lineEnd = line + length + 1;  // past the NUL after the line
  if (pidForm) {
    if (!literal(p, "[pid", 4)) {
      return 0;
    }
    skipSpace(p);
  }
  if (Step step = readUnsigned(p, tid); step != kMatched) {
    return stopAt(step, 0);
  }
  if (pidForm && *p++ != ']') {
    return 1;
  }
  skipSpace(p);
  if (!readTimeStamp(p, end, time)) {
    if (Step step = readDouble(p, end, time); step != kMatched) {
      return stopAt(step, 1);
    }
  }
  skipSpace(p);
  const char* start = p;
  if (noLineFeed && lineEnd - p <= 513) {
    // Up to 512 characters to the line's end and no line feed: the copy
    // would be the text as it stands, to its first NUL.
    if (*p == '\0') {
      return 2;
    }
    *rest = p;
    return 3;
  }
  const size_t restLength = lengthUntil(p, '\n', 512);
  if (restLength == 0) {
    return 2;
  }
  if (*p == '\0') {
    *rest = start;  // the copy would end where the line does
  } else {
    std::memcpy(restBuffer, start, restLength);
    restBuffer[restLength] = '\0';
    *rest = restBuffer;
  }
  return 3;
}

int straceResumed(const char* p, const char* end, double* duration) {
  if (!skipUntil(p, '<') || *p++ != '<') {
    return 0;
  }
  if (end == nullptr || !readDuration(p, end, duration)) {
    if (Step step = readDouble(p, end, duration); step != kMatched) {
      return stopAt(step, 0);
    }
  }
  return 1;
}

int straceLocation(const char* p, char* location, char* call) {
  const char* start = p;
  while (*p == '[' || *p == ' ') {
    ++p;
  }
  if (p == start || !copyUntil(p, ']', location, 32)) {
    return 0;
  }
  if (*p++ != ']') {
    return 1;
  }
  skipSpace(p);
  return copyUntil(p, '\n', call, 512) ? 2 : 1;
}

int straceFinished(const char* p, const char* end, const char** name, size_t* nameLength,
                   double* duration, const char* mark) {
  *name = p;
  *nameLength = nameUntilParenthesis(p, end);
  if (*nameLength == 0) {
    return 0;
  }
  // strchrnul from p finds the mark itself where the mark lies at p or behind.
  const char* open = mark != nullptr && mark >= p ? mark : findOrNul(p, nullptr, '<');
  if (open == p || *open != '<') {
    return 1;
  }
  p = open + 1;
  if (end == nullptr || !readDuration(p, end, duration)) {
    if (Step step = readDouble(p, end, duration); step != kMatched) {
      return stopAt(step, 1);
    }
  }
  return 2;
}

int straceUnfinished(const char* p, const char** name, size_t* nameLength, char* closing) {
  *name = p;
  *nameLength = nameUntilParenthesis(p, nullptr);
  if (*nameLength == 0) {
    return 0;
  }
  if (!skipUntil(p, '<') || *p++ != '<' || !literal(p, "unfin", 5) || !skipUntil(p, '>') ||
      *p == '\0') {
    return 1;
  }
  *closing = *p;
  return 2;
}

}  // namespace scan
}  // namespace orvel
