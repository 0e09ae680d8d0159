// The call tree for people and for tools: an indented table, the same
// numbers as JSON, and folded stacks for flame graphs.
#ifndef ORVEL_REPORT_CALLTREETEXT_H
#define ORVEL_REPORT_CALLTREETEXT_H

#include <cstddef>
#include <iosfwd>
#include <string>

#include "report/CallTree.h"

namespace orvel {

struct TreeOptions {
  double minShare = 0.005;  // paths whose total is a smaller share of the whole are left out
  size_t depth = 0;         // paths deeper than this are left out; 0: none
};

// One line per path, indented two spaces a level, with its spans, total,
// self time and share of the whole; durations as the summary writes them.
void writeTreeTable(const CallTree& tree, const TreeOptions& options, std::ostream& out);
// The same paths as nested JSON objects, durations in microseconds.
void writeTreeJson(const CallTree& tree, const TreeOptions& options, std::ostream& out);

// A frame of a folded stack: the section as the summary names it, or a
// thread's name, with each ';' (which separates frames) made ','. Control
// bytes, a line feed among them, are '?' already.
std::string foldedFrame(const std::string& text);

// One line per path with self time: its frames from the root joined by ';',
// a space, and its self time in whole microseconds. Paths of no self time
// have none; their children's lines hold them.
void writeFolded(const CallTree& tree, std::ostream& out);

}  // namespace orvel

#endif  // ORVEL_REPORT_CALLTREETEXT_H
