#!/usr/bin/env bash
# Peak resident memory of spanmill against what it keeps: memory follows
# the spans and the threads, not the bytes read. Each row feeds one input
# on standard input and checks the peak against
#   24 MiB + 32 bytes a reported span + 256 bytes a thread.
# The rows: no input, scheduler events without a marker, one line of 300 MiB
# that never ends (kept only up to the line limit), closed spans on 16
# threads, the two 300 MB benchmark traces, a fork-heavy strace of 100 000
# processes and an ftrace of 1 000 000 one-span threads. Then spanmill-tidy's
# peak on large inputs and on one endless line, against a fixed bound.
#   bench/memory.sh [path to spanmill]   exits 1 when a row misses the bound
#   SCRATCH=/tmp MEGABYTES=300 bench/memory.sh
set -euo pipefail
cd "$(dirname "$0")/.."
spanmill=${1:-build/spanmill}
generator=build/release/trace-generator
SCRATCH=${SCRATCH:-/tmp}
MEGABYTES=${MEGABYTES:-300}
report=$SCRATCH/spanmill-memory-report.json
if [ ! -x /usr/bin/time ]; then
  echo "needs /usr/bin/time (Debian package: time)" >&2
  exit 1
fi
if [ ! -x "$generator" ]; then
  make build >/dev/null
fi

# N closed spans on 16 threads, as ftrace marker lines.
spans() {
  awk -v n="$1" 'BEGIN {
    for (i = 0; i < n; i++) {
      tid = 1000 + i % 16; t = 1000 + i * 0.000010
      printf "   worker-%d   [001] ..... %.6f: tracing_mark_write: B|%d|step%d\n", tid, t, tid, i % 50
      printf "   worker-%d   [001] ..... %.6f: tracing_mark_write: E\n", tid, t + 0.000005
    }
  }'
}

# About MiB mebibytes of scheduler events and no marker at all.
noise() {
  head -c "$(($1 * 1024 * 1024))" < <(yes "  <idle>-0  [001] d..2. 5000.000000: sched_switch: prev_comm=swapper/1 prev_pid=0 ==> next_pid=7")
}

status=0
printf '%-26s %9s %8s %10s %10s\n' input spans threads "peak KiB" "bound KiB"
# measure TYPE LABEL COMMAND...: converts the command's output.
measure() {
  local type=$1 label=$2
  shift 2
  local kib spans threads bound verdict=""
  kib=$({ "$@" | /usr/bin/time -f %M "$spanmill" -t "$type" -o "$report"; } 2>&1 | tail -n 1)
  # Rows are the only arrays of three numbers in a report; every thread
  # has a "trace" member.
  spans=$({ grep -oE '\[[-0-9.e+]+,-?[0-9]+,[0-9]+\]' "$report" || true; } | wc -l)
  threads=$({ grep -o '"trace":' "$report" || true; } | wc -l)
  bound=$((24 * 1024 + (spans * 32 + threads * 256) / 1024))
  if [ "$kib" -gt "$bound" ]; then
    verdict=MISSED
    status=1
  fi
  printf '%-26s %9d %8d %10d %10d %s\n' "$label" "$spans" "$threads" "$kib" "$bound" "$verdict"
}

measure ftrace_marker "empty input" true
measure ftrace_marker "64 MiB, no markers" noise 64
measure ftrace_marker "1024 MiB, no markers" noise 1024
measure ftrace_marker "300 MiB, no line feed" head -c $((300 * 1024 * 1024)) /dev/zero
for n in 100000 200000 400000 800000; do
  measure ftrace_marker "$n spans" spans "$n"
done
measure ftrace_marker "ftrace benchmark" "$generator" ftrace "$MEGABYTES"
measure strace "strace benchmark" "$generator" strace "$MEGABYTES"
measure strace "forks 100000" "$generator" forks 100000
measure ftrace_marker "threads 1000000" "$generator" threads 1000000

# spanmill-tidy keeps a fixed amount whatever it reads: a line's first
# 64 KiB and last 4 KiB, its buffers, and at most 1 MiB of lines held back
# while an strace's first process id is unknown. Bound: 8 MiB.
tidy=build/release/spanmill-tidy
printf '\n%-26s %10s %10s\n' "spanmill-tidy input" "peak KiB" "bound KiB"
tidy_measure() {
  local type=$1 label=$2 kib verdict=""
  shift 2
  kib=$({ "$@" | /usr/bin/time -f %M "$tidy" -t "$type" >/dev/null; } 2>&1 | tail -n 1)
  if [ "$kib" -gt 8192 ]; then
    verdict=MISSED
    status=1
  fi
  printf '%-26s %10d %10d %s\n' "$label" "$kib" 8192 "$verdict"
}
# One strace call whose string argument is 256 MiB long, and no line feed.
long_line() {
  printf '1234 1700000000.000001 write(1, "'
  head -c $((256 * 1024 * 1024)) /dev/zero | tr '\0' 'x'
  printf '", 268435456) = 268435456 <0.500000>'
}
tidy_measure ftrace_marker "1024 MiB, no markers" noise 1024
tidy_measure ftrace_marker "ftrace benchmark" "$generator" ftrace "$MEGABYTES"
tidy_measure strace "strace benchmark" "$generator" strace "$MEGABYTES"
tidy_measure strace "one line of 256 MiB" long_line
rm -f "$report"
exit $status
