#!/usr/bin/env bash
# What the Wayland case tables cannot show. Modes:
#   errors   each failure ends the agent with one line on standard error and status 1
#   live     what changes while the agent runs: an output added is part of the layout it
#            moves in, and keys follow the seat's keymap when it switches
#   clicks   KDE: bursts of clicks on two windows, each click reaching its window
#   idle     an idle agent keeps up with the seat's keymaps: after 3,000 switches of the
#            seat's current keyboard, its next line takes effect within a second
#   check    inputfeed-check on sway, KWin, weston (no way in) and headless Mutter
# (the modes ending in -in-session, and lost, run inside a compositor.)
# Environment: INPUTFEED, OBSERVE (the Wayland observer), SESSION (tools/headless-wayland.sh),
# CHECK (inputfeed-check).
# shellcheck source-path=SCRIPTDIR
source "$(dirname "$0")/../support/harness.sh"

case $1 in
errors)
    expect_exit_1 'inputfeed: cannot connect to the Wayland compositor "none" (No such file or directory)' \
        env WAYLAND_DISPLAY=none XDG_RUNTIME_DIR="$dir" "$INPUTFEED"
    expect_exit_1 'inputfeed: cannot connect to the Wayland compositor "none" (XDG_RUNTIME_DIR is not set)' \
        env -u XDG_RUNTIME_DIR WAYLAND_DISPLAY=none "$INPUTFEED"
    expect_exit_1 'inputfeed: the Wayland compositor on "wayland-1" offers no way to post input: it lacks zwlr_virtual_pointer_manager_v1, zwp_virtual_keyboard_manager_v1 and org_kde_kwin_fake_input (which KDE offers only to programs named in a .desktop file), and there is no session bus for GNOME'"'"'s org.gnome.Mutter.RemoteDesktop. inputfeed posts on wlroots desktops (sway, Hyprland, ...), KDE Plasma and GNOME; with WAYLAND_DISPLAY unset it posts through Xwayland, reaching X applications only' \
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
clicks)
    bash "$SESSION" --kwin bash "$0" clicks-in-session "$OBSERVE" "$INPUTFEED"
    ;;
idle)
    bash "$SESSION" bash "$0" idle-in-session
    ;;
clicks-in-session)
    # Eight lines at once, a click at a time at four places on the windows of both outputs,
    # twenty times: a button read together with its motion got lost in some bursts only.
    start "$OBSERVE" --home 1 1 "$INPUTFEED"
    burst="" reports=()
    for at in "100 100" "1380 100" "200 300" "1480 300"; do
        read -r x y <<<"$at"
        for type in Down Up; do
            burst+='{"type":"pointer'$type'","x":'$x',"y":'$y'}'$'\n'
        done
        reports+=("motion $x $y" "button press 272 $x $y" "button release 272 $x $y")
    done
    for _ in $(seq 20); do send "${burst%$'\n'}" "${reports[@]}"; done
    finish "" "pointer 1480 300"
    ;;
idle-in-session)
    start "$INPUTFEED"
    "$OBSERVE" --layout de --stand-ins --switches 3000 true
    begin=$(date +%s%N)
    echo '{"type":"keyDown","code":"KeyA"}' >&3
    exec 3>&-
    wait "$agent" || fail "exit status $?"
    elapsed=$((($(date +%s%N) - begin) / 1000000))
    [ "$elapsed" -lt 1000 ] || fail "the line after the switches took $elapsed ms"
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
    # A typing tool's keyboard, whose keymap holds two keys, types once: the agent keeps a
    # keymap that holds every key it knows.
    "$OBSERVE" --layout "$(dirname "$0")/two-keys.xkb" --stand-ins true
    send '{"type":"keyDown","code":"KeyZ"}' "modifiers Mod2" "modifiers none" "key press 44 z"
    send '{"type":"keyUp","code":"KeyZ"}' "key release 44 z"
    # A German keyboard plugged in and tapped (Mod2) becomes the seat's current one; the
    # agent's next key comes in the seat's new keymap.
    "$OBSERVE" --layout de --stand-ins true
    send '{"type":"keyDown","code":"KeyZ"}' "modifiers Mod2" "modifiers none" "keymap German" \
        "key press 44 y"
    finish '{"type":"keyUp","code":"KeyZ"}' "key release 44 y" "pointer 640 360"
    ;;
check)
    expect_check 0 'Wayland, the wlroots virtual pointer and keyboard (WAYLAND_DISPLAY is "wayland-1", whose compositor offers them)' \
        yes bash "$SESSION" "$CHECK"
    expect_check 0 'Wayland, KDE'"'"'s fake input (WAYLAND_DISPLAY is "wayland-1", whose compositor offers it, not the wlroots protocols)' \
        yes bash "$SESSION" --kwin "$CHECK"
    expect_check 1 'none (WAYLAND_DISPLAY is "wayland-1")' \
        "no: no way to post input: the compositor lacks zwlr_virtual_pointer_manager_v1 and zwp_virtual_keyboard_manager_v1 (wlroots) and org_kde_kwin_fake_input (KDE, which offers it only to programs named in a .desktop file); GNOME: no session bus at unix:path=$dir/bus (No such file or directory)" \
        bash "$SESSION" --weston env DBUS_SESSION_BUS_ADDRESS="unix:path=$dir/bus" "$CHECK"
    # Mutter runs as an unprivileged user, with a session bus of its own; the check must
    # run as that user too, as the bus admits no one else.
    as_user=()
    [ "$(id -u)" -ne 0 ] || as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
    mkdir -m 700 "$dir/run" && chmod 755 "$dir"
    [ "$(id -u)" -ne 0 ] || chown 65534:65534 "$dir/run"
    expect_check 0 "GNOME, Mutter's remote-desktop interface on the session bus (WAYLAND_DISPLAY is \"mutter-0\", whose compositor offers neither the wlroots protocols nor KDE's fake input)" \
        yes "${as_user[@]}" env -i PATH="$PATH" HOME="$dir/run" XDG_RUNTIME_DIR="$dir/run" \
        dbus-run-session -- bash "$0" in-mutter "$CHECK"
    ;;
in-mutter)  # CHECK, once Mutter has taken its name on the session bus
    mutter --headless --wayland --no-x11 --wayland-display mutter-0 \
        --virtual-monitor 1280x1024 >"$XDG_RUNTIME_DIR/log" 2>&1 &
    servers+=($!)
    for _ in $(seq 200); do
        dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
            org.freedesktop.DBus.NameHasOwner string:org.gnome.Mutter.RemoteDesktop 2>/dev/null |
            grep -q "boolean true" && break
        sleep 0.1
    done
    WAYLAND_DISPLAY=mutter-0 "$2"
    ;;
esac
