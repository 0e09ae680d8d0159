#include "report/SpanReport.h"

#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "io/WholeFile.h"
#include "json/Decimal.h"
#include "report/TextTable.h"

namespace orvel {

namespace {

// Reads the report's JSON in one pass, building the report as it goes. A
// report is a fixed shape, so this reader knows what comes next and says
// what it found instead.
class Reader {
 public:
  // Reads the report that begins at byte from, after white space.
  Reader(const std::string& text, size_t from, bool first, SpanReport* report)
      : text(text), report(report), at(from), first(first) {}

  bool read(std::string* error);
  // Where the report ended, after the white space that follows it.
  size_t end() {
    skipSpace();
    return at;
  }

 private:
  bool fail(const std::string& what) {
    if (problem.empty()) {
      problem = what;
    }
    return false;
  }
  bool notJson(const std::string& expected) {
    return fail("not JSON: expected " + expected + " at byte " + std::to_string(at));
  }

  void skipSpace() {
    while (at < text.size() &&
           (text[at] == ' ' || text[at] == '\n' || text[at] == '\r' || text[at] == '\t')) {
      ++at;
    }
  }
  // Takes c after white space.
  bool take(char c) {
    skipSpace();
    if (at < text.size() && text[at] == c) {
      ++at;
      return true;
    }
    return false;
  }
  bool expect(char c) { return take(c) || notJson(std::string("'") + c + "'"); }
  // After one element of a container: true with more set when a comma
  // follows, true with more clear at the closing character.
  bool next(char closing, bool* more) {
    if (take(',')) {
      *more = true;
      return true;
    }
    *more = false;
    return take(closing) || notJson(std::string("',' or '") + closing + "'");
  }

  bool string(std::string* out);
  bool hex4(unsigned* value);
  bool number(double* out);
  bool integer(long long* out, bool* beyond = nullptr);
  bool skipValue(int depth);

  // The members of the report, and of each thread.
  bool sections();
  bool pcs();
  bool threads();
  bool thread(SpanReport::Thread* thread);
  bool row(SpanReport::Thread* thread);

  const std::string& text;
  SpanReport* report;
  size_t at;
  const bool first;
  std::string problem;
};

// Text from the report as a message quotes it: a label may be megabytes
// long and hold line feeds, and a message is one line of a few dozen bytes.
std::string quoted(const std::string& text) {
  const size_t kMost = 32;
  return "\"" + printable(text.substr(0, kMost)) + (text.size() > kMost ? "...\"" : "\"");
}

// The thread labels of a report, as numbers: of at most ten digits and
// with no leading zero, two labels are the same exactly when their numbers
// are. A report may have a million threads, so the set is one array with
// open addressing, 16 to 32 bytes a label and no allocation per label.
class LabelSet {
 public:
  // Adds label; false when it is there already.
  bool insert(uint64_t label) {
    if (2 * (count + 1) > slots.size()) {
      std::vector<uint64_t> old(slots.empty() ? 16 : 2 * slots.size(), 0);
      old.swap(slots);
      shift = old.empty() ? 60 : shift - 1;
      for (uint64_t value : old) {
        if (value != 0) {
          place(value);
        }
      }
    }
    if (!place(label + 1)) {
      return false;
    }
    ++count;
    return true;
  }

 private:
  // Stores value, a label plus one (0 marks a free slot), unless it is
  // there already. Its slot is the top bits of a Fibonacci hash, or the
  // first free one after.
  bool place(uint64_t value) {
    const size_t mask = slots.size() - 1;
    for (size_t i = static_cast<size_t>((value * 0x9E3779B97F4A7C15u) >> shift);;
         i = (i + 1) & mask) {
      if (slots[i] == value) {
        return false;
      }
      if (slots[i] == 0) {
        slots[i] = value;
        return true;
      }
    }
  }

  std::vector<uint64_t> slots;  // a power of two of them, at most half in use
  size_t count = 0;
  unsigned shift = 0;  // 64 less the bits of a slot's index
};

void appendUtf8(unsigned code, std::string* out) {
  if (code < 0x80) {
    out->push_back(static_cast<char>(code));
  } else if (code < 0x800) {
    out->push_back(static_cast<char>(0xC0 | code >> 6));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else if (code < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | code >> 12));
    out->push_back(static_cast<char>(0x80 | (code >> 6 & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | code >> 18));
    out->push_back(static_cast<char>(0x80 | (code >> 12 & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code >> 6 & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

bool Reader::hex4(unsigned* value) {
  if (text.size() - at < 4) {
    return notJson("four hex digits");
  }
  *value = 0;
  for (int i = 0; i < 4; ++i) {
    const char c = text[at++];
    const unsigned digit = c >= '0' && c <= '9'   ? c - '0'
                           : c >= 'a' && c <= 'f' ? c - 'a' + 10
                           : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                  : 16;
    if (digit == 16) {
      --at;
      return notJson("a hex digit");
    }
    *value = *value << 4 | digit;
  }
  return true;
}

// Any byte but a quote or a backslash stands for itself: spanmill passes
// control bytes and bytes that are not UTF-8 through as they are.
bool Reader::string(std::string* out) {
  if (!take('"')) {
    return notJson("a string");
  }
  out->clear();
  for (;;) {
    const size_t run = text.find_first_of("\"\\", at);
    if (run == std::string::npos) {
      at = text.size();
      return notJson("the end of a string");
    }
    out->append(text, at, run - at);
    at = run + 1;
    if (text[run] == '"') {
      return true;
    }
    if (at == text.size()) {
      return notJson("an escape");
    }
    const char escape = text[at++];
    static const char kEscapes[] = "\"\\/bfnrt";
    static const char kMeanings[] = "\"\\/\b\f\n\r\t";
    if (const char* found = std::strchr(kEscapes, escape); found != nullptr && escape != '\0') {
      out->push_back(kMeanings[found - kEscapes]);
      continue;
    }
    if (escape != 'u') {
      --at;
      return notJson("an escape");
    }
    unsigned code;
    if (!hex4(&code)) {
      return false;
    }
    // A surrogate pair makes one character; a lone half is replaced.
    if (code >= 0xD800 && code < 0xDC00 && text.compare(at, 2, "\\u") == 0) {
      const size_t pair = at;
      at += 2;
      unsigned low;
      if (!hex4(&low)) {
        return false;
      }
      if (low >= 0xDC00 && low < 0xE000) {
        code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
      } else {
        at = pair;
      }
    }
    appendUtf8(code >= 0xD800 && code < 0xE000 ? 0xFFFD : code, out);
  }
}

// A JSON number, as strtod reads it once its grammar is checked.
bool Reader::number(double* out) {
  skipSpace();
  const size_t start = at;
  if (at < text.size() && text[at] == '-') {
    ++at;
  }
  auto digits = [this] {
    const size_t from = at;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
      ++at;
    }
    return at > from;
  };
  if (!digits()) {
    at = start;
    return notJson("a number");
  }
  if (at < text.size() && text[at] == '.') {
    ++at;
    if (!digits()) {
      return notJson("a digit");
    }
  }
  if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
    ++at;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
      ++at;
    }
    if (!digits()) {
      return notJson("a digit");
    }
  }
  // Plain decimals, as spanmill writes start times, are read exactly
  // without strtod; other checked tokens go to strtod, which stops where
  // they end.
  uint64_t mantissa = 0;
  size_t count = 0;
  size_t decimals = 0;
  bool plain = true;
  for (size_t i = text[start] == '-' ? start + 1 : start; i < at && plain; ++i) {
    if (text[i] == '.') {
      decimals = 1;
    } else if (text[i] >= '0' && text[i] <= '9' && count < decimal::kMaxDigits) {
      mantissa = mantissa * 10 + static_cast<unsigned>(text[i] - '0');
      count += 1;
      decimals += decimals > 0;
    } else {
      plain = false;  // an exponent, or too many digits
    }
  }
  double value;
  if (plain && decimal::exactQuotient(mantissa, decimals > 0 ? decimals - 1 : 0, &value)) {
    *out = text[start] == '-' ? -value : value;
  } else {
    *out = std::strtod(text.c_str() + start, nullptr);
  }
  return true;
}

// A JSON integer that a long long holds. False with at unmoved where there
// is none, and false with beyond set (when given) and at past the digits
// where there is one that does not fit.
bool Reader::integer(long long* out, bool* beyond) {
  skipSpace();
  const size_t start = at;
  const bool negative = at < text.size() && text[at] == '-';
  at += negative;
  const size_t first = at;
  // The magnitude may reach 2^63 below zero, 2^63 - 1 above.
  const unsigned long long most = static_cast<unsigned long long>(LLONG_MAX) + negative;
  unsigned long long value = 0;
  bool fits = true;
  for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
    const unsigned digit = static_cast<unsigned>(text[at] - '0');
    fits = fits && value <= (most - digit) / 10;
    value = fits ? value * 10 + digit : value;
  }
  if (at == first) {
    at = start;
    return false;
  }
  if (!fits) {
    if (beyond != nullptr) {
      *beyond = true;
    }
    return false;
  }
  *out = negative && value > 0 ? -static_cast<long long>(value - 1) - 1
                               : static_cast<long long>(value);
  return true;
}

// Members the report does not have are passed over, whatever they hold.
bool Reader::skipValue(int depth) {
  if (depth > 256) {
    return fail("not JSON: nested too deeply at byte " + std::to_string(at));
  }
  skipSpace();
  if (at == text.size()) {
    return notJson("a value");
  }
  const char c = text[at];
  if (c == '"') {
    std::string ignored;
    return string(&ignored);
  }
  if (c == '{' || c == '[') {
    const char closing = c == '{' ? '}' : ']';
    ++at;
    if (take(closing)) {
      return true;
    }
    for (bool more = true; more;) {
      if (c == '{') {
        std::string ignored;
        if (!string(&ignored) || !expect(':')) {
          return false;
        }
      }
      if (!skipValue(depth + 1) || !next(closing, &more)) {
        return false;
      }
    }
    return true;
  }
  for (const char* word : {"true", "false", "null"}) {
    if (text.compare(at, std::strlen(word), word) == 0) {
      at += std::strlen(word);
      return true;
    }
  }
  double ignored;
  return number(&ignored);
}

bool Reader::sections() {
  if (!expect('[')) {
    return false;
  }
  if (take(']')) {
    return true;
  }
  for (bool more = true; more;) {
    report->sections.emplace_back();
    if (!string(&report->sections.back()) || !next(']', &more)) {
      return false;
    }
  }
  return true;
}

bool Reader::pcs() {
  if (!expect('[')) {
    return false;
  }
  if (take(']')) {
    return true;
  }
  for (bool more = true; more;) {
    SpanReport::Pc pc;
    long long name;
    if (!expect('[') || !string(&pc.location) || !expect(',')) {
      return false;
    }
    if (!integer(&name) || name < 0 || name > UINT32_MAX) {
      return fail("\"pc\" row " + std::to_string(report->pcs.size()) +
                  " has no section index at byte " + std::to_string(at));
    }
    pc.nameIndex = static_cast<uint32_t>(name);
    report->pcs.push_back(std::move(pc));
    if (!expect(']') || !next(']', &more)) {
      return false;
    }
  }
  return true;
}

bool Reader::row(SpanReport::Thread* thread) {
  SpanReport::Span span;
  long long pc;
  const size_t start = at;
  auto spanFails = [&](const char* what, size_t where) {
    problem.clear();
    return fail("thread " + thread->tid + ": span " + std::to_string(thread->spans.size()) + " " +
                what + " at byte " + std::to_string(where));
  };
  const char* const kNotThree = "is not three numbers (start, microseconds, pc row)";
  if (!take('[')) {
    return spanFails(kNotThree, start);
  }
  skipSpace();
  const size_t time = at;
  if (!number(&span.start)) {
    return spanFails(kNotThree, start);
  }
  // Exports write the start in microseconds; past 2^53 of them a double
  // no longer holds every one, and past a double's range none at all.
  if (!(std::fabs(span.start * 1e6) <= 9007199254740992.0)) {
    return spanFails("starts at a time that cannot be held to the microsecond", time);
  }
  if (!take(',')) {
    return spanFails(kNotThree, start);
  }
  skipSpace();
  const size_t duration = at;
  bool beyond = false;
  if (!integer(&span.micros, &beyond)) {
    return spanFails(beyond ? "has a duration beyond 64 bits" : kNotThree,
                     beyond ? duration : start);
  }
  if (!take(',') || !integer(&pc) || !take(']')) {
    return spanFails(kNotThree, start);
  }
  if (pc < 0 || static_cast<unsigned long long>(pc) >= report->pcs.size()) {
    return fail("thread " + thread->tid + ": span " + std::to_string(thread->spans.size()) +
                " refers to \"pc\" row " + std::to_string(pc) + " of " +
                std::to_string(report->pcs.size()));
  }
  span.pc = static_cast<uint32_t>(pc);
  thread->spans.push_back(span);
  return true;
}

bool Reader::thread(SpanReport::Thread* thread) {
  if (!expect('{')) {
    return false;
  }
  bool trace = false;
  if (!take('}')) {
    for (bool more = true; more;) {
      std::string key;
      if (!string(&key) || !expect(':')) {
        return false;
      }
      if (key == "trace" && trace) {
        return fail("\"trace\" appears twice in thread " + thread->tid);
      }
      if (key == "trace") {
        trace = true;
        if (!expect('[')) {
          return false;
        }
        // Room for the rows at once where spanmill's compact form tells
        // where the trace ends, "]]}": no row is shorter than "[0,0,0],".
        // Rows hold no '}', so the search stops at this thread's end and
        // reading stays linear in the threads, however the report is laid
        // out. Other layouts, whose rows are longer, get no guess.
        const size_t end = text.find('}', at);
        if (end != std::string::npos && end - at >= 2 && text.compare(end - 2, 2, "]]") == 0) {
          thread->spans.reserve((end - at) / 8 + 1);
        }
        if (!take(']')) {
          for (bool rows = true; rows;) {
            if (!row(thread) || !next(']', &rows)) {
              return false;
            }
          }
        }
      } else if (!skipValue(0)) {
        return false;
      }
      if (!next('}', &more)) {
        return false;
      }
    }
  }
  return trace || fail("thread " + thread->tid + " has no \"trace\"");
}

bool Reader::threads() {
  if (!expect('{')) {
    return false;
  }
  if (take('}')) {
    return true;
  }
  LabelSet labels;
  for (bool more = true; more;) {
    SpanReport::Thread thread;
    if (!string(&thread.tid) || !expect(':')) {
      return false;
    }
    if (thread.tid.empty() || thread.tid.size() > 10 ||
        thread.tid.find_first_not_of("0123456789") != std::string::npos) {
      return fail("thread label " + quoted(thread.tid) + " is not a thread id");
    }
    // Exports write the label as a JSON number, which has no leading zero.
    if (thread.tid.size() > 1 && thread.tid[0] == '0') {
      return fail("thread label " + quoted(thread.tid) + " has a leading zero");
    }
    uint64_t label = 0;
    for (char digit : thread.tid) {
      label = label * 10 + static_cast<unsigned>(digit - '0');
    }
    if (!labels.insert(label)) {
      return fail("thread " + thread.tid + " appears twice");
    }
    if (!this->thread(&thread)) {
      return false;
    }
    report->threads.push_back(std::move(thread));
    if (!next('}', &more)) {
      return false;
    }
  }
  return true;
}

bool Reader::read(std::string* error) {
  bool seen[3] = {false, false, false};  // sections, pc, threads
  skipSpace();
  const size_t start = at;
  bool ok = expect('{');
  if (ok && !take('}')) {
    for (bool more = true; ok && more;) {
      std::string key;
      ok = string(&key) && expect(':');
      if (!ok) {
        break;
      }
      // A member given twice would add its rows to the first one's.
      const bool twice = (key == "sections" && seen[0]) || (key == "pc" && seen[1]) ||
                         (key == "threads" && seen[2]);
      // "pc" rows are checked against "sections", and spans against "pc",
      // so a report must name them in that order, as spanmill writes them.
      if (twice) {
        ok = fail("\"" + key + "\" appears twice");
      } else if (key == "sections") {
        seen[0] = true;
        ok = sections();
      } else if (key == "pc") {
        ok = seen[0] ? (seen[1] = true, pcs()) : fail("\"pc\" before \"sections\"");
      } else if (key == "threads") {
        ok = seen[1] ? (seen[2] = true, threads()) : fail("\"threads\" before \"pc\"");
      } else {
        ok = skipValue(0);
      }
      ok = ok && next('}', &more);
    }
  }
  const char* names[3] = {"sections", "pc", "threads"};
  for (int i = 0; ok && i < 3; ++i) {
    if (!seen[i]) {
      ok = fail(std::string("missing \"") + names[i] + "\"");
    }
  }
  for (size_t i = 0; ok && i < report->pcs.size(); ++i) {
    if (report->pcs[i].nameIndex >= report->sections.size()) {
      ok = fail("\"pc\" row " + std::to_string(i) + " refers to section " +
                std::to_string(report->pcs[i].nameIndex) + " of " +
                std::to_string(report->sections.size()));
    }
  }
  if (!ok) {
    // Past the first report of a text, a problem that names no place
    // names where its report begins.
    if (!first && problem.find(" at byte ") == std::string::npos) {
      problem += " in the report at byte " + std::to_string(start);
    }
    *error = problem;
  }
  return ok;
}

}  // namespace

bool readSpanReports(const std::string& text, std::vector<SpanReport>* reports, std::string* error,
                     size_t* failed) {
  const size_t before = reports->size();
  size_t at = 0;
  do {
    reports->emplace_back();
    *failed = reports->size() - before;
    Reader reader(text, at, *failed == 1, &reports->back());
    if (!reader.read(error)) {
      return false;
    }
    at = reader.end();
  } while (at < text.size() && text[at] == '{');
  if (at != text.size()) {
    *error = "not JSON: text after the report at byte " + std::to_string(at);
    return false;
  }
  return true;
}

bool loadSpanReports(const std::string& path, std::vector<SpanReport>* reports, std::string* error,
                     size_t* failed) {
  std::string text;
  bool opened;  // the system's text tells a missing file apart
  const int unread = path == "-" ? readAll(0, &text) : readWholeFile(path.c_str(), &text, &opened);
  if (unread != 0) {
    *failed = 1;
    *error = std::string("cannot read: ") + std::strerror(unread);
    return false;
  }
  return readSpanReports(text, reports, error, failed);
}

}  // namespace orvel
