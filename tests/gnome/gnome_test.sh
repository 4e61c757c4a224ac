#!/usr/bin/env bash
# What the GNOME case tables cannot show. Modes:
#   errors   each failure ends the agent with one line on standard error and status 1,
#            within a second also while no input comes
#   live     the monitors rearranged while the agent runs: its next move lands by the new
#            layout, and a key held down stays down
# (closed, gone, bus and live-in-session run inside headless Mutter.)
# Environment: INPUTFEED, OBSERVE (the Wayland observer), SESSION (tools/headless-gnome.sh).
# shellcheck source-path=SCRIPTDIR
source "$(dirname "$0")/../support/harness.sh"

# idle_exit_1 MESSAGE KILL...: the agent posts a line and waits for more; KILL... takes
# away what it needs, and it must exit with status 1 and MESSAGE within a second.
idle_exit_1() {
    local message=$1 status=0
    shift
    mkfifo "$dir/idle"
    "$INPUTFEED" <"$dir/idle" 2>"$dir/err" &
    agent=$!
    exec 4>"$dir/idle"
    echo '{"type":"pointerMove","x":5,"y":5}' >&4
    sleep 0.5
    "$@"
    for _ in $(seq 10); do kill -0 "$agent" 2>/dev/null && sleep 0.1; done
    kill -0 "$agent" 2>/dev/null && fail "still running a second after: $*"
    wait "$agent" || status=$?
    exec 4>&-
    rm "$dir/idle"
    [ "$status" -eq 1 ] || fail "exit status $status after: $*"
    diff -u - "$dir/err" <<<"$message" >&2 || fail "another message after: $*"
}

case $1 in
errors)
    bash "$SESSION" bash "$0" closed
    bash "$SESSION" bash "$0" gone
    bash "$SESSION" bash "$0" bus
    ;;
bus)
    idle_exit_1 "inputfeed: lost the connection to the session bus" kill -KILL "$BUS_PID"
    ;;
closed)
    # Mutter's Wayland socket, but no session bus.
    expect_exit_1 "inputfeed: the Wayland compositor on \"$XDG_RUNTIME_DIR/wayland-0\" offers no way to post input: it lacks zwlr_virtual_pointer_manager_v1, zwp_virtual_keyboard_manager_v1 and org_kde_kwin_fake_input (which KDE offers only to programs named in a .desktop file), and there is no session bus for GNOME's org.gnome.Mutter.RemoteDesktop. inputfeed posts on wlroots desktops (sway, Hyprland, ...), KDE Plasma and GNOME; with WAYLAND_DISPLAY unset it posts through Xwayland, reaching X applications only" \
        env -u DBUS_SESSION_BUS_ADDRESS WAYLAND_DISPLAY="$XDG_RUNTIME_DIR/wayland-0" \
        XDG_RUNTIME_DIR="$dir" "$INPUTFEED"
    # Without PipeWire Mutter closes the session's streams, and the session.
    idle_exit_1 "inputfeed: GNOME closed the remote-desktop session" kill "$PIPEWIRE_PID"
    ;;
gone)
    idle_exit_1 "inputfeed: lost GNOME's remote desktop: Mutter left the session bus" \
        kill -KILL "$COMPOSITOR_PID"
    ;;
live)
    bash "$SESSION" --keyboard "$INPUTFEED" bash "$0" live-in-session
    ;;
live-in-session)
    mkfifo "$dir/agent"
    "$INPUTFEED" <"$dir/agent" &
    agent=$!
    exec 4>"$dir/agent"
    printf '%s\n' '{"type":"pointerMove","x":5,"y":5}' '{"type":"keyDown","code":"KeyQ"}' >&4
    sleep 0.3
    # Meta-1 (scale 2) now at 0,0, Meta-0 right of it; a new observer sees the agent's moves,
    # and Q, held down across the change, comes up.
    bash "$SESSION" --arrange 1600 0 1 0 0 2
    "$OBSERVE" --home 1700 100 sh -c 'printf "%s\n" "$@" >&4; sleep 0.5' - \
        '{"type":"pointerMove","x":100,"y":100}' '{"type":"keyDown","code":"KeyA"}' \
        '{"type":"keyUp","code":"KeyA"}' '{"type":"keyUp","code":"KeyQ"}' \
        '{"type":"pointerMove","x":1800,"y":200}' >"$dir/seen"
    exec 4>&-
    wait "$agent" || fail "exit status $?"
    diff -u - "$dir/seen" <<<"motion 50 50
key press 30 a
key release 30 a
key release 16 q
motion 1800 200
pointer 1800 200" >&2 || fail "the report is not as expected"
    ;;
esac
