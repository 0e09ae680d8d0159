/* Begin and end markers for spanmill, written to the kernel's trace_marker.
 *
 * A C99 and C++11 header with nothing to link:
 *
 *   #include <spanmill/markers.h>          (compile with -I include)
 *
 *   spanmill_begin("decode");              B|pid|decode
 *   spanmill_begin_at("decode", "a.c:7");  b|pid|decode|a.c:7
 *   SPANMILL_BEGIN("decode");              b|pid|decode|FILE:LINE of the call
 *   spanmill_end();  SPANMILL_END();       E
 *   SPANMILL_SCOPE("decode");              (C++) SPANMILL_BEGIN now, SPANMILL_END
 *                                          when the enclosing scope ends
 *
 * Each marker is one write(2) of its text and a line feed (the kernel adds
 * the line feed when it is missing, so the trace shows the same; a regular
 * file or a pipe given as the marker file gets one marker a line). An end
 * closes the innermost open span of the thread that writes it: begin and end
 * a span on the same thread.
 *
 * The marker file is opened, write-only and close-on-exec, by the first
 * marker of the process: the file $SPANMILL_MARKER names when it is set
 * (set and empty: no markers), else /sys/kernel/tracing/trace_marker, else
 * /sys/kernel/debug/tracing/trace_marker. When none opens, every marker
 * after that returns at once without writing: the open is not tried again.
 * The process's markers share one descriptor: the state is held in weak
 * symbols, so C and C++ files of one program share it (a shared library that
 * does not export them keeps its own).
 *
 * Thread safety: any thread may write markers at any time. A marker takes
 * no lock and allocates nothing: its text is built on the stack. Threads
 * whose first markers race each open the file, one descriptor is kept and
 * the others are closed at once.
 *
 * Fork: the child keeps writing through the inherited descriptor, with its
 * own pid in the text. The pid is cached, and a pthread_atfork handler
 * refreshes the cache in the child; this saves the getpid() system call a
 * marker would otherwise make. A child made by a raw clone(2) system call
 * runs no atfork handler and writes its parent's pid (the trace's own
 * thread-id column is right all the same).
 *
 * Length: a marker text is at most SPANMILL_TEXT_MAX (512) bytes, the line
 * feed not counted, which is what spanmill keeps of a marker and far below
 * what the kernel takes in one write (4054 bytes on Linux 6.18, 1 KiB on
 * old kernels). A location longer than SPANMILL_LOCATION_MAX (256) bytes
 * keeps its last 256 (the file name's end and the line number); then the
 * name is cut to what remains. Cuts fall between UTF-8 characters. A null
 * or empty name is written as "(unnamed)" (spanmill skips a begin without a
 * name, and its end would close the wrong span); a null location gives the
 * form without one. Names given to spanmill_begin_at must not hold '|':
 * spanmill takes the name to the first '|' and the rest as the location.
 *
 * errno is left as it was, also when a write fails (a trace_marker write
 * fails while the buffer's tracing is off).
 *
 * SPANMILL_DISABLE, defined before the include, turns every marker into
 * nothing: the macros leave no code and do not evaluate their arguments
 * (which are still compiled, in a branch never taken, so that they stay
 * correct and what they use is not reported unused); the functions stay,
 * empty, so that calls still compile (their arguments are evaluated as in
 * any call).
 *
 * Compile C with POSIX declarations visible (the compilers' default gnu
 * modes, or _POSIX_C_SOURCE 200809L with -std=c99). Needs GCC or Clang.
 */
#ifndef SPANMILL_MARKERS_H
#define SPANMILL_MARKERS_H

/* The longest marker text, line feed not counted. */
#define SPANMILL_TEXT_MAX 512
/* The longest location kept; a longer one keeps its end. */
#define SPANMILL_LOCATION_MAX 256

#define SPANMILL_STRING_(x) #x
#define SPANMILL_STRING(x) SPANMILL_STRING_(x)
/* "file:line" of where it stands, one string literal. */
#define SPANMILL_HERE __FILE__ ":" SPANMILL_STRING(__LINE__)
#define SPANMILL_JOIN_(a, b) a##b
#define SPANMILL_JOIN(a, b) SPANMILL_JOIN_(a, b)

#ifdef SPANMILL_DISABLE

static inline void spanmill_begin(const char* name) {
  (void)name;
}
static inline void spanmill_begin_at(const char* name, const char* location) {
  (void)name;
  (void)location;
}
static inline void spanmill_end(void) {}

/* The call in the branch never taken keeps the argument checked as a name
 * and what it uses referenced, and leaves no code, even unoptimised. */
#define SPANMILL_BEGIN(name) (0 ? spanmill_begin_at((name), 0) : (void)0)
#define SPANMILL_END() ((void)0)
#ifdef __cplusplus
#define SPANMILL_SCOPE(name) SPANMILL_BEGIN(name)
#endif

#else /* markers written */

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <stddef.h>
#include <stdlib.h>
#include <unistd.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The marker file's descriptor; -2 before the first marker, -1 when no
 * marker file could be opened. */
__attribute__((weak)) int spanmill_marker_fd_ = -2;
/* The process id the texts carry; 0 until known (each marker then asks
 * getpid()). Set only once the atfork handler that refreshes it is in
 * place, so that no child inherits a stale one. */
__attribute__((weak)) int spanmill_marker_pid_ = 0;

#ifdef __cplusplus
}
#endif

static inline void spanmill_forked_(void) {
  __atomic_store_n(&spanmill_marker_pid_, (int)getpid(), __ATOMIC_RELAXED);
}

static inline int spanmill_open_path_(const char* path) {
  int fd;
  do {
    fd = open(path, O_WRONLY | O_APPEND | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

/* Opens the marker file on the process's first marker and returns the
 * descriptor kept, or -1 when none opened. */
__attribute__((noinline, cold, unused)) static int spanmill_open_(void) {
  const char* path = getenv("SPANMILL_MARKER");
  int fd;
  int kept = -2;
  if (path != NULL) {
    fd = path[0] == '\0' ? -1 : spanmill_open_path_(path);
  } else {
    fd = spanmill_open_path_("/sys/kernel/tracing/trace_marker");
    if (fd < 0) {
      fd = spanmill_open_path_("/sys/kernel/debug/tracing/trace_marker");
    }
  }
  if (fd < 0) {
    fd = -1;
  }
  /* Release and acquire: the open happens before any other thread's write
   * through the descriptor (ThreadSanitizer checks descriptors so, too). */
  if (!__atomic_compare_exchange_n(&spanmill_marker_fd_, &kept, fd, 0, __ATOMIC_ACQ_REL,
                                   __ATOMIC_ACQUIRE)) {
    /* Another thread's first marker came first: keep its descriptor. */
    if (fd >= 0) {
      close(fd);
    }
    return kept;
  }
  if (fd >= 0 && pthread_atfork(NULL, NULL, spanmill_forked_) == 0) {
    spanmill_forked_();
  }
  return fd;
}

/* The descriptor to write markers to, or -1 when there is none. */
static inline int spanmill_fd_(void) {
  int fd = __atomic_load_n(&spanmill_marker_fd_, __ATOMIC_ACQUIRE);
  if (fd == -2) {
    int saved = errno;
    fd = spanmill_open_();
    errno = saved;
  }
  return fd;
}

static inline void spanmill_write_(int fd, const char* text, size_t length) {
  int saved = errno;
  while (write(fd, text, length) < 0 && errno == EINTR) {
  }
  errno = saved;
}

/* Copies at most room bytes of text to to, cutting between UTF-8
 * characters; returns the bytes copied. */
static inline size_t spanmill_copy_(char* to, const char* text, size_t room) {
  size_t length = 0;
  while (length < room && text[length] != '\0') {
    to[length] = text[length];
    ++length;
  }
  if (length == room) {
    /* The first byte left out continues a character: leave out its start too. */
    while (length > 0 && ((unsigned char)text[length] & 0xC0) == 0x80) {
      --length;
    }
  }
  return length;
}

/* Writes kind|pid|name, with |location when location is not null. */
static inline void spanmill_write_begin_(char kind, const char* name, const char* location) {
  char text[SPANMILL_TEXT_MAX + 1];
  char digits[12];
  size_t used = 0;
  size_t count = 0;
  size_t locationLength = 0;
  size_t room;
  unsigned int pid;
  const int fd = spanmill_fd_();
  if (fd < 0) {
    return;
  }
  pid = (unsigned int)__atomic_load_n(&spanmill_marker_pid_, __ATOMIC_RELAXED);
  if (pid == 0) {
    pid = (unsigned int)getpid();
  }
  do {
    digits[count++] = (char)('0' + pid % 10);
    pid /= 10;
  } while (pid != 0);
  text[used++] = kind;
  text[used++] = '|';
  while (count > 0) {
    text[used++] = digits[--count];
  }
  text[used++] = '|';
  if (location != NULL) {
    while (location[locationLength] != '\0') {
      ++locationLength;
    }
    if (locationLength > SPANMILL_LOCATION_MAX) {
      location += locationLength - SPANMILL_LOCATION_MAX;
      locationLength = SPANMILL_LOCATION_MAX;
      /* Start at a character's first byte. */
      while (locationLength > 0 && ((unsigned char)*location & 0xC0) == 0x80) {
        ++location;
        --locationLength;
      }
    }
  }
  room = SPANMILL_TEXT_MAX - used - (location != NULL ? locationLength + 1 : 0);
  used += spanmill_copy_(text + used, name != NULL && name[0] != '\0' ? name : "(unnamed)", room);
  if (location != NULL) {
    text[used++] = '|';
    used += spanmill_copy_(text + used, location, locationLength);
  }
  text[used++] = '\n';
  spanmill_write_(fd, text, used);
}

/* Begins a span of name on the calling thread: B|pid|name. */
static inline void spanmill_begin(const char* name) {
  spanmill_write_begin_('B', name, NULL);
}

/* Begins a span of name at a code location: b|pid|name|location (B|pid|name
 * when location is null). */
static inline void spanmill_begin_at(const char* name, const char* location) {
  spanmill_write_begin_(location != NULL ? 'b' : 'B', name, location);
}

/* Ends the calling thread's innermost open span: E. */
static inline void spanmill_end(void) {
  const int fd = spanmill_fd_();
  if (fd >= 0) {
    spanmill_write_(fd, "E\n", 2);
  }
}

/* Begins a span of name located at the macro's file and line. */
#define SPANMILL_BEGIN(name) spanmill_begin_at((name), SPANMILL_HERE)
#define SPANMILL_END() spanmill_end()

#ifdef __cplusplus
/* Begins a span when made and ends it when destroyed. */
class spanmill_scope {
 public:
  spanmill_scope(const char* name, const char* location) { spanmill_begin_at(name, location); }
  ~spanmill_scope() { spanmill_end(); }
  spanmill_scope(const spanmill_scope&) = delete;
  spanmill_scope& operator=(const spanmill_scope&) = delete;
};

/* A span of name, located here, to the end of the enclosing scope. */
#define SPANMILL_SCOPE(name) \
  ::spanmill_scope SPANMILL_JOIN(spanmill_scope_, __LINE__)((name), SPANMILL_HERE)
#endif

#endif /* SPANMILL_DISABLE */

#endif /* SPANMILL_MARKERS_H */
