#!/usr/bin/env bash
# Drives inputfeed on private Xvfb servers, one or two per run. Modes:
#   observe ARG...  under `setxkbmap ARG...`, runs inputfeed on standard input and prints
#                   what the server received, as inputfeed-observe reports it: the case
#                   tables' command
#   second-screen   the same on screen 1 of a server whose screen 1 is larger
#   live            each line is acted on while the input stays open
#   renamed         keys the server names only by an alias, or not at all
#   errors          exit 1 with one message without a usable server, when the server
#                   goes away, and when standard input cannot be read; closed standard
#                   descriptors
# Environment: INPUTFEED, OBSERVE, XVFB, SETXKBMAP.
# shellcheck source-path=SCRIPTDIR
source "$(dirname "$0")/harness.sh"

# server ARG...: a private Xvfb with a 1280x1024 screen 0, on a display number it picks
# itself, which DISPLAY names from here on.
server() {
    "$XVFB" -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset "$@" \
        3>"$dir/number" </dev/null >>"$dir/log" 2>&1 &
    servers+=($!)
    for _ in $(seq 100); do [ -s "$dir/number" ] && break || sleep 0.05; done
    [ -s "$dir/number" ] || fail "Xvfb did not start: $(cat "$dir/log")"
    DISPLAY=:$(cat "$dir/number")
    export DISPLAY
    rm "$dir/number"
}

case $1 in
observe)
    shift
    server
    "$SETXKBMAP" "$@"
    # Homing the pointer first keeps the report independent of where it starts.
    "$OBSERVE" --home 1 1 "$INPUTFEED"
    ;;
second-screen)  # the pointer starts on screen 0
    server -screen 1 1600x1200x24
    DISPLAY=$DISPLAY.1 "$OBSERVE" "$INPUTFEED"
    ;;
live)
    server
    start "$OBSERVE" --home 1 1 "$INPUTFEED"
    send '{"type":"pointerDown","x":50,"y":60,"button":2}' "motion 50 60" "button press 3 50 60"
    send '{"type":"keyDown","code":"KeyQ"}' "key press 24 q"
    send '{"type":"keyUp","code":"KeyQ"}' "key release 24 q"
    finish '{"type":"pointerUp","x":50,"y":60,"button":2}' "motion 50 60" "button release 3 50 60" \
        "pointer 50 60"
    ;;
renamed)
    # Keycodes that call the KeyZ position ZZZZ, AB01 being only an alias of it, and give
    # the KeyX position no name: one is found through the server's alias, the other by its
    # evdev code (it types nothing, as no symbols can name it).
    cp -r /usr/share/X11/xkb "$dir/xkb"
    sed -i 's/^\t<AB01> = 52;/\t<ZZZZ> = 52;\n\talias <AB01> = <ZZZZ>;/; /^\t<AB02> = 53;/d' \
        "$dir/xkb/keycodes/evdev"
    server -xkbdir "$dir/xkb"
    printf '%s\n' '{"type":"keyDown","code":"KeyZ"}' '{"type":"keyDown","code":"KeyX"}' |
        "$OBSERVE" --home 1 1 "$INPUTFEED" >"$dir/seen"
    diff -u - "$dir/seen" <<<$'key press 52 z\nkey press 53 NoSymbol\npointer 1 1' >&2 ||
        fail "the keys were not found"
    ;;
errors)
    n=4000  # a display number nobody serves
    while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
    expect_exit_1 "inputfeed: cannot open display (DISPLAY is not set)" env -u DISPLAY "$INPUTFEED"
    expect_exit_1 "inputfeed: cannot open display (DISPLAY is not set)" env DISPLAY= "$INPUTFEED"
    expect_exit_1 "inputfeed: cannot open display \":$n\"" env DISPLAY=":$n" "$INPUTFEED"
    server -tst
    expect_exit_1 "inputfeed: the X server on \"$DISPLAY\" has no XTEST extension" "$INPUTFEED"
    # A closed standard descriptor must not be reused for the X connection: the agent would
    # read the server as its input, or write its message into the connection, and hang.
    status=0
    timeout 10 "$INPUTFEED" </dev/null 2>&- || status=$?
    [ "$status" -eq 1 ] || fail "exit status $status with standard error closed"
    server
    timeout 10 "$INPUTFEED" <&- || fail "exit status $? with standard input closed"
    # A read that fails (standard input is a directory) is no end of input.
    expect_exit_1 "inputfeed: cannot read standard input (Is a directory)" \
        bash -c 'exec "$0" <"$1"' "$INPUTFEED" "$dir"
    # A server that goes away under a running agent ends it at once.
    expect_exit_1 "inputfeed: lost the connection to the X server on \"$DISPLAY\"" \
        lose kill "${servers[-1]}"
    ;;
esac
