// Call paths: the spans of every thread, nested as walkNesting nests them,
// gathered by the path of sections from a span nested in none down to the
// span. A path holds the number of its spans, their total duration and
// their self time; the self time of a section over all its paths is its
// self time in the summary.
#ifndef ORVEL_REPORT_CALLTREE_H
#define ORVEL_REPORT_CALLTREE_H

#include <cstdint>
#include <string>
#include <vector>

#include "report/SectionIndex.h"
#include "report/SpanReport.h"

namespace orvel {

struct CallTree {
  static const uint32_t kNone = UINT32_MAX;

  struct Node {
    uint32_t parent;   // kNone for the roots
    uint32_t section;  // in sections; kNone for a thread
    uint32_t thread;   // in threads, for a thread; kNone otherwise
    uint64_t spans = 0;
    double total = 0;  // microseconds, the durations as the report has them
    double self = 0;   // microseconds, within [0, total]
    // The nodes directly below, largest total first (then by section, so
    // that the order is always the same).
    std::vector<uint32_t> children;
  };

  SectionIndex sections;
  // With byThread, the roots are threads, "tid N" or "REPORT:tid N" with
  // several reports, and the spans nested in none are their children.
  std::vector<std::string> threads;
  std::vector<Node> nodes;
  std::vector<uint32_t> roots;  // ordered as children are
  double self = 0;              // of every span: the time the spans covered
};

CallTree buildCallTree(const std::vector<SpanReport>& reports, bool byThread);

// What a thread is called where the threads of several reports are shown
// together: "tid N", or "REPORT:tid N" when there are several.
std::string threadTitle(const SpanReport& report, const SpanReport::Thread& thread, size_t reports);

// The share of the whole that a node's total is; 0 when nothing took time.
inline double shareOf(const CallTree& tree, const CallTree::Node& node) {
  return tree.self > 0 ? node.total / tree.self : 0;
}

// Visits the nodes depth first, in order, without recursion: enter(node,
// depth), with depth 0 for the roots, then the node's children, then
// leave(node). Where enter returns false the node is passed over, its
// children too, and not left.
template <typename Enter, typename Leave>
void walkCallTree(const CallTree& tree, Enter enter, Leave leave) {
  struct Place {
    uint32_t node;
    size_t next;  // the child to enter next
  };
  std::vector<Place> path;
  for (uint32_t root : tree.roots) {
    if (enter(root, size_t{0})) {
      path.push_back({root, 0});
    }
    while (!path.empty()) {
      Place& at = path.back();
      const std::vector<uint32_t>& children = tree.nodes[at.node].children;
      if (at.next == children.size()) {
        leave(at.node);
        path.pop_back();
      } else if (const uint32_t child = children[at.next++]; enter(child, path.size())) {
        path.push_back({child, 0});
      }
    }
  }
}

}  // namespace orvel

#endif  // ORVEL_REPORT_CALLTREE_H
