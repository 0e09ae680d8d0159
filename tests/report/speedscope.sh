#!/bin/sh
# Opens spanmill-report's exports of the examples in a real viewer,
# speedscope, in headless Chromium: the Chrome export, the speedscope
# export and the folded stacks. Each must import without an error and list
# every thread that has spans.
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
trap "rm -rf \"$scratch\"" EXIT

"$spanmill" -i "$examples/frames.ftrace" -o "$scratch/frames.json"
"$spanmill" -t strace -i "$examples/threads.strace" -o "$scratch/threads.json"
"$report" chrome -o "$scratch/trace.json" "$scratch/frames.json" "$scratch/threads.json"
"$report" speedscope -o "$scratch/trace.speedscope.json" "$scratch/frames.json" \
  "$scratch/threads.json"
"$report" folded --by-thread "$scratch/frames.json" "$scratch/threads.json" >"$scratch/stacks.txt"

# load FILE VIEW: speedscope's page once FILE is loaded, in $scratch/dom.html.
# speedscope picks its importer by the file's name and content; the names
# here are ones it reads.
load() {
  # speedscope loads a local file through a script that hands it over.
  printf 'speedscope.loadFileFromBase64("%s", "%s");\n' "$(basename "$1")" \
    "$(base64 -w0 "$1")" >"$scratch/profile.js"
  rm -rf "$scratch/profile"
  # An export speedscope cannot read makes it open an alert, which would
  # hold the browser: the time limit ends it. The window is tall enough for
  # the sandwich view to list every frame of the examples.
  timeout 120 "$browser" --headless --no-sandbox --allow-file-access-from-files --disable-gpu \
    --user-data-dir="$scratch/profile" --window-size=1280,4000 --virtual-time-budget=20000 \
    --dump-dom "file://$package/dist/release/index.html#localProfilePath=$scratch/profile.js&view=$2" \
    >"$scratch/dom.html" 2>"$scratch/browser.log" || {
    cat "$scratch/browser.log"
    exit 1
  }
  if grep -q "Something went wrong" "$scratch/dom.html"; then
    echo "speedscope could not import $(basename "$1")"
    exit 1
  fi
}

# shows WHAT VIEW FILE EXPECTED...: speedscope, given FILE, lists each
# expected text in VIEW. The page is dumped when the browser's virtual time
# runs out; on a loaded machine speedscope has at times not drawn the view by
# then (seen once, on the folded stacks, with nothing wrong in the file), so
# a page that lacks them is loaded again, up to three times in all, and each
# miss is printed.
shows() {
  what=$1 view=$2 file=$3
  shift 3
  if [ $# -lt 2 ]; then
    echo "$what: only $# threads to look for"
    exit 1
  fi
  for attempt in 1 2 3; do
    load "$file" "$view"
    missing=0
    for text in "$@"; do
      grep -qF "$text" "$scratch/dom.html" || {
        echo "speedscope does not list $text in the $what (load $attempt)"
        missing=$((missing + 1))
      }
    done
    if [ "$missing" -eq 0 ]; then
      echo "speedscope lists all $# threads of the $what"
      return
    fi
    echo "$what: $missing of $# threads missing, page of $(wc -c <"$scratch/dom.html") bytes"
  done
  exit 1
}

# Threads with spans, one a line, as each export names them: Chrome's as
# speedscope titles them, "REPORT (pid P), tid T (tid T)".
IFS='
'
shows "Chrome export" time-ordered "$scratch/trace.json" $(
  sed -n 's/.*"ph":"X".*"pid":\([0-9]*\),"tid":\([0-9]*\).*/\1 \2/p' "$scratch/trace.json" |
    sort -u | while IFS=" " read -r pid tid; do
    name=$(sed -n "s/.*\"process_name\",\"ph\":\"M\",\"pid\":$pid,\"args\":{\"name\":\"\([^\"]*\)\"}.*/\1/p" \
      "$scratch/trace.json")
    echo "title=\"$name (pid $pid), tid $tid (tid $tid)\""
  done
)
shows "speedscope export" time-ordered "$scratch/trace.speedscope.json" $(grep -o '"type":"evented","name":"[^"]*"' "$scratch/trace.speedscope.json" |
  sed 's/.*"name":"\(.*\)"/title="\1"/')
# Folded stacks have one profile; the threads are its root frames, which the
# sandwich view lists by name.
shows "folded stacks" sandwich "$scratch/stacks.txt" $(cut -d';' -f1 "$scratch/stacks.txt" | sort -u | sed 's/.*/>&</')
