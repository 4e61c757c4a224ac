#!/usr/bin/env bash
# Stress streams through the dry run: 10 million mixed lines, one 64 MiB line,
# 200,000 levels of nesting and 100 MiB of random bytes, each followed by one
# valid command. For each: no crash, exit status 0, the valid command's event
# printed last, and peak memory (/usr/bin/time -v) within a few MiB of the
# program's size on empty input. Inputs are generated on the fly into a pipe.
#
#   tools/stress.sh                 builds the release preset first
#   INPUTFEED_TRACE=path tools/stress.sh   uses an existing inputfeed-trace
#   INPUTFEED_RSS_SLACK_KIB=n       allowed growth over the idle size (default 4096)
set -euo pipefail
cd "$(dirname "$0")/.."

trace=${INPUTFEED_TRACE:-}
if [ -z "$trace" ]; then
  cmake --preset release >/dev/null
  cmake --build --preset release -j "$(nproc 2>/dev/null || echo 2)" --target inputfeed-trace
  trace=build/release/src/inputfeed-trace
fi
slack=${INPUTFEED_RSS_SLACK_KIB:-4096}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

valid='{"type":"pointerDown","x":4242,"y":-17.5,"button":2}'
valid_event='{"event":"mouse","type":3,"x":4242,"y":-17.5,"button":1}'
trust_event='{"event":"trust","prompt":true}'
mib=$((1 << 20))

# Ten lines: six post an event, four are refused or dropped.
mixed_block='{"type":"pointerMove","x":100,"y":200}
{"type":"pointerDown","x":100.5,"y":-3,"button":1}
{"type":"pointerUp","x":100.5,"y":-3,"button":1}
{"type":"keyDown","code":"KeyA"}
{"type":"keyUp","code":"KeyA","keyCode":0}
{"type":"keyDown","code":"ShiftLeft"}
{"type":"keyDown","code":"CapsLock"}
{"type":"pointerDown","x":1,"y":2,"button":1.5}
not json at all
'
# yes adds a line feed after each copy of the block: its tenth line is empty.
mixed() { yes "$mixed_block" | head -n 10000000; }
long_line() {
  printf '{"type":"keyDown","code":"KeyA","z":"'
  head -c $((64 * mib)) /dev/zero | tr '\0' a
  printf '"}\n'
}
nesting() {
  printf '{"type":"keyDown","code":"KeyA","z":'
  head -c 200000 /dev/zero | tr '\0' '['
  head -c 200000 /dev/zero | tr '\0' ']'
  printf '}\n'
}
random_bytes() { head -c $((100 * mib)) /dev/urandom; printf '\n'; }

failures=0
idle_kib=0
printf '%-14s %12s %10s %9s %9s  %s\n' stream events "rss KiB" "+idle" seconds result

# run NAME EXPECTED-EVENTS GENERATOR: EXPECTED-EVENTS is a count or "any".
run() {
  local name=$1 expected=$2 generator=$3
  set +e
  if [ "$generator" = none ]; then
    /usr/bin/time -v -o "$work/time" "$trace" </dev/null >"$work/out"
  else
    { "$generator"; printf '%s\n' "$valid"; } |
      /usr/bin/time -v -o "$work/time" "$trace" |
      awk '{ n++; last = $0 } END { print last; print n + 0 > "/dev/stderr" }' \
        >"$work/out" 2>"$work/count"
  fi
  local status=$?
  set -e
  local rss seconds events last result=ok
  rss=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$work/time")
  seconds=$(awk -F': ' '/Elapsed \(wall clock\)/ {print $2}' "$work/time")
  if [ "$generator" = none ]; then
    events=$(wc -l <"$work/out")
    last=$(tail -n 1 "$work/out")
    [ "$last" = "$trust_event" ] || result="wrong output"
    idle_kib=$rss
  else
    events=$(cat "$work/count")
    last=$(cat "$work/out")
    [ "$last" = "$valid_event" ] || result="valid line not handled last"
  fi
  # Later checks overwrite earlier ones: the most telling failure is reported.
  [ "$expected" = any ] || [ "$events" -eq "$expected" ] || result="$events events, expected $expected"
  [ $((rss - idle_kib)) -le "$slack" ] || result="memory grew by $((rss - idle_kib)) KiB"
  [ "$status" -eq 0 ] || result="pipeline status $status"
  grep -q 'Exit status: 0' "$work/time" || result="$(grep 'Exit status' "$work/time")"
  ! grep -q 'terminated by signal' "$work/time" || result="$(grep 'terminated by signal' "$work/time")"
  [ "$result" = ok ] || failures=$((failures + 1))
  printf '%-14s %12s %10s %9s %9s  %s\n' "$name" "$events" "$rss" "$((rss - idle_kib))" "$seconds" "$result"
}

run idle 1 none
run mixed-10M $((1 + 6 * 1000000 + 1)) mixed
run line-64MiB 2 long_line
run nesting-200k any nesting
run random-100MiB any random_bytes

echo "binary: $trace"
[ "$failures" -eq 0 ] || { echo "$failures stress stream(s) failed"; exit 1; }
echo "all stress streams passed"
