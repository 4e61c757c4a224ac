#!/usr/bin/env bash
# GNOME throughput: streams of moves and of key presses and releases, each in a
# private headless Mutter (tools/headless-gnome.sh), posted by
#   inputfeed            reading the commands from a file,
#   inputfeed-raw-gnome  making the same calls from a script it read beforehand:
#                        the platform's limit.
# Each run is timed from the start of the poster to its end, which waits for
# Mutter to have handled every call; the Wayland observer's full-screen window
# checks what arrived: every key; of the moves, which Mutter merges when they
# come together (as it does a real mouse's), it counts how many it saw. The two take turns, and the
# medians are compared.
#
#   bench/gnome_throughput.sh [BUILD_DIR]       (default: build/release)
#   EVENTS=100000 REPEAT=5 bench/gnome_throughput.sh build/release
set -euo pipefail

build=${1:-build/release}
events=${EVENTS:-100000}
repeat=${REPEAT:-5}
here=$(dirname "$0")
# shellcheck source=bench/common.sh
. "$here/common.sh"
agent=$(built_program "$build" inputfeed)
raw=$(built_program "$build" inputfeed-raw-gnome)
observer=$(built_program "$build" inputfeed-observe-wayland)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# RUN KIND WHAT PROGRAM...: one timed run; fails unless the events arrived.
run() {
  local kind=$1 what=$2 wanted
  shift 2
  "$here/../tools/headless-gnome.sh" --keyboard "$agent" "$observer" --home 1 1 --count \
    bash -c 'start=$(date +%s.%N); "$@" || exit; echo "seconds $start $(date +%s.%N)" >&2' \
    - "$@" <"$work/$kind.jsonl" >"$work/out" 2>"$work/time" ||
    { echo "$what: failed (status $?)" >&2; cat "$work/time" >&2; return 1; }
  wanted="buttons 0 keys $events"
  [ "$kind" = moves ] && wanted="buttons 0 keys 0"
  grep -q " $wanted\$" "$work/out" || { echo "$what lost events: $(head -1 "$work/out")" >&2; return 1; }
  [ "$kind" = keys ] || sed -n 's/^motions \([0-9]*\).*/\1/p' "$work/out" >>"$work/$what.seen"
  awk '$1 == "seconds" { printf "%.6f\n", $3 - $2 }' "$work/time"
}

echo "$events events per run, $repeat runs each"
for kind in moves keys; do
  write_stream "$kind" "$events" "$work/$kind.jsonl" "$work/$kind.xdo"
  : >"$work/agent"; : >"$work/raw"
  for i in $(seq "$repeat"); do
    a=$(run "$kind" inputfeed "$agent")
    r=$(run "$kind" "raw client" "$raw" "$work/$kind.xdo")
    echo "$a" >>"$work/agent"; echo "$r" >>"$work/raw"
    printf '%s run %d: inputfeed %.3f s, raw client %.3f s\n' "$kind" "$i" "$a" "$r"
  done
  awk -v kind="$kind" -v n="$events" -v a="$(median "$work/agent")" -v r="$(median "$work/raw")" 'BEGIN {
    printf "%s, median: inputfeed %.0f /s, raw client %.0f /s (inputfeed / raw: %.0f %%)\n",
      kind, n / a, n / r, 100 * r / a }'
  [ "$kind" = keys ] || echo "moves a window saw: inputfeed $(sort -n "$work/inputfeed.seen" | tr '\n' ' ')," \
    "raw client $(sort -n "$work/raw client.seen" | tr '\n' ' ')"
done
