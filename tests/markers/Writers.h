// Marker writers compiled apart from the test: as C99 (Writers.c) and as
// C++11 (Writers11.cpp), once with markers on and once with
// SPANMILL_DISABLE (the names ending in _off). Each returns the line of
// its first located marker.
#ifndef ORVEL_TESTS_MARKERS_WRITERS_H
#define ORVEL_TESTS_MARKERS_WRITERS_H

#ifdef __cplusplus
extern "C" {
#endif

// spanmill_begin, spanmill_begin_at, SPANMILL_BEGIN (at the line returned),
// SPANMILL_END and spanmill_end, in that order.
int c_forms(void);
int c_forms_off(void);
// spanmill_begin(name) from C.
void c_begin(const char* name);
// The C source's __FILE__.
const char* c_file(void);
// How often a disabled macro evaluated its argument.
int c_evaluated_off(void);

#ifdef __cplusplus
}

// SPANMILL_SCOPE("outer") at the line returned, SPANMILL_SCOPE("inner")
// two lines below it, in a block of its own.
int scopes();
int scopes_off();
#endif

#endif  // ORVEL_TESTS_MARKERS_WRITERS_H
