#include "tidy/StraceTidy.h"

#include <algorithm>

#include "tidy/Text.h"

namespace orvel {

namespace {

const std::string_view kUnfinished = " <unfinished ...>";
const std::string_view kResumed = "<...";

enum class TimeForm { kNone, kSeconds, kClock };

// "digits[.digits]" as -ttt writes it, or "HH:MM:SS[.digits]" as -tt and -t.
TimeForm timeForm(std::string_view word) {
  const size_t point = word.find('.');
  const std::string_view whole = word.substr(0, point);
  if (point != std::string_view::npos && !allDigits(word.substr(point + 1))) {
    return TimeForm::kNone;
  }
  if (allDigits(whole)) {
    return TimeForm::kSeconds;
  }
  const bool clock = whole.size() == 8 && whole[2] == ':' && whole[5] == ':' &&
                     allDigits(whole.substr(0, 2)) && allDigits(whole.substr(3, 2)) &&
                     allDigits(whole.substr(6, 2));
  return clock ? TimeForm::kClock : TimeForm::kNone;
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

// Whether spanmill finds the duration of call where it looks: after the
// first '<' behind the name (behind the resumed marker for resumed calls).
bool durationFoundFirst(std::string_view call, bool resumed) {
  const size_t first = call.find('<', resumed ? 1 : 0);
  return first == call.rfind('<') &&
         (resumed || first == std::string_view::npos || call.find('(') < first);
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
    const size_t result = call.rfind(" = ", last);
    suffix = result != std::string_view::npos && result >= argumentsStart ? result : suffix;
  }
  suffix = std::max(suffix, argumentsStart);
  std::string_view arguments = call.substr(argumentsStart, suffix - argumentsStart);
  const bool closed = !arguments.empty() && arguments.back() == ')';
  if (closed) {
    arguments.remove_suffix(1);
  }
  const size_t fixed = argumentsStart + 3 + (closed ? 1 : 0) + (call.size() - suffix);
  size_t keep = budget > fixed ? budget - fixed : 0;
  keep = std::min(keep, arguments.find('<'));
  out->assign(call.substr(0, argumentsStart));
  out->append(arguments.substr(0, keep));
  if (keep < arguments.size()) {
    out->append("...");
  }
  if (closed) {
    out->push_back(')');
  }
  out->append(call.substr(suffix));
}

}  // namespace

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
  const bool resumed = call.substr(0, kResumed.size()) == kResumed;
  if (!resumed && call.find('(') == std::string_view::npos) {
    return;  // signals, exits and anything else that is no call
  }
  if (!call.empty() && call.back() == '>') {
    ++usable;
    return;
  }
  const size_t result = call.rfind(" = ");
  if (result != std::string_view::npos && call.substr(result + 3, 1) != "?") {
    warnings->add(Warnings::kNoDuration, 1);
  }
}

void StraceTidy::tidy(const Line& line, Output* out, Warnings* warnings) {
  const std::string_view text = line.head;
  // The thread id: "[pid N]", or a number in front, or none.
  std::string_view id;
  size_t at = 0;
  if (text.substr(0, 4) == "[pid") {
    const size_t close = text.find(']');
    const size_t digits = skipBlanks(text, 4);
    if (close == std::string_view::npos || !allDigits(text.substr(digits, close - digits))) {
      out->put(text);
      out->put('\n');
      return;
    }
    id = text.substr(0, close + 1);
    at = skipBlanks(text, close + 1);
  } else {
    const size_t end = wordEndFrom(text, 0);
    if (end < text.size() && allDigits(text.substr(0, end))) {
      id = text.substr(0, end);
      at = skipBlanks(text, end);
    }
  }
  const size_t timeEnd = wordEndFrom(text, at);
  const std::string_view time = text.substr(at, timeEnd - at);
  const TimeForm form = timeForm(time);
  if (form == TimeForm::kNone || timeEnd == text.size()) {
    out->put(text);
    out->put('\n');
    return;
  }
  const std::string_view rest = text.substr(skipBlanks(text, timeEnd));
  std::string_view location;
  std::string_view callText = rest;
  if (!rest.empty() && rest[0] == '[') {
    const size_t close = rest.find(']');
    if (close != std::string_view::npos) {
      location = rest.substr(0, close + 1);
      callText = rest.substr(skipBlanks(rest, close + 1));
    }
  }
  const bool resumed = callText.substr(0, kResumed.size()) == kResumed;

  if (!line.cut() && !id.empty() && form == TimeForm::kSeconds && !(resumed && !location.empty()) &&
      rest.size() <= kRestLimit && durationFoundFirst(callText, resumed)) {
    count(callText, warnings);
    out->put(text);
    out->put('\n');
    return;
  }

  call.clear();
  cleanStraceCall(callText, &call);
  if (line.cut()) {
    // The middle of the line is gone: what follows the arguments, the
    // result and the duration, is taken from its end.
    const std::string_view tail = line.tail;
    const bool unfinished = tail.size() >= kUnfinished.size() &&
                            tail.substr(tail.size() - kUnfinished.size()) == kUnfinished;
    const size_t result = unfinished ? std::string_view::npos : tail.rfind(" = ", tail.rfind('<'));
    if (call.size() < 3 || call.compare(call.size() - 3, 3, "...") != 0) {
      call.append("...");
    }
    if (unfinished) {
      call.append(kUnfinished);
    } else if (result != std::string_view::npos) {
      call.push_back(')');
      cleanStraceCall(tail.substr(result), &call);
    }
  }
  if (resumed) {
    location = std::string_view();  // the location belongs to the begin
  }
  const size_t budget = kRestLimit - (location.empty() ? 0 : location.size() + 1);
  if (line.cut() || call.size() > budget || !durationFoundFirst(call, resumed)) {
    std::string shortened;
    shortenArguments(call, resumed, budget, &shortened);
    call.swap(shortened);
  }
  count(call, warnings);

  rebuilt.clear();
  rebuilt.append(id.empty() ? std::string_view(defaultId) : id);
  rebuilt.push_back(' ');
  if (form == TimeForm::kClock) {
    putClockAsSeconds(time, &rebuilt);
  } else {
    rebuilt.append(time);
  }
  rebuilt.push_back(' ');
  if (!location.empty()) {
    rebuilt.append(location);
    rebuilt.push_back(' ');
  }
  rebuilt.append(call);
  out->put(rebuilt);
  out->put('\n');
}

void StraceTidy::finish(Warnings* warnings) {
  if (usable == 0) {
    warnings->add(Warnings::kNothingUsable, 1);
  }
}

}  // namespace orvel
