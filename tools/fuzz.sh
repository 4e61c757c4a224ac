#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, with AddressSanitizer and
# UndefinedBehaviorSanitizer) and fuzzes each for a bounded time, one after the
# other, printing executions and coverage.
#
#   tools/fuzz.sh [SECONDS [TARGET...]]     default: 60 seconds, every target
#
# The committed seeds in fuzz/corpus/<target>/ are only read. Inputs the fuzzer
# finds interesting go to build/fuzz/corpus/<target>/, kept from run to run and
# never committed by this script; to fold the best of them into the seeds:
#   build/fuzz/fuzz/<target> -merge=1 fuzz/corpus/<target> build/fuzz/corpus/<target>
# A fault leaves its input in build/fuzz/artifacts/ and fails the script; replay
# it with build/fuzz/fuzz/<target> FILE, or with build/fuzz/fuzz/<target>-replay.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
[ $# -gt 0 ] && shift
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(fuzz_decode fuzz_agent)
build=build/fuzz

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc 2>/dev/null || echo 2)" --target "${targets[@]}"
mkdir -p "$build/artifacts"

status=0
for target in "${targets[@]}"; do
  mkdir -p "$build/corpus/$target"
  log="$build/$target.log"
  printf '\n==> fuzzing %s for %s s\n' "$target" "$seconds"
  if ! "$build/fuzz/$target" -max_total_time="$seconds" -timeout=20 -print_final_stats=1 \
        -dict=fuzz/json.dict -artifact_prefix="$build/artifacts/$target-" \
        "$build/corpus/$target" "fuzz/corpus/$target" 2>"$log"; then
    tail -n 40 "$log"
    echo "$target: FAULT FOUND (input saved in $build/artifacts/, log in $log)"
    status=1
    continue
  fi
  executions=$(awk '/stat::number_of_executed_units/ {print $2}' "$log")
  final=$(grep -E '^#[0-9]+.*(DONE|cov:)' "$log" | tail -n 1 | grep -oE '(cov|ft|corp): [^ ]+' | tr '\n' ' ')
  echo "$target: ${executions:-?} executions in $seconds s; $final"
done
exit $status
