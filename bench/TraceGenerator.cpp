// Writes a realistic trace on standard output, the same bytes on every run:
//   trace-generator ftrace|strace MEGABYTES
//   trace-generator forks PROCESSES
//   trace-generator threads THREADS
// ftrace: four dozen threads writing nested begin/end markers (some with a
// code location) and counters among scheduler events, which make up over
// half of the lines. strace: eight threads of `strace -ttt -T -f` output,
// with finished calls, unfinished/resumed pairs, "[pid N]" lines, signals
// and, at the end, each thread's exit. forks: `strace -ttt -T -f` of a shell
// loop that starts PROCESSES short-lived programs one after another, five
// spans each. threads: ftrace markers of THREADS short-lived threads, a few
// alive at a time, each with one span.
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// A fixed linear congruential generator: the same trace everywhere.
class Random {
 public:
  uint32_t next() {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<uint32_t>(state >> 33);
  }
  uint32_t below(uint32_t n) { return next() % n; }

 private:
  uint64_t state = 0x5eed;
};

// Time in microseconds, printed as seconds with six decimals.
struct Clock {
  uint64_t micros;
  void advance(Random& random) { micros += 1 + random.below(40); }
  void print(char* out, size_t size) const {
    std::snprintf(out, size, "%6" PRIu64 ".%06" PRIu64, micros / 1000000, micros % 1000000);
  }
};

const char* const kFunctions[] = {"doFrame",      "measure",   "layout",      "draw",
                                  "DrawFrame",    "syncFrame", "flush",       "mix",
                                  "decodeBuffer", "inflate",   "onVsync",     "animate",
                                  "queueBuffer",  "dequeue",   "prepareTree", "recordCommands"};
const char* const kLocations[] = {"ui/View.cpp:1042",       "hwui/RenderNode.cpp:311",
                                  "audio/Mixer.cpp:88",     "gui/Surface.cpp:517",
                                  "media/Decoder.cpp:2040", "ui/Choreographer.cpp:77"};
const char* const kComms[] = {"ui_main",   "RenderThread",    "audio_io",    "binder:9918_2",
                              "hwuiTask0", "Chrome_IOThread", "kworker/0:1", "surfaceflinger"};

template <size_t N>
const char* pick(Random& random, const char* const (&names)[N]) {
  return names[random.below(N)];
}

void writeFtrace(uint64_t limit) {
  Random random;
  Clock clock{3842407805ULL};
  const int kThreads = 48;
  std::vector<int> depth(kThreads, 0);
  std::printf(
      "# tracer: nop\n#\n# entries-in-buffer/entries-written: 0/0   #P:2\n#\n"
      "#           TASK-PID     CPU#  |||||  TIMESTAMP  FUNCTION\n"
      "#              | |         |   |||||     |         |\n");
  uint64_t written = 0;
  char time[32];
  char line[512];
  while (written < limit) {
    clock.advance(random);
    clock.print(time, sizeof time);
    int thread = static_cast<int>(random.below(kThreads));
    int pid = 9918 + thread;
    const char* comm = kComms[thread % 8];
    unsigned cpu = random.below(2);
    uint32_t kind = random.below(100);
    int length;
    if (kind < 40) {
      int next = 9918 + static_cast<int>(random.below(kThreads));
      length = std::snprintf(line, sizeof line,
                             "%16s-%-7d [%03u] d..2. %s: sched_switch: prev_comm=%s prev_pid=%d "
                             "prev_prio=120 prev_state=S ==> next_comm=%s next_pid=%d "
                             "next_prio=120\n",
                             comm, pid, cpu, time, comm, pid, kComms[next % 8], next);
    } else if (kind < 58) {
      int woken = 9918 + static_cast<int>(random.below(kThreads));
      length = std::snprintf(line, sizeof line,
                             "%16s-%-7d [%03u] dNs5. %s: sched_wakeup: comm=%s pid=%d prio=120 "
                             "target_cpu=%03u\n",
                             "<idle>", 0, cpu, time, kComms[woken % 8], woken, cpu);
    } else {
      // A marker: close when deep or by chance, otherwise open or count.
      char marker[160];
      if (depth[thread] > 0 && (depth[thread] >= 6 || kind < 78)) {
        --depth[thread];
        std::snprintf(marker, sizeof marker, depth[thread] % 4 == 3 ? "E done" : "E");
      } else if (kind < 96) {
        ++depth[thread];
        if (random.below(3) == 0) {
          std::snprintf(marker, sizeof marker, "b|9918|%s|%s", pick(random, kFunctions),
                        pick(random, kLocations));
        } else {
          std::snprintf(marker, sizeof marker, "B|9918|%s", pick(random, kFunctions));
        }
      } else {
        std::snprintf(marker, sizeof marker, "C|9918|queued|%u", random.below(64));
      }
      length =
          std::snprintf(line, sizeof line, "%16s-%-7d [%03u] ...1. %s: tracing_mark_write: %s\n",
                        comm, pid, cpu, time, marker);
    }
    std::fwrite(line, 1, static_cast<size_t>(length), stdout);
    written += static_cast<uint64_t>(length);
  }
}

const char* const kCalls[] = {
    "read(3, \"\\177ELF\\2\\1\\1\\0\\0\\0\\0\\0\\0\\0\\0\\0\\3\\0>\\0\\1\\0\\0\\0\"..., 832) = 832",
    "openat(AT_FDCWD, \"/lib/x86_64-linux-gnu/libc.so.6\", O_RDONLY|O_CLOEXEC) = 3",
    "mmap(NULL, 8192, PROT_READ|PROT_WRITE, MAP_PRIVATE|MAP_ANONYMOUS, -1, 0) = 0x7fdec367e000",
    "close(3)                                = 0",
    "write(1, \"frame 1042 done\\n\", 16)          = 16",
    "futex(0x7fdec313d990, FUTEX_WAKE_PRIVATE, 1) = 1",
    "newfstatat(3, \"\", {st_mode=S_IFREG|0644, st_size=41491, ...}, AT_EMPTY_PATH) = 0",
    "access(\"/etc/ld.so.preload\", R_OK)      = -1 ENOENT (No such file or directory)",
    "clock_gettime(CLOCK_MONOTONIC, {tv_sec=3842, tv_nsec=407805000}) = 0",
    "ioctl(5, TCGETS, 0x7ffd3e0a1c40)        = -1 ENOTTY (Inappropriate ioctl for device)"};

// Calls that block, begun on one line and resumed on a later one.
struct Blocking {
  const char* name;
  const char* begin;
  const char* resume;
};
const Blocking kBlocking[] = {
    {"read", "read(3, ", "\"go\\n\", 16) = 3"},
    {"futex", "futex(0x7fdec313d990, FUTEX_WAIT_BITSET|FUTEX_CLOCK_REALTIME, 9953, NULL, ",
     ") = 0"},
    {"clock_nanosleep", "clock_nanosleep(CLOCK_REALTIME, 0, {tv_sec=0, tv_nsec=2000000}, ",
     "NULL) = 0"},
    {"poll", "poll([{fd=4, events=POLLIN}], 1, -1", ") = 1 ([{fd=4, revents=POLLIN}])"}};

void writeStrace(uint64_t limit) {
  Random random;
  Clock clock{1796584942152334ULL};
  const int kThreads = 8;
  std::vector<int> blocked(kThreads, -1);  // the blocking call a thread waits in, or -1
  uint64_t written = 0;
  char time[32];
  char prefix[32];
  char line[512];
  while (written < limit) {
    clock.advance(random);
    clock.print(time, sizeof time);
    int thread = static_cast<int>(random.below(kThreads));
    int pid = 9952 + thread;
    // strace writes "[pid N]" where several processes share one output.
    if (random.below(4) == 0) {
      std::snprintf(prefix, sizeof prefix, "[pid %5d] ", pid);
    } else {
      std::snprintf(prefix, sizeof prefix, "%-5d ", pid);
    }
    uint32_t kind = random.below(100);
    uint32_t took = 10 + random.below(300);
    int length;
    if (blocked[thread] >= 0) {
      const Blocking& call = kBlocking[blocked[thread]];
      blocked[thread] = -1;
      length = std::snprintf(line, sizeof line, "%s%s <... %s resumed>%s <0.%06u>\n", prefix, time,
                             call.name, call.resume, took * 7);
    } else if (kind < 12) {
      blocked[thread] = static_cast<int>(random.below(4));
      length = std::snprintf(line, sizeof line, "%s%s %s <unfinished ...>\n", prefix, time,
                             kBlocking[blocked[thread]].begin);
    } else if (kind < 14) {
      length = std::snprintf(line, sizeof line,
                             "%s%s --- SIGCHLD {si_signo=SIGCHLD, si_code=CLD_EXITED, si_pid=%d, "
                             "si_uid=1000, si_status=0, si_utime=0, si_stime=0} ---\n",
                             prefix, time, pid + 100);
    } else {
      length = std::snprintf(line, sizeof line, "%s%s %s <0.%06u>\n", prefix, time,
                             pick(random, kCalls), took);
    }
    std::fwrite(line, 1, static_cast<size_t>(length), stdout);
    written += static_cast<uint64_t>(length);
  }
  for (int thread = 0; thread < kThreads; ++thread) {
    clock.advance(random);
    clock.print(time, sizeof time);
    std::printf("%-5d %s +++ exited with 0 +++\n", 9952 + thread, time);
  }
}

// A shell that forks and waits for one short program after another: each
// child has its own process id and three calls, the shell a clone and a
// wait4 that blocks until the child has exited.
void writeForks(uint64_t processes) {
  Random random;
  Clock clock{1796584942152334ULL};
  const int kShell = 4100;
  char time[32];
  for (uint64_t i = 0; i < processes; ++i) {
    const uint64_t child = 4200 + i;
    clock.advance(random);
    clock.print(time, sizeof time);
    std::printf(
        "%-5d %s clone(child_stack=NULL, flags=CLONE_CHILD_CLEARTID|CLONE_CHILD_SETTID|"
        "SIGCHLD, child_tidptr=0x7f3a2c1d2a10) = %" PRIu64 " <0.%06u>\n",
        kShell, time, child, 60 + random.below(90));
    clock.advance(random);
    clock.print(time, sizeof time);
    std::printf("%-5d %s wait4(-1,  <unfinished ...>\n", kShell, time);
    const char* const kChild[] = {
        "execve(\"/bin/true\", [\"true\"], 0x7ffd3e0a1c40 /* 22 vars */) = 0",
        "brk(NULL) = 0x55d0c5a4b000", "exit_group(0) = ?"};
    for (int call = 0; call < 2; ++call) {
      clock.advance(random);
      clock.print(time, sizeof time);
      std::printf("[pid %5" PRIu64 "] %s %s <0.%06u>\n", child, time, kChild[call],
                  10 + random.below(400));
    }
    clock.advance(random);
    clock.print(time, sizeof time);
    std::printf("%-5" PRIu64 " %s %s\n%-5" PRIu64 " %s +++ exited with 0 +++\n", child, time,
                kChild[2], child, time);
    clock.advance(random);
    clock.print(time, sizeof time);
    std::printf(
        "%-5d %s <... wait4 resumed>[{WIFEXITED(s) && WEXITSTATUS(s) == 0}], 0, NULL) = "
        "%" PRIu64 " <0.%06u>\n",
        kShell, time, child, 200 + random.below(400));
    clock.advance(random);
    clock.print(time, sizeof time);
    std::printf("%-5d %s rt_sigreturn({mask=[]}) = %" PRIu64 " <0.000011>\n", kShell, time, child);
  }
}

// Short-lived threads, eight alive at a time: each writes one begin and one
// end marker and is replaced by a thread with a new id when it ends.
void writeThreads(uint64_t threads) {
  Random random;
  Clock clock{3842407805ULL};
  const uint64_t kAlive = 8;
  std::vector<uint64_t> tid(kAlive);
  std::vector<bool> open(kAlive, false);
  uint64_t started = 0;
  for (uint64_t slot = 0; slot < kAlive && started < threads; ++slot) {
    tid[slot] = 20000 + started++;
  }
  uint64_t ended = 0;
  char time[32];
  while (ended < threads) {
    const uint64_t slot = random.below(kAlive);
    if (tid[slot] == 0) {
      continue;
    }
    clock.advance(random);
    clock.print(time, sizeof time);
    std::printf("     pool_worker-%-7" PRIu64 " [%03u] ...1. %s: tracing_mark_write: ", tid[slot],
                random.below(4), time);
    if (!open[slot]) {
      std::printf("B|%" PRIu64 "|%s\n", tid[slot], pick(random, kFunctions));
      open[slot] = true;
      continue;
    }
    std::printf("E\n");
    open[slot] = false;
    ++ended;
    tid[slot] = started < threads ? 20000 + started++ : 0;
  }
}

}  // namespace

int main(int argc, char** argv) {
  const std::string kind = argc == 3 ? argv[1] : "";
  if (kind != "ftrace" && kind != "strace" && kind != "forks" && kind != "threads") {
    std::fprintf(stderr, "usage: %s ftrace|strace MEGABYTES\n       %s forks|threads COUNT\n",
                 argv[0], argv[0]);
    return 2;
  }
  const uint64_t count = std::strtoull(argv[2], nullptr, 10);
  if (kind == "ftrace") {
    writeFtrace(count * 1024 * 1024);
  } else if (kind == "strace") {
    writeStrace(count * 1024 * 1024);
  } else if (kind == "forks") {
    writeForks(count);
  } else {
    writeThreads(count);
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}
