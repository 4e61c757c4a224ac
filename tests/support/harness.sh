# shellcheck shell=bash
# Sourced by the X11, Wayland and Windows test drivers: the checks they make beyond
# the case tables, written once. Sets `dir`, a private folder removed at exit, and
# stops at exit the processes listed in `servers`.
set -euo pipefail

fail() { echo "FAIL: $*" >&2; exit 1; }
dir=$(mktemp -d)
servers=()
# A server that does not end within a second of being asked (Mutter can spin while it shuts
# down) is killed, so that none outlives the test.
stop_servers() {
    [ ${#servers[@]} -gt 0 ] || return 0
    kill "${servers[@]}" 2>/dev/null || return 0
    for _ in $(seq 10); do
        kill -0 "${servers[@]}" 2>/dev/null || return 0
        sleep 0.1
    done
    kill -KILL "${servers[@]}" 2>/dev/null || true
}
trap 'stop_servers; rm -rf "$dir"' EXIT

# expect_exit_1 MESSAGE COMMAND...: COMMAND, on empty input, writes nothing to standard
# output, exactly MESSAGE to standard error, and exits with status 1.
expect_exit_1() {
    local message=$1 status=0
    shift
    "$@" </dev/null >"$dir/out" 2>"$dir/err" || status=$?
    [ "$status" -eq 1 ] && [ ! -s "$dir/out" ] || fail "exit status $status, or output, from $*"
    diff -u - "$dir/err" <<<"$message" >&2 || fail "another message from $*"
}

# start COMMAND...: COMMAND (the agent, or an observer running it) reads a pipe that
# stays open until `finish`, writing to $dir/seen; what it must write collects in
# $dir/expected.
start() {
    mkfifo "$dir/in"
    : >"$dir/seen"
    : >"$dir/expected"
    "$@" <"$dir/in" >"$dir/seen" &
    agent=$!
    exec 3<>"$dir/in"
}

# send LINE REPORT...: LINE goes to the agent, and the REPORT lines come next, while
# the input stays open: an agent that waits for more input, or for its end, before
# it posts fails here.
send() {
    printf '%s\n' "$1" >&3
    shift
    printf '%s\n' "$@" >>"$dir/expected"
    for _ in $(seq 200); do
        [ "$(wc -l <"$dir/seen")" -lt "$(wc -l <"$dir/expected")" ] || return 0
        sleep 0.05
    done
    fail "'$*' did not come while the input was open"
}

# finish LINE REPORT...: LINE, without a line feed, and the end of the input; the agent
# must exit with status 0, the report end with the REPORT lines and be as expected.
finish() {
    printf '%s' "$1" >&3
    exec 3>&-
    wait "$agent" || fail "exit status $?"
    shift
    printf '%s\n' "$@" >>"$dir/expected"
    diff -u "$dir/expected" "$dir/seen" >&2 || fail "the report is not as expected"
}

# lose KILL...: the agent posts a line, then KILL... ends its server while the agent
# idles, its input still open: within a second it must have ended (else it is stopped
# here); returns its exit status.
lose() {
    start "$INPUTFEED"
    echo '{"type":"pointerMove","x":5,"y":5}' >&3
    sleep 0.3
    "$@"
    for _ in $(seq 20); do kill -0 "$agent" 2>/dev/null && sleep 0.05; done
    kill "$agent" 2>/dev/null || true
    wait "$agent"
}

# expect_check STATUS BACKEND POSTING COMMAND...: COMMAND (inputfeed-check, perhaps through
# env) exits with STATUS, reports exactly "backend: BACKEND" and "can post: POSTING", and
# writes nothing to standard error.
expect_check() {
    local want=$1 backend=$2 posting=$3 status=0
    shift 3
    "$@" </dev/null >"$dir/out" 2>"$dir/err" || status=$?
    [ "$status" -eq "$want" ] && [ ! -s "$dir/err" ] ||
        fail "exit status $status, or a message, from $*: $(cat "$dir/err")"
    tr -d '\r' <"$dir/out" | diff -u - <(printf 'backend: %s\ncan post: %s\n' "$backend" "$posting") >&2 ||
        fail "another report from $*"
}
