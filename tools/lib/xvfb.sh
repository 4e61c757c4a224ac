# shellcheck shell=bash
# Sourced wherever a private X server is needed: the X11 tests, the Wine environment, the
# quick start and the benchmarks.

# xvfb_start DIR [ARG...]: a private Xvfb (screen 0 1280x1024, plus ARG...) on a display
# number it picks itself, which DISPLAY names from here on; sets xvfb_pid. It keeps no pipe
# of ours open (or CTest would wait for it) and logs to DIR/xvfb.log. -noreset: by default
# the server resets when its last client goes, and the pointer jumps back to the middle.
xvfb_start() {
    local dir=$1 _
    shift
    command -v "${XVFB:-Xvfb}" >/dev/null || { echo "Xvfb is not installed (xvfb)" >&2; return 1; }
    rm -f "$dir/xvfb.display"
    "${XVFB:-Xvfb}" -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset "$@" \
        3>"$dir/xvfb.display" </dev/null >>"$dir/xvfb.log" 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 200); do
        [ -s "$dir/xvfb.display" ] || ! kill -0 "$xvfb_pid" 2>/dev/null && break
        sleep 0.05
    done
    [ -s "$dir/xvfb.display" ] ||
        { echo "Xvfb did not start:" >&2; cat "$dir/xvfb.log" >&2; return 1; }
    DISPLAY=:$(tr -d '\n' <"$dir/xvfb.display")
    export DISPLAY
}

# xvfb_stop: stops the server xvfb_start started last, if any.
xvfb_stop() {
    [ -n "${xvfb_pid:-}" ] || return 0
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
    xvfb_pid=""
}
