#include "report/CallTreeText.h"

#include <cstdio>
#include <ostream>
#include <vector>

#include "report/JsonText.h"
#include "report/OutputBuffer.h"
#include "report/Summary.h"
#include "report/TextTable.h"

namespace orvel {

namespace {

// What a node is called: its section, or its thread.
std::string nodeText(const CallTree& tree, const CallTree::Node& node) {
  if (node.section == CallTree::kNone) {
    return printable(tree.threads[node.thread]);
  }
  const SectionIndex::Section& section = tree.sections[node.section];
  return sectionText(section.name, section.location);
}

// Whether the options show a node at depth (0 for the roots).
bool shown(const CallTree& tree, const TreeOptions& options, uint32_t node, size_t depth) {
  // 0 shows every path, those of negative durations too.
  return (options.depth == 0 || depth < options.depth) &&
         (options.minShare == 0 || shareOf(tree, tree.nodes[node]) >= options.minShare);
}

}  // namespace

void writeTreeTable(const CallTree& tree, const TreeOptions& options, std::ostream& out) {
  TextTable table(5, 1);
  for (const char* head : {"path", "spans", "total", "self", "share"}) {
    table.add(head);
  }
  walkCallTree(
      tree,
      [&](uint32_t id, size_t depth) {
        if (!shown(tree, options, id, depth)) {
          return false;
        }
        const CallTree::Node& node = tree.nodes[id];
        table.add(std::string(2 * depth, ' ') + nodeText(tree, node));
        table.add(std::to_string(node.spans));
        table.add(durationText(node.total));
        table.add(durationText(node.self));
        table.add(shareText(shareOf(tree, node)));
        return true;
      },
      [](uint32_t) {});
  table.write(out);
}

void writeTreeJson(const CallTree& tree, const TreeOptions& options, std::ostream& out) {
  OutputBuffer buffer(out);
  std::string& text = buffer.text;
  text = "{\"self_us\":";
  appendJsonNumber(tree.self, &text);
  text += ",\"paths\":[";
  std::vector<bool> written = {false};  // by depth: whether a node was written there
  walkCallTree(
      tree,
      [&](uint32_t id, size_t depth) {
        if (!shown(tree, options, id, depth)) {
          return false;
        }
        const CallTree::Node& node = tree.nodes[id];
        text += written[depth] ? ",{" : "{";
        written[depth] = true;
        written.resize(depth + 2);
        written[depth + 1] = false;
        if (node.section == CallTree::kNone) {
          text += "\"thread\":";
          appendJsonString(tree.threads[node.thread], &text);
        } else {
          text += "\"section\":";
          appendJsonString(tree.sections[node.section].name, &text);
          text += ",\"location\":";
          appendJsonString(tree.sections[node.section].location, &text);
        }
        text += ",\"spans\":" + std::to_string(node.spans) + ",\"total_us\":";
        appendJsonNumber(node.total, &text);
        text += ",\"self_us\":";
        appendJsonNumber(node.self, &text);
        char share[32];
        std::snprintf(share, sizeof share, ",\"share\":%.6f", shareOf(tree, node));
        text += share;
        text += ",\"children\":[";
        buffer.piece();
        return true;
      },
      [&](uint32_t) { text += "]}"; });
  text += "]}\n";
}

std::string foldedFrame(const std::string& text) {
  std::string frame = text;
  for (char& c : frame) {
    if (c == ';') {
      c = ',';
    }
  }
  return frame;
}

void writeFolded(const CallTree& tree, std::ostream& out) {
  OutputBuffer buffer(out);
  std::string& text = buffer.text;
  std::string path;
  std::vector<size_t> ends;  // where the path ended before each frame was added
  std::vector<std::string> frames(tree.sections.size());  // of each section, made once
  for (uint32_t id = 0; id < tree.sections.size(); ++id) {
    frames[id] = foldedFrame(sectionText(tree.sections[id].name, tree.sections[id].location));
  }
  walkCallTree(
      tree,
      [&](uint32_t id, size_t) {
        const CallTree::Node& node = tree.nodes[id];
        ends.push_back(path.size());
        path += ends.size() > 1 ? ";" : "";
        path += node.section == CallTree::kNone ? foldedFrame(nodeText(tree, node))
                                                : frames[node.section];
        if (node.self >= 1) {
          char micros[32];
          std::snprintf(micros, sizeof micros, " %.0f\n", node.self);
          text += path;
          text += micros;
          buffer.piece();
        }
        return true;
      },
      [&](uint32_t) {
        path.resize(ends.back());
        ends.pop_back();
      });
}

}  // namespace orvel
