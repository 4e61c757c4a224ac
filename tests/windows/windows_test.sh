#!/usr/bin/env bash
# windows_test.sh MODE OBSERVER... (the observer command, wrapping the agent)
#   sweep: every column and row of the 1280x1024 screen, and 8 pixels beyond each
#          edge, must land on exactly that pixel, or on the edge it is clamped to;
#   live: a line is acted on while the input stays open;
#   hidden: without an interactive desktop the agent says so and exits 1;
#   check, check-hidden: inputfeed-check finds the input desktop, or, hidden, none.
# shellcheck source-path=SCRIPTDIR
source "$(dirname "$0")/../support/harness.sh"
mode=$1
shift
case $mode in
sweep)
    awk 'function c(v, n) { return v < 0 ? 0 : v >= n ? n - 1 : v }
         BEGIN { print "## Pixel sweep"
                 for (x = -8; x < 1288; x++) printf "{\"type\":\"pointerMove\",\"x\":%d,\"y\":500} => move %d 500\n", x, c(x, 1280)
                 for (y = -8; y < 1032; y++) printf "{\"type\":\"pointerMove\",\"x\":640,\"y\":%d} => move 640 %d\n", y, c(y, 1024) }' >"$dir/sweep.cases"
    python3 "$(dirname "$0")/../cases/cases.py" --backend windows "$dir/sweep.cases" -- "$@"
    ;;
live)
    start "$@"
    send '{"type":"pointerDown","x":50,"y":60,"button":2}' "move 50 60" "press right 50 60" \
        "window press right 50 60"
    finish '{"type":"pointerUp","x":50,"y":60,"button":2}' "release right 50 60" \
        "window release right 50 60"
    ;;
hidden)
    expect_exit_1 "inputfeed: not on an interactive desktop (a service session cannot post input)" "$@"
    ;;
check)
    expect_check 0 "Windows SendInput (the one backend on Windows)" yes "$@"
    ;;
check-hidden)
    expect_check 1 "Windows SendInput (the one backend on Windows)" "no: not on the interactive window station (a service's session has no input desktop)" "$@"
    ;;
esac
