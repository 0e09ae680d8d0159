#include "report/TextTable.h"

#include <algorithm>
#include <ostream>

#include "report/OutputBuffer.h"

namespace orvel {

namespace {

// Columns are counted in characters: UTF-8 continuation bytes take none.
size_t width(const char* text, size_t size) {
  size_t count = 0;
  for (size_t i = 0; i < size; ++i) {
    count += (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80;
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

void TextTable::add(const std::string& cell) {
  const size_t column = sizes.size() % columns;
  widths.resize(columns, 0);
  // A cell no longer in bytes than its column is wide cannot widen it.
  if (cell.size() > widths[column]) {
    widths[column] = std::max(widths[column], width(cell.data(), cell.size()));
  }
  text += cell;
  sizes.push_back(static_cast<uint32_t>(cell.size()));
}

void TextTable::write(std::ostream& out) const {
  OutputBuffer buffer(out);
  std::string& line = buffer.text;
  size_t begin = 0;
  for (size_t first = 0; first < sizes.size(); first += columns) {
    const size_t last = std::min(sizes.size(), first + columns);
    for (size_t i = first; i < last; ++i) {
      const size_t c = i - first;
      const size_t size = sizes[i];
      const size_t pad = widths[c] - width(text.data() + begin, size);
      if (c > 0) {
        line += "  ";
      }
      if (c >= textColumns) {
        line.append(pad, ' ');
      }
      line.append(text, begin, size);
      begin += size;
      if (c < textColumns) {
        line.append(pad, ' ');
      }
    }
    // No spaces at the end of a line.
    while (!line.empty() && line.back() == ' ') {
      line.pop_back();
    }
    line += '\n';
    buffer.piece();
  }
}

void writeTextTable(const std::vector<std::vector<std::string>>& lines, size_t textColumns,
                    std::ostream& out) {
  size_t columns = 0;
  for (const auto& line : lines) {
    columns = std::max(columns, line.size());
  }
  TextTable table(std::max<size_t>(columns, 1), textColumns);
  for (const auto& line : lines) {
    for (size_t c = 0; c < columns; ++c) {
      table.add(c < line.size() ? line[c] : std::string());
    }
  }
  table.write(out);
}

}  // namespace orvel
