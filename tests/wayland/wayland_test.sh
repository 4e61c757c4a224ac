#!/usr/bin/env bash
# What the Wayland case tables cannot show. Modes:
#   errors   each failure ends the agent with one line on standard error and status 1
#   live     what changes while the agent runs: an output added is part of the layout it
#            moves in, and keys follow the seat's keymap when it switches
# Environment: INPUTFEED, OBSERVE (the Wayland observer), SESSION (tools/headless-wayland.sh).
set -euo pipefail

fail() { echo "FAIL: $*" >&2; exit 1; }
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
trap '' PIPE  # writing to an agent that has gone must fail, not end this script
mkfifo "$dir/in"

case "$1" in
errors)
    expect_exit_1() {  # message, then the command
        local message=$1 status=0
        shift
        "$@" </dev/null >"$dir/out" 2>"$dir/err" || status=$?
        [ "$status" -eq 1 ] && [ ! -s "$dir/out" ] || fail "exit status $status, or output, from $*"
        diff -u - "$dir/err" <<<"$message" >&2 || fail "another message from $*"
    }
    expect_exit_1 'inputfeed: cannot connect to the Wayland compositor "none"' \
        env WAYLAND_DISPLAY=none XDG_RUNTIME_DIR="$dir" "$INPUTFEED"
    expect_exit_1 'inputfeed: the Wayland compositor on "wayland-1" offers no way to post input: it lacks zwlr_virtual_pointer_manager_v1, zwp_virtual_keyboard_manager_v1 and org_kde_kwin_fake_input (which KDE offers only to programs named in a .desktop file)' \
        bash "$SESSION" --weston "$INPUTFEED"
    expect_exit_1 "inputfeed: lost the connection to the Wayland compositor on \"wayland-1\"" \
        bash "$SESSION" bash "$0" lost
    ;;
lost)  # in a session: the compositor goes away under a running agent
    exec 3<>"$dir/in"
    "$INPUTFEED" <"$dir/in" 3>&- &
    agent=$!
    echo '{"type":"pointerMove","x":5,"y":5}' >&3
    sleep 0.3
    kill "$COMPOSITOR_PID"
    sleep 0.3
    echo '{"type":"pointerMove","x":6,"y":6}' >&3 || true
    exec 3>&-
    wait "$agent"
    ;;
live)  # changes while the agent runs: an output added, the seat's keymap switched to German
    bash "$SESSION" bash "$0" live-in-session >"$dir/seen" || fail "status $?"
    diff -u - "$dir/seen" >&2 <<EOF || fail "the window received something else"
motion 100 100
motion 640 360
key press 44 z
key release 44 z
modifiers Mod2
modifiers none
keymap German
key press 44 y
key release 44 y
pointer 640 360
EOF
    ;;
live-in-session)
    exec 3<>"$dir/in"
    "$OBSERVE" --home 1 1 "$INPUTFEED" <"$dir/in" 3>&- &
    observer=$!
    echo '{"type":"pointerMove","x":100,"y":100}' >&3
    sleep 0.3
    swaymsg -q create_output
    printf '%s\n' '{"type":"pointerMove","x":640,"y":360}' '{"type":"keyDown","code":"KeyZ"}' \
        '{"type":"keyUp","code":"KeyZ"}' >&3
    sleep 0.3
    # A German keyboard plugged in and tapped (Mod2) becomes the seat's current one.
    "$OBSERVE" --layout de --stand-ins true
    printf '%s\n' '{"type":"keyDown","code":"KeyZ"}' '{"type":"keyUp","code":"KeyZ"}' >&3
    exec 3>&-
    wait "$observer"
    ;;
esac
