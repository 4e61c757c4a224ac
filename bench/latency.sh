#!/usr/bin/env bash
# Latency from writing one line to the agent until the X server delivers its
# event to another client, on one private Xvfb: first the floor (our own XTest
# posts, no agent in between), then inputfeed, in turns.
#
#   bench/latency.sh [BUILD_DIR]              (default: build/release)
#   COUNT=2000 REPEAT=3 bench/latency.sh build/release
set -euo pipefail

build=${1:-build/release}
count=${COUNT:-2000}
repeat=${REPEAT:-3}
# shellcheck source=bench/common.sh
. "$(dirname "$0")/common.sh"
agent=$(built_program "$build" inputfeed)
probe=$(built_program "$build" inputfeed-latency)
work=$(mktemp -d)
trap 'stop_private_xvfb; rm -rf "$work"' EXIT
start_private_xvfb "$work"

echo "display $DISPLAY, $count lines per run"
for _ in $(seq "$repeat"); do
  "$probe" --raw "$count"
  "$probe" "$agent" "$count"
done
