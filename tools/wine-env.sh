#!/usr/bin/env bash
# A private Windows environment under Wine: its own virtual X display (Xvfb,
# 1280x1024, nobody sees it) and its own Wine prefix, both inside STATE, so
# nothing touches your display or ~/.wine. The Windows tests and
# `tools/quickstart.sh --windows` use it.
#
#   tools/wine-env.sh start STATE           start the display and a persistent wineserver
#   tools/wine-env.sh run STATE PROGRAM...  run a Windows program there (its exit status)
#   tools/wine-env.sh stop STATE            stop both
set -euo pipefail

# shellcheck source=tools/lib/xvfb.sh
source "$(dirname "$0")/lib/xvfb.sh"
fail() { echo "wine-env: $*" >&2; exit 1; }
[ $# -ge 2 ] || fail "usage: tools/wine-env.sh start|run|stop STATE [PROGRAM...]"
command=$1
state=$(realpath -m "$2")
shift 2

export WINEPREFIX="$state/prefix"
export WINEDEBUG=-all
# No Mono or Gecko install prompts, and no menu entries written outside the prefix.
export WINEDLLOVERRIDES="mscoree=;mshtml=;winemenubuilder.exe=d"

alive() {  # a process that has exited may linger as a zombie until it is reaped
    local stat
    stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 1
    [[ ${stat#*) } != Z* ]]
}

stop() {
    if [ -d "$WINEPREFIX" ]; then wineserver -k 2>/dev/null || true; fi
    local pid
    pid=$(cat "$state/xvfb.pid" 2>/dev/null) || return 0
    if [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = Xvfb ]; then
        kill "$pid" 2>/dev/null || true
        for _ in $(seq 40); do alive "$pid" && sleep 0.05 || break; done
        kill -9 "$pid" 2>/dev/null || true
    fi
    rm -f "$state/xvfb.pid" "$state/display"
}

case $command in
start)
    stop  # whatever a run that was killed half-way left behind
    mkdir -p "$WINEPREFIX"
    xvfb_start "$state" || fail "no X server"
    echo "$xvfb_pid" >"$state/xvfb.pid"
    echo "$DISPLAY" >"$state/display"
    # The server first, so that wineboot and every later program share it. Plain
    # wineboot, which sets up a new prefix by itself: with --init a second service
    # manager started beside Wine's own, RPC never came up, and the first window
    # of every later program waited 10 s for the desktop.
    wineserver -p </dev/null >>"$state/log" 2>&1
    wine wineboot </dev/null >>"$state/log" 2>&1 || fail "wineboot failed (see $state/log)"
    ;;
run)
    [ -s "$state/display" ] || fail "not started: tools/wine-env.sh start $state"
    DISPLAY=$(cat "$state/display") exec wine "$@"
    ;;
stop) stop ;;
*) fail "unknown command $command" ;;
esac
