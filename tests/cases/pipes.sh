#!/usr/bin/env bash
# pipes.sh live|closed-output COMMAND... (COMMAND may start with a launcher)
#   live: each line is acted on while standard input stays open;
#   closed-output: with standard output closed, read by nobody or full, the
#   input is still read to its end and the program exits 0, silently.
set -uo pipefail
fail() { echo "FAIL: $*" >&2; exit 1; }
mode=$1
shift
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
patience=60  # seconds; a launcher such as valgrind is slow to start
# The program must cope with SIGPIPE itself, so it starts with the default action.
env --default-signal=PIPE true 2>/dev/null && set -- env --default-signal=PIPE "$@"

case $mode in
live)
    mkfifo "$dir/in" "$dir/out"
    "$@" <"$dir/in" >"$dir/out" 2>"$dir/err" &
    agent=$!
    trap '' PIPE  # set after the start: a program that has ended shows as a failed write
    exec 3>"$dir/in" 4<"$dir/out"  # fixed numbers: bash 3 has no {name} redirections
    expect() {  # the lines that must arrive before anything more is written
        for want in "$@"; do
            IFS= read -r -t "$patience" -u 4 got || fail "no output where $want was due"
            [ "$got" = "$want" ] || fail "expected $want, got $got"
        done
    }
    mouse() { echo "{\"event\":\"mouse\",\"type\":$1,\"x\":$2,\"y\":$3,\"button\":$4}"; }
    key() { echo "{\"event\":\"key\",\"keyCode\":0,\"down\":$1}"; }
    expect '{"event":"trust","prompt":true}'
    printf '{"type":"pointerDown","x":1.5,"y":-2,"button":1}\n' >&3
    expect "$(mouse 25 1.5 -2 2)"
    # Both complete lines come out although the third is unfinished.
    printf '%s\r\n%s\n%s' '{"type":"keyDown","code":"KeyA"}' '{"type":"keyUp","code":"KeyA"}' \
        '{"type":"pointerUp","x":3,' >&3
    expect "$(key true)" "$(key false)"
    # Completed without a terminator, it is handled at the end.
    printf '"y":4}' >&3
    exec 3>&-
    expect "$(mouse 2 3 4 0)"
    IFS= read -r -d '' -t "$patience" -u 4 extra
    [ -z "$extra" ] || fail "more output: $extra"
    wait "$agent" || fail "exit status $?"
    [ ! -s "$dir/err" ] || fail "wrote to standard error: $(cat "$dir/err")"
    ;;
closed-output)
    seq 20000 | sed 's/.*/{"type":"pointerMove","x":&,"y":1}/' >"$dir/in"
    outputs=(closed unread)
    [ -w /dev/full ] && outputs+=(full)  # not every system has one
    for output in "${outputs[@]}"; do
        # Through a pipe, so that cat sees a program that stops reading early.
        case $output in
        closed) cat "$dir/in" | "$@" 2>"$dir/err" >&- ;;
        unread) cat "$dir/in" | "$@" 2>"$dir/err" | true ;;
        full) cat "$dir/in" | "$@" 2>"$dir/err" >/dev/full ;;
        esac
        status=("${PIPESTATUS[@]}")
        [ "${status[0]}" -eq 0 ] || fail "output $output: stopped reading its input"
        [ "${status[1]}" -eq 0 ] || fail "output $output: exit status ${status[1]}"
        [ ! -s "$dir/err" ] || fail "output $output: wrote to standard error: $(cat "$dir/err")"
    done
    ;;
*) fail "unknown mode $mode" ;;
esac
