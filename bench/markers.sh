#!/usr/bin/env bash
# What a marker of include/spanmill/markers.h costs. Runs marker-bench
# twice: with SPANMILL_MARKER at the trace_marker of a tracefs instance of
# its own (removed at the end; the top-level buffer is not touched), next to
# a bare write(2) of the same text there, and with SPANMILL_MARKER at a path
# that cannot be opened. Prints min/median/max nanoseconds per call and
# checks:
#   - spanmill_begin's median at most 1.25 x the bare write's;
#   - with no marker file, every marker's median under 10 ns.
# Exits 1 when a target is missed. Needs root (tracefs).
#   bench/markers.sh                   release build from make build
#   ROUNDS=15 CALLS=200000 bench/markers.sh
set -euo pipefail
cd "$(dirname "$0")/.."

ROUNDS=${ROUNDS:-15}
CALLS=${CALLS:-200000}
TRACING=/sys/kernel/tracing
make build >/dev/null
BENCH=build/release/marker-bench

echo "machine: $(nproc) cores, $(uname -m), $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), Linux $(uname -r)"

if [ ! -w "$TRACING/instances" ]; then
  mount -t tracefs nodev "$TRACING" 2>/dev/null || true
fi
INSTANCE=$TRACING/instances/spanmill-markers-$$
mkdir "$INSTANCE"
trap 'rmdir "$INSTANCE"' EXIT

status=0
# The median of a kind in marker-bench's output.
median() { awk -v k="$1" 'index($0, k) { print $(NF - 3) }' | head -n 1; }
# shellcheck source=bench/within.sh
. bench/within.sh

printf '\n%d rounds of %d calls, each kind once a round in turn\n' "$ROUNDS" "$CALLS"
echo "tracing into an instance of its own:"
traced=$(SPANMILL_MARKER=$INSTANCE/trace_marker "$BENCH" "$ROUNDS" "$CALLS")
echo "$traced"
bare=$(echo "$traced" | median 'write(2), bare')
begin=$(echo "$traced" | median 'spanmill_begin ')
ratio=$(awk -v b="$begin" -v w="$bare" 'BEGIN { printf "%.2f", b / w }')
verdict=$(within "$ratio" 1.25) || status=1
echo "  spanmill_begin / bare write = $ratio (target at most 1.25): $verdict"

echo "no marker file:"
untraced=$(SPANMILL_MARKER=/nonexistent/trace_marker "$BENCH" "$ROUNDS" "$((CALLS * 10))")
echo "$untraced"
for kind in 'spanmill_begin ' SPANMILL_BEGIN spanmill_begin_at spanmill_end; do
  value=$(echo "$untraced" | median "$kind")
  verdict=$(within "$value" 10) || status=1
  echo "  ${kind% }: $value ns (target under 10 ns): $verdict"
done
exit $status
