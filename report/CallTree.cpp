#include "report/CallTree.h"

#include <algorithm>
#include <tuple>

#include "report/Nesting.h"

namespace orvel {

namespace {

// The node of each path, by its key: open addressing with linear probing,
// never more than half full. A lookup a span, so it is kept plain.
class PathTable {
 public:
  // The node of key; fresh, which is then recorded, when it has none.
  uint32_t find(uint64_t key, uint32_t fresh) {
    if (2 * (count + 1) > slots.size()) {
      grow();
    }
    const size_t mask = slots.size() - 1;
    for (size_t i = hashOf(key) & mask;; i = (i + 1) & mask) {
      if (slots[i].node == CallTree::kNone) {
        slots[i] = {key, fresh};
        count += 1;
        return fresh;
      }
      if (slots[i].key == key) {
        return slots[i].node;
      }
    }
  }

 private:
  struct Slot {
    uint64_t key;
    uint32_t node;
  };
  static size_t hashOf(uint64_t key) {
    return static_cast<size_t>((key * 0x9E3779B97F4A7C15u) >> 29);
  }
  void grow() {
    std::vector<Slot> old(std::max<size_t>(64, 2 * slots.size()), Slot{0, CallTree::kNone});
    old.swap(slots);
    count = 0;
    for (const Slot& slot : old) {
      if (slot.node != CallTree::kNone) {
        find(slot.key, slot.node);
      }
    }
  }
  std::vector<Slot> slots;
  size_t count = 0;
};

// Follows the walk of one thread down the tree, finding or adding the node
// of each span's path.
class Builder : public NestingVisitor {
 public:
  Builder(CallTree* tree, PathTable* byPath) : tree(tree), byPath(byPath) {}

  void thread(const std::vector<SpanReport::Span>& spans, const std::vector<uint32_t>& sectionOfPc,
              uint32_t root) {
    this->spans = &spans;
    this->sectionOfPc = &sectionOfPc;
    this->root = root;
    walkNesting(spans, this);
  }

  void open(uint32_t row, long long) override {
    const SpanReport::Span& span = (*spans)[row];
    const uint32_t parent = open_.empty() ? root : open_.back();
    const uint32_t section = (*sectionOfPc)[span.pc];
    // The key of a path: its parent's node (kNone + 1 wraps to 0 for the
    // roots) and its last section.
    const uint64_t key = uint64_t{parent + 1u} << 32 | section;
    const uint32_t fresh = static_cast<uint32_t>(tree->nodes.size());
    const uint32_t id = byPath->find(key, fresh);
    if (id == fresh) {
      tree->nodes.push_back(CallTree::Node{parent, section, CallTree::kNone, 0, 0, 0, {}});
      (parent == CallTree::kNone ? tree->roots : tree->nodes[parent].children).push_back(id);
    }
    CallTree::Node& node = tree->nodes[id];
    node.spans += 1;
    node.total += static_cast<double>(span.micros);
    open_.push_back(id);
  }

  void close(uint32_t, long long, long long self) override {
    tree->nodes[open_.back()].self += static_cast<double>(self);
    tree->self += static_cast<double>(self);
    open_.pop_back();
  }

 private:
  CallTree* tree;
  PathTable* byPath;
  const std::vector<SpanReport::Span>* spans = nullptr;
  const std::vector<uint32_t>* sectionOfPc = nullptr;
  uint32_t root = CallTree::kNone;
  std::vector<uint32_t> open_;  // the nodes of the open spans, innermost last
};

}  // namespace

std::string threadTitle(const SpanReport& report, const SpanReport::Thread& thread,
                        size_t reports) {
  return (reports > 1 ? report.name + ":" : "") + "tid " + thread.tid;
}

CallTree buildCallTree(const std::vector<SpanReport>& reports, bool byThread) {
  CallTree tree;
  PathTable byPath;
  Builder builder(&tree, &byPath);
  for (const SpanReport& report : reports) {
    const std::vector<uint32_t>& sectionOfPc = tree.sections.idsOf(report);
    for (const SpanReport::Thread& thread : report.threads) {
      uint32_t root = CallTree::kNone;
      if (byThread && !thread.spans.empty()) {
        root = static_cast<uint32_t>(tree.nodes.size());
        tree.threads.push_back(threadTitle(report, thread, reports.size()));
        tree.nodes.push_back(CallTree::Node{CallTree::kNone,
                                            CallTree::kNone,
                                            static_cast<uint32_t>(tree.threads.size() - 1),
                                            thread.spans.size(),
                                            0,
                                            0,
                                            {}});
        tree.roots.push_back(root);
      }
      builder.thread(thread.spans, sectionOfPc, root);
    }
  }
  for (CallTree::Node& node : tree.nodes) {
    // Within [0, total] even where spans ended before they began.
    node.self = std::min(node.self, std::max(0.0, node.total));
  }
  // A thread holds its spans, and the time of those nested in none.
  for (CallTree::Node& node : tree.nodes) {
    if (node.section == CallTree::kNone) {
      for (uint32_t child : node.children) {
        node.total += tree.nodes[child].total;
      }
    }
  }
  auto order = [&](uint32_t a, uint32_t b) {
    const CallTree::Node& x = tree.nodes[a];
    const CallTree::Node& y = tree.nodes[b];
    if (x.total != y.total) {
      return x.total > y.total;
    }
    if (x.section != y.section && x.section != CallTree::kNone && y.section != CallTree::kNone) {
      const SectionIndex::Section& s = tree.sections[x.section];
      const SectionIndex::Section& t = tree.sections[y.section];
      return std::tie(s.name, s.location) < std::tie(t.name, t.location);
    }
    return a < b;
  };
  for (CallTree::Node& node : tree.nodes) {
    std::sort(node.children.begin(), node.children.end(), order);
  }
  std::sort(tree.roots.begin(), tree.roots.end(), order);
  return tree;
}

}  // namespace orvel
