#!/usr/bin/env bash
# X11 throughput: the same stream of events posted on one private Xvfb by
#   inputfeed            reading the commands from a file,
#   xdotool              reading the equivalent script ("xdotool -", --delay 0),
#   inputfeed-raw-xtest  posting the same events straight through XTest with one
#                        flush per batch: the platform's limit.
# Each run is timed until the X server has processed the last event (see
# bench/raw_xtest.cpp): for inputfeed and xdotool from the start of the process,
# for the limit from its first event. The three take turns, and the medians of
# the repetitions are compared.
#
#   bench/x11_throughput.sh [BUILD_DIR]       (default: build/release)
#   EVENTS=100000 REPEAT=5 BATCH=256 bench/x11_throughput.sh build/release
set -euo pipefail

events=${EVENTS:-100000}
repeat=${REPEAT:-5}
batch=${BATCH:-256}
# shellcheck source=bench/common.sh
. "$(dirname "$0")/common.sh"
agent=$(built_program "$build" inputfeed)
raw=$(built_program "$build" inputfeed-raw-xtest)
command -v xdotool >/dev/null || { echo "x11_throughput: xdotool is not installed" >&2; exit 1; }

xvfb_start "$work"

# The stream ends with a move to the marker position, which appears nowhere else.
marker_x=1277
marker_y=1021
write_stream mixed "$events" "$work/stream.jsonl" "$work/stream.xdo" "$marker_x" "$marker_y"

timed() {  # INPUT PROGRAM ARGS... -> seconds until the server processed the last event
  "$raw" time "$marker_x" "$marker_y" "$@" | cut -d' ' -f1
}

echo "display $DISPLAY, $events commands per run ($(wc -l <"$work/stream.xdo") xdotool commands), $repeat runs each"
: >"$work/agent" ; : >"$work/xdotool" ; : >"$work/raw"
for run in $(seq "$repeat"); do
  a=$(timed "$work/stream.jsonl" -- "$agent")
  x=$(timed "$work/stream.xdo" -- xdotool -)
  r=$("$raw" limit "$marker_x" "$marker_y" "$work/stream.xdo" "$batch" | cut -d" " -f1)
  echo "$a" >>"$work/agent"; echo "$x" >>"$work/xdotool"; echo "$r" >>"$work/raw"
  printf 'run %d: inputfeed %.3f s, xdotool %.3f s, raw XTest %.3f s\n' "$run" "$a" "$x" "$r"
done

a=$(median "$work/agent"); x=$(median "$work/xdotool"); r=$(median "$work/raw")
awk -v n="$events" -v a="$a" -v x="$x" -v r="$r" -v batch="$batch" 'BEGIN {
  printf "\nmedian wall time and commands per second:\n"
  printf "  inputfeed    %8.3f s  %10.0f /s\n", a, n / a
  printf "  xdotool      %8.3f s  %10.0f /s\n", x, n / x
  printf "  raw XTest    %8.3f s  %10.0f /s  (flush every %d events)\n", r, n / r, batch
  printf "inputfeed / raw limit: %.0f %%\n", 100 * r / a
  printf "inputfeed / xdotool:   %.1fx\n", x / a
}'
