// spanmill-example: a small program instrumented with the marker header.
//
//   spanmill-example [FRAMES [MICROSECONDS]]
//
// Three threads ("decoder", "mixer" and "gfx-worker") each run FRAMES
// frames (default 5); a frame holds a decode and an upload step of busy work
// of MICROSECONDS (default 100) and a third as long, and an idle step that
// sleeps twice as long. The main thread writes a "setup" span, forks a child
// that writes spans of its own, and covers the threads' work with a "main"
// span. Every run makes the same spans; only their times
// vary. The markers use each form: SPANMILL_SCOPE, SPANMILL_BEGIN and
// SPANMILL_END, spanmill_begin_at and spanmill_begin with spanmill_end.
//
// With SPANMILL_EXAMPLE_TRUTH=PATH it also writes what it did to PATH, one
// line per span, fields separated by tabs: thread id, name, location (empty
// when the marker has none), nesting depth (0 outermost), start and
// duration in microseconds on CLOCK_MONOTONIC (the tracing clock "mono"),
// taken just after the begin marker and just before the end marker (the
// first marker also opens the marker file, which its time leaves out).
#include <fcntl.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "include/spanmill/markers.h"

namespace {

int64_t nowNanoseconds() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// The spans this process made, for the truth record. The clock is read
// next to the marker, the bookkeeping done on the far side of it.
class Truth {
 public:
  // Notes the begin of a span on the calling thread; call just after its marker.
  void begin(const char* name, const char* location) {
    const int64_t start = nowNanoseconds();
    open.push_back({static_cast<long>(syscall(SYS_gettid)), name, location,
                    static_cast<int>(open.size()), start, 0});
  }
  // Notes the end of the calling thread's innermost span; call just before its marker.
  void end() {
    std::lock_guard<std::mutex> hold(lock);
    finished.push_back(std::move(open.back()));
    open.pop_back();
    finished.back().end = nowNanoseconds();
  }
  // Drops the spans noted so far: for a forked child, whose memory holds
  // its parent's.
  void forget() { finished.clear(); }
  // Appends the spans noted so far to fd (when it is not -1), in one write.
  void save(int fd) {
    std::lock_guard<std::mutex> hold(lock);
    std::string text;
    for (const Span& span : finished) {
      text += std::to_string(span.tid) + "\t" + span.name + "\t" + span.location + "\t" +
              std::to_string(span.depth) + "\t" + micros(span.start) + "\t" +
              micros(span.end - span.start) + "\n";
    }
    if (fd != -1 && write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
      std::perror("spanmill-example: truth record");
    }
  }

 private:
  struct Span {
    long tid;
    std::string name, location;
    int depth;
    int64_t start, end;  // nanoseconds
  };
  static std::string micros(int64_t nanoseconds) {
    char digits[32];
    std::snprintf(digits, sizeof digits, "%" PRId64 ".%03d", nanoseconds / 1000,
                  static_cast<int>(nanoseconds % 1000));
    return digits;
  }

  static thread_local std::vector<Span> open;  // the calling thread's open spans, innermost last
  std::mutex lock;
  std::vector<Span> finished;  // guarded by lock
};

thread_local std::vector<Truth::Span> Truth::open;
Truth truth;

// Its span in the truth record, begun after the SPANMILL_SCOPE declared
// before it has written its begin marker, and ended before that writes the end.
class TruthScope {
 public:
  TruthScope(const char* name, const char* location) { truth.begin(name, location); }
  ~TruthScope() { truth.end(); }
};

// Each marker together with its truth record, on one line so that the
// locations agree.
#define EXAMPLE_SCOPE(name) \
  SPANMILL_SCOPE(name);     \
  TruthScope SPANMILL_JOIN(truth_, __LINE__)((name), SPANMILL_HERE)
#define EXAMPLE_BEGIN(name) (SPANMILL_BEGIN(name), truth.begin((name), SPANMILL_HERE))
#define EXAMPLE_END() (truth.end(), SPANMILL_END())

void busy(int microseconds) {
  const int64_t until = nowNanoseconds() + int64_t{microseconds} * 1000;
  while (nowNanoseconds() < until) {
  }
}

void idle(int microseconds) {
  const timespec pause = {0, static_cast<long>(microseconds) * 1000};
  nanosleep(&pause, nullptr);
}

void frames(const char* threadName, int count, int work) {
  pthread_setname_np(pthread_self(), threadName);
  for (int frame = 0; frame < count; ++frame) {
    EXAMPLE_SCOPE("frame");
    EXAMPLE_BEGIN("decode");
    busy(work);
    EXAMPLE_END();
    spanmill_begin_at("upload", "gpu/Upload.cpp:42");
    truth.begin("upload", "gpu/Upload.cpp:42");
    busy(work / 3);
    truth.end();
    spanmill_end();
    spanmill_begin("idle");
    truth.begin("idle", "");
    idle(2 * work);
    truth.end();
    spanmill_end();
  }
}

// The forked child's work: a span with three steps in it.
void child(int work) {
  EXAMPLE_SCOPE("child");
  for (int step = 0; step < 3; ++step) {
    EXAMPLE_BEGIN("child step");
    busy(work);
    EXAMPLE_END();
  }
}

}  // namespace

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::atoi(argv[1]) : 5;
  const int work = argc > 2 ? std::atoi(argv[2]) : 100;
  const char* truthPath = std::getenv("SPANMILL_EXAMPLE_TRUTH");
  // The first clock reading binds the function and maps the vDSO's data:
  // tens of microseconds that the first span's record must not take.
  nowNanoseconds();
  // Opened before the fork: parent and child append to one file.
  const int record =
      truthPath == nullptr
          ? -1
          : open(truthPath, O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
  if (truthPath != nullptr && record == -1) {
    std::perror(truthPath);
    return 1;
  }
  // A marker before the fork: the child inherits the open marker file.
  EXAMPLE_BEGIN("setup");
  EXAMPLE_END();
  const pid_t forked = fork();
  if (forked == 0) {
    truth.forget();
    child(work);
    truth.save(record);
    _exit(0);
  }
  {
    EXAMPLE_SCOPE("main");
    std::vector<std::thread> threads;
    for (const char* name : {"decoder", "mixer", "gfx-worker"}) {
      threads.emplace_back(frames, name, count, work);
    }
    for (std::thread& thread : threads) {
      thread.join();
    }
  }
  int status = 0;
  if (forked == -1 || waitpid(forked, &status, 0) != forked || status != 0) {
    std::fprintf(stderr, "spanmill-example: the child failed\n");
    return 1;
  }
  truth.save(record);
  return 0;
}
