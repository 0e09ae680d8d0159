/* spans.c: writes span markers by hand to an ftrace instance's trace_marker
 * and writes its own record of every span it made (the ground truth).
 *
 * Environment:
 *   SPANS_MARKER  path of the trace_marker file to write to (required)
 *   SPANS_TRUTH   path of the truth file to write (required)
 *   SPANS_END     how ends are written: "E" (default), "E|pid", "E|" or
 *                 "mixed" (E|pid, E| and E in turn)
 *   SPANS_ROUNDS  rounds per thread (default 6)
 *   SPANS_SLEEP_US sleep inside the innermost span (default 200)
 *   SPANS_PLAIN   if set, the threads are named myapp, netio, gfxworker1 and
 *                 worker (no '-' in any name) instead of my-app, net-io,
 *                 gfx-worker-1 and worker
 *   SPANS_TSC     if set, path of a file that gets pairs
 *                 "mono_ns<TAB>tsc" read right after one another, at start and end
 *
 * Markers: "B|pid|name" (begin), "b|pid|name|location" (begin at a
 * location), end as chosen above. pid is the process id (tgid).
 *
 * Truth lines, one per span, in the order the spans ended per thread:
 *   tid<TAB>name<TAB>location<TAB>depth<TAB>start_us<TAB>duration_us
 * location is "-" when the span was begun with "B". depth 0 is outermost.
 * start_us: CLOCK_MONOTONIC right before the begin marker's write(2), in
 * microseconds with three decimals; duration_us: from that to
 * CLOCK_MONOTONIC right before the end marker's write(2).
 * Build: gcc -O2 -pthread -o spans spans.c
 */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>
#include <x86intrin.h>

static int marker_fd = -1;
static FILE *truth;
static pthread_mutex_t truth_lock = PTHREAD_MUTEX_INITIALIZER;
static const char *end_mode = "E";
static int rounds = 6;
static long sleep_us = 200;
static pid_t pid;

static long long now_ns(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long long)ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

static void put(const char *buf, size_t n)
{
    ssize_t w = write(marker_fd, buf, n);
    if (w != (ssize_t)n) {
        fprintf(stderr, "spans: write to marker: %s\n", w < 0 ? strerror(errno) : "short");
        exit(1);
    }
}

struct open_span {
    char name[64];
    char loc[64];
    long long start_ns;
};

struct thr {
    const char *tname; /* NULL: keep the name the thread has */
    int kind;
    pid_t tid;
    struct open_span stack[8];
    int depth;
    int ends;
};

static void begin(struct thr *t, const char *name, const char *loc)
{
    char buf[256];
    int n;
    struct open_span *s = &t->stack[t->depth++];
    snprintf(s->name, sizeof s->name, "%s", name);
    snprintf(s->loc, sizeof s->loc, "%s", loc ? loc : "-");
    if (loc)
        n = snprintf(buf, sizeof buf, "b|%d|%s|%s", (int)pid, name, loc);
    else
        n = snprintf(buf, sizeof buf, "B|%d|%s", (int)pid, name);
    s->start_ns = now_ns();
    put(buf, (size_t)n);
}

static void end(struct thr *t)
{
    char buf[64];
    int n;
    const char *m = end_mode;
    if (strcmp(end_mode, "mixed") == 0) {
        static const char *modes[] = {"E|pid", "E|", "E"};
        m = modes[t->ends % 3];
    }
    t->ends++;
    if (strcmp(m, "E|pid") == 0)
        n = snprintf(buf, sizeof buf, "E|%d", (int)pid);
    else
        n = snprintf(buf, sizeof buf, "%s", m);
    struct open_span *s = &t->stack[--t->depth];
    long long e = now_ns();
    put(buf, (size_t)n);
    pthread_mutex_lock(&truth_lock);
    fprintf(truth, "%d\t%s\t%s\t%d\t%lld.%03lld\t%lld.%03lld\n", (int)t->tid, s->name, s->loc,
            t->depth, s->start_ns / 1000, s->start_ns % 1000, (e - s->start_ns) / 1000,
            (e - s->start_ns) % 1000);
    pthread_mutex_unlock(&truth_lock);
}

static void nap(long us)
{
    struct timespec ts = {us / 1000000, (us % 1000000) * 1000};
    nanosleep(&ts, NULL);
}

static volatile unsigned long sink;
static void spin(int k)
{
    for (int i = 0; i < k * 1000; i++)
        sink += (unsigned long)i * 7;
}

/* Four shapes of work; each round makes a known tree of spans. */
static void round_of(struct thr *t, int r)
{
    switch (t->kind) {
    case 0: /* main: frame > {update > physics, render > draw(loc)} : 5 spans */
        begin(t, "frame", NULL);
        begin(t, "update", NULL);
        begin(t, "physics", "sim.c:42");
        spin(20);
        end(t);
        end(t);
        begin(t, "render", NULL);
        begin(t, "draw", "gl.c:310");
        nap(sleep_us);
        end(t);
        end(t);
        end(t);
        break;
    case 1: /* net-io: request > {connect, send > encode, recv} : 5 spans */
        begin(t, "request", "net.c:77");
        begin(t, "connect", NULL);
        nap(sleep_us / 2);
        end(t);
        begin(t, "send", NULL);
        begin(t, "encode", "codec.c:12");
        spin(10);
        end(t);
        end(t);
        begin(t, "recv", NULL);
        nap(sleep_us);
        end(t);
        end(t);
        break;
    case 2: /* gfx-worker-1: job > tile > shade > blend (deep), then job2 : 5 spans */
        begin(t, "job", NULL);
        begin(t, "tile", NULL);
        begin(t, "shade", "shader.c:5");
        begin(t, "blend", NULL);
        nap(sleep_us);
        end(t);
        end(t);
        end(t);
        end(t);
        begin(t, r % 2 ? "job" : "job2", NULL);
        spin(5);
        end(t);
        break;
    default: /* plain-named worker: same name nested in itself: 4 spans */
        begin(t, "work", NULL);
        begin(t, "work", NULL);
        begin(t, "work", "w.c:1");
        nap(sleep_us / 4);
        end(t);
        end(t);
        begin(t, "flush", NULL);
        spin(3);
        end(t);
        end(t);
        break;
    }
}

static void *run(void *arg)
{
    struct thr *t = arg;
    t->tid = (pid_t)syscall(SYS_gettid);
    if (t->tname)
        prctl(PR_SET_NAME, t->tname, 0, 0, 0);
    for (int r = 0; r < rounds; r++)
        round_of(t, r);
    return NULL;
}

static void tsc_pair(FILE *f)
{
    long long a = now_ns();
    unsigned long long c = __rdtsc();
    long long b = now_ns();
    fprintf(f, "%lld\t%llu\t(mono before and after: %lld %lld)\n", (a + b) / 2, c, a, b);
}

int main(void)
{
    const char *mp = getenv("SPANS_MARKER"), *tp = getenv("SPANS_TRUTH");
    const char *tscp = getenv("SPANS_TSC");
    FILE *tscf = NULL;
    if (!mp || !tp) {
        fprintf(stderr, "spans: set SPANS_MARKER and SPANS_TRUTH\n");
        return 2;
    }
    if (getenv("SPANS_END"))
        end_mode = getenv("SPANS_END");
    if (getenv("SPANS_ROUNDS"))
        rounds = atoi(getenv("SPANS_ROUNDS"));
    if (getenv("SPANS_SLEEP_US"))
        sleep_us = atol(getenv("SPANS_SLEEP_US"));
    marker_fd = open(mp, O_WRONLY | O_CLOEXEC);
    if (marker_fd < 0) {
        perror(mp);
        return 1;
    }
    truth = fopen(tp, "w");
    if (!truth) {
        perror(tp);
        return 1;
    }
    if (tscp && !(tscf = fopen(tscp, "w"))) {
        perror(tscp);
        return 1;
    }
    if (tscf)
        tsc_pair(tscf);
    pid = getpid();
    prctl(PR_SET_NAME, "my-app", 0, 0, 0);
    struct thr th[4] = {
        {.tname = "my-app", .kind = 0},
        {.tname = "net-io", .kind = 1},
        {.tname = "gfx-worker-1", .kind = 2},
        {.tname = NULL, .kind = 3}, /* keeps the name "worker" it inherits */
    };
    if (getenv("SPANS_PLAIN")) {
        th[0].tname = "myapp";
        th[1].tname = "netio";
        th[2].tname = "gfxworker1";
        prctl(PR_SET_NAME, "myapp", 0, 0, 0);
    }
    pthread_t p[3];
    for (int i = 1; i < 4; i++) {
        if (i == 3)
            prctl(PR_SET_NAME, "worker", 0, 0, 0); /* inherited by the new thread */
        pthread_create(&p[i - 1], NULL, run, &th[i]);
        if (i == 3)
            prctl(PR_SET_NAME, th[0].tname, 0, 0, 0);
    }
    run(&th[0]);
    for (int i = 0; i < 3; i++)
        pthread_join(p[i], NULL);
    if (tscf) {
        tsc_pair(tscf);
        fclose(tscf);
    }
    fclose(truth);
    close(marker_fd);
    return 0;
}
