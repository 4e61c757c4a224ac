#!/usr/bin/env bash
# Builds the optimised configuration and runs one benchmark, or all of them.
#
#   tools/bench.sh decode    decodeCommand per line, beside simdjson and nlohmann::json
#   tools/bench.sh x11       events per second on a private Xvfb: inputfeed, xdotool, raw XTest
#   tools/bench.sh wayland   moves and keys per second on a private headless sway: inputfeed, raw client
#   tools/bench.sh gnome     moves and keys per second on a private headless Mutter: inputfeed, raw client
#   tools/bench.sh latency   line written -> event delivered (X11, Wayland, GNOME), median and 99th percentile
#   tools/bench.sh memory    peak RSS of inputfeed-trace and inputfeed, short and long inputs
#   tools/bench.sh all       all six, one after the other
#
# BUILD_DIR (default build/release) selects the build directory, EVENTS and REPEAT the size of
# the throughput runs (100000, 5), BATCH the raw XTest client's flushes (256), COUNT and
# REPEAT the latency runs (2000, 3), COMMANDS and BIG_MIB the memory runs (10000000, 64).
# The X11 and Wayland benchmarks start their own Xvfb or compositor and never touch the
# display you are using.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=tools/lib/xvfb.sh
source tools/lib/xvfb.sh

what=${1:-}
case "$what" in
  decode | x11 | wayland | gnome | latency | memory | all) ;;
  *) sed -n '2,16p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2 ;;
esac

build=${BUILD_DIR:-build/release}
agent=$build/src/inputfeed
work=$(mktemp -d)
trap 'xvfb_stop; rm -rf "$work"' EXIT
cmake --preset release -B "$build" >/dev/null
make_targets() { cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" --target "$@"; }
step() { printf '\n==> %s\n' "$*"; }

# median FILE: the median of the numbers in FILE, one a line.
median() {
  sort -g "$1" | awk '{ v[NR] = $1 }
    END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# write_stream KIND COUNT JSON SCRIPT [MARKER_X MARKER_Y]: a benchmark stream, as
# agent commands (JSON) and as the equivalent script for xdotool and the raw
# clients (SCRIPT). KIND: mixed (blocks of ten commands: six moves, a key press
# and release, a button press and release), moves, or keys (press and release
# pairs). Positions are scattered over [0,1200) x [0,1000) in a mixed stream,
# and a pixel apart within [100,1100) x [100,600) in a stream of moves, as a
# hand moves a pointer. A press or release at a position is a move followed by
# the button, whoever posts it. With a marker,
# the last command moves there, and that position appears nowhere else.
write_stream() {
  awk -v kind="$1" -v n="$2" -v json="$3" -v script="$4" -v mx="${5:-}" -v my="${6:-}" '
  BEGIN {
    split("KeyA KeyS Digit1 Space ShiftLeft ArrowLeft Enter Tab", code, " ")
    split("a s 1 space Shift_L Left Return Tab", sym, " ")
    for (i = 0; i < (mx == "" ? n : n - 1); i++) {
      step = kind == "moves" ? 0 : kind == "keys" ? 6 + i % 2 : i % 10
      x = (i * 37) % 1200; y = (i * 53) % 1000
      if (kind == "moves") { x = 100 + i % 1000; y = 100 + int(i / 1000) % 500 }
      if (step < 6) {
        printf "{\"type\":\"pointerMove\",\"x\":%d.25,\"y\":%d.25}\n", x, y > json
        printf "mousemove %d %d\n", x, y > script
      } else if (step < 8) {
        k = int(i / (kind == "keys" ? 2 : 10)) % 8 + 1
        printf "{\"type\":\"%s\",\"code\":\"%s\"}\n", (step == 6 ? "keyDown" : "keyUp"), code[k] > json
        printf "%s --delay 0 %s\n", (step == 6 ? "keydown" : "keyup"), sym[k] > script
      } else {
        b = int(i / 10) % 3
        printf "{\"type\":\"%s\",\"x\":%d.25,\"y\":%d.25,\"button\":%d}\n", (step == 8 ? "pointerDown" : "pointerUp"), x, y, b > json
        printf "mousemove %d %d\n%s %d\n", x, y, (step == 8 ? "mousedown" : "mouseup"), b + 1 > script
      }
    }
    if (mx != "") {
      printf "{\"type\":\"pointerMove\",\"x\":%d,\"y\":%d}\n", mx, my > json
      printf "mousemove %d %d\n", mx, my > script
    }
  }'
}

decode() {
  make_targets inputfeed-decode-bench
  step "decoding, ns per line"
  "$build/bench/inputfeed-decode-bench" --benchmark_repetitions=5 \
    --benchmark_report_aggregates_only=true
}

# X11 throughput: the same stream of events posted on one private Xvfb by
#   inputfeed            reading the commands from a file,
#   xdotool              reading the equivalent script ("xdotool -", --delay 0),
#   inputfeed-raw-xtest  posting the same events straight through XTest with one
#                        flush per batch: the platform's limit.
# Each run is timed until the X server has processed the last event (see
# bench/raw_xtest.cpp): for inputfeed and xdotool from the start of the process,
# for the limit from its first event. The three take turns, and the medians of
# the repetitions are compared.
x11() {
  local events=${EVENTS:-100000} repeat=${REPEAT:-5} batch=${BATCH:-256} a x r
  local raw=$build/bench/inputfeed-raw-xtest
  make_targets inputfeed inputfeed-raw-xtest
  step "X11 throughput"
  command -v xdotool >/dev/null || { echo "x11: xdotool is not installed" >&2; return 1; }
  xvfb_start "$work"
  # The stream ends with a move to the marker position, 1277,1021, which appears nowhere else.
  write_stream mixed "$events" "$work/stream.jsonl" "$work/stream.xdo" 1277 1021
  echo "display $DISPLAY, $events commands per run ($(wc -l <"$work/stream.xdo") xdotool" \
    "commands), $repeat runs each"
  : >"$work/agent"; : >"$work/xdotool"; : >"$work/raw"
  for run in $(seq "$repeat"); do
    # Seconds until the server processed the last event.
    a=$("$raw" time 1277 1021 "$work/stream.jsonl" -- "$agent" | cut -d' ' -f1)
    x=$("$raw" time 1277 1021 "$work/stream.xdo" -- xdotool - | cut -d' ' -f1)
    r=$("$raw" limit 1277 1021 "$work/stream.xdo" "$batch" | cut -d" " -f1)
    echo "$a" >>"$work/agent"; echo "$x" >>"$work/xdotool"; echo "$r" >>"$work/raw"
    printf 'run %d: inputfeed %.3f s, xdotool %.3f s, raw XTest %.3f s\n' "$run" "$a" "$x" "$r"
  done
  xvfb_stop
  a=$(median "$work/agent"); x=$(median "$work/xdotool"); r=$(median "$work/raw")
  awk -v n="$events" -v a="$a" -v x="$x" -v r="$r" -v batch="$batch" 'BEGIN {
    printf "\nmedian wall time and commands per second:\n"
    printf "  inputfeed    %8.3f s  %10.0f /s\n", a, n / a
    printf "  xdotool      %8.3f s  %10.0f /s\n", x, n / x
    printf "  raw XTest    %8.3f s  %10.0f /s  (flush every %d events)\n", r, n / r, batch
    printf "inputfeed / raw limit: %.0f %%\n", 100 * r / a
    printf "inputfeed / xdotool:   %.1fx\n", x / a
  }'
}

# take_turns EVENTS REPEAT RAW NOTE: for a stream of moves and one of keys, inputfeed and the raw
# client RAW take turns through the caller's `timed KIND WHAT PROGRAM...`, which prints a run's
# seconds (and may record the moves a window saw in $work/WHAT.seen); then the medians, NOTE
# ending their line.
take_turns() {
  local events=$1 repeat=$2 raw=$3 note=$4 kind i a r
  for kind in moves keys; do
    write_stream "$kind" "$events" "$work/$kind.jsonl" "$work/$kind.xdo"
    : >"$work/agent"; : >"$work/raw"
    for i in $(seq "$repeat"); do
      a=$(timed "$kind" inputfeed "$agent")
      r=$(timed "$kind" "raw client" "$raw" "$work/$kind.xdo")
      echo "$a" >>"$work/agent"; echo "$r" >>"$work/raw"
      printf '%s run %d: inputfeed %.3f s, raw client %.3f s\n' "$kind" "$i" "$a" "$r"
    done
    awk -v kind="$kind" -v n="$events" -v a="$(median "$work/agent")" \
      -v r="$(median "$work/raw")" -v note="$note" 'BEGIN {
      printf "%s, median: inputfeed %.0f /s, raw client %.0f /s (inputfeed / raw: %.0f %%)%s\n",
        kind, n / a, n / r, 100 * r / a, note }'
    [ "$kind" = keys ] || [ ! -e "$work/inputfeed.seen" ] ||
      echo "moves a window saw: inputfeed $(sort -n "$work/inputfeed.seen" | tr '\n' ' ')," \
        "raw client $(sort -n "$work/raw client.seen" | tr '\n' ' ')"
  done
}

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
wayland() {
  local events=${EVENTS:-100000} repeat=${REPEAT:-5} priority=() normal=()
  make_targets inputfeed inputfeed-raw-wayland inputfeed-observe-wayland
  step "Wayland throughput"
  if chrt -f 10 true 2>/dev/null; then
    priority=(chrt -f 10)
    normal=(chrt -o 0)
  fi
  # timed KIND WHAT PROGRAM...: one run; fails unless every event arrived.
  timed() {
    local kind=$1 what=$2 wanted
    shift 2
    tools/headless-wayland.sh "${priority[@]}" "$build/tools/observe/inputfeed-observe-wayland" \
      --home 1 1 --count --time "${normal[@]}" "$@" <"$work/$kind.jsonl" >"$work/out" ||
      { echo "$what: failed (status $?)" >&2; return 1; }
    wanted="motions $events buttons 0 keys 0"
    [ "$kind" = moves ] || wanted="motions 0 buttons 0 keys $events"
    grep -qx "$wanted" "$work/out" ||
      { echo "$what lost events: $(head -1 "$work/out")" >&2; return 1; }
    sed -n 's/^seconds //p' "$work/out"
  }
  echo "$events events per run, $repeat runs each${priority[*]:+, observer at real-time priority}"
  take_turns "$events" "$repeat" "$build/bench/inputfeed-raw-wayland" "; nothing lost"
}

# GNOME throughput: streams of moves and of key presses and releases, each in a private
# headless Mutter (tools/headless-gnome.sh), posted by inputfeed reading the commands from a
# file and by inputfeed-raw-gnome making the same calls from a script it read beforehand (the
# platform's limit). Each run is timed from the start of the poster to its end, which waits for
# Mutter to have handled every call; the observer's full-screen window checks that every key
# arrived and counts the moves it saw (Mutter merges moves that come together, as it does a
# real mouse's). The two take turns, and the medians are compared.
gnome() {
  local events=${EVENTS:-100000} repeat=${REPEAT:-5}
  make_targets inputfeed inputfeed-raw-gnome inputfeed-observe-wayland
  step "GNOME throughput"
  # timed KIND WHAT PROGRAM...: one run; fails unless the keys arrived.
  timed() {
    local kind=$1 what=$2 wanted="buttons 0 keys $events"
    shift 2
    [ "$kind" = moves ] && wanted="buttons 0 keys 0"
    tools/headless-gnome.sh --keyboard "$agent" "$build/tools/observe/inputfeed-observe-wayland" \
      --home 1 1 --count bash -c \
      'start=$(date +%s.%N); "$@" || exit; echo "seconds $start $(date +%s.%N)" >&2' \
      - "$@" <"$work/$kind.jsonl" >"$work/out" 2>"$work/time" ||
      { echo "$what: failed (status $?)" >&2; cat "$work/time" >&2; return 1; }
    grep -q " $wanted\$" "$work/out" ||
      { echo "$what lost events: $(head -1 "$work/out")" >&2; return 1; }
    [ "$kind" = keys ] || sed -n 's/^motions \([0-9]*\).*/\1/p' "$work/out" >>"$work/$what.seen"
    awk '$1 == "seconds" { printf "%.6f\n", $3 - $2 }' "$work/time"
  }
  echo "$events events per run, $repeat runs each"
  take_turns "$events" "$repeat" "$build/bench/inputfeed-raw-gnome" ""
}

# Latency from writing one line to the agent until the desktop delivers its
# event to another client: first the floor (the platform's own posts, no agent
# in between), then inputfeed, in turns. On one private Xvfb, and, where the
# Wayland probe is built, in one private headless sway (tools/headless-wayland.sh)
# and, where Mutter is installed, headless GNOME (tools/headless-gnome.sh: there
# the floor is not measured, since only an agent's session moves the pointer).
latency() {
  local count=${COUNT:-2000} repeat=${REPEAT:-3} probe=$build/bench/inputfeed-latency-wayland
  make_targets inputfeed inputfeed-latency
  make_targets inputfeed-latency-wayland 2>/dev/null || echo "no Wayland probe here: X11 only"
  step "latency"
  xvfb_start "$work"
  echo "X11: display $DISPLAY, $count lines per run"
  for _ in $(seq "$repeat"); do
    "$build/bench/inputfeed-latency" --raw "$count"
    "$build/bench/inputfeed-latency" "$agent" "$count"
  done
  xvfb_stop
  [ -x "$probe" ] || return 0
  echo "Wayland: headless sway, $count lines per run"
  for _ in $(seq "$repeat"); do
    tools/headless-wayland.sh "$probe" --raw "$count"
    tools/headless-wayland.sh "$probe" "$agent" "$count"
  done
  command -v mutter >/dev/null || return 0
  echo "GNOME: headless Mutter, $count lines per run"
  for _ in $(seq "$repeat"); do
    tools/headless-gnome.sh --keyboard "$agent" "$probe" "$agent" "$count"
  done
}

# Peak resident memory (GNU time's "maximum resident set size") of the dry run
# inputfeed-trace and of the agent inputfeed on a private Xvfb, for empty input,
# 1,000 and 10 million command lines, and one line of 1 KiB, 2 MiB and 64 MiB
# (the last two refused as too long) followed by a normal line. The input is
# generated on the fly into a pipe, so nothing large is kept on disk.
memory() {
  local lines=${COMMANDS:-10000000} big_mib=${BIG_MIB:-64} x11_agent=$agent
  make_targets inputfeed-trace
  make_targets inputfeed 2>/dev/null || echo "no X11 agent here: measuring the dry run only"
  step "peak memory"
  [ -x /usr/bin/time ] || { echo "memory: GNU time (/usr/bin/time) is not installed" >&2; return 1; }
  if [ ! -x "$x11_agent" ] || ! xvfb_start "$work"; then
    x11_agent=""
    echo "memory: no X11 agent or no Xvfb, measuring the dry run only" >&2
  fi
  printf '%-28s %16s %16s\n' "input" "inputfeed-trace" "inputfeed (X11)"
  memory_row "empty" true
  memory_row "1,000 lines" commands 1000
  memory_row "$lines lines" commands "$lines"
  memory_row "one 1 KiB line" long_line 1
  memory_row "one 2 MiB line" long_line 2048
  memory_row "one $big_mib MiB line" long_line $((big_mib * 1024))
  xvfb_stop
}
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
memory_row() {  # LABEL GENERATOR ARGS...
  local label=$1 t a="-"
  shift
  t=$(peak "$build/src/inputfeed-trace" "$@")
  [ -z "$x11_agent" ] || a=$(peak "$x11_agent" "$@")
  printf '%-28s %12s KiB %12s KiB\n' "$label" "$t" "$a"
}

if [ "$what" = all ]; then
  for b in decode x11 wayland gnome latency memory; do "$b"; done
else
  "$what"
fi
