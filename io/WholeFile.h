// Reading a whole file or descriptor into memory, for the inputs that are
// parsed in one piece (reports, configuration files).
#ifndef ORVEL_IO_WHOLEFILE_H
#define ORVEL_IO_WHOLEFILE_H

#include <string>

namespace orvel {

// Appends everything fd gives, up to its end, to text. Where fd is a
// regular file the string is sized for it first: growing a string step by
// step copies the text and touches fresh memory again. Returns 0, or the
// errno of the read that failed. fd is not closed.
int readAll(int fd, std::string* text);

// Opens path for reading and reads it whole into text, as readAll does.
// Returns 0, or the errno of the open (then *opened is false) or of the
// read that failed.
int readWholeFile(const char* path, std::string* text, bool* opened);

}  // namespace orvel

#endif  // ORVEL_IO_WHOLEFILE_H
