# shellcheck shell=bash
# Sourced by the benchmark scripts.

# built_program BUILD_DIR NAME: prints the path of a program of the build,
# wherever the build puts it (src/, bench/ or the top), or fails.
built_program() {
  local dir
  for dir in "$1/src" "$1/bench" "$1"; do
    if [ -x "$dir/$2" ] && [ -f "$dir/$2" ]; then
      echo "$dir/$2"
      return 0
    fi
  done
  echo "$2 is missing in $1: build it first (tools/bench.sh does)" >&2
  return 1
}

# start_private_xvfb WORKDIR: starts one private Xvfb on a display number it
# picks itself and exports DISPLAY; stop_private_xvfb stops it.
start_private_xvfb() {
  local work=$1
  command -v Xvfb >/dev/null || { echo "Xvfb is not installed" >&2; return 1; }
  # Xvfb writes the number of the display it picked once it accepts clients.
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$work/display" 2>"$work/xvfb.log" &
  private_xvfb=$!
  local _
  for _ in $(seq 200); do [ -s "$work/display" ] && break; sleep 0.05; done
  [ -s "$work/display" ] || { echo "Xvfb did not start:" >&2; cat "$work/xvfb.log" >&2; return 1; }
  DISPLAY=":$(cat "$work/display")"
  export DISPLAY
}

stop_private_xvfb() {
  if [ -n "${private_xvfb:-}" ]; then
    kill "$private_xvfb" 2>/dev/null || true
    wait "$private_xvfb" 2>/dev/null || true
    private_xvfb=""
  fi
}
