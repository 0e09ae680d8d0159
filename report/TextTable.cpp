#include "report/TextTable.h"

#include <algorithm>
#include <ostream>

namespace orvel {

namespace {

// Columns are counted in characters: UTF-8 continuation bytes take none.
size_t width(const std::string& text) {
  size_t count = 0;
  for (char c : text) {
    count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }
  return count;
}

}  // namespace

std::string printable(const std::string& text) {
  std::string shown = text;
  for (char& c : shown) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
      c = '?';
    }
  }
  return shown;
}

std::string sectionText(const std::string& name, const std::string& location) {
  std::string text = name.empty() ? "(unnamed)" : printable(name);
  if (!location.empty()) {
    text += " (" + printable(location) + ")";
  }
  return text;
}

void writeTextTable(const std::vector<std::vector<std::string>>& lines, size_t textColumns,
                    std::ostream& out) {
  std::vector<size_t> widths;
  for (const auto& line : lines) {
    widths.resize(std::max(widths.size(), line.size()));
    for (size_t c = 0; c < line.size(); ++c) {
      widths[c] = std::max(widths[c], width(line[c]));
    }
  }
  for (const auto& line : lines) {
    std::string text;
    for (size_t c = 0; c < line.size(); ++c) {
      const std::string pad(widths[c] - width(line[c]), ' ');
      if (c > 0) {
        text += "  ";
      }
      // No spaces at the end of a line.
      text += c < textColumns ? line[c] + (c + 1 < line.size() ? pad : "") : pad + line[c];
    }
    out << text << '\n';
  }
}

}  // namespace orvel
