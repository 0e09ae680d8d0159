#include "report/SectionIndex.h"

namespace orvel {

const std::vector<uint32_t>& SectionIndex::idsOf(const SpanReport& report) {
  ofPc.resize(report.pcs.size());
  std::string key;
  for (size_t pc = 0; pc < report.pcs.size(); ++pc) {
    const std::string& name = report.sections[report.pcs[pc].nameIndex];
    const std::string& location = report.pcs[pc].location;
    key.assign(name);
    key.push_back('\0');
    key += location;
    const auto found = byKey.emplace(key, size());
    if (found.second) {
      sections.push_back(Section{name, location});
    }
    ofPc[pc] = found.first->second;
  }
  return ofPc;
}

}  // namespace orvel
