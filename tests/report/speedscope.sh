#!/bin/sh
# Opens spanmill-report's Chrome export in a real viewer: speedscope, in
# headless Chromium. Every thread that has spans must be listed, under its
# report's name, and speedscope must show no import error.
#
#   speedscope.sh SPANMILL SPANMILL_REPORT EXAMPLES SPEEDSCOPE_PACKAGE
#
# Exits 77 (CTest: skipped) when Chromium or the speedscope package is not
# there; .ci/run installs both.
set -eu
spanmill=$1 report=$2 examples=$3 package=$4
browser=$(command -v chromium || command -v chromium-browser || true)
if [ -z "$browser" ] || [ ! -f "$package/dist/release/index.html" ]; then
  echo "skipped: needs chromium and the speedscope package in $package"
  exit 77
fi
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

"$spanmill" -i "$examples/frames.ftrace" -o "$scratch/frames.json"
"$spanmill" -t strace -i "$examples/threads.strace" -o "$scratch/threads.json"
"$report" chrome -o "$scratch/trace.json" "$scratch/frames.json" "$scratch/threads.json"

# speedscope loads a local file through a script that hands it over.
printf 'speedscope.loadFileFromBase64("trace.json", "%s");\n' \
  "$(base64 -w0 "$scratch/trace.json")" >"$scratch/profile.js"
# An export speedscope cannot read makes it open an alert, which would hold
# the browser: the time limit ends it.
timeout 120 "$browser" --headless --no-sandbox --allow-file-access-from-files --disable-gpu \
  --user-data-dir="$scratch/profile" --virtual-time-budget=20000 --dump-dom \
  "file://$package/dist/release/index.html#localProfilePath=$scratch/profile.js" \
  >"$scratch/dom.html" 2>"$scratch/browser.log" || {
  cat "$scratch/browser.log"
  exit 1
}

if grep -q "Something went wrong" "$scratch/dom.html"; then
  echo "speedscope could not import the export"
  exit 1
fi
# Each thread with spans, as speedscope names it: "REPORT (pid P), tid T (tid T)".
expected=0
missing=0
for pair in $(sed -n 's/.*"ph":"X".*"pid":\([0-9]*\),"tid":\([0-9]*\).*/\1:\2/p' "$scratch/trace.json" |
  sort -u); do
  pid=${pair%:*} tid=${pair#*:}
  name=$(sed -n "s/.*\"process_name\",\"ph\":\"M\",\"pid\":$pid,\"args\":{\"name\":\"\([^\"]*\)\"}.*/\1/p" \
    "$scratch/trace.json")
  expected=$((expected + 1))
  if ! grep -qF "title=\"$name (pid $pid), tid $tid (tid $tid)\"" "$scratch/dom.html"; then
    echo "speedscope does not list $name (pid $pid), tid $tid"
    missing=$((missing + 1))
  fi
done
if [ "$expected" -lt 2 ] || [ "$missing" -gt 0 ]; then
  echo "$missing of $expected threads missing"
  exit 1
fi
echo "speedscope lists all $expected threads"
