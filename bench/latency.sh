#!/usr/bin/env bash
# Latency from writing one line to the agent until the desktop delivers its
# event to another client: first the floor (the platform's own posts, no agent
# in between), then inputfeed, in turns. On one private Xvfb, and, where the
# Wayland probe is built, in one private headless sway (tools/headless-wayland.sh)
# and, where Mutter is installed, headless GNOME (tools/headless-gnome.sh: there
# the floor is not measured, since only an agent's session moves the pointer).
#
#   bench/latency.sh [BUILD_DIR]              (default: build/release)
#   COUNT=2000 REPEAT=3 bench/latency.sh build/release
set -euo pipefail

build=${1:-build/release}
count=${COUNT:-2000}
repeat=${REPEAT:-3}
here=$(dirname "$0")
# shellcheck source=bench/common.sh
. "$here/common.sh"
agent=$(built_program "$build" inputfeed)
probe=$(built_program "$build" inputfeed-latency)
work=$(mktemp -d)
trap 'stop_private_xvfb; rm -rf "$work"' EXIT
start_private_xvfb "$work"

echo "X11: display $DISPLAY, $count lines per run"
for _ in $(seq "$repeat"); do
  "$probe" --raw "$count"
  "$probe" "$agent" "$count"
done

probe=$(built_program "$build" inputfeed-latency-wayland 2>/dev/null) || exit 0
echo "Wayland: headless sway, $count lines per run"
for _ in $(seq "$repeat"); do
  "$here/../tools/headless-wayland.sh" "$probe" --raw "$count"
  "$here/../tools/headless-wayland.sh" "$probe" "$agent" "$count"
done

command -v mutter >/dev/null || exit 0
echo "GNOME: headless Mutter, $count lines per run"
for _ in $(seq "$repeat"); do
  "$here/../tools/headless-gnome.sh" --keyboard "$agent" "$probe" "$agent" "$count"
done
