#!/usr/bin/env bash
# The first thing to run: installs what is missing, builds inputfeed, runs it over
# an example stream and shows what the X server received.
#
#   tools/quickstart.sh [--yes] [STREAM]
#   tools/quickstart.sh --wayland | --gnome | --windows [STREAM]
#
# Without DISPLAY or WAYLAND_DISPLAY it uses a private virtual display (Xvfb)
# that nobody sees and removes it afterwards. In your own session (DISPLAY or
# WAYLAND_DISPLAY set) it says which backend the agent will use there, then acts
# for real: the pointer moves, buttons click and keys are typed into whatever
# has the focus, so it asks first (--yes skips the question). --wayland runs the
# stream in a private headless Wayland compositor (sway) instead and shows what
# a window there received; --gnome does the same in a private headless GNOME
# (Mutter, tools/headless-gnome.sh). --windows cross-builds inputfeed.exe instead
# and runs it under Wine on a private display (tools/wine-env.sh), never on yours.
# STREAM defaults to examples/demo.jsonl. Installs only what the chosen demo needs
# (groups of tools/packages.txt: build and run; build and wayland; build and
# gnome; build, run and windows).
set -euo pipefail
cd "$(dirname "$0")/.."

yes=0
wayland=0
windows=0
gnome=0
stream=examples/demo.jsonl
while [ $# -gt 0 ]; do
    case "$1" in
    -y | --yes) yes=1 ;;
    --wayland) wayland=1 ;;
    --gnome) wayland=1 gnome=1 ;;
    --windows) windows=1 ;;
    -h | --help) sed -n '2,19s/^# \{0,1\}//p' "$0"; exit 0 ;;
    -*) echo "usage: tools/quickstart.sh [--yes | --wayland | --gnome | --windows] [STREAM]" >&2
        exit 2 ;;
    *) stream=$1 ;;
    esac
    shift
done
[ -r "$stream" ] || { echo "quickstart: cannot read $stream" >&2; exit 2; }

step() { printf '\n==> %s\n' "$*"; }

groups=(build run)
[ "$wayland" -eq 0 ] || groups=(build wayland)
[ "$gnome" -eq 0 ] || groups=(build gnome)
[ "$windows" -eq 0 ] || groups=(build run windows)  # Wine runs on a private Xvfb
step "installing missing packages (tools/packages.txt: ${groups[*]})"
tools/install-deps.sh "${groups[@]}"

if [ "$windows" -eq 1 ]; then
    step "building inputfeed.exe (windows preset: mingw-w64)"
    cmake --preset windows >/dev/null
    cmake --build --preset windows --target inputfeed inputfeed-observe
    state=$PWD/build/windows/wine-quickstart
    trap 'tools/wine-env.sh stop "$state"' EXIT
    step "starting Wine on a private virtual display (the first start takes a while)"
    tools/wine-env.sh start "$state"
    step "running inputfeed.exe < $stream"
    status=0
    tools/wine-env.sh run "$state" build/windows/tools/observe/inputfeed-observe.exe \
        build/windows/src/inputfeed.exe <"$stream" >"$state/seen" || status=$?
    step "what Windows (Wine) received: low-level hooks, and the focused window"
    awk '
        function out() { if (line != "") print line; line = "" }
        function flushTrack() { if (track != "") print "  pointer  " track; track = ""; points = 0 }
        $1 == "move" {
            out()
            if (points == 8) { print "  pointer  " track " →"; track = ""; points = 0 }
            track = track (points++ ? " → " : "") $2 "," $3; next
        }
        $1 == "press" || $1 == "release" {
            out(); flushTrack()
            line = sprintf("  button   %s %s at %s,%s", $2, $1 == "press" ? "pressed" : "released", $3, $4)
            next
        }
        $1 == "window" { line = line sprintf(" (the window saw it at %s,%s)", $4, $5); next }
        $1 == "keydown" || $1 == "keyup" {
            out(); flushTrack()
            line = sprintf("  key      VK 0x%s, scan code 0x%s %s", $2, $3, $1 == "keydown" ? "down" : "up")
            next
        }
        $1 == "char" { line = line ", typed " $2; next }
        END { out(); flushTrack() }
    ' "$state/seen"
    [ "$status" -eq 0 ] && echo "inputfeed.exe read the whole stream and exited with status 0." ||
        echo "The run ended with status $status." >&2
    exit "$status"
fi

step "building inputfeed (release)"
cmake --preset release >/dev/null
observer=build/release/tools/observe/inputfeed-observe
[ "$wayland" -eq 0 ] || observer=$observer-wayland
targets=(inputfeed "${observer##*/}")
# inputfeed-check tells which backend the agent would use in your own session.
grep -q '^build inputfeed-check:' build/release/build.ninja && targets+=(inputfeed-check)
cmake --build --preset release --target "${targets[@]}"
check=$(find build/release -name inputfeed-check -type f -perm -u+x -print -quit)
agent=build/release/src/inputfeed
if [ ! -x "$agent" ] || [ ! -x "$observer" ]; then
    echo "quickstart: the build made no agent or observer (are the libraries of" \
        "tools/packages.txt installed?)" >&2
    exit 1
fi

# shellcheck source=tools/lib/xvfb.sh
source tools/lib/xvfb.sh
work=$(mktemp -d)
trap 'xvfb_stop; rm -rf "$work"' EXIT

if [ "$gnome" -eq 1 ]; then
    step "running inputfeed < $stream in a private headless GNOME (Mutter)"
    echo "Two monitors in GNOME's layout: 1280x1024 at 0,0 and 1600x1200 (scale 2) at 1280,0;"
    echo "a full-screen window on each reports what it receives (US keyboard layout), in"
    echo "Wayland's logical pixels: the scale-2 monitor's show halved from 1280,0. A second"
    echo "inputfeed stands in for the keyboard a headless GNOME lacks."
    status=0
    tools/headless-gnome.sh --keyboard "$agent" "$observer" --home 1 1 "$agent" <"$stream" \
        >"$work/seen" || status=$?
elif [ "$wayland" -eq 1 ]; then
    step "running inputfeed < $stream in a private headless Wayland compositor"
    echo "sway with two outputs: 1280x720 at 0,0 and 400x300 (scale 2) at -400,-300;"
    echo "a full-screen window on each reports what it receives (US keyboard layout)."
    status=0
    tools/headless-wayland.sh "$observer" --home 1 1 "$agent" <"$stream" >"$work/seen" || status=$?
elif [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    step "starting a private virtual display"
    xvfb_start "$work"
    echo "Xvfb on $DISPLAY (1280x1024, US keyboard layout); it goes away when this script ends."
else
    session="your display ${DISPLAY:-}"
    [ -z "${WAYLAND_DISPLAY:-}" ] || session="your Wayland session $WAYLAND_DISPLAY"
    step "using $session"
    # Which backend the agent picks here, and whether it can post: before anything moves.
    if [ -n "$check" ]; then
        "$check" || { echo "quickstart: inputfeed cannot post in $session (see above)" >&2; exit 1; }
    elif ! "$agent" </dev/null; then
        echo "quickstart: inputfeed cannot post in $session (see above)" >&2
        exit 1
    elif [ -n "${WAYLAND_DISPLAY:-}" ]; then
        echo "inputfeed will post through this compositor (wlroots virtual devices, KDE's fake" \
            "input or GNOME's remote desktop, whichever it offers first), not through X11."
    else
        echo "inputfeed will post through XTEST on $DISPLAY."
    fi
    echo "inputfeed will now move the pointer, press mouse buttons and type keys in $session,"
    echo "into whatever window has the focus, as $stream says."
    if [ "$yes" -eq 0 ]; then
        if [ -t 0 ]; then
            read -r -p "Go ahead? [y/N] " answer
            [[ $answer == [yY]* ]] || { echo "Nothing done."; exit 0; }
        else
            echo "quickstart: not asking without a terminal; re-run with --yes to go ahead" >&2
            exit 1
        fi
    fi
fi

if [ "$wayland" -eq 0 ] && [ -n "${WAYLAND_DISPLAY:-}" ]; then
    # The X observer would see only what reaches Xwayland windows: your screen shows the rest.
    step "running inputfeed < $stream"
    status=0
    "$agent" <"$stream" || status=$?
    if [ "$status" -eq 0 ]; then
        echo "inputfeed read the whole stream and exited with status 0; your screen shows what it did."
        echo "(tools/quickstart.sh --wayland shows what a window receives, in a private compositor.)"
    fi
    exit "$status"
fi
if [ "$wayland" -eq 0 ]; then
    step "running inputfeed < $stream"
    status=0
    "$observer" "$agent" <"$stream" >"$work/seen" || status=$?
fi

step "what $([ "$wayland" -eq 1 ] && echo "the window" || echo "the X server") received"
awk -v wayland="$wayland" '
    function flushTrack() {
        if (track != "") print "  pointer  " track
        track = ""; points = 0
    }
    function buttonName(b) {  # X buttons, or evdev codes on Wayland
        if (b == 1 || b == 272) return "left"
        if (b == 2 || b == 274) return "middle"
        return b == 3 || b == 273 ? "right" : "button " b
    }
    $1 == "motion" {
        at = $2 "," $3
        if (at == last) next          # a press or release first moves to where it happens
        if (points == 8) { print "  pointer  " track " →"; track = ""; points = 0 }
        track = track (points ? " → " : "") at
        points++; last = at; next
    }
    $1 == "button" {
        flushTrack()
        printf "  button   %s (%s %s) %s at %s,%s\n", buttonName($3),
               wayland ? "evdev button" : "X button", $3,
               $2 == "press" ? "pressed" : "released", $4, $5
        next
    }
    $1 == "key" {
        flushTrack()
        # A press directly followed by its release reads as one keystroke.
        if ($2 == "press") { if (held != "") printKey(held, "down"); held = $0; next }
        if (held != "") {
            split(held, h)
            if (h[3] == $3) { printKey(held, "pressed and released"); held = ""; next }
            printKey(held, "down"); held = ""
        }
        printKey($0, "up"); next
    }
    $1 == "modifiers" || $1 == "keymap" {
        flushTrack(); if (held != "") printKey(held, "down"); held = ""
        what = $1; $1 = ""; printf "  %-9s%s\n", what, $0; next
    }
    $1 == "pointer" { flushTrack(); if (held != "") printKey(held, "down"); held = ""
                      print "\nThe pointer rests at " $2 "," $3 "."; next }
    function printKey(line, what,   f) {
        split(line, f)
        printf "  key      %-16s (%s %s) %s\n", f[4], wayland ? "evdev code" : "keycode", f[3], what
    }
' "$work/seen"

if [ "$status" -eq 0 ]; then
    echo "inputfeed read the whole stream and exited with status 0."
else
    echo "The run ended with status $status (see the messages above)." >&2
fi
exit "$status"
