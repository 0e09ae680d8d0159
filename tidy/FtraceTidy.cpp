#include "tidy/FtraceTidy.h"

#include <algorithm>
#include <cstdlib>

#include "tidy/Text.h"

namespace orvel {

namespace {

// Digits, an optional fraction and the ':' that ends a time stamp token.
bool isTimeToken(std::string_view token) {
  if (token.size() < 2 || token.back() != ':') {
    return false;
  }
  token.remove_suffix(1);
  const size_t point = token.find('.');
  const std::string_view whole = token.substr(0, point);
  return !whole.empty() && allDigits(whole) &&
         (point == std::string_view::npos || allDigits(token.substr(point + 1)));
}

// The end of the CPU field "[digits]" that starts at open, or 0.
size_t cpuFieldEnd(std::string_view line, size_t open) {
  size_t close = open + 1;
  while (close < line.size() && isDigit(line[close])) {
    ++close;
  }
  return close > open + 1 && close < line.size() && line[close] == ']' ? close + 1 : 0;
}

// "TASK-PID CPUFLAGS TIME: EVENT: TEXT", as trace-cmd report -l prints
// markers: no brackets, the CPU number glued to the flags.
bool splitLatencyLine(std::string_view line, FtraceColumns* columns) {
  std::string_view words[3];  // the two words before the current one, and it
  for (size_t at = skipBlanks(line, 0); at < line.size(); at = skipBlanks(line, at)) {
    const size_t end = wordEndFrom(line, at);
    words[0] = words[1];
    words[1] = words[2];
    words[2] = line.substr(at, end - at);
    at = end;
    if (!isTimeToken(words[2])) {
      continue;
    }
    const std::string_view task = words[0];
    const std::string_view cpuFlags = words[1];
    const size_t dash = task.rfind('-');
    size_t digits = 0;
    while (digits < cpuFlags.size() && isDigit(cpuFlags[digits])) {
      ++digits;
    }
    if (dash == std::string_view::npos || !allDigits(task.substr(dash + 1)) || digits == 0 ||
        digits == cpuFlags.size()) {
      return false;
    }
    const size_t eventStart = skipBlanks(line, end);
    const size_t eventEnd = line.find(':', eventStart);
    if (eventEnd == std::string_view::npos || eventEnd == eventStart) {
      return false;
    }
    const size_t taskEnd = static_cast<size_t>(task.data() - line.data()) + dash;
    columns->task = line.substr(0, taskEnd);
    columns->pid = task.substr(dash + 1);
    columns->toCpu = std::string_view();
    columns->cpu = cpuFlags.substr(0, digits);
    columns->toFlags = std::string_view(" ");
    columns->flags = cpuFlags.substr(digits);
    columns->toTime = std::string_view(" ");
    columns->time = words[2].substr(0, words[2].size() - 1);
    columns->event = line.substr(eventStart, eventEnd - eventStart);
    columns->text = line.substr(skipBlanks(line, eventEnd + 1));
    return true;
  }
  return false;
}

}  // namespace

bool splitFtraceLine(std::string_view line, FtraceColumns* columns) {
  // The CPU field is the first "[digits]" behind "-pid", or "-pid (tgid)":
  // a task name may hold anything, but no more than 15 bytes of it.
  size_t open = 0;
  size_t cpuEnd = 0;
  size_t pidStart = 0;
  size_t pidEnd = 0;
  for (open = line.find('['); open != std::string_view::npos; open = line.find('[', open + 1)) {
    cpuEnd = cpuFieldEnd(line, open);
    if (cpuEnd == 0) {
      continue;
    }
    size_t back = open;
    while (back > 0 && line[back - 1] == ' ') {
      --back;
    }
    if (back > 0 && line[back - 1] == ')') {
      const size_t paren = line.rfind('(', back - 1);
      back = paren == std::string_view::npos ? 0 : paren;
      while (back > 0 && line[back - 1] == ' ') {
        --back;
      }
    }
    pidEnd = back;
    while (back > 0 && isDigit(line[back - 1])) {
      --back;
    }
    if (back < pidEnd && back > 0 && line[back - 1] == '-') {
      pidStart = back;
      break;
    }
  }
  if (open == std::string_view::npos) {
    return splitLatencyLine(line, columns);
  }
  columns->cpu = std::string_view();
  columns->task = line.substr(0, pidStart - 1);
  columns->pid = line.substr(pidStart, pidEnd - pidStart);
  columns->toCpu = line.substr(pidEnd, cpuEnd - pidEnd);

  // The event's name follows the time stamp's ':' (flags hold none); the
  // columns in between matter only for markers.
  const size_t colon = line.find(':', cpuEnd);
  const size_t eventStart =
      skipBlanks(line, colon == std::string_view::npos ? line.size() : colon + 1);
  const size_t eventEnd = line.find(':', eventStart);
  if (eventEnd == std::string_view::npos || eventEnd == eventStart) {
    return false;
  }
  columns->event = line.substr(eventStart, eventEnd - eventStart);
  columns->text = line.substr(skipBlanks(line, eventEnd + 1));
  columns->toFlags = std::string_view();
  columns->flags = std::string_view();
  columns->toTime = std::string_view();
  columns->time = std::string_view();
  if (columns->event != "tracing_mark_write" && columns->event != "print") {
    return true;
  }
  // A flags word, unless the first word is the time stamp already.
  size_t at = skipBlanks(line, cpuEnd);
  size_t wordEnd = wordEndFrom(line, at);
  size_t blanksFrom = cpuEnd;
  if (!isTimeToken(line.substr(at, wordEnd - at))) {
    columns->toFlags = line.substr(cpuEnd, at - cpuEnd);
    columns->flags = line.substr(at, wordEnd - at);
    blanksFrom = wordEnd;
    at = skipBlanks(line, wordEnd);
    wordEnd = wordEndFrom(line, at);
  }
  if (wordEnd != colon + 1 || !isTimeToken(line.substr(at, wordEnd - at))) {
    return false;
  }
  columns->toTime = line.substr(blanksFrom, at - blanksFrom);
  columns->time = line.substr(at, wordEnd - 1 - at);
  return true;
}

void FtraceTidy::readHeader(std::string_view line, Warnings* warnings) {
  const std::string_view kCounts = "entries-in-buffer/entries-written:";
  size_t at = line.find(kCounts);
  if (at != std::string_view::npos) {
    at = skipBlanks(line, at + kCounts.size());
    const uint64_t kept = readNumber(line, &at);
    if (at < line.size() && line[at] == '/') {
      ++at;
      const uint64_t written = readNumber(line, &at);
      if (written > kept) {
        warnings->add(Warnings::kOverrun, written - kept);
      }
    }
  }
}

void FtraceTidy::pass(const Line& line, Output* out) {
  if (line.inPlace) {
    out->passLine(line.head);
  } else {
    out->putLine(line.head);
  }
}

void FtraceTidy::tidy(const Line& line, Output* out, Warnings* warnings) {
  const std::string_view text = line.head;
  if (!text.empty() && text[0] == '#') {
    readHeader(text, warnings);
    pass(line, out);
    return;
  }
  if (!splitFtraceLine(text, &columns)) {
    const size_t lost = text.find("[LOST ");
    if (lost != std::string_view::npos) {
      size_t at = lost + 6;
      const uint64_t count = readNumber(text, &at);
      if (text.substr(at, 8) == " EVENTS]") {
        warnings->add(Warnings::kLostEvents, count);
      }
    }
    pass(line, out);
    return;
  }
  // trace-cmd report shows markers as the "print" event, the kernel's
  // function that wrote them first.
  std::string_view marker = columns.text;
  const bool printEvent = columns.event == "print";
  if (printEvent) {
    const std::string_view kWriter = "tracing_mark_write:";
    if (marker.substr(0, kWriter.size()) == kWriter) {
      marker = marker.substr(skipBlanks(marker, kWriter.size()));
    }
  } else if (columns.event != "tracing_mark_write") {
    pass(line, out);
    return;
  }
  const bool pidEnd = marker.size() >= 2 && marker[0] == 'E' && marker[1] == '|';
  if (!marker.empty() &&
      (marker[0] == 'E' || marker.substr(0, 2) == "B|" || marker.substr(0, 2) == "b|")) {
    ++markers;
  }
  if (columns.time.find('.') == std::string_view::npos) {
    warnings->add(Warnings::kClockCounts, 1);
  }
  const bool badTask = columns.task.empty() || columns.task.find('-') != std::string_view::npos;
  if (!badTask && !columns.flags.empty() && !printEvent && !pidEnd) {
    pass(line, out);
    return;
  }
  // spanmill takes the number after the first '-' as the thread id, and
  // needs a flags word before the time stamp.
  scratch.assign(columns.task);
  for (char& c : scratch) {
    c = c == '-' ? '_' : c;
  }
  if (scratch.empty()) {
    scratch = "_";
  }
  scratch += '-';
  scratch += columns.pid;
  if (columns.cpu.empty()) {
    scratch += columns.toCpu;
  } else {
    scratch += " [";
    scratch.append(3 - std::min<size_t>(3, columns.cpu.size()), '0');
    scratch += columns.cpu;
    scratch += ']';
  }
  if (columns.flags.empty()) {
    scratch += " .....";
  } else {
    scratch += columns.toFlags;
    scratch += columns.flags;
  }
  scratch += columns.toTime.empty() ? std::string_view(" ") : columns.toTime;
  scratch += columns.time;
  scratch += ": tracing_mark_write: ";
  scratch += pidEnd ? std::string_view("E") : marker;
  out->putLine(scratch);
}

void FtraceTidy::finish(Output* /*out*/, Warnings* warnings) {
  if (markers == 0) {
    warnings->add(Warnings::kNothingUsable, 1);
  }
}

}  // namespace orvel
