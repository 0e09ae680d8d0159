// The sections of several reports as one list: a function name with its
// code location, one id for it in every report that has it.
#ifndef ORVEL_REPORT_SECTIONINDEX_H
#define ORVEL_REPORT_SECTIONINDEX_H

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "report/SpanReport.h"

namespace orvel {

class SectionIndex {
 public:
  struct Section {
    std::string name;
    std::string location;  // "" when the spans have none
  };

  // The id of each of the report's "pc" rows, by row; valid until the
  // next call. Costs one lookup a row.
  const std::vector<uint32_t>& idsOf(const SpanReport& report);

  const Section& operator[](uint32_t id) const { return sections[id]; }
  uint32_t size() const { return static_cast<uint32_t>(sections.size()); }

 private:
  std::unordered_map<std::string, uint32_t> byKey;  // name, '\0', location
  std::vector<Section> sections;
  std::vector<uint32_t> ofPc;
};

}  // namespace orvel

#endif  // ORVEL_REPORT_SECTIONINDEX_H
