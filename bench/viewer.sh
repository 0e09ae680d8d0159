#!/usr/bin/env bash
# How long speedscope, in headless Chromium, takes to open spanmill-report's
# speedscope export of the ftrace and strace benchmark reports (generated as
# bench/run.sh does), and that it lists every thread without an error.
# Targets: the ftrace export within 30 s, the strace export within 150 s.
# Exits 1 when one is missed; needs chromium and the speedscope package that
# .ci/run installs under build/viewer.
#   bench/viewer.sh
#   MEGABYTES=300 SCRATCH=/tmp bench/viewer.sh
set -euo pipefail
cd "$(dirname "$0")/.."

MEGABYTES=${MEGABYTES:-300}
SCRATCH=${SCRATCH:-/tmp}
PACKAGE=$PWD/build/viewer/node_modules/speedscope
make build >/dev/null
echo "machine: $(nproc) cores, $(uname -m), $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
status=0
for type in ftrace strace; do
  limit=30
  option=ftrace_marker
  if [ "$type" = strace ]; then
    limit=150
    option=strace
  fi
  build/release/trace-generator "$type" "$MEGABYTES" >"$SCRATCH/spanmill-viewer-trace.txt"
  build/release/spanmill -t "$option" -i "$SCRATCH/spanmill-viewer-trace.txt" \
    -o "$SCRATCH/spanmill-viewer-report.json"
  build/release/spanmill-report speedscope -o "$SCRATCH/spanmill-viewer.speedscope.json" \
    "$SCRATCH/spanmill-viewer-report.json"
  threads=$(build/release/spanmill-report tree --by-thread --depth 1 --min-share 0 \
    "$SCRATCH/spanmill-viewer-report.json" | tail -n +2 | wc -l)
  # speedscope loads a local file through a script that hands it over.
  {
    printf 'speedscope.loadFileFromBase64("trace.speedscope.json", "'
    base64 -w0 "$SCRATCH/spanmill-viewer.speedscope.json"
    printf '");\n'
  } >"$SCRATCH/spanmill-viewer.js"
  rm -rf "$SCRATCH/spanmill-viewer-profile"
  # Virtual time runs only while the page is idle: the page is dumped once
  # the import is done.
  start=$(date +%s%N)
  timeout 600 chromium --headless --no-sandbox --allow-file-access-from-files --disable-gpu \
    --user-data-dir="$SCRATCH/spanmill-viewer-profile" --virtual-time-budget=5000 --dump-dom \
    "file://$PACKAGE/dist/release/index.html#localProfilePath=$SCRATCH/spanmill-viewer.js" \
    >"$SCRATCH/spanmill-viewer.html" 2>/dev/null
  seconds=$(awk -v n=$(($(date +%s%N) - start)) 'BEGIN { printf "%.1f", n / 1e9 }')
  listed=$(grep -o 'title="tid [0-9]*"' "$SCRATCH/spanmill-viewer.html" | sort -u | wc -l)
  verdict=met
  if grep -q "Something went wrong" "$SCRATCH/spanmill-viewer.html" || [ "$listed" -ne "$threads" ] ||
    awk -v s="$seconds" -v l="$limit" 'BEGIN { exit !(s > l) }'; then
    verdict=MISSED
    status=1
  fi
  printf '%s: %d MB export, %d of %d threads listed, opened in %s s (target at most %d s): %s\n' \
    "$type" $(($(stat -c %s "$SCRATCH/spanmill-viewer.speedscope.json") / 1000000)) "$listed" \
    "$threads" "$seconds" "$limit" "$verdict"
done
rm -rf "$SCRATCH"/spanmill-viewer*
exit $status
