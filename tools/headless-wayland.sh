#!/usr/bin/env bash
# Runs a command inside a private headless Wayland compositor, then stops the
# compositor. The Wayland quick start and the Wayland tests run this way.
#
#   tools/headless-wayland.sh [--kwin | --weston] [--xwayland] COMMAND [ARG...]
#
# The compositor is sway unless an option says otherwise, with two outputs:
# HEADLESS-1, 1280x720 at (0, 0), and HEADLESS-2, an 800x600 mode at scale 2
# (400x300 logical) at (-400, -300). Its seat has no input devices: the
# observer (tools/observe) brings stand-ins for the pointer and the keyboard.
#   --xwayland  also starts sway's Xwayland, lets this user connect to it and
#               sets DISPLAY for COMMAND
#   --kwin      KWin's virtual backend, two 1280x720 outputs side by side; every program
#               COMMAND names is granted KDE's fake input, through the .desktop file
#               that is installed with the agent
#   --weston    weston's headless backend, which offers no way to post input
# COMMAND gets WAYLAND_DISPLAY and XDG_RUNTIME_DIR (and SWAYSOCK) of the
# compositor, which runs in a private runtime folder, and its process id in
# COMPOSITOR_PID. sway refuses to run as
# root, so as root the compositors run as nobody. The exit status is COMMAND's;
# if the compositor does not start, 1, with its log on standard error.
set -euo pipefail

compositor=sway
xwayland=0
while [ $# -gt 0 ]; do
    case "$1" in
    --kwin) compositor=kwin ;;
    --weston) compositor=weston ;;
    --xwayland) xwayland=1 ;;
    *) break ;;
    esac
    shift
done
[ $# -gt 0 ] || { sed -n '4,5s/^# \{0,1\}//p' "$0" >&2; exit 2; }

work=$(mktemp -d)
runtime=$work/runtime
mkdir -m 700 "$runtime"
chmod 755 "$work"
as_user=()
if [ "$(id -u)" -eq 0 ] && [ "$compositor" != kwin ]; then
    chown 65534:65534 "$runtime"
    as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
fi
pid=""
cleanup() {
    if [ -n "$pid" ]; then
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 143' TERM INT HUP  # so that the compositor goes too
fail() {
    echo "headless-wayland: $*" >&2
    cat "$work/log" >&2 2>/dev/null || true
    exit 1
}

# The compositor's environment: nothing of ours but the runtime folder.
base=(env -i PATH=/usr/local/bin:/usr/bin:/bin HOME="$runtime" XDG_RUNTIME_DIR="$runtime")
binary=$compositor
[ "$compositor" != kwin ] || binary=kwin_wayland
command -v "$binary" >/dev/null || fail "$binary is not installed"
case "$compositor" in
sway)
    config=$work/sway.config
    printf '%s\n' "output HEADLESS-1 resolution 1280x720 position 0 0" \
        "xwayland $([ "$xwayland" -eq 1 ] && echo enable || echo disable)" >"$config"
    chmod 644 "$config"
    run=("${as_user[@]}" "${base[@]}" WLR_BACKENDS=headless WLR_RENDERER=pixman
        WLR_LIBINPUT_NO_DEVICES=1 sway -c "$config")
    ;;
kwin)
    # The installed binary carries a file capability that this system may not
    # grant; a copy without it runs, and KWin wants its own name.
    mkdir "$work/bin" && cp "$(command -v kwin_wayland)" "$work/bin/kwin_wayland"
    mkdir -p "$runtime/data/applications"
    for program in "$@"; do
        path=$(command -v "$program" 2>/dev/null) && [ -f "$path" ] || continue
        path=$(readlink -f "$path")
        sed "s|@exec@|$path|" "$(dirname "$0")/../src/platform/inputfeed.desktop.in" \
            >"$runtime/data/applications/${path##*/}.desktop"
    done
    run=("${base[@]}" XDG_DATA_HOME="$runtime/data" KWIN_COMPOSE=Q "$work/bin/kwin_wayland"
        --virtual --socket wayland-1 --width 1280 --height 720 --output-count 2)
    ;;
weston)
    run=("${as_user[@]}" "${base[@]}" weston --backend=headless-backend.so --socket=wayland-1
        --idle-time=0)
    ;;
esac
(cd / && exec "${run[@]}" </dev/null >"$work/log" 2>&1) &
pid=$!

for _ in $(seq 200); do
    socket=$(cd "$runtime" && ls -d wayland-? 2>/dev/null | head -n 1) || true
    [ "$compositor" != sway ] || [ -n "$(ls "$runtime"/sway-ipc.* 2>/dev/null)" ] || socket=""
    [ -n "$socket" ] && break
    kill -0 "$pid" 2>/dev/null || fail "$compositor exited at start"
    sleep 0.05
done
[ -n "$socket" ] || fail "$compositor did not start within 10 seconds"
export WAYLAND_DISPLAY=$socket XDG_RUNTIME_DIR=$runtime COMPOSITOR_PID=$pid
unset DISPLAY

if [ "$compositor" = sway ]; then
    SWAYSOCK=$(ls "$runtime"/sway-ipc.*)
    export SWAYSOCK
    swaymsg -q create_output || fail "cannot add a second output"
    swaymsg -q -- output HEADLESS-2 mode 800x600 position -400 -300 scale 2 ||
        fail "cannot place the second output"
    if [ "$xwayland" -eq 1 ]; then
        # Xwayland runs as sway's user: let this one in, and learn its display.
        swaymsg -q 'exec xhost +si:localuser:'"$(id -un)"' >"$XDG_RUNTIME_DIR/xhost" 2>&1'
        swaymsg -q 'exec printenv DISPLAY >"$XDG_RUNTIME_DIR/display"'
        for _ in $(seq 200); do
            [ -s "$runtime/xhost" ] && [ -s "$runtime/display" ] && break
            sleep 0.05
        done
        grep -q "being added" "$runtime/xhost" 2>/dev/null || fail "Xwayland did not start"
        DISPLAY=$(cat "$runtime/display")
        export DISPLAY
    fi
fi

status=0
"$@" || status=$?
exit "$status"
