#!/usr/bin/env bash
# Drives inputfeed against a private Xvfb and compares what the server received,
# as inputfeed-observe reports it, with the expected events.
#
#   x11_test.sh start | stop      bring the shared server up or down
#   x11_test.sh cases NAME        run cases/NAME.cases: lines "INPUT => EVENT; EVENT..."
#   x11_test.sh keys N ARG...     press and release every key of cases/keys.table under
#                                 the keymap `setxkbmap ARG...`; N picks the table's
#                                 keycode/keysym column pair (0 to 3)
#   x11_test.sh live              lines are acted on while the pipe stays open
#   x11_test.sh errors            no display, no XTEST, server gone: exit 1
#
# Environment: INPUTFEED, OBSERVE (the two programs), XVFB, SETXKBMAP, STATE (a
# folder for the server's display number and pid), CASES (the cases folder).
set -euo pipefail

fail() { echo "FAIL: $*" >&2; exit 1; }

# Starts an Xvfb on a display number it picks itself; prints "DISPLAY PID".
start_server() {
    local fdfile
    fdfile=$(mktemp)
    "$XVFB" -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp "$@" \
        3>"$fdfile" </dev/null >>"$STATE.log" 2>&1 &
    local pid=$!
    for _ in $(seq 100); do
        [ -s "$fdfile" ] && break
        alive "$pid" || break
        sleep 0.05
    done
    local number
    number=$(tr -d '\n' <"$fdfile")
    rm -f "$fdfile"
    [ -n "$number" ] || fail "Xvfb did not start (see $STATE.log)"
    echo ":$number $pid"
}

# A server that has exited may linger as a zombie until someone reaps it.
alive() {
    local stat
    stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 1
    [[ ${stat#*) } != Z* ]]
}

stop_server() {
    kill "$1" 2>/dev/null || return 0
    for _ in $(seq 40); do
        alive "$1" || return 0
        sleep 0.05
    done
    kill -9 "$1" 2>/dev/null || true
}

use_shared_server() {
    [ -f "$STATE/display" ] || fail "the shared Xvfb is not running"
    DISPLAY=$(cat "$STATE/display")
    export DISPLAY
}

compare() {  # expected-file actual-file
    diff -u "$1" "$2" >&2 || fail "the X server received something else (- expected, + seen)"
}

case "$1" in
start)
    # A run that was killed before its clean-up left its server behind.
    if [ -f "$STATE/pid" ] && [ "$(cat "/proc/$(cat "$STATE/pid")/comm" 2>/dev/null)" = Xvfb ]; then
        stop_server "$(cat "$STATE/pid")"
    fi
    mkdir -p "$STATE"
    read -r display pid < <(start_server -noreset)
    echo "$display" >"$STATE/display"
    echo "$pid" >"$STATE/pid"
    echo "Xvfb $pid on $display"
    ;;
stop)
    [ -f "$STATE/pid" ] && stop_server "$(cat "$STATE/pid")"
    rm -rf "$STATE"
    ;;
cases | keys)
    use_shared_server
    dir=$(mktemp -d)
    trap 'rm -rf "$dir"; "$SETXKBMAP" -layout us' EXIT
    if [ "$1" = cases ]; then
        "$SETXKBMAP" -layout us
        grep -v '^#' "$CASES/$2.cases" | sed -n 's/ *=> .*//p' | grep . >"$dir/stream" || true
        grep -v '^#' "$CASES/$2.cases" | sed -n 's/.*=> //p' | sed 's/; /\n/g' >"$dir/expected"
    else
        column=$2
        shift 2
        "$SETXKBMAP" "$@"
        grep -v '^#' "$CASES/keys.table" | awk -v c="$column" -v expected="$dir/expected" '
            { printf "{\"type\":\"keyDown\",\"code\":\"%s\"}\n{\"type\":\"keyUp\",\"code\":\"%s\"}\n", $1, $1
              k = $(2 + 2 * c); s = $(3 + 2 * c)
              if (k != "-") printf "key press %s %s\nkey release %s %s\n", k, s, k, s >expected }
        ' >"$dir/stream"
        echo "pointer 1 1" >>"$dir/expected"
    fi
    # Each run starts from a known pointer position.
    status=0
    "$OBSERVE" --home 1 1 "$INPUTFEED" <"$dir/stream" >"$dir/seen" || status=$?
    [ "$status" -eq 0 ] || fail "inputfeed exited with status $status"
    compare "$dir/expected" "$dir/seen"
    ;;
live)
    use_shared_server
    dir=$(mktemp -d)
    trap 'exec 3>&- 2>/dev/null; rm -rf "$dir"' EXIT
    mkfifo "$dir/in"
    "$OBSERVE" --home 1 1 "$INPUTFEED" <"$dir/in" >"$dir/seen" &
    observer=$!
    exec 3<>"$dir/in"
    # Each line must reach the server while the sender keeps the pipe open.
    await() {
        for _ in $(seq 100); do
            grep -qx "$1" "$dir/seen" && return 0
            sleep 0.05
        done
        fail "'$1' did not arrive while the pipe was open"
    }
    echo '{"type":"pointerDown","x":50,"y":60,"button":2}' >&3
    await "button press 3 50 60"
    echo '{"type":"keyDown","code":"KeyQ"}' >&3
    await "key press 24 q"
    kill -0 "$observer" 2>/dev/null || fail "inputfeed ended although its input is still open"
    echo '{"type":"keyUp","code":"KeyQ"}' >&3
    printf '%s' '{"type":"pointerUp","x":50,"y":60,"button":2}' >&3
    exec 3>&-
    status=0
    wait "$observer" || status=$?
    [ "$status" -eq 0 ] || fail "inputfeed exited with status $status"
    compare - "$dir/seen" <<'EOF'
motion 50 60
button press 3 50 60
key press 24 q
key release 24 q
motion 50 60
button release 3 50 60
pointer 50 60
EOF
    ;;
errors)
    # Writing to an agent that has gone must fail, not end this script.
    trap '' PIPE
    dir=$(mktemp -d)
    servers=()
    cleanup() {
        for server in "${servers[@]}"; do stop_server "$server"; done
        exec 3>&- 2>/dev/null
        rm -rf "$dir"
    }
    trap cleanup EXIT
    expect_exit_1() {  # message, then the environment change for inputfeed
        local message=$1 status=0
        shift
        env "$@" "$INPUTFEED" </dev/null >"$dir/out" 2>"$dir/err" || status=$?
        [ "$status" -eq 1 ] || fail "exit status $status, not 1, with $*"
        [ ! -s "$dir/out" ] || fail "wrote to standard output with $*"
        compare - "$dir/err" <<<"$message"
    }
    expect_exit_1 "inputfeed: cannot open display (DISPLAY is not set)" -u DISPLAY
    expect_exit_1 "inputfeed: cannot open display (DISPLAY is not set)" DISPLAY=
    # A display number nobody serves.
    n=4000
    while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
    expect_exit_1 "inputfeed: cannot open display \":$n\"" DISPLAY=":$n"

    # These servers end by themselves when their last client leaves, so they
    # do not outlive a run that is killed half-way.
    read -r display pid < <(start_server -terminate -tst)
    servers+=("$pid")
    expect_exit_1 "inputfeed: the X server on \"$display\" has no XTEST extension" DISPLAY="$display"
    stop_server "$pid"

    # A server that goes away under a running agent ends it at the next event.
    read -r display pid < <(start_server -terminate)
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
    compare - "$dir/err" <<<"inputfeed: lost the connection to the X server on \"$display\""
    ;;
*)
    fail "unknown command $1"
    ;;
esac
