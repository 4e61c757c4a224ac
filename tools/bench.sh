#!/usr/bin/env bash
# Builds the optimised configuration and runs one benchmark, or all of them.
#
#   tools/bench.sh decode    decodeCommand per line, beside simdjson and nlohmann::json
#   tools/bench.sh x11       events per second on a private Xvfb: inputfeed, xdotool, raw XTest
#   tools/bench.sh wayland   moves and keys per second on a private headless sway: inputfeed, raw client
#   tools/bench.sh gnome     moves and keys per second on a private headless Mutter: inputfeed, raw client
#   tools/bench.sh latency   line written -> event delivered (X11, Wayland, GNOME), median and 99th percentile
#   tools/bench.sh memory    peak RSS of inputfeed-trace and inputfeed, short and long inputs
#   tools/bench.sh all       all six, one after the other
#
# BUILD_DIR (default build/release) selects the build directory. The X11 and
# Wayland benchmarks start their own Xvfb or compositor and never touch the
# display you are using.
set -euo pipefail
cd "$(dirname "$0")/.."

what=${1:-}
case "$what" in
  decode | x11 | wayland | gnome | latency | memory | all) ;;
  *) sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2 ;;
esac

build=${BUILD_DIR:-build/release}
jobs=$(nproc 2>/dev/null || echo 2)
cmake --preset release -B "$build" >/dev/null
make_targets() { cmake --build "$build" -j "$jobs" --target "$@"; }

# shellcheck source=bench/common.sh
. bench/common.sh
step() { printf '\n==> %s\n' "$*"; }
run() {
  case "$1" in
    decode)
      make_targets inputfeed-decode-bench
      step "decoding, ns per line"
      "$(built_program "$build" inputfeed-decode-bench)" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true ;;
    x11)
      make_targets inputfeed inputfeed-raw-xtest
      step "X11 throughput"
      bench/x11_throughput.sh "$build" ;;
    wayland)
      make_targets inputfeed inputfeed-raw-wayland inputfeed-observe-wayland
      step "Wayland throughput"
      bench/wayland_throughput.sh "$build" ;;
    gnome)
      make_targets inputfeed inputfeed-raw-gnome inputfeed-observe-wayland
      step "GNOME throughput"
      bench/gnome_throughput.sh "$build" ;;
    latency)
      make_targets inputfeed inputfeed-latency
      make_targets inputfeed-latency-wayland 2>/dev/null || echo "no Wayland probe here: X11 only"
      step "latency"
      bench/latency.sh "$build" ;;
    memory)
      make_targets inputfeed-trace
      make_targets inputfeed 2>/dev/null || echo "no X11 agent here: measuring the dry run only"
      step "peak memory"
      bench/memory.sh "$build" ;;
  esac
}
if [ "$what" = all ]; then
  for b in decode x11 wayland gnome latency memory; do run "$b"; done
else
  run "$what"
fi
