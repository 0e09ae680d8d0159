// Hand-written scanners for the trace parsers' sscanf formats.
//
// Each scanner reads a NUL-terminated text as std::sscanf would with its
// format, and stores the same values. It returns the number
// of conversions assigned (0 where sscanf would return EOF), or kUndecided
// when the text takes a form the scanner leaves to sscanf: a sign or more
// than nine digits in a thread id, or a number that is not plain decimal
// digits with an optional point (exponents, hex, inf, nan, more than 15
// significant digits). Callers then call sscanf itself, so results are
// always sscanf's. The numbers after the declarations are the sizes of the
// buffers the strings go to.
#ifndef ORVEL_APP_TRACESCAN_H
#define ORVEL_APP_TRACESCAN_H

#include <cstddef>
#include <string>

namespace orvel {
namespace scan {

const int kUndecided = -2;
// ftraceMarkerLine: the line is no marker event. sscanf would return 2,
// having read a time stamp that the scanner did not convert.
const int kNotMarker = -3;

// The formats, for sscanf where a scanner leaves the text to it.
// Task name up to the first '-', thread id, CPU field, flags word, time
// stamp, event name, and the marker text cut to 512 characters:
// "%*[^-]-%u %*[^]]] %*s %lf: tracing_mark_write: %512[^\n]"
extern const char kFtraceMarkerLine[];
extern const char kStracePidLine[];  // "[pid %u] %lf %512[^\n]"
extern const char kStraceIdLine[];   // "%u %lf %512[^\n]"
// Applied after the leading '<' of "<... read resumed> ...) = 0 <0.000010>".
extern const char kStraceResumed[];  // "%*[^<]<%lf>"
// One or more '[' and blanks, up to 32 characters before ']', the rest.
extern const char kStraceLocation[];  // "%*[[[ ]%32[^]]] %512[^\n]"
// The name before the first '(', the number after the next '<'.
extern const char kStraceFinished[];    // "%512[^(]%*[^<]<%lf>"
extern const char kStraceUnfinished[];  // "%512[^(]%*[^<]<unfin%*[^>]%c"

// Each scanner below reads text as sscanf with the format of its name.
// A line is given as line[0 .. length) with a NUL at line[length], and read
// as sscanf reads it: up to its first NUL. end, at or past line + length +
// 1, is one past the last byte that may be read. noLineFeed tells that the
// line holds no '\n', which saves looking.

// The marker text is given as a view of the line: marker[0 .. markerLength).
int ftraceMarkerLine(const char* line, size_t length, bool noLineFeed, const char* end,
                     unsigned int* tid, double* time, const char** marker, size_t* markerLength);

// kStracePidLine when pidForm, else kStraceIdLine. rest is set to the
// remaining text: in place where it runs to the line's end, otherwise
// copied (512 characters at most) into restBuffer, which holds 513.
int straceLine(const char* line, size_t length, bool pidForm, bool noLineFeed, const char* end,
               unsigned int* tid, double* time, char* restBuffer, const char** rest);

// end, where it is not null, is one past the last byte of text's storage
// that may be read: the scanner then reads some numbers in larger steps.
int straceResumed(const char* text, const char* end, double* duration);
int straceLocation(const char* text, char* location, char* call);  // 33, 513

// The name is given as a view of text: name[0 .. nameLength). mark, where
// not null, is strchrnul(s, '<') for a string s that text lies in.
int straceFinished(const char* text, const char* end, const char** name, size_t* nameLength,
                   double* duration, const char* mark = nullptr);
int straceUnfinished(const char* text, const char** name, size_t* nameLength, char* closing);

}  // namespace scan
}  // namespace orvel

#endif  // ORVEL_APP_TRACESCAN_H
