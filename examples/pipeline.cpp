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
// taken just before the begin marker and just after the end marker.
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

// The spans this process made, for the truth record.
class Truth {
 public:
  // Notes the begin of a span on the calling thread; call just before its marker.
  void begin(const char* name, const char* location) {
    open.push_back({static_cast<long>(syscall(SYS_gettid)), name, location,
                    static_cast<int>(open.size()), nowNanoseconds(), 0});
  }
  // Notes the end of the calling thread's innermost span; call just after its marker.
  void end() {
    Span span = open.back();
    span.end = nowNanoseconds();
    open.pop_back();
    std::lock_guard<std::mutex> hold(lock);
    text += std::to_string(span.tid) + "\t" + span.name + "\t" + span.location + "\t" +
            std::to_string(span.depth) + "\t" + micros(span.start) + "\t" +
            micros(span.end - span.start) + "\n";
  }
  // Drops the spans noted so far: for a forked child, whose memory holds
  // its parent's.
  void forget() { text.clear(); }
  // Appends the spans noted so far to fd (when it is not -1), in one write.
  void save(int fd) {
    std::lock_guard<std::mutex> hold(lock);
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
  std::string text;  // the finished spans' lines, guarded by lock
};

thread_local std::vector<Truth::Span> Truth::open;
Truth truth;

// Ends its span in the truth record after the SPANMILL_SCOPE declared after
// it has written its end marker.
class TruthScope {
 public:
  TruthScope(const char* name, const char* location) { truth.begin(name, location); }
  ~TruthScope() { truth.end(); }
};

// Each marker together with its truth record, on one line so that the
// locations agree.
#define EXAMPLE_SCOPE(name)                                          \
  TruthScope SPANMILL_JOIN(truth_, __LINE__)((name), SPANMILL_HERE); \
  SPANMILL_SCOPE(name)
#define EXAMPLE_BEGIN(name) (truth.begin((name), SPANMILL_HERE), SPANMILL_BEGIN(name))
#define EXAMPLE_END() (SPANMILL_END(), truth.end())

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
    truth.begin("upload", "gpu/Upload.cpp:42");
    spanmill_begin_at("upload", "gpu/Upload.cpp:42");
    busy(work / 3);
    spanmill_end();
    truth.end();
    truth.begin("idle", "");
    spanmill_begin("idle");
    idle(2 * work);
    spanmill_end();
    truth.end();
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
