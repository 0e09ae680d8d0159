#!/usr/bin/env bash
# The HTML page at size. For reports of 1 M and 10 M spans (the ftrace
# benchmark's mix of threads and nesting, generated and converted under
# $SCRATCH), writes the page and takes RUNS rounds of opening it in
# headless Chromium (bench/html.js). Prints, per size, the page's bytes a
# span, the time to write it, and min/median/max of the time from the
# browser's start until the first view is drawn and of the slowest
# timeline frame while zooming and panning. Targets:
#   1 M spans: at most 10 bytes a span, ready within 3 s, frames at most 50 ms;
#   10 M spans: at most 10 bytes a span, ready within 20 s, frames at most 50 ms.
# Exits 1 when one is missed. Needs Chromium and puppeteer-core (as
# .ci/run installs them under build/viewer).
#   bench/html.sh            3 rounds
#   RUNS=5 SIZES="1" SCRATCH=/tmp bench/html.sh
set -euo pipefail
cd "$(dirname "$0")/.."

RUNS=${RUNS:-3}
SIZES=${SIZES:-1 10}
SCRATCH=${SCRATCH:-/tmp}
PUPPETEER=${PUPPETEER:-build/viewer}
make build >/dev/null
status=0

now() { date +%s%N; }
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
minimum() { sort -n | head -1; }
maximum() { sort -n | tail -1; }

printf 'machine: %s cores, %s, %s\n\n' "$(nproc)" "$(uname -m)" \
  "$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)"
for millions in $SIZES; do
  report="$SCRATCH/spanmill-html-$millions.json"
  page="$SCRATCH/spanmill-html-$millions.html"
  # The ftrace benchmark gives about 1.54 M spans a GB.
  build/release/trace-generator ftrace $((millions * 650)) | build/release/spanmill -o "$report"
  start=$(now)
  build/release/spanmill-report html -o "$page" "$report"
  write_ms=$((($(now) - start) / 1000000))
  ready=() frame=()
  for ((run = 0; run < RUNS; run++)); do
    line=$(node bench/html.js "$page" "$PUPPETEER")
    spans=$(sed 's/.*"spans":\([0-9]*\).*/\1/' <<<"$line")
    ready+=("$(sed 's/.*"ready_ms":\([0-9]*\).*/\1/' <<<"$line")")
    frame+=("$(sed 's/.*"frame_max_ms":\([0-9.]*\).*/\1/' <<<"$line")")
    grep -q '"errors":\[\]' <<<"$line" || { echo "  page errors: $line"; status=1; }
  done
  bytes=$(stat -c %s "$page")
  per_span=$(awk -v b="$bytes" -v s="$spans" 'BEGIN { printf "%.2f", b / s }')
  ready_limit=$((millions >= 10 ? 20000 : 3000))
  ready_median=$(printf '%s\n' "${ready[@]}" | median)
  frame_median=$(printf '%s\n' "${frame[@]}" | median)
  verdict() { awk -v v="$1" -v l="$2" 'BEGIN { if (v <= l) print "met"; else print "MISSED" }'; }
  printf '%d spans (%d MB report): page %d MB, %s bytes a span (target at most 10): %s; written in %d ms\n' \
    "$spans" $(($(stat -c %s "$report") / 1000000)) $((bytes / 1000000)) "$per_span" \
    "$(verdict "$per_span" 10)" "$write_ms"
  printf '  ready            min/median/max %6s / %6s / %6s ms (target at most %d ms): %s\n' \
    "$(printf '%s\n' "${ready[@]}" | minimum)" "$ready_median" "$(printf '%s\n' "${ready[@]}" | maximum)" \
    "$ready_limit" "$(verdict "$ready_median" "$ready_limit")"
  printf '  slowest frame    min/median/max %6s / %6s / %6s ms (target at most 50 ms): %s\n' \
    "$(printf '%s\n' "${frame[@]}" | minimum)" "$frame_median" "$(printf '%s\n' "${frame[@]}" | maximum)" \
    "$(verdict "$frame_median" 50)"
  for v in "$(verdict "$per_span" 10)" "$(verdict "$ready_median" "$ready_limit")" "$(verdict "$frame_median" 50)"; do
    [ "$v" = met ] || status=1
  done
  rm -f "$report" "$page"
done
exit $status
