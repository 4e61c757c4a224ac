#!/usr/bin/env bash
# Peak resident memory (GNU time's "maximum resident set size") of the dry run
# inputfeed-trace and of the agent inputfeed on a private Xvfb, for empty input,
# 1,000 and 10 million command lines, and one line of 1 KiB, 2 MiB and 64 MiB
# (the last two refused as too long) followed by a normal line. The input is generated on the
# fly into a pipe, so nothing large is kept on disk or in this script.
#
#   bench/memory.sh [BUILD_DIR]               (default: build/release)
#   COMMANDS=10000000 BIG_MIB=64 bench/memory.sh build/release
set -euo pipefail

lines=${COMMANDS:-10000000}
big_mib=${BIG_MIB:-64}
# shellcheck source=bench/common.sh
. "$(dirname "$0")/common.sh"
trace=$(built_program "$build" inputfeed-trace)
agent=$(built_program "$build" inputfeed 2>/dev/null || true)
[ -x /usr/bin/time ] || { echo "memory: GNU time (/usr/bin/time) is not installed" >&2; exit 1; }

if [ -z "$agent" ] || ! xvfb_start "$work"; then
  agent=""
  echo "memory: no X11 agent or no Xvfb, measuring the dry run only" >&2
fi

# Ten commands of every kind, repeated as often as asked.
block='{"type":"pointerMove","x":100.5,"y":200.25}
{"type":"pointerMove","x":640,"y":480.75}
{"type":"pointerDown","x":640,"y":480.75,"button":0}
{"type":"pointerUp","x":640,"y":480.75,"button":0}
{"type":"keyDown","code":"KeyA","keyCode":65}
{"type":"keyUp","code":"KeyA","keyCode":65}
{"type":"pointerDown","x":10,"y":20,"button":2}
{"type":"pointerUp","x":10,"y":20,"button":2}
{"type":"keyDown","code":"ShiftLeft"}
{"type":"keyUp","code":"ShiftLeft"}'
commands() { yes "$block" | head -n "$1" || true; }  # yes ends on SIGPIPE
# One line of about $1 KiB: a move with a long ignored member, then a normal line.
long_line() {
  printf '{"type":"pointerMove","x":1,"y":2,"pad":"'
  head -c "$(($1 * 1024))" /dev/zero | tr '\0' 'a'
  printf '"}\n{"type":"pointerMove","x":3,"y":4}\n'
}

peak() {  # PROGRAM GENERATOR ARGS... -> peak RSS in KiB
  local program=$1
  shift
  "$@" | /usr/bin/time -f '%M' -o "$work/peak" "$program" >/dev/null
  cat "$work/peak"
}

printf '%-28s %16s %16s\n' "input" "inputfeed-trace" "inputfeed (X11)"
row() {  # LABEL GENERATOR ARGS...
  local label=$1
  shift
  local t a="-"
  t=$(peak "$trace" "$@")
  [ -n "$agent" ] && a=$(peak "$agent" "$@")
  printf '%-28s %12s KiB %12s KiB\n' "$label" "$t" "$a"
}
row "empty" true
row "1,000 lines" commands 1000
row "$lines lines" commands "$lines"
row "one 1 KiB line" long_line 1
row "one 2 MiB line" long_line 2048
row "one $big_mib MiB line" long_line $((big_mib * 1024))
