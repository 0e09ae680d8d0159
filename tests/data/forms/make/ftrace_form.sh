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
trace-cmd)
    # trace-cmd 3.1.6 "extract -B NAME", although its manual says it does not
    # affect other buffers, resets the TOP LEVEL when it ends: it truncates
    # /sys/kernel/tracing/trace, writes events/enable, every
    # events/*/filter and current_tracer, and removes the instance.  On this
    # machine it also made the top-level buffer allocate (buffer_size_kb went
    # from "7 (expanded: 1408)" to "1410").  See ../trace-cmd-extract.writes.
    # It ran once to make trace-cmd-report*.txt; it must not run on a machine
    # where others trace, so it is refused unless asked for explicitly.
    if [ "${SPANMILL_FORMS_RESETS_TOP_LEVEL_OK:-}" != yes ]; then
        echo "trace-cmd extract resets the top-level tracing buffer; refused" >&2
        echo "(set SPANMILL_FORMS_RESETS_TOP_LEVEL_OK=yes on a machine of your own)" >&2
        exit 3
    fi
    ROUNDS=3; SCHED=1 ;;
*) echo "unknown form $FORM" >&2; exit 2 ;;
esac
if [ $SCHED = 1 ]; then
    echo 1 > "$I/events/sched/sched_switch/enable"
    echo 1 > "$I/events/sched/sched_wakeup/enable"
fi
export SPANS_MARKER="$I/trace_marker" SPANS_TRUTH="$OUT/$FORM.truth" SPANS_ROUNDS=$ROUNDS
echo 1 > "$I/tracing_on"
if [ $FORM = trace-cmd ]; then
    "$BIN"
    echo 0 > "$I/tracing_on"
    # extract reads only this instance (-B, no -t); strace logs every file
    # it opens so that one can check it opened nothing for writing outside it.
    DAT=${TMPDIR:-/tmp}/spanmill-forms-$$.dat
    strace -f -qq -e trace=openat,mkdir,rmdir,unlink,truncate -o "$OUT/trace-cmd-extract.files" \
        trace-cmd extract -B "${I##*/}" -o "$DAT"
    # (extract has removed the instance by now)
    trace-cmd report -i "$DAT" > "$OUT/trace-cmd-report.txt"
    trace-cmd report -l -i "$DAT" > "$OUT/trace-cmd-report-l.txt"
    ls -l "$DAT"
    rm -f "$DAT"
    FILE=trace-cmd-report.txt
elif [ $FORM = pipe ]; then
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
