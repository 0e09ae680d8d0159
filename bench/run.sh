#!/usr/bin/env bash
# Conversion speed against the floor of any line-based conversion. Generates
# under $SCRATCH a 300 MB ftrace and a 300 MB strace trace and two
# many-thread captures (a fork-heavy strace of 100 000 processes, an ftrace
# of 1 000 000 one-span threads), then takes RUNS rounds. Each round times,
# one after another: the floor (bench/Floor.cpp: read 64 KiB blocks and find
# every line feed), `wc -l` for reference, and spanmill on each benchmark
# trace, spanmill's report written to a regular file (as users run it) and
# to /dev/null, and spanmill on each many-thread capture. Every file is read
# from the page cache; each timed run follows an untimed run of the same
# command (see warmed below), and the previous report is removed, untimed,
# before each run. Prints min/median/max per kind and checks:
#   - the median of spanmill over the median of the floor, report in a
#     file: ftrace at most 3, strace at most 3.5;
#   - no run with the report in a file slower than 1.5 x the median of its
#     kind;
#   - a line of a many-thread capture at most 3 x a line of the ftrace
#     benchmark;
#   - spanmill-report's summary, tree, folded, chrome, speedscope and html on the
#     ftrace report each at most as long as spanmill took to write it, and
#     the speedscope export at most 60 MB;
#   - summary --by-thread of a million one-span threads within 2 s, and
#     summary of 40 000 threads of an indented report, and of 10 000
#     threads whose spans never ended, each within 1 s;
#   - spanmill-report diff of 10 runs against 10 (that report named 20
#     times) at most twice as long as summary of the same 20 reports;
#   - spanmill-tidy on each benchmark trace (written to /dev/null) at most as
#     long as spanmill's conversion of it (report to /dev/null): the filter
#     keeps up with the converter it feeds.
# Exits 1 when a target is missed.
#   bench/run.sh            release build from make build, 7 rounds
#   RUNS=11 MEGABYTES=300 SCRATCH=/tmp bench/run.sh
set -euo pipefail
cd "$(dirname "$0")/.."

RUNS=${RUNS:-7}
MEGABYTES=${MEGABYTES:-300}
SCRATCH=${SCRATCH:-/tmp}
make build >/dev/null
SPANMILL=build/release/spanmill
GENERATOR=build/release/trace-generator
REPORTER=build/release/spanmill-report
TIDY=build/release/spanmill-tidy
FLOOR=build/release/line-floor
REPORT=$SCRATCH/spanmill-bench-report.json

now() { date +%s%N; }

# Milliseconds between two now() readings.
millis() { echo $((($2 - $1) / 1000000)); }

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
minimum() { sort -n | head -n 1; }
maximum() { sort -n | tail -n 1; }

echo "machine: $(nproc) cores, $(uname -m), $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"

# The inputs, by kind: file, spanmill's -t option.
declare -A file option
file[ftrace]=$SCRATCH/spanmill-bench-ftrace.txt
file[strace]=$SCRATCH/spanmill-bench-strace.txt
file[forks]=$SCRATCH/spanmill-bench-forks.txt
file[threads]=$SCRATCH/spanmill-bench-threads.txt
option=([ftrace]=ftrace_marker [strace]=strace [forks]=strace [threads]=ftrace_marker)
"$GENERATOR" ftrace "$MEGABYTES" >"${file[ftrace]}"
"$GENERATOR" strace "$MEGABYTES" >"${file[strace]}"
"$GENERATOR" forks 100000 >"${file[forks]}"
"$GENERATOR" threads 1000000 >"${file[threads]}"
for kind in ftrace strace forks threads; do
  cat "${file[$kind]}" >/dev/null # into the page cache
done
# The inputs just written go to disk now, so that the kernel's writeback of
# 800 MB does not fall into the timed rounds.
sync

# Times, by kind of run: space-separated milliseconds.
declare -A times
timed() {
  local kind=$1
  shift
  local start
  start=$(now)
  "$@" >/dev/null
  times[$kind]+="$(millis "$start" "$(now)") "
}

# This VM's host takes back memory the guest has left free for a second
# or two (free page reporting), and the guest's next use of it waits for
# the host to fault it in again: the one-span threads took 365 ms when run
# 3 s apart and 220 ms back to back. A device has no such host, so each
# timed run follows an untimed run of the same command, and starts, as the
# runs after it would on the device, from memory the guest holds.
warmed() {
  local kind=$1
  shift
  rm -f "$REPORT"
  "$@" >/dev/null
  rm -f "$REPORT"
  timed "$kind" "$@"
}

for ((run = 0; run < RUNS; run++)); do
  for type in ftrace strace; do
    warmed "floor-$type" "$FLOOR" "${file[$type]}"
    warmed "wc-$type" wc -l "${file[$type]}"
    warmed "$type-file" "$SPANMILL" -t "${option[$type]}" -i "${file[$type]}" -o "$REPORT"
    warmed "$type-null" "$SPANMILL" -t "${option[$type]}" -i "${file[$type]}" -o /dev/null
    warmed "$type-tidy" "$TIDY" -t "${option[$type]}" -i "${file[$type]}" -o /dev/null
  done
  for kind in forks threads; do
    warmed "$kind-file" "$SPANMILL" -t "${option[$kind]}" -i "${file[$kind]}" -o "$REPORT"
  done
done

# A kind's times, one a line (the list is split on purpose).
# shellcheck disable=SC2086
values() { printf '%s\n' ${times[$1]}; }
status=0

# Prints a kind's min/median/max; with "check", also checks that no run
# took more than 1.5 x its median (the rule for reports written to a file).
row() {
  local kind=$1 label=$2 bytes=$3 check=${4:-}
  local middle slowest verdict=""
  middle=$(values "$kind" | median)
  slowest=$(values "$kind" | maximum)
  if [ "$check" = check ]; then
    verdict="no stall: met"
    if [ $((slowest * 2)) -gt $((middle * 3)) ]; then
      verdict="no stall: MISSED"
      status=1
    fi
  fi
  printf '  %-22s min/median/max %5d / %5d / %5d ms  %6.0f MB/s  %s\n' "$label" \
    "$(values "$kind" | minimum)" "$middle" "$slowest" \
    "$(awk -v b="$bytes" -v m="$middle" 'BEGIN { print b / 1e3 / (m > 0 ? m : 1) }')" "$verdict"
  if [ "$check" = check ]; then
    # In round order, so that a stall shows its round.
    printf '  %-22s rounds: %s\n' "" "${times[$kind]}"
  fi
}

# shellcheck source=bench/within.sh
. bench/within.sh

printf '\n%d rounds, each kind once a round in turn\n' "$RUNS"
for type in ftrace strace; do
  limit=3
  [ "$type" = strace ] && limit=3.5
  bytes=$(stat -c %s "${file[$type]}")
  printf '\n%s: %d MB, %d lines\n' "$type" $((bytes / 1000000)) "$(wc -l <"${file[$type]}")"
  row "floor-$type" "floor" "$bytes"
  row "wc-$type" "wc -l" "$bytes"
  row "$type-file" "spanmill, report file" "$bytes" check
  row "$type-null" "spanmill, /dev/null" "$bytes"
  row "$type-tidy" "spanmill-tidy" "$bytes"
  for base in floor wc; do
    base_median=$(values "$base-$type" | median)
    for target in file null; do
      ratio=$(awk -v s="$(values "$type-$target" | median)" -v w="$base_median" \
        'BEGIN { printf "%.2f", s / (w > 0 ? w : 1) }')
      if [ "$base" = floor ] && [ "$target" = file ]; then
        verdict=$(within "$ratio" "$limit") || status=1
        printf '  spanmill / floor = %s, report in a file (target at most %s): %s\n' \
          "$ratio" "$limit" "$verdict"
      elif [ "$base" = floor ]; then
        printf '  spanmill / floor = %s, report to /dev/null\n' "$ratio"
      else
        printf '  spanmill / wc -l = %s, report %s (for reference)\n' "$ratio" \
          "$([ "$target" = file ] && echo "in a file" || echo "to /dev/null")"
      fi
    done
  done
  ratio=$(awk -v t="$(values "$type-tidy" | median)" -v s="$(values "$type-null" | median)" \
    'BEGIN { printf "%.2f", t / (s > 0 ? s : 1) }')
  verdict=$(within "$ratio" 1) || status=1
  printf '  spanmill-tidy / spanmill = %s (target at most 1): %s\n' "$ratio" "$verdict"
done

ftrace_lines=$(wc -l <"${file[ftrace]}")
ftrace_per_line=$(awk -v m="$(values ftrace-file | median)" -v n="$ftrace_lines" \
  'BEGIN { print m * 1e6 / n }')
printf '\nmany-thread captures, report in a file (a line of the ftrace benchmark: %.0f ns)\n' \
  "$ftrace_per_line"
for kind in forks threads; do
  bytes=$(stat -c %s "${file[$kind]}")
  lines=$(wc -l <"${file[$kind]}")
  row "$kind-file" "$kind, $((lines / 1000))k lines" "$bytes" check
  per_line=$(awk -v m="$(values "$kind-file" | median)" -v n="$lines" 'BEGIN { print m * 1e6 / n }')
  ratio=$(awk -v a="$per_line" -v b="$ftrace_per_line" 'BEGIN { printf "%.2f", a / b }')
  verdict=$(within "$ratio" 3) || status=1
  printf '  %.0f ns a line, %s x the ftrace benchmark'"'"'s (target at most 3): %s\n' \
    "$per_line" "$ratio" "$verdict"
done

# spanmill-report on the ftrace report: each command at most as long as
# spanmill took to write that report.
"$SPANMILL" -t ftrace_marker -i "${file[ftrace]}" -o "$REPORT"
span_median=$(values ftrace-file | median)
printf '\nspanmill-report on the ftrace report\n'
for command in summary tree folded chrome speedscope html; do
  for ((run = 0; run < RUNS; run++)); do
    case $command in
    chrome | speedscope | html) timed "$command" "$REPORTER" "$command" -o /dev/null "$REPORT" ;;
    *) timed "$command" "$REPORTER" "$command" "$REPORT" ;;
    esac
  done
  command_median=$(values "$command" | median)
  verdict=met
  if [ "$command_median" -gt "$span_median" ]; then
    verdict=MISSED
    status=1
  fi
  printf '  %-10s min/median/max %5d / %5d / %5d ms (target at most %d ms): %s\n' \
    "$command" "$(values "$command" | minimum)" "$command_median" \
    "$(values "$command" | maximum)" "$span_median" "$verdict"
done

"$REPORTER" speedscope -o "$SCRATCH/spanmill-bench.speedscope.json" "$REPORT"
printf '  speedscope export: %d MB (target at most 60)\n' \
  $(($(stat -c %s "$SCRATCH/spanmill-bench.speedscope.json") / 1000000))
[ "$(stat -c %s "$SCRATCH/spanmill-bench.speedscope.json")" -le 60000000 ] || status=1
rm -f "$SCRATCH/spanmill-bench.speedscope.json"

# Reports of many threads: the million one-span threads split by thread,
# 40 000 of them re-indented as JSON tools write them (one value a line),
# and 10 000 whose spans never ended (no end markers: every "trace" is
# empty), each at most a second (two for the million).
"$SPANMILL" -t ftrace_marker -i "${file[threads]}" -o "$SCRATCH/spanmill-bench-threads.json"
"$GENERATOR" threads 40000 | "$SPANMILL" -t ftrace_marker |
  python3 -m json.tool --indent 2 >"$SCRATCH/spanmill-bench-indented.json"
"$GENERATOR" threads 10000 | grep -v ': E$' | "$SPANMILL" -t ftrace_marker \
  >"$SCRATCH/spanmill-bench-unended.json"
for ((run = 0; run < RUNS; run++)); do
  timed by-thread "$REPORTER" summary --by-thread "$SCRATCH/spanmill-bench-threads.json"
  timed indented "$REPORTER" summary "$SCRATCH/spanmill-bench-indented.json"
  timed unended "$REPORTER" summary "$SCRATCH/spanmill-bench-unended.json"
done
for kind in by-thread indented unended; do
  limit=1000
  case $kind in
    by-thread)
      limit=2000
      label="summary --by-thread, 1 M threads"
      ;;
    indented) label="summary of 40 000 indented threads" ;;
    unended) label="summary of 10 000 threads of no span" ;;
  esac
  verdict=met
  if [ "$(values "$kind" | median)" -gt "$limit" ]; then
    verdict=MISSED
    status=1
  fi
  printf '  %s min/median/max %5d / %5d / %5d ms (target at most %d ms): %s\n' "$label" \
    "$(values "$kind" | minimum)" "$(values "$kind" | median)" "$(values "$kind" | maximum)" \
    "$limit" "$verdict"
done
rm -f "$SCRATCH/spanmill-bench-threads.json" "$SCRATCH/spanmill-bench-indented.json" \
  "$SCRATCH/spanmill-bench-unended.json"

# Runs compared: 10 against 10, each the ftrace report, alternated with the
# summary of those 20 reports.
twenty=()
for ((i = 0; i < 20; i++)); do
  twenty+=("$REPORT")
done
for ((run = 0; run < RUNS; run++)); do
  timed summary20 "$REPORTER" summary "${twenty[@]}"
  timed diff10 "$REPORTER" diff "${twenty[@]:0:10}" -- "${twenty[@]:10}"
done
ratio=$(awk -v d="$(values diff10 | median)" -v s="$(values summary20 | median)" \
  'BEGIN { printf "%.2f", d / s }')
verdict=$(within "$ratio" 2) || status=1
printf '  summary of 20 reports min/median/max %5d / %5d / %5d ms\n' \
  "$(values summary20 | minimum)" "$(values summary20 | median)" "$(values summary20 | maximum)"
printf '  diff 10 -- 10 reports min/median/max %5d / %5d / %5d ms\n' \
  "$(values diff10 | minimum)" "$(values diff10 | median)" "$(values diff10 | maximum)"
printf '  diff / summary = %s (target at most 2): %s\n' "$ratio" "$verdict"
rm -f "$REPORT"
exit $status
