// Test cases kept as tables in tests/data: one case a line, fields
// separated by tabs, with \t \n \r \f \\ and \xHH standing for bytes that a
// line cannot hold.
#ifndef ORVEL_TESTS_TABLE_H
#define ORVEL_TESTS_TABLE_H

#include <cstdlib>
#include <string>
#include <vector>

#include "io/WholeFile.h"

namespace orvel {
namespace testing {

inline std::string unescape(const std::string& field) {
  std::string bytes;
  for (size_t at = 0; at < field.size(); ++at) {
    const char c = field[at];
    if (c != '\\' || at + 1 == field.size()) {
      bytes.push_back(c);
      continue;
    }
    const char kind = field[++at];
    if (kind == 'x') {
      bytes.push_back(static_cast<char>(std::strtol(field.substr(at + 1, 2).c_str(), nullptr, 16)));
      at += 2;
    } else {
      bytes.push_back(kind == 't'   ? '\t'
                      : kind == 'n' ? '\n'
                      : kind == 'r' ? '\r'
                      : kind == 'f' ? '\f'
                                    : kind);
    }
  }
  return bytes;
}

// The rows of the table tests/data/NAME, each field unescaped.
inline std::vector<std::vector<std::string>> readTable(const std::string& name) {
  std::string text;
  bool opened;
  readWholeFile((std::string(ORVEL_TEST_DATA) + "/" + name).c_str(), &text, &opened);
  std::vector<std::vector<std::string>> rows;
  for (size_t start = 0, end; start < text.size(); start = end + 1) {
    end = text.find('\n', start);
    end = end == std::string::npos ? text.size() : end;
    std::vector<std::string> fields;
    for (size_t from = start, tab; from <= end; from = tab + 1) {
      tab = std::min(text.find('\t', from), end);
      fields.push_back(unescape(text.substr(from, tab - from)));
    }
    rows.push_back(fields);
  }
  return rows;
}

}  // namespace testing
}  // namespace orvel

#endif  // ORVEL_TESTS_TABLE_H
