// The one way both tools end when memory runs out: a line on standard
// error, then abort(), whether a new failed or the code found it itself.
#ifndef ORVEL_APP_OUTOFMEMORY_H
#define ORVEL_APP_OUTOFMEMORY_H

namespace orvel {

// Prints "PROGRAM: out of memory" on standard error, PROGRAM being the name
// given to handleOutOfMemory ("spanmill" before any), and aborts.
[[noreturn]] void outOfMemory();

// Names the program in the message, and makes a new that finds no memory
// end the program through outOfMemory instead of throwing std::bad_alloc.
// Call first thing in main, before a second thread exists; program must
// live until the process ends.
void handleOutOfMemory(const char* program);

}  // namespace orvel

#endif  // ORVEL_APP_OUTOFMEMORY_H
