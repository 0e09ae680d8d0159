// Aligned text tables for a terminal, as the summary and the comparison
// print them.
#ifndef ORVEL_REPORT_TEXTTABLE_H
#define ORVEL_REPORT_TEXTTABLE_H

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

namespace orvel {

// Text as a terminal shows it: control bytes, which would break the
// table, become '?'.
std::string printable(const std::string& text);

// "name (location)", or "name" without a location; "(unnamed)" for an
// empty name.
std::string sectionText(const std::string& name, const std::string& location);

// Lines (the head first) in columns two spaces apart, each as wide as its
// widest cell counted in characters of UTF-8. The first textColumns
// columns are aligned to the left, the others, numbers, to the right.
// Cells are kept in one buffer, so that a table of millions of lines costs
// its text and not an allocation a cell.
class TextTable {
 public:
  TextTable(size_t columns, size_t textColumns) : columns(columns), textColumns(textColumns) {}

  // Adds the next cell, line after line.
  void add(const std::string& cell);
  void write(std::ostream& out) const;

 private:
  size_t columns;
  size_t textColumns;
  std::string text;
  std::vector<uint32_t> sizes;  // of each cell in text, which holds them one after another
  std::vector<size_t> widths;
};

void writeTextTable(const std::vector<std::vector<std::string>>& lines, size_t textColumns,
                    std::ostream& out);

}  // namespace orvel

#endif  // ORVEL_REPORT_TEXTTABLE_H
