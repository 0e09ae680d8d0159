// The HTML page's sources (report/html), built into the program so that it
// stays one file: the page up to where its data goes, and after it.
#ifndef ORVEL_REPORT_HTMLASSETS_H
#define ORVEL_REPORT_HTMLASSETS_H

namespace orvel {

extern const char kHtmlBeforeData[];
extern const char kHtmlAfterData[];

}  // namespace orvel

#endif  // ORVEL_REPORT_HTMLASSETS_H
