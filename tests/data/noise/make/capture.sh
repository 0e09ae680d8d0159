#!/bin/sh
# capture.sh [BUILD_DIR [OUT_DIR]]: builds frames.c and captures it 40 times
# with spanmill-capture, in turn at LAYOUT_FACTOR 1 and 2 (1, 2, 1, 2, ...),
# so that slow drifts of the machine fall on both sides alike. Each run's
# trace is converted with spanmill -a, appending one report per run to
# OUT_DIR/same.json (factor 1) or OUT_DIR/doubled.json (factor 2).
#
# BUILD_DIR holds spanmill, spanmill-capture and spanmill-report (default
# build/release, from the repository root); OUT_DIR is tests/data/noise.
# spanmill-capture traces in a tracefs instance of its own and removes it;
# nothing here writes to the top-level tracing files. Needs root.
# Prints each run's medians (us) of frame, layout and draw.
set -eu
HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/../../../.." && pwd)
BUILD=${1:-$ROOT/build/release}
OUT=${2:-$HERE/..}
RUNS=${NOISE_RUNS:-20}
PAUSE=${NOISE_PAUSE:-2}
for tool in spanmill spanmill-capture spanmill-report; do
    if [ ! -x "$BUILD/$tool" ]; then
        echo "capture.sh: no $BUILD/$tool (make build first)" >&2
        exit 2
    fi
done

WORK=$(mktemp -d "${TMPDIR:-/tmp}/spanmill-noise.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
cc -O2 -Wall -Wextra -pthread -I"$ROOT/include" -o "$WORK/frames" "$HERE/frames.c"

# The files are made whole here and moved at the end: -a appends, and a
# failed run must not leave half a set behind.
: > "$WORK/same.json"
: > "$WORK/doubled.json"

# The median of SECTION in one run's summary (one JSON row per section),
# checking that the run has all its spans (2 threads x 100 frames).
median() {
    tr '{' '\n' < "$WORK/summary" | awk -v s="\"section\":\"$1\"" -v run="$2" '
        index($0, s) == 1 {
            spans = $0; sub(/.*"spans":/, "", spans); sub(/,.*/, "", spans)
            m = $0; sub(/.*"median_us":/, "", m); sub(/,.*/, "", m)
            found = 1
        }
        END {
            if (!found) { print "capture.sh: run " run ": no " s > "/dev/stderr"; exit 1 }
            if (spans != 200) { print "capture.sh: run " run ": " spans " spans of " s > "/dev/stderr"; exit 1 }
            print m
        }'
}

echo "run factor frame layout draw (median us)"
i=1
while [ $i -le $RUNS ]; do
    for factor in 1 2; do
        if [ $factor = 1 ]; then name=same; else name=doubled; fi
        "$BUILD/spanmill-capture" -o "$WORK/run.ftrace" -- "$WORK/frames" $factor
        rm -f "$WORK/run.json"
        "$BUILD/spanmill" -i "$WORK/run.ftrace" -o "$WORK/run.json"
        "$BUILD/spanmill" -i "$WORK/run.ftrace" -a "$WORK/$name.json"
        "$BUILD/spanmill-report" summary --json "$WORK/run.json" > "$WORK/summary"
        frame=$(median frame $i)
        layout=$(median layout $i)
        draw=$(median draw $i)
        echo "$i $factor $frame $layout $draw"
        sleep "$PAUSE"
    done
    i=$((i + 1))
done
mv "$WORK/same.json" "$WORK/doubled.json" "$OUT/"
