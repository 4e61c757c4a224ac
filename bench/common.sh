# shellcheck shell=bash
# Sourced by the benchmark scripts: their first argument, the build folder (default
# build/release), in `build`, and a private folder in `work`, removed at exit with the Xvfb
# that xvfb_start may start there.
# shellcheck source=tools/lib/xvfb.sh
. "$(dirname "${BASH_SOURCE[0]}")/../tools/lib/xvfb.sh"
# shellcheck disable=SC2034  # read by the scripts that source this one
build=${1:-build/release}
work=$(mktemp -d)
trap 'xvfb_stop; rm -rf "$work"' EXIT

# built_program BUILD_DIR NAME: prints the path of a program of the build,
# wherever the build puts it (src/, bench/, tools/observe/ or the top), or fails.
built_program() {
  local dir
  for dir in "$1/src" "$1/bench" "$1/tools/observe" "$1"; do
    if [ -x "$dir/$2" ] && [ -f "$dir/$2" ]; then
      echo "$dir/$2"
      return 0
    fi
  done
  echo "$2 is missing in $1: build it first (tools/bench.sh does)" >&2
  return 1
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

# median FILE: the median of the numbers in FILE, one a line.
median() { sort -g "$1" | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
