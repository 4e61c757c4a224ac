#!/usr/bin/env bash
# Wayland throughput: streams of moves and of key presses and releases, each in
# a private headless sway (tools/headless-wayland.sh), posted by
#   inputfeed             reading the commands from a file,
#   inputfeed-raw-wayland sending the same requests from a script it read
#                         beforehand: the platform's limit.
# The Wayland observer's full-screen window counts what arrives and times each
# run from the first event it receives to the last. Every event must arrive and
# the window keep its connection; the observer runs at real-time priority where
# that is allowed (as root), since a slower window may be disconnected by a
# flood (see the README). The two take turns, and the medians are compared.
#
#   bench/wayland_throughput.sh [BUILD_DIR]       (default: build/release)
#   EVENTS=100000 REPEAT=5 bench/wayland_throughput.sh build/release
set -euo pipefail

events=${EVENTS:-100000}
repeat=${REPEAT:-5}
here=$(dirname "$0")
# shellcheck source=bench/common.sh
. "$here/common.sh"
agent=$(built_program "$build" inputfeed)
raw=$(built_program "$build" inputfeed-raw-wayland)
observer=$(built_program "$build" inputfeed-observe-wayland)
priority=()
normal=()
if chrt -f 10 true 2>/dev/null; then
  priority=(chrt -f 10)
  normal=(chrt -o 0)
fi

# RUN KIND WHAT PROGRAM...: one timed run; fails unless every event arrived.
run() {
  local kind=$1 what=$2 wanted
  shift 2
  "$here/../tools/headless-wayland.sh" "${priority[@]}" "$observer" --home 1 1 --count --time \
    "${normal[@]}" "$@" <"$work/$kind.jsonl" >"$work/out" ||
    { echo "$what: failed (status $?)" >&2; return 1; }
  wanted="motions $events buttons 0 keys 0"
  [ "$kind" = moves ] || wanted="motions 0 buttons 0 keys $events"
  grep -qx "$wanted" "$work/out" || { echo "$what lost events: $(head -1 "$work/out")" >&2; return 1; }
  sed -n 's/^seconds //p' "$work/out"
}

echo "$events events per run, $repeat runs each${priority[*]:+, observer at real-time priority}"
for kind in moves keys; do
  write_stream "$kind" "$events" "$work/$kind.jsonl" "$work/$kind.xdo"
  : >"$work/agent" ; : >"$work/raw"
  for i in $(seq "$repeat"); do
    a=$(run "$kind" inputfeed "$agent")
    r=$(run "$kind" "raw client" "$raw" "$work/$kind.xdo")
    echo "$a" >>"$work/agent"; echo "$r" >>"$work/raw"
    printf '%s run %d: inputfeed %.3f s, raw client %.3f s\n' "$kind" "$i" "$a" "$r"
  done
  awk -v kind="$kind" -v n="$events" -v a="$(median "$work/agent")" -v r="$(median "$work/raw")" 'BEGIN {
    printf "%s, median: inputfeed %.0f /s, raw client %.0f /s (inputfeed / raw: %.0f %%); nothing lost\n",
      kind, n / a, n / r, 100 * r / a }'
done
