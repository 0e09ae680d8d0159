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
// A line is read as sscanf reads its c_str(): up to the first NUL.
int ftraceMarkerLine(const std::string& line, unsigned int* tid, double* time,
                     char* marker);  // 513

// kStracePidLine when pidForm, else kStraceIdLine. rest is set to the
// remaining text: in place where it runs to the line's end, otherwise
// copied (512 characters at most) into restBuffer, which holds 513.
// noLineFeed tells that the line holds no '\n', which saves looking.
int straceLine(const std::string& line, bool pidForm, bool noLineFeed, unsigned int* tid,
               double* time, char* restBuffer, const char** rest);

// end, where it is not null, is one past the last byte of text's storage
// that may be read: the scanner then reads some numbers in larger steps.
int straceResumed(const char* text, const char* end, double* duration);
int straceLocation(const char* text, char* location, char* call);  // 33, 513

// The name is given as a view of text: name[0 .. nameLength).
int straceFinished(const char* text, const char* end, const char** name, size_t* nameLength,
                   double* duration);
int straceUnfinished(const char* text, const char** name, size_t* nameLength, char* closing);

}  // namespace scan
}  // namespace orvel

#endif  // ORVEL_APP_TRACESCAN_H
