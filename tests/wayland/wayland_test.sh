#!/usr/bin/env bash
# What the Wayland case tables cannot show. Modes:
#   errors   each failure ends the agent with one line on standard error and status 1
#   live     what changes while the agent runs: an output added is part of the layout it
#            moves in, and keys follow the seat's keymap when it switches
# (lost and live-in-session run inside a compositor.)
# Environment: INPUTFEED, OBSERVE (the Wayland observer), SESSION (tools/headless-wayland.sh).
# shellcheck source-path=SCRIPTDIR
source "$(dirname "$0")/../x11/harness.sh"

case $1 in
errors)
    expect_exit_1 'inputfeed: cannot connect to the Wayland compositor "none"' \
        env WAYLAND_DISPLAY=none XDG_RUNTIME_DIR="$dir" "$INPUTFEED"
    expect_exit_1 'inputfeed: the Wayland compositor on "wayland-1" offers no way to post input: it lacks zwlr_virtual_pointer_manager_v1, zwp_virtual_keyboard_manager_v1 and org_kde_kwin_fake_input (which KDE offers only to programs named in a .desktop file), and there is no session bus for GNOME'"'"'s org.gnome.Mutter.RemoteDesktop' \
        env -u DBUS_SESSION_BUS_ADDRESS bash "$SESSION" --weston "$INPUTFEED"
    expect_exit_1 "inputfeed: lost the connection to the Wayland compositor on \"wayland-1\"" \
        bash "$SESSION" bash "$0" lost
    ;;
lost)  # the compositor goes away under a running agent
    lose kill "$COMPOSITOR_PID"
    ;;
live)
    bash "$SESSION" bash "$0" live-in-session
    ;;
live-in-session)
    start "$OBSERVE" --home 1 1 "$INPUTFEED"
    send '{"type":"pointerMove","x":100,"y":100}' "motion 100 100"
    # A pause for the observer to settle: an output added while it is still setting up its
    # windows made it fail ("cannot map shared memory") in about a third of the runs.
    sleep 0.3
    swaymsg -q create_output
    send '{"type":"pointerMove","x":640,"y":360}' "motion 640 360"
    send '{"type":"keyDown","code":"KeyZ"}' "key press 44 z"
    send '{"type":"keyUp","code":"KeyZ"}' "key release 44 z"
    # A German keyboard plugged in and tapped (Mod2) becomes the seat's current one; the
    # agent's next key comes in the seat's new keymap.
    "$OBSERVE" --layout de --stand-ins true
    send '{"type":"keyDown","code":"KeyZ"}' "modifiers Mod2" "modifiers none" "keymap German" \
        "key press 44 y"
    finish '{"type":"keyUp","code":"KeyZ"}' "key release 44 y" "pointer 640 360"
    ;;
esac
