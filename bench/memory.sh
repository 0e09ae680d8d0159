#!/usr/bin/env bash
# Peak resident memory of spanmill against the number of spans and the
# size of the input: memory follows the spans, not the bytes read.
#   bench/memory.sh [path to spanmill]
# Prints one line per run: what was fed, and the peak RSS in KiB.
set -euo pipefail
cd "$(dirname "$0")/.."
spanmill=${1:-build/spanmill}
if [ ! -x /usr/bin/time ]; then
  echo "needs /usr/bin/time (Debian package: time)" >&2
  exit 1
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

measure() {
  local label=$1
  shift
  local kib
  kib=$({ "$@" | /usr/bin/time -f %M "$spanmill" > /dev/null; } 2>&1 | tail -n 1)
  printf '%-28s %8s KiB\n' "$label" "$kib"
}

measure "empty input" true
measure "64 MiB, no markers" noise 64
measure "1024 MiB, no markers" noise 1024
for n in 100000 200000 400000 800000; do
  measure "$n spans" spans "$n"
done
