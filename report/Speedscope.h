// speedscope's own file format, which it opens far faster than Chrome's
// and at sizes Chrome's format cannot reach: the frames (a section: its
// name, and its location as the frame's file) are written once, and each
// thread with spans is an evented profile of open and close events.
//
// Events nest exactly, as speedscope requires: each span is written with
// the interval walkNesting gives it, so a child that outlasts its parent
// by the microsecond of rounding ends with it, and spans that overlap
// without nesting are cut where the next begins.
#ifndef ORVEL_REPORT_SPEEDSCOPE_H
#define ORVEL_REPORT_SPEEDSCOPE_H

#include <iosfwd>
#include <vector>

#include "report/SpanReport.h"

namespace orvel {

// Times are microseconds from the first span of each report; profiles are
// named as threadTitle names them. Strings are strict JSON in valid UTF-8.
void writeSpeedscope(const std::vector<SpanReport>& reports, std::ostream& out);

}  // namespace orvel

#endif  // ORVEL_REPORT_SPEEDSCOPE_H
