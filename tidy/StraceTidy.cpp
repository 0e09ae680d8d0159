#include "tidy/StraceTidy.h"

#include <string.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "tidy/Text.h"

namespace orvel {

namespace {

const std::string_view kUnfinished = " <unfinished ...>";
const std::string_view kResumed = "<...";

// Whether text begins with the literal prefix, compared with a constant
// size so that the compiler inlines it.
template <size_t N>
bool startsWith(std::string_view text, const char (&prefix)[N]) {
  return text.size() >= N - 1 && std::memcmp(text.data(), prefix, N - 1) == 0;
}

// A thread id as a number, for looking it up; the empty id (not known
// yet) is one no thread has.
uint64_t threadKey(std::string_view id) {
  if (id.empty()) {
    return UINT64_MAX;
  }
  size_t at = 0;
  return readNumber(id, &at);
}

// The ends of calls split in two, compared with constant sizes so that
// the compiler inlines them.
bool endsUnfinished(std::string_view call) {
  return call.size() >= 16 && call.back() == '>' &&
         std::memcmp(call.data() + call.size() - 16, "<unfinished ...>", 16) == 0;
}

bool startsResumed(std::string_view call) {
  return call.size() >= 4 && std::memcmp(call.data(), "<...", 4) == 0;
}

// The end of a time stamp that starts at `at`: "digits[.digits]" as -ttt
// writes it, or "HH:MM:SS[.digits]" as -tt and -t; *form tells which.
size_t timeEnd(std::string_view text, size_t at, StracePrefix::TimeForm* form) {
  size_t end = digitsEnd(text, at);
  *form = end == at ? StracePrefix::kNone : StracePrefix::kSeconds;
  if (end == at + 2 && end < text.size() && text[end] == ':') {
    const bool clock = digitsEnd(text, at + 3) == at + 5 && text.substr(at + 5, 1) == ":" &&
                       digitsEnd(text, at + 6) == at + 8;
    *form = clock ? StracePrefix::kClock : StracePrefix::kNone;
    end = at + 8;
  }
  if (*form != StracePrefix::kNone && end < text.size() && text[end] == '.') {
    const size_t fraction = digitsEnd(text, end + 1);
    *form = fraction > end + 1 ? *form : StracePrefix::kNone;
    end = fraction;
  }
  return end;
}

// One past the '>' that closes the annotation opened at text[at], where
// '<' and '>' nest and brackets hold addresses such as "1.2.3.4:5->6.7.8.9:10".
size_t annotationEnd(std::string_view text, size_t at) {
  int depth = 0;
  for (; at < text.size(); ++at) {
    const char c = text[at];
    if (c == '[') {
      const size_t close = text.find(']', at);
      at = close == std::string_view::npos ? text.size() - 1 : close;
    } else if (c == '<') {
      ++depth;
    } else if (c == '>' && --depth == 0) {
      return at + 1;
    }
  }
  return text.size();
}

// Whether the ')' at close is followed by a result: blanks, '=', a blank
// (strace pads results to a column).
bool resultFollows(std::string_view call, size_t close) {
  const size_t equals = skipBlanks(call, close + 1);
  return equals > close + 1 && equals + 1 < call.size() && call[equals] == '=' &&
         call[equals + 1] == ' ';
}

// The last position at or before `at` that is not a blank, or 0. strace
// pads results to a column, so there may be dozens. With SSE2 the 32
// bytes up to `at` are looked at in one step, with no loop whose end
// depends on how many blanks there are (a branch guessed wrong about one
// line in three); otherwise, and beyond, eight bytes a step.
size_t lastNonBlank(std::string_view text, size_t at) {
#if defined(__SSE2__)
  if (at >= 32) {
    const __m128i blanks = _mm_set1_epi8(' ');
    const char* last = text.data() + at;  // at - 31 .. at, at in the highest bit
    const unsigned int low = static_cast<unsigned int>(_mm_movemask_epi8(
        _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(last - 31)), blanks)));
    const unsigned int high = static_cast<unsigned int>(_mm_movemask_epi8(
        _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(last - 15)), blanks)));
    const unsigned int other = ~(low | high << 16);
    if (other != 0) {
      return at - static_cast<size_t>(__builtin_clz(other));
    }
    at -= 32;
  }
#endif
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  for (; at >= 8; at -= 8) {
    uint64_t eight;  // text[at - 7 .. at], text[at] in the highest byte
    std::memcpy(&eight, text.data() + at - 7, 8);
    const uint64_t other = eight ^ 0x2020202020202020u;  // zero where a blank is
    if (other != 0) {
      return at - static_cast<size_t>(__builtin_clzll(other)) / 8;
    }
  }
#endif
  while (at > 0 && text[at] == ' ') {
    --at;
  }
  return at;
}

// The ')' before the '=' at call[at] where that '=' opens a result: " = "
// with blanks between it and the ')'; npos where it does not.
size_t resultBefore(std::string_view call, size_t at) {
  if (at > 2 && call[at - 1] == ' ' && at + 1 < call.size() && call[at + 1] == ' ') {
    const size_t close = lastNonBlank(call, at - 1);
    if (call[close] == ')') {
      return close;
    }
  }
  return std::string_view::npos;
}

// The ')' that closes a call's arguments before its result, the last one
// before `before`; npos when there is none.
size_t resultStart(std::string_view call, size_t before) {
  for (size_t at = std::min(before, call.size()); at > 2;) {
    const char* equals = static_cast<const char*>(memrchr(call.data(), '=', at));
    if (equals == nullptr) {
      break;
    }
    at = static_cast<size_t>(equals - call.data());
    const size_t close = resultBefore(call, at);
    if (close != std::string_view::npos) {
      return close;
    }
  }
  return std::string_view::npos;
}

#if defined(__SSE2__)
// The last '=' in the `length` bytes at text, or null, and whether a '"'
// follows it there (or, with no '=', is anywhere there). One pass from the
// end, sixteen bytes a step: most results lie within them.
const char* lastEquals(const char* text, size_t length, bool* quoted) {
  const __m128i equals = _mm_set1_epi8('=');
  const __m128i quotes = _mm_set1_epi8('"');
  const char* end = text + length;
  bool quote = false;
  for (; end - text >= 16; end -= 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(end - 16));
    const unsigned int found =
        static_cast<unsigned int>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, equals)));
    const unsigned int quoteFound =
        static_cast<unsigned int>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, quotes)));
    if (found != 0) {
      const int last = 31 - __builtin_clz(found);
      *quoted = quote || (quoteFound >> last) != 0;
      return end - 16 + last;
    }
    quote = quote || quoteFound != 0;
  }
  for (; end > text; --end) {
    if (end[-1] == '=') {
      *quoted = quote;
      return end - 1;
    }
    quote = quote || end[-1] == '"';
  }
  *quoted = quote;
  return nullptr;
}
#endif

// Where spanmill looks for the duration of call: its first '<' behind
// the name (behind the resumed marker for resumed calls), or npos. mark is
// the line's Line::mark or null; where it does not tell (it is not known,
// lies before the part searched, or is a NUL in the call), it is searched.
size_t durationOpen(std::string_view call, bool resumed, const char* mark) {
  const char* from = call.data() + (resumed ? 1 : 0);
  const char* callEnd = call.data() + call.size();
  if (mark == nullptr || mark < from || (mark < callEnd && *mark != '<')) {
    return call.find('<', resumed ? 1 : 0);
  }
  return mark < callEnd ? static_cast<size_t>(mark - call.data()) : std::string_view::npos;
}

// Whether call ends at `open` with a duration as strace writes one below
// ten seconds, "<D.DDDDDD>": then no '<', '=' or '"' follows open, and the
// searches for them may stop there.
bool shortDurationAt(std::string_view call, size_t open) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  if (open == std::string_view::npos || open + 10 != call.size() || call[open + 2] != '.' ||
      call.back() != '>') {
    return false;
  }
  uint64_t bytes;  // "D.DDDDDD", the point made a '0'
  std::memcpy(&bytes, call.data() + open + 1, 8);
  bytes = (bytes & ~uint64_t{0xFF00}) | 0x3000;
  return digitsEnd(std::string_view(reinterpret_cast<const char*>(&bytes), 8), 0) == 8;
#else
  (void)call;
  (void)open;
  return false;
#endif
}

// Whether spanmill finds the duration of call where it looks (at `open`,
// durationOpen's answer), or finds none in a call that has none: a call's
// last "<...>" ends the line, and no '<' comes before it.
bool durationFoundFirst(std::string_view call, bool resumed, size_t open, bool shortDuration) {
  if (open == std::string_view::npos) {
    return true;
  }
  const bool last =
      shortDuration || memrchr(call.data() + open, '<', call.size() - open) == call.data() + open;
  return last && call.back() == '>' && (resumed || std::memchr(call.data(), '(', open) != nullptr);
}

bool durationFoundFirst(std::string_view call, bool resumed) {
  return durationFoundFirst(call, resumed, durationOpen(call, resumed, nullptr), false);
}

// call with its arguments cut so that it fits in budget bytes and holds no
// '<' before the duration: the name, the start of the arguments, "...",
// and the result with the duration.
void shortenArguments(std::string_view call, bool resumed, size_t budget, std::string* out) {
  const size_t opened = resumed ? call.find('>') : call.find('(');
  const size_t last = call.rfind('<');
  if (opened == std::string_view::npos || last == std::string_view::npos || last <= opened) {
    out->assign(call);
    return;
  }
  const size_t argumentsStart = opened + 1;
  size_t suffix = last - 1;  // the blank before the last "<...>"
  if (call.substr(suffix) != kUnfinished) {
    const size_t result = resultStart(call, last);
    suffix = result != std::string_view::npos && result >= argumentsStart ? result : suffix;
  }
  suffix = std::max(suffix, argumentsStart);
  const std::string_view arguments = call.substr(argumentsStart, suffix - argumentsStart);
  const size_t fixed = argumentsStart + 3 + (call.size() - suffix);
  size_t keep = budget > fixed ? budget - fixed : 0;
  keep = std::min(keep, arguments.find('<'));
  out->assign(call.substr(0, argumentsStart));
  out->append(arguments.substr(0, keep));
  if (keep < arguments.size()) {
    out->append("...");
  }
  out->append(call.substr(suffix));
}

// False for a line that is not strace's: a message, or the program's output.
bool splitPrefix(std::string_view text, StracePrefix* prefix) {
  size_t at = 0;
  // One at a time: a chained assignment copies one view from the other just
  // written, a load the processor cannot forward from the two stores.
  prefix->id = std::string_view();
  prefix->pid = std::string_view();
  if (startsWith(text, "[pid")) {
    // The id's digits end at the ']': before them are only "[pid" and blanks.
    const size_t digits = skipBlanks(text, 4);
    const size_t close = digitsEnd(text, digits);
    if (close == digits || close == text.size() || text[close] != ']') {
      return false;
    }
    prefix->id = text.substr(0, close + 1);
    prefix->pid = text.substr(digits, close - digits);
    prefix->idKey = close >= 8 && close - digits <= 8
                        ? digitsBefore(text.data() + close, close - digits)
                        : threadKey(prefix->pid);
    at = skipBlanks(text, close + 1);
  } else {
    const size_t end = digitsEnd(text, 0);
    if (end > 0 && end < text.size() && text[end] == ' ') {
      prefix->id = text.substr(0, end);
      prefix->idKey =
          end <= 8 && text.size() >= 8 ? digitsFrom(text.data(), end) : threadKey(prefix->id);
      at = skipBlanks(text, end);
    }
  }
  const size_t end = timeEnd(text, at, &prefix->form);
  if (prefix->form == StracePrefix::kNone || end >= text.size() || text[end] != ' ') {
    return false;
  }
  prefix->time = text.substr(at, end - at);
  const std::string_view rest = text.substr(skipBlanks(text, end));
  prefix->rest = rest;
  prefix->location = std::string_view();
  prefix->call = rest;
  if (!rest.empty() && rest[0] == '[') {
    const size_t close = rest.find(']');
    if (close != std::string_view::npos) {
      prefix->location = rest.substr(0, close + 1);
      prefix->call = rest.substr(skipBlanks(rest, close + 1));
    }
  }
  return true;
}

bool isCall(std::string_view call) {
  return startsResumed(call) || (call.find('(') != std::string_view::npos &&
                                 !startsWith(call, "---") && !startsWith(call, "+++"));
}

// Whether a call's line is all there: it has its result, or it ends with
// "<unfinished ...>". A result is looked for outside quoted strings, which
// come before it. The bytes from `searched` on hold no '=' or '"'.
bool complete(std::string_view call, size_t searched) {
  if (endsUnfinished(call)) {
    return true;
  }
  bool quoted = true;
  size_t result = std::string_view::npos;
  size_t before = searched;  // where the search for a result goes on
#if defined(__SSE2__)
  // Most often the last '=' opens the result: then only blanks lie between
  // the result's ')' and it, and one pass finds both it and any '"' after.
  const char* equals = lastEquals(call.data(), searched, &quoted);
  if (equals == nullptr) {
    return false;  // no '=', no result
  }
  before = static_cast<size_t>(equals - call.data());
  result = resultBefore(call, before);
#endif
  if (result == std::string_view::npos) {
    result = resultStart(call, before);
    if (result == std::string_view::npos) {
      return false;
    }
    quoted = std::memchr(call.data() + result, '"', searched - result) != nullptr;
  }
  if (!quoted) {
    return true;
  }
  for (size_t at = 0; at < call.size(); ++at) {
    if (call[at] == '"') {
      for (++at; at < call.size() && call[at] != '"'; ++at) {
        at += call[at] == '\\' ? 1 : 0;
      }
    } else if (call[at] == ')' && resultFollows(call, at)) {
      return true;
    }
  }
  return false;
}

// Where text ends with strace's "strace: Process N attached" (or
// detached), written into the middle of another line; npos if it does not.
size_t attachMessage(std::string_view text, std::string_view* pid) {
  const std::string_view kProcess = "strace: Process ";
  if (text.size() < kProcess.size() ||
      std::memcmp(text.data() + text.size() - 5, "ached", 5) != 0) {
    return std::string_view::npos;
  }
  const size_t at = text.rfind(kProcess);
  if (at == std::string_view::npos) {
    return at;
  }
  const size_t digits = at + kProcess.size();
  const size_t end = wordEndFrom(text, digits);
  const std::string_view what = text.substr(end);
  if (!allDigits(text.substr(digits, end - digits)) ||
      (what != " attached" && what != " detached")) {
    return std::string_view::npos;
  }
  *pid = text.substr(digits, end - digits);
  return at;
}

// a - b for plain decimals ("12.5", "3"), written with as many decimals as
// the longer fraction has; false when either is no plain decimal, has more
// than nine decimals, or b is larger.
bool subtractDecimals(std::string_view a, std::string_view b, std::string* out) {
  auto split = [](std::string_view text, std::string_view* whole, std::string_view* fraction) {
    const size_t point = text.find('.');
    *whole = text.substr(0, point);
    *fraction = point == std::string_view::npos ? std::string_view() : text.substr(point + 1);
    return allDigits(*whole) && (fraction->empty() || allDigits(*fraction)) &&
           whole->size() <= 10 && fraction->size() <= 9;
  };
  std::string_view wholeA, fractionA, wholeB, fractionB;
  if (!split(a, &wholeA, &fractionA) || !split(b, &wholeB, &fractionB)) {
    return false;
  }
  const size_t decimals = std::max(fractionA.size(), fractionB.size());
  auto scaled = [decimals](std::string_view whole, std::string_view fraction) {
    uint64_t value = 0;
    size_t at = 0;
    value = readNumber(whole, &at);
    for (size_t i = 0; i < decimals; ++i) {
      value = value * 10 + (i < fraction.size() ? static_cast<uint64_t>(fraction[i] - '0') : 0);
    }
    return value;
  };
  const uint64_t x = scaled(wholeA, fractionA);
  const uint64_t y = scaled(wholeB, fractionB);
  if (y > x) {
    return false;
  }
  std::string digits = std::to_string(x - y);
  if (digits.size() <= decimals) {
    digits.insert(0, decimals + 1 - digits.size(), '0');
  }
  out->assign(digits, 0, digits.size() - decimals);
  if (decimals > 0) {
    out->push_back('.');
    out->append(digits, digits.size() - decimals, decimals);
  }
  return true;
}

}  // namespace

bool straceLineTime(std::string_view line, double* seconds) {
  StracePrefix prefix;
  if (!splitPrefix(line, &prefix)) {
    return false;
  }
  const std::string_view time = prefix.time;
  if (prefix.form == StracePrefix::kClock) {
    *seconds = ((time[0] - '0') * 10 + (time[1] - '0')) * 3600.0 +
               ((time[3] - '0') * 10 + (time[4] - '0')) * 60.0 +
               std::strtod(std::string(time.substr(6)).c_str(), nullptr);
  } else {
    *seconds = std::strtod(std::string(time).c_str(), nullptr);
  }
  return true;
}

void cleanStraceCall(std::string_view call, std::string* out) {
  for (size_t at = 0; at < call.size();) {
    const char c = call[at];
    if (c == '"') {
      size_t close = at + 1;
      while (close < call.size() && call[close] != '"') {
        close += call[close] == '\\' ? 2 : 1;
      }
      const bool empty = close == at + 1;
      at = std::min(close + 1, call.size());
      out->append("\"\"");
      if (call.substr(at, 3) == "...") {
        at += 3;
        out->append("...");
      } else if (!empty) {
        out->append("...");
      }
    } else if (c == '<' && at > 0 && isDigit(call[at - 1])) {
      at = annotationEnd(call, at);
    } else {
      out->push_back(c);
      ++at;
    }
  }
}

void StraceTidy::putClockAsSeconds(std::string_view clock, std::string* to) {
  const uint64_t seconds = static_cast<uint64_t>((clock[0] - '0') * 10 + (clock[1] - '0')) * 3600 +
                           static_cast<uint64_t>((clock[3] - '0') * 10 + (clock[4] - '0')) * 60 +
                           static_cast<uint64_t>((clock[6] - '0') * 10 + (clock[7] - '0'));
  // Lines of several processes may come a little out of order; a clock
  // that goes back by more than half a day has passed midnight.
  if (seconds + 43200 < lastClock) {
    ++days;
  }
  lastClock = seconds;
  to->append(std::to_string(seconds + days * 86400));
  to->append(clock.substr(8));
}

void StraceTidy::count(std::string_view call, Warnings* warnings) {
  if (endsUnfinished(call)) {
    return;  // its resumed line tells
  }
  if (!call.empty() && call.back() == '>') {
    ++usable;  // a duration: signals and exits end otherwise
    return;
  }
  if (!isCall(call)) {
    return;
  }
  const size_t result = resultStart(call, call.size());
  if (result != std::string_view::npos && call.substr(skipBlanks(call, result + 1) + 2, 1) != "?") {
    warnings->add(Warnings::kNoDuration, 1);
  }
}

void StraceTidy::tidy(const Line& line, Output* out, Warnings* warnings) {
  if (!held.empty()) {
    StracePrefix prefix;
    if (!line.cut() && !splitPrefix(line.head, &prefix)) {
      // The rest of the held line, behind what cut it.
      std::string_view piece = line.head;
      std::string_view pid;
      const size_t message = attachMessage(piece, &pid);
      if (message != std::string_view::npos) {
        noteAttached(pid);
        emit(piece.substr(message), false, out);
        piece = piece.substr(0, message);
      }
      if (held.size() + piece.size() <= LineReader::kHeadBytes) {
        held.append(piece);
      }
      if (splitPrefix(held, &prefix) && !complete(prefix.call, prefix.call.size())) {
        return;
      }
      releaseHeld(out, warnings);
      return;
    }
    releaseHeld(out, warnings);  // never completed: as it is
  }
  tidyWhole(line, true, out, warnings);
}

void StraceTidy::releaseHeld(Output* out, Warnings* warnings) {
  joined.swap(held);
  held.clear();
  Line whole;
  whole.head = joined;
  whole.length = joined.size();
  tidyWhole(whole, false, out, warnings);
}

void StraceTidy::tidyWhole(const Line& line, bool mayHold, Output* out, Warnings* warnings) {
  std::string_view text = line.head;
  std::string_view announced;
  const size_t message = line.cut() ? std::string_view::npos : attachMessage(text, &announced);
  if (message != std::string_view::npos && message > 0) {
    noteAttached(announced);
    text = text.substr(0, message);
  }
  if (!splitPrefix(text, &prefix)) {
    if (message == 0) {
      noteAttached(announced);
    }
    emit(line.head, false, out, line.inPlace);
    return;
  }
  if (message != std::string_view::npos) {
    emit(line.head.substr(message), false, out);
  }
  bool resumed = startsResumed(prefix.call);
  const size_t open = durationOpen(prefix.call, resumed, line.mark);
  const bool shortDuration = shortDurationAt(prefix.call, open);
  if (mayHold && !line.cut() && !complete(prefix.call, shortDuration ? open : prefix.call.size()) &&
      isCall(prefix.call)) {
    held.assign(text);
    return;
  }
  if (!prefix.pid.empty()) {
    notePid(prefix.pid, prefix.idKey, prefix.call, out);
  }
  const bool orphan = startMissing(!prefix.id.empty() ? prefix.idKey
                                   : waited           ? threadKey(idForLine())
                                                      : threadKey(std::string_view()),
                                   prefix.call, resumed);
  if (!orphan && !line.cut() && !prefix.id.empty() && prefix.form == StracePrefix::kSeconds &&
      !(resumed && !prefix.location.empty()) && prefix.rest.size() <= kRestLimit &&
      durationFoundFirst(prefix.call, resumed, open, shortDuration)) {
    count(prefix.call, warnings);
    emit(text, false, out, line.inPlace && text.size() == line.head.size());
    return;
  }

  call.clear();
  cleanStraceCall(prefix.call, &call);
  if (line.cut()) {
    // The middle of the line is gone: what follows the arguments, the
    // result and the duration, is taken from its end.
    const std::string_view tail = line.tail;
    const bool unfinished = tail.size() >= kUnfinished.size() &&
                            tail.substr(tail.size() - kUnfinished.size()) == kUnfinished;
    const size_t result = unfinished ? std::string_view::npos : resultStart(tail, tail.rfind('<'));
    if (call.size() < 3 || call.compare(call.size() - 3, 3, "...") != 0) {
      call.append("...");
    }
    if (unfinished) {
      call.append(kUnfinished);
    } else if (result != std::string_view::npos) {
      cleanStraceCall(tail.substr(result), &call);
    }
  }
  // The location belongs to the begin: spanmill takes a resumed line only
  // without one.
  std::string_view location = resumed ? std::string_view() : prefix.location;
  time.clear();
  if (prefix.form == StracePrefix::kClock) {
    putClockAsSeconds(prefix.time, &time);
  } else {
    time.assign(prefix.time);
  }
  if (orphan) {
    // A resumed call whose start the trace lacks (it was cut, or strace
    // attached during the call): the whole call, from its start.
    const size_t nameEnd = call.find(" resumed>");
    const size_t last = call.rfind('<');
    std::string start;
    if (nameEnd != std::string::npos && last != std::string::npos && call.back() == '>' &&
        subtractDecimals(time, std::string_view(call).substr(last + 1, call.size() - last - 2),
                         &start)) {
      call = call.substr(kResumed.size() + 1, nameEnd - kResumed.size() - 1) + "(" +
             call.substr(nameEnd + 9);
      time.swap(start);
      resumed = false;
      location = prefix.location;
    }
  }
  const size_t budget = kRestLimit - (location.empty() ? 0 : location.size() + 1);
  if (line.cut() || call.size() > budget || !durationFoundFirst(call, resumed)) {
    std::string shortened;
    shortenArguments(call, resumed, budget, &shortened);
    call.swap(shortened);
  }
  count(call, warnings);

  rebuilt.clear();
  if (!prefix.id.empty()) {
    rebuilt.append(prefix.id);
    rebuilt.push_back(' ');
  }
  rebuilt.append(time);
  rebuilt.push_back(' ');
  if (!location.empty()) {
    rebuilt.append(location);
    rebuilt.push_back(' ');
  }
  rebuilt.append(call);
  emit(rebuilt, prefix.id.empty(), out);
}

bool StraceTidy::startMissing(uint64_t thread, std::string_view call, bool resumed) {
  const bool begins = !resumed && endsUnfinished(call);
  const bool ends = startsWith(call, "+++");
  if (!resumed && !begins && !ends) {
    return false;
  }
  // Entries stay while their thread lives, so that pairs allocate nothing.
  auto entry = unfinished.find(thread);
  if (entry == unfinished.end()) {
    if (begins && unfinished.size() < kAliveLimit) {
      unfinished.emplace(thread, true);
    }
    return resumed;
  }
  if (resumed) {
    const bool open = entry->second;
    entry->second = false;
    return !open;
  }
  if (begins) {
    entry->second = true;
  } else {
    unfinished.erase(entry);
  }
  return false;
}

void StraceTidy::noteAttached(std::string_view pid) {
  // Only the first process's id is looked for among them.
  if (firstPid.empty() && attached.size() < kAliveLimit) {
    attached.insert(threadKey(pid));
  }
}

void StraceTidy::notePid(std::string_view pid, uint64_t key, std::string_view call, Output* out) {
  if (pid.empty()) {
    return;
  }
  if (firstPid.empty() && attached.count(key) == 0) {
    // The first process's lines had no id while it was the only one.
    firstPid = pid;
    attached.clear();
    // Its calls left unfinished while it had no id are its own.
    auto open = unfinished.find(threadKey(std::string_view()));
    if (open != unfinished.end()) {
      unfinished[threadKey(firstPid)] = open->second;
      unfinished.erase(open);
    }
    if (!waited) {
      release(firstPid, out);
    }
  }
  if (startsWith(call, "+++")) {
    alive.erase(key);
  } else if (alive.size() < kAliveLimit) {
    alive.insert(key);
  }
}

std::string_view StraceTidy::idForLine() {
  if (firstPid.empty()) {
    return defaultId;
  }
  if (alive.size() != 1) {
    return firstPid;
  }
  aliveId = std::to_string(*alive.begin());
  return aliveId;
}

void StraceTidy::emit(std::string_view text, bool needsId, Output* out, bool inPlace) {
  if (!waited && (needsId || !waiting.empty())) {
    waiting.push_back(needsId ? '1' : '0');
    waiting.append(text);
    waiting.push_back('\n');
    if (waiting.size() > kWaitBytes) {
      release(defaultId, out);
    }
    return;
  }
  if (needsId) {
    out->put(idForLine());
    out->put(' ');
  }
  if (inPlace) {
    out->passLine(text);
  } else {
    out->putLine(text);
  }
}

void StraceTidy::release(std::string_view id, Output* out) {
  waited = true;
  for (size_t at = 0; at < waiting.size();) {
    const size_t end = waiting.find('\n', at);
    if (waiting[at] == '1') {
      out->put(id);
      out->put(' ');
    }
    out->put(std::string_view(waiting).substr(at + 1, end + 1 - (at + 1)));
    at = end + 1;
  }
  waiting.clear();
}

void StraceTidy::finish(Output* out, Warnings* warnings) {
  if (!held.empty()) {
    releaseHeld(out, warnings);
  }
  if (!waited) {
    release(firstPid.empty() ? std::string_view(defaultId) : std::string_view(firstPid), out);
  }
  if (usable == 0) {
    warnings->add(Warnings::kNothingUsable, 1);
  }
}
}  // namespace orvel
