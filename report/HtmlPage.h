// The HTML page: one file that shows reports offline, in any browser,
// without a viewer to install. It holds the page's own sources (report/html,
// built into the program) and the data: what summary and diff print, with
// their text, and every span, compressed.
//
// The spans are columns of varints: per span, in each thread's nesting
// order (as walkNesting opens them), the start's distance from the span
// before in the thread, the duration and the section, all in whole
// microseconds, zigzag-encoded where they may be negative. Neighbouring
// values of a column are alike, so the columns compress well.
#ifndef ORVEL_REPORT_HTMLPAGE_H
#define ORVEL_REPORT_HTMLPAGE_H

#include <iosfwd>
#include <string>
#include <vector>

#include "report/Diff.h"
#include "report/SpanReport.h"

namespace orvel {

// What a page of runs compared shows besides the spans.
struct HtmlComparison {
  std::vector<DiffRow> rows;
  double alpha = 0.05;
  double percent = 0;                      // the gate's threshold the page starts with
  std::vector<std::string> before, after;  // the reports' names, one a run
};

// Writes the page of the reports; with a comparison, also its verdicts.
void writeHtmlPage(const std::vector<SpanReport>& reports, const HtmlComparison* comparison,
                   std::ostream& out);

// The span columns of the reports, uncompressed; sections numbered as
// summarize numbers them.
std::string spanColumns(const std::vector<SpanReport>& reports);

}  // namespace orvel

#endif  // ORVEL_REPORT_HTMLPAGE_H
