#!/bin/sh
# ftrace_form.sh FORM OUTDIR: makes one ftrace capture with spans.c in an
# instance of its own, saves it, and removes the instance.
# It never writes to the top-level tracing files.
set -eu
FORM=$1
OUT=${2:-.}
HERE=$(cd "$(dirname "$0")" && pwd)
T=/sys/kernel/tracing
I=$T/instances/spanmill-forms-$$
BIN=${SPANS_BIN:-/tmp/spans-bin}
gcc -O2 -Wall -pthread -o "$BIN" "$HERE/spans.c"

mkdir "$I"
trap 'echo 0 > "$I/tracing_on" 2>/dev/null || true; rmdir "$I" 2>/dev/null || true' EXIT
echo 0 > "$I/tracing_on"
echo mono > "$I/trace_clock"
echo 0 > "$I/options/record-tgid"
echo 1 > "$I/options/irq-info"
echo 1 > "$I/options/overwrite"
echo 256 > "$I/buffer_size_kb"
SCHED=0
ROUNDS=13
FILE=$FORM.ftrace
case $FORM in
dash-names) SCHED=1; ROUNDS=11 ;;
no-flags) echo 0 > "$I/options/irq-info"; ROUNDS=4 ;;
android-ends) ROUNDS=4; export SPANS_END=mixed ;;
overrun) echo 8 > "$I/buffer_size_kb"; ROUNDS=60; export SPANS_SLEEP_US=50 ;;
tsc) echo x86-tsc > "$I/trace_clock"; ROUNDS=4; export SPANS_TSC="$OUT/tsc.tscmap" ;;
mono-plain) ROUNDS=4; SCHED=1; export SPANS_PLAIN=1 ;;
pipe) ROUNDS=3 ;;
*) echo "unknown form $FORM" >&2; exit 2 ;;
esac
if [ $SCHED = 1 ]; then
    echo 1 > "$I/events/sched/sched_switch/enable"
    echo 1 > "$I/events/sched/sched_wakeup/enable"
fi
export SPANS_MARKER="$I/trace_marker" SPANS_TRUTH="$OUT/$FORM.truth" SPANS_ROUNDS=$ROUNDS
echo 1 > "$I/tracing_on"
if [ $FORM = pipe ]; then
    cat "$I/trace_pipe" > "$OUT/$FILE" &
    CAT=$!
    "$BIN"
    sleep 0.5
    kill $CAT
    wait $CAT || true
else
    "$BIN"
    echo 0 > "$I/tracing_on"
    cat "$I/trace" > "$OUT/$FILE"
fi
echo 0 > "$I/tracing_on"
if [ $FORM = overrun ]; then
    for c in "$I"/per_cpu/cpu*; do
        echo "== ${c##*/}/stats"
        cat "$c/stats"
    done > "$OUT/overrun.stats"
fi
echo "$FORM: $(wc -c < "$OUT/$FILE") bytes, $(wc -l < "$OUT/$FORM.truth") spans in truth"
