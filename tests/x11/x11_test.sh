#!/usr/bin/env bash
# Drives inputfeed against a private Xvfb. Modes: start, stop (the shared
# server); observe ARG... (under `setxkbmap ARG...`, runs inputfeed on standard
# input and prints what the server received, as inputfeed-observe reports it: the
# case tables' command); live; errors (exit 1 without a usable server).
# Environment: INPUTFEED, OBSERVE, XVFB, SETXKBMAP, STATE (the shared server's
# folder), CASES.
set -euo pipefail

fail() { echo "FAIL: $*" >&2; exit 1; }
dir=$(mktemp -d)
servers=()  # private servers to stop at the end
cleanup() {
    for server in "${servers[@]}"; do stop_server "$server"; done
    rm -rf "$dir"
}
trap cleanup EXIT

# Starts an Xvfb on a display number it picks itself; sets display and pid.
start_server() {
    "$XVFB" -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp "$@" \
        3>"$dir/number" </dev/null >>"$STATE.log" 2>&1 &
    pid=$!
    for _ in $(seq 100); do
        [ ! -s "$dir/number" ] && alive "$pid" || break
        sleep 0.05
    done
    [ -s "$dir/number" ] || fail "Xvfb did not start (see $STATE.log)"
    display=":$(tr -d '\n' <"$dir/number")"
    rm "$dir/number"
}

# A server that has exited may linger as a zombie until someone reaps it.
alive() {
    local stat
    stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 1
    [[ ${stat#*) } != Z* ]]
}

stop_server() {
    kill "$1" 2>/dev/null || return 0
    for _ in $(seq 40); do alive "$1" && sleep 0.05 || return 0; done
    kill -9 "$1" 2>/dev/null || true
}

# The shared server, with the keymap `setxkbmap ARG...` (by default the US
# layout, which the expectations assume).
use_shared_server() {
    [ -f "$STATE/display" ] || fail "the shared Xvfb is not running"
    DISPLAY=$(cat "$STATE/display")
    export DISPLAY
    [ $# -gt 0 ] || set -- -layout us
    "$SETXKBMAP" "$@"
}

case "$1" in
start)
    # A run that was killed before its clean-up left its server behind.
    old=$(cat "$STATE/pid" 2>/dev/null) || true
    [ "$(cat "/proc/$old/comm" 2>/dev/null)" != Xvfb ] || stop_server "$old"
    mkdir -p "$STATE"
    start_server -noreset
    echo "$display" >"$STATE/display"
    echo "$pid" >"$STATE/pid"
    echo "Xvfb $pid on $display"
    ;;
stop)
    [ -f "$STATE/pid" ] && stop_server "$(cat "$STATE/pid")"
    rm -rf "$STATE"
    ;;
observe)
    shift
    use_shared_server "$@"
    # Homing the pointer first keeps the report independent of earlier runs.
    exec "$OBSERVE" --home 1 1 "$INPUTFEED"
    ;;
live)
    use_shared_server
    mkfifo "$dir/in"
    "$OBSERVE" --home 1 1 "$INPUTFEED" <"$dir/in" >"$dir/seen" &
    observer=$!
    exec 3<>"$dir/in"
    send_and_await() {  # each line must reach the server while the pipe stays open
        echo "$1" >&3
        for _ in $(seq 100); do grep -qx "$2" "$dir/seen" && return 0 || sleep 0.05; done
        fail "'$2' did not arrive while the pipe was open"
    }
    send_and_await '{"type":"pointerDown","x":50,"y":60,"button":2}' "button press 3 50 60"
    send_and_await '{"type":"keyDown","code":"KeyQ"}' "key press 24 q"
    kill -0 "$observer" 2>/dev/null || fail "inputfeed ended although its input is still open"
    echo '{"type":"keyUp","code":"KeyQ"}' >&3
    printf '%s' '{"type":"pointerUp","x":50,"y":60,"button":2}' >&3
    exec 3>&-
    wait "$observer" || fail "inputfeed exited with status $?"
    diff -u "$CASES/live.seen" "$dir/seen" >&2 || fail "the X server received something else"
    ;;
errors)
    trap '' PIPE  # writing to an agent that has gone must fail, not end this script
    expect_exit_1() {  # message, then the environment change for inputfeed
        local message=$1 status=0
        shift
        env "$@" "$INPUTFEED" </dev/null >"$dir/out" 2>"$dir/err" || status=$?
        [ "$status" -eq 1 ] && [ ! -s "$dir/out" ] || fail "exit status $status, or output, with $*"
        diff -u - "$dir/err" <<<"$message" >&2 || fail "another message with $*"
    }
    expect_exit_1 "inputfeed: cannot open display (DISPLAY is not set)" -u DISPLAY
    expect_exit_1 "inputfeed: cannot open display (DISPLAY is not set)" DISPLAY=
    n=4000  # a display number nobody serves
    while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
    expect_exit_1 "inputfeed: cannot open display \":$n\"" DISPLAY=":$n"

    # These servers end by themselves when their last client leaves, so they
    # do not outlive a run that is killed half-way.
    start_server -terminate -tst
    servers+=("$pid")
    expect_exit_1 "inputfeed: the X server on \"$display\" has no XTEST extension" DISPLAY="$display"

    # A server that goes away under a running agent ends it at the next event.
    start_server -terminate
    servers+=("$pid")
    mkfifo "$dir/in"
    exec 3<>"$dir/in"
    DISPLAY=$display "$INPUTFEED" <"$dir/in" 2>"$dir/err" 3>&- &
    agent=$!
    echo '{"type":"pointerMove","x":5,"y":5}' >&3
    sleep 0.2
    stop_server "$pid"
    echo '{"type":"pointerMove","x":6,"y":6}' >&3 || true
    echo '{"type":"pointerMove","x":7,"y":7}' >&3 || true
    exec 3>&-
    status=0
    wait "$agent" || status=$?
    [ "$status" -eq 1 ] || fail "exit status $status, not 1, after losing the server"
    diff -u - "$dir/err" <<<"inputfeed: lost the connection to the X server on \"$display\"" >&2 ||
        fail "another message after losing the server"
    ;;
*)
    fail "unknown command $1"
    ;;
esac
