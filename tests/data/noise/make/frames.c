/* frames.c: two threads, each drawing 100 frames, every frame a span "frame"
 * holding a span "layout" and then a span "draw". The markers go through
 * include/spanmill/markers.h, to the file $SPANMILL_MARKER names
 * (spanmill-capture sets it to its instance's trace_marker).
 *
 * Usage: frames [LAYOUT_FACTOR]   (a whole number from 1 to 100, default 1)
 *
 * The work inside a span is a fixed count of dependent integer steps, not
 * calibrated against a clock and never sleeping: a slower machine or a
 * slower program shows as a longer span. At factor 1 layout is about 20 us
 * and draw about 40 us on the machine the captures were made on (medians of
 * 20 and 44 us there); LAYOUT_FACTOR multiplies layout's step count and
 * leaves draw's alone.
 *
 * Build: cc -O2 -pthread -I<repository root>/include -o frames frames.c
 */
#include <pthread.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <spanmill/markers.h>

#define FRAMES 100
#define THREADS 2
/* Steps per span at factor 1, measured to give about 20 us and 40 us. */
#define LAYOUT_STEPS 18000L
#define DRAW_STEPS 36000L

static long layout_factor = 1;
/* Where each thread's result goes, so that the work is not optimised away. */
static volatile uint64_t sink[THREADS];

/* steps dependent multiply-adds: each needs the one before, and the empty
 * asm makes the value opaque to the compiler, so it can neither skip the
 * loop, fold it into a formula nor vectorise it. */
static uint64_t work(uint64_t x, long steps)
{
    for (long i = 0; i < steps; ++i) {
        x = x * 6364136223846793005ULL + 1442695040888963407ULL;
        __asm__ volatile("" : "+r"(x));
    }
    return x;
}

static void* run(void* arg)
{
    const long index = (long)(intptr_t)arg;
    uint64_t x = (uint64_t)index + 1;
    for (int frame = 0; frame < FRAMES; ++frame) {
        spanmill_begin("frame");
        spanmill_begin("layout");
        x = work(x, LAYOUT_STEPS * layout_factor);
        spanmill_end();
        spanmill_begin("draw");
        x = work(x, DRAW_STEPS);
        spanmill_end();
        spanmill_end();
    }
    sink[index] = x;
    return NULL;
}

int main(int argc, char** argv)
{
    pthread_t threads[THREADS];
    if (argc > 2) {
        fprintf(stderr, "usage: frames [LAYOUT_FACTOR]\n");
        return 2;
    }
    if (argc == 2) {
        char* end;
        layout_factor = strtol(argv[1], &end, 10);
        if (end == argv[1] || *end != '\0' || layout_factor < 1 || layout_factor > 100) {
            fprintf(stderr, "frames: LAYOUT_FACTOR must be a whole number from 1 to 100: %s\n",
                    argv[1]);
            return 2;
        }
    }
    for (long i = 0; i < THREADS; ++i) {
        if (pthread_create(&threads[i], NULL, run, (void*)(intptr_t)i) != 0) {
            fprintf(stderr, "frames: cannot start a thread\n");
            return 1;
        }
    }
    for (long i = 0; i < THREADS; ++i) {
        pthread_join(threads[i], NULL);
    }
    return 0;
}
