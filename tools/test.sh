#!/usr/bin/env bash
# Builds and runs every test: installs missing Debian packages, then the g++
# debug build with warnings as errors (unit, end-to-end: dry run, stand-in, X11
# on private Xvfb servers, Wayland on private headless compositors; the
# differential decoder test), the release build with GoogleTest hidden, the
# Windows programs cross-built with mingw-w64 and tested under Wine, the dry
# run's streams under valgrind, and the same suite built with clang under
# AddressSanitizer and UndefinedBehaviorSanitizer.
#
#   tools/test.sh [--quick] [--json-test-suite DIR]
#
#   --quick               only the debug build's suite
#   --json-test-suite DIR also run the decoder over a JSON conformance corpus
#                         (a folder of y_/n_/i_ files)
set -euo pipefail
cd "$(dirname "$0")/.."

quick=0
suite=""
while [ $# -gt 0 ]; do
  case "$1" in
    --quick) quick=1 ;;
    --json-test-suite) suite=$(cd "$2" && pwd); shift ;;
    *) echo "usage: tools/test.sh [--quick] [--json-test-suite DIR]" >&2; exit 2 ;;
  esac
  shift
done

tools/install-deps.sh
jobs=$(nproc 2>/dev/null || echo 2)

step() { printf '\n==> %s\n' "$*"; }

step "debug build, warnings as errors"
cmake --preset dev -DINPUTFEED_WERROR=ON -DINPUTFEED_JSON_TEST_SUITE="$suite" >/dev/null
cmake --build --preset dev -j "$jobs"
step "tests"
ctest --preset dev -j "$jobs"

[ "$quick" -eq 1 ] && exit 0

step "release build without GoogleTest (what a user builds needs no test library)"
cmake --preset release --fresh --no-warn-unused-cli -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON >/dev/null
cmake --build --preset release -j "$jobs"

step "Windows build (mingw-w64, warnings as errors)"
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs"
step "Windows tests under Wine (private Xvfb and Wine prefix in build/windows/wine)"
ctest --preset windows -j "$jobs"

step "the same streams under valgrind"
INPUTFEED_TEST_LAUNCHER="valgrind --quiet --error-exitcode=1 --leak-check=full \
  --errors-for-leak-kinds=definite,indirect,possible" ctest --preset dev -j "$jobs" -L memcheck

step "AddressSanitizer + UndefinedBehaviorSanitizer build (clang)"
cmake --preset asan -DINPUTFEED_WERROR=ON -DINPUTFEED_JSON_TEST_SUITE="$suite" >/dev/null
cmake --build --preset asan -j "$jobs"
step "tests under the sanitizers"
ctest --preset asan -j "$jobs"

step "all tests passed"
