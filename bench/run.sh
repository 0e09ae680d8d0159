#!/usr/bin/env bash
# Conversion speed against reading the file: generates a 300 MB ftrace trace
# and a 300 MB strace trace under /tmp, then times `wc -l` and spanmill on
# each, alternating, and prints medians, MB/s, the ratio spanmill / `wc -l`
# and spanmill's peak resident memory, against the targets; then times
# spanmill-report's summary and chrome export of the ftrace report. Both
# read the file from the page cache; spanmill's report goes to /dev/null.
#   bench/run.sh            release build from make build, 7 runs each
#   RUNS=11 MEGABYTES=300 bench/run.sh
set -euo pipefail
cd "$(dirname "$0")/.."

RUNS=${RUNS:-7}
MEGABYTES=${MEGABYTES:-300}
SCRATCH=${SCRATCH:-/tmp}
make build >/dev/null
SPANMILL=build/release/spanmill
GENERATOR=build/release/trace-generator
REPORTER=build/release/spanmill-report

now() { date +%s%N; }

# Milliseconds between two now() readings.
millis() { echo $((($2 - $1) / 1000000)); }

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
minimum() { sort -n | head -n 1; }
maximum() { sort -n | tail -n 1; }

echo "machine: $(nproc) cores, $(uname -m), $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
status=0
for type in ftrace strace; do
  trace=$SCRATCH/spanmill-bench-$type.txt
  "$GENERATOR" "$type" "$MEGABYTES" >"$trace"
  bytes=$(stat -c %s "$trace")
  option=ftrace_marker
  limit=4
  if [ "$type" = strace ]; then
    option=strace
    limit=5
  fi
  cat "$trace" >/dev/null  # into the page cache
  wc_times=()
  span_times=()
  memory=0
  for ((run = 0; run < RUNS; run++)); do
    start=$(now)
    wc -l "$trace" >/dev/null
    wc_times+=("$(millis "$start" "$(now)")")
    start=$(now)
    # The report goes to /dev/null: what is timed is the conversion, not the
    # file system's writing of a 50 MB file.
    peak=$(/usr/bin/time -f %M "$SPANMILL" -t "$option" -i "$trace" -o /dev/null 2>&1 >/dev/null)
    span_times+=("$(millis "$start" "$(now)")")
    memory=$((peak > memory ? peak : memory))
  done
  # Once more, untimed, to count the spans: rows are the only arrays of
  # three numbers in a report.
  "$SPANMILL" -t "$option" -i "$trace" -o "$SCRATCH/spanmill-bench-$type.json"
  spans=$(grep -oE '\[[-0-9.e+]+,-?[0-9]+,[0-9]+\]' "$SCRATCH/spanmill-bench-$type.json" | wc -l)
  wc_median=$(printf '%s\n' "${wc_times[@]}" | median)
  span_median=$(printf '%s\n' "${span_times[@]}" | median)
  ratio=$(awk -v s="$span_median" -v w="$wc_median" 'BEGIN { printf "%.2f", s / (w > 0 ? w : 1) }')
  memory_limit=$((32 * 1024 + spans * 64 / 1024))
  printf '\n%s: %d MB, %d spans, %d runs each\n' "$type" $((bytes / 1000000)) "$spans" "$RUNS"
  printf '  wc -l     min/median/max %5d / %5d / %5d ms  %7.0f MB/s\n' \
    "$(printf '%s\n' "${wc_times[@]}" | minimum)" "$wc_median" \
    "$(printf '%s\n' "${wc_times[@]}" | maximum)" "$(awk -v b="$bytes" -v m="$wc_median" 'BEGIN { print b / 1e3 / (m > 0 ? m : 1) }')"
  printf '  spanmill  min/median/max %5d / %5d / %5d ms  %7.0f MB/s\n' \
    "$(printf '%s\n' "${span_times[@]}" | minimum)" "$span_median" \
    "$(printf '%s\n' "${span_times[@]}" | maximum)" "$(awk -v b="$bytes" -v m="$span_median" 'BEGIN { print b / 1e3 / (m > 0 ? m : 1) }')"
  verdict=met
  if awk -v r="$ratio" -v l="$limit" 'BEGIN { exit !(r > l) }'; then
    verdict=MISSED
    status=1
  fi
  printf '  spanmill / wc -l = %s (target at most %d): %s\n' "$ratio" "$limit" "$verdict"
  verdict=met
  if [ "$memory" -gt "$memory_limit" ]; then
    verdict=MISSED
    status=1
  fi
  printf '  peak memory %d KiB (target at most %d KiB = 32 MiB + 64 B a span): %s\n' \
    "$memory" "$memory_limit" "$verdict"

  # spanmill-report on the ftrace report: each command at most as long as
  # spanmill took to write that report.
  if [ "$type" = ftrace ]; then
    report=$SCRATCH/spanmill-bench-$type.json
    for command in summary chrome; do
      times=()
      for ((run = 0; run < RUNS; run++)); do
        start=$(now)
        if [ "$command" = summary ]; then
          "$REPORTER" summary "$report" >/dev/null
        else
          "$REPORTER" chrome -o /dev/null "$report"
        fi
        times+=("$(millis "$start" "$(now)")")
      done
      command_median=$(printf '%s\n' "${times[@]}" | median)
      verdict=met
      if [ "$command_median" -gt "$span_median" ]; then
        verdict=MISSED
        status=1
      fi
      printf '  spanmill-report %-7s min/median/max %5d / %5d / %5d ms (target at most %d ms): %s\n' \
        "$command" "$(printf '%s\n' "${times[@]}" | minimum)" "$command_median" \
        "$(printf '%s\n' "${times[@]}" | maximum)" "$span_median" "$verdict"
    done
  fi
done
exit $status
