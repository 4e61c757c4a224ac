#!/usr/bin/env bash
# Runs a command inside a private headless GNOME compositor (Mutter), then
# stops it. The GNOME quick start and the GNOME tests run this way.
#
#   tools/headless-gnome.sh [--keyboard AGENT] [--logical] COMMAND [ARG...]
#   tools/headless-gnome.sh --arrange X Y SCALE X Y SCALE   (inside such a session)
#
# Mutter runs with a session bus and a PipeWire daemon of its own and two
# virtual monitors, arranged in GNOME's layout coordinates as
#   Meta-0  1280x1024 at (0, 0), scale 1
#   Meta-1  1600x1200 at (1280, 0), scale 2 (800x600 for Wayland clients)
# in GNOME's default physical layout mode; --logical switches on fractional
# scaling, where the layout counts logical pixels (Meta-1 is 800x600 there too).
# --arrange moves them (Mutter wants the layout to start at 0,0 with the
# monitors touching). Its seat has no input devices, so no window gets the
# keyboard focus: --keyboard runs AGENT (the agent) for as long as COMMAND runs
# as a stand-in, whose session gives the seat a keyboard; it taps Shift, then
# takes the lines written to the pipe INPUTFEED_STAND_IN (the observer moves the
# pointer home that way). Mutter's overlay key is off, so that the Super key
# reaches windows. COMMAND gets WAYLAND_DISPLAY, XDG_RUNTIME_DIR,
# DBUS_SESSION_BUS_ADDRESS, and the process ids of Mutter, PipeWire and the bus
# in COMPOSITOR_PID, PIPEWIRE_PID and BUS_PID. As root the three daemons run as
# nobody, and the bus lets root in. The exit status is COMMAND's; if Mutter does
# not start, 1, with the logs on standard error.
set -euo pipefail

# One logical monitor per monitor; its only mode is its virtual size.
arrange() {
    local config="[($1, $2, $3, 0, true, [('Meta-0', '1280x1024@60.000', @a{sv} {})]),"
    config+=" ($4, $5, $6, 0, false, [('Meta-1', '1600x1200@60.000', @a{sv} {})])]"
    local serial
    serial=$(gdbus call --session -d org.gnome.Mutter.DisplayConfig \
        -o /org/gnome/Mutter/DisplayConfig -m org.gnome.Mutter.DisplayConfig.GetCurrentState) ||
        return 1
    serial=${serial#(uint32 }
    gdbus call --session -d org.gnome.Mutter.DisplayConfig -o /org/gnome/Mutter/DisplayConfig \
        -m org.gnome.Mutter.DisplayConfig.ApplyMonitorsConfig "${serial%%,*}" 1 "$config" \
        '@a{sv} {}' >/dev/null
}

if [ "${1:-}" = --arrange ]; then
    shift
    [ $# -eq 6 ] || { sed -n '6,6s/^# \{0,1\}//p' "$0" >&2; exit 2; }
    arrange "$@"
    # Mutter ends the remote-desktop sessions of the old layout; the stand-in starts a new
    # one, whose keyboard gets no window the focus until it types.
    if [ -n "${INPUTFEED_STAND_IN:-}" ]; then
        sleep 0.3
        timeout 2 sh -c 'printf "%s\n" "$@" >"$INPUTFEED_STAND_IN"' - \
            '{"type":"keyDown","code":"ShiftLeft"}' '{"type":"keyUp","code":"ShiftLeft"}' ||
            { echo "headless-gnome: the stand-in agent is gone" >&2; exit 1; }
        sleep 0.1
    fi
    exit
fi
keyboard=""
features=()
while [ $# -gt 0 ]; do
    case "$1" in
    --keyboard) [ $# -gt 1 ] || break; keyboard=$2; shift ;;
    --logical) features=("experimental-features=['scale-monitor-framebuffer']") ;;
    *) break ;;
    esac
    shift
done
[ $# -gt 0 ] || { sed -n '5,6s/^# \{0,1\}//p' "$0" >&2; exit 2; }
for program in dbus-daemon pipewire mutter gdbus; do
    command -v "$program" >/dev/null || { echo "headless-gnome: $program is not installed" >&2; exit 1; }
done

work=$(mktemp -d)
runtime=$work/runtime
mkdir -m 700 "$runtime" "$runtime/config" "$runtime/config/glib-2.0" \
    "$runtime/config/glib-2.0/settings"
chmod 755 "$work"
printf '%s\n' "[org/gnome/mutter]" "overlay-key=''" "${features[@]}" >"$runtime/config/glib-2.0/settings/keyfile"
# The bus lets in the user running COMMAND, root included.
cat >"$work/bus.conf" <<EOF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <include>/usr/share/dbus-1/session.conf</include>
  <policy context="default"><allow user="$(id -un)"/></policy>
</busconfig>
EOF
chmod 644 "$work/bus.conf"
as_user=()
if [ "$(id -u)" -eq 0 ]; then
    chown -R 65534:65534 "$runtime"
    as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
fi
pids=()
cleanup() {
    # Mutter before the bus, which it would miss. Mutter 43 now and then spins for
    # good while it shuts down: after a second it is killed.
    local index pid
    for ((index = ${#pids[@]} - 1; index >= 0; index--)); do
        pid=${pids[index]}
        kill "$pid" 2>/dev/null || continue
        for _ in $(seq 20); do kill -0 "$pid" 2>/dev/null && sleep 0.05; done
        kill -KILL "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 143' TERM INT HUP  # so that the daemons go too
fail() {
    echo "headless-gnome: $*" >&2
    for log in "$work"/*.log; do cat "$log" >&2; done
    exit 1
}
wait_for() {  # PID WHAT TEST...
    local pid=$1 what=$2
    shift 2
    for _ in $(seq 200); do
        "$@" && return 0
        kill -0 "$pid" 2>/dev/null || fail "$what exited at start"
        sleep 0.05
    done
    fail "$what did not start within 10 seconds"
}

bus=unix:path=$runtime/bus
base=(env -i PATH=/usr/local/bin:/usr/bin:/bin HOME="$runtime" XDG_RUNTIME_DIR="$runtime"
    XDG_CONFIG_HOME="$runtime/config" DBUS_SESSION_BUS_ADDRESS="$bus")
(cd / && exec "${as_user[@]}" "${base[@]}" dbus-daemon --config-file="$work/bus.conf" \
    --address="$bus" --nofork --nopidfile </dev/null >"$work/dbus.log" 2>&1) &
pids+=($!)
wait_for "${pids[0]}" dbus-daemon test -S "$runtime/bus"
(cd / && exec "${as_user[@]}" "${base[@]}" pipewire </dev/null >"$work/pipewire.log" 2>&1) &
pids+=($!)
wait_for "${pids[1]}" pipewire test -S "$runtime/pipewire-0"
(cd / && exec "${as_user[@]}" "${base[@]}" GSETTINGS_BACKEND=keyfile mutter --headless \
    --wayland --no-x11 --virtual-monitor 1280x1024 --virtual-monitor 1600x1200 \
    </dev/null >"$work/mutter.log" 2>&1) &
pids+=($!)
export DBUS_SESSION_BUS_ADDRESS=$bus XDG_RUNTIME_DIR=$runtime COMPOSITOR_PID=${pids[2]} \
    PIPEWIRE_PID=${pids[1]} BUS_PID=${pids[0]}
has_display_config() {
    gdbus introspect --session -d org.gnome.Mutter.DisplayConfig \
        -o /org/gnome/Mutter/DisplayConfig >/dev/null 2>&1
}
wait_for "$COMPOSITOR_PID" mutter has_display_config
wait_for "$COMPOSITOR_PID" mutter test -S "$runtime/wayland-0"
arrange 0 0 1 1280 0 2 || fail "cannot arrange the monitors"
export WAYLAND_DISPLAY=wayland-0
unset DISPLAY
if [ -n "$keyboard" ]; then
    mkfifo "$work/keyboard"
    "$keyboard" <"$work/keyboard" >/dev/null 2>"$work/keyboard.log" &
    pids+=($!)
    exec 3>"$work/keyboard"
    printf '%s\n' '{"type":"keyDown","code":"ShiftLeft"}' '{"type":"keyUp","code":"ShiftLeft"}' >&3
    export INPUTFEED_STAND_IN=$work/keyboard
fi

status=0
"$@" || status=$?
exit "$status"
