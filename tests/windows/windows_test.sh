#!/usr/bin/env bash
# windows_test.sh MODE OBSERVER... (the observer command, wrapping the agent)
#   sweep: every column and row of the 1280x1024 screen, and 8 pixels beyond each
#          edge, must land on exactly that pixel, or on the edge it is clamped to;
#   live: a line is acted on while the input stays open;
#   hidden: without an interactive desktop the agent says so and exits 1.
set -euo pipefail
fail() { echo "FAIL: $*" >&2; exit 1; }
mode=$1
shift
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
case $mode in
sweep)
    awk 'function c(v, n) { return v < 0 ? 0 : v >= n ? n - 1 : v }
         BEGIN { print "## Pixel sweep"
                 for (x = -8; x < 1288; x++) printf "{\"type\":\"pointerMove\",\"x\":%d,\"y\":500} => move %d 500\n", x, c(x, 1280)
                 for (y = -8; y < 1032; y++) printf "{\"type\":\"pointerMove\",\"x\":640,\"y\":%d} => move 640 %d\n", y, c(y, 1024) }' >"$dir/sweep.cases"
    python3 "$(dirname "$0")/../cases/cases.py" --backend windows "$dir/sweep.cases" -- "$@"
    ;;
live)
    mkfifo "$dir/in"
    "$@" <"$dir/in" >"$dir/seen" &
    exec 3>"$dir/in"
    echo '{"type":"pointerDown","x":50,"y":60,"button":2}' >&3
    for _ in $(seq 200); do grep -qx "window press right 50 60" "$dir/seen" && break || sleep 0.05; done
    grep -qx "window press right 50 60" "$dir/seen" || fail "nothing arrived while the input was open"
    echo '{"type":"pointerUp","x":50,"y":60,"button":2}' >&3
    exec 3>&-
    wait $! || fail "exit status $?"
    grep -qx "window release right 50 60" "$dir/seen" || fail "the last line was lost"
    ;;
hidden)
    status=0
    "$@" </dev/null >"$dir/out" 2>"$dir/err" || status=$?
    [ "$status" -eq 1 ] && [ ! -s "$dir/out" ] || fail "exit status $status, or output"
    diff -u - "$dir/err" <<<"inputfeed: not on an interactive desktop (a service session cannot post input)" >&2 ||
        fail "another message"
    ;;
esac
