#!/usr/bin/env bash
# The desktop program as an operator starts it: `halvorin --demo` on a real
# X server (run under xvfb-run) shows its main window, reaches the demo
# enclosures through its own agent, and is still running when it is asked
# to end. Usage: desktop_demo_test.sh HALVORIN
set -euo pipefail
halvorin="$1"
work=$(mktemp -d)
# Its own runtime folder too: another halvorin of this user must not answer
# for this one.
export XDG_CONFIG_HOME="$work/config" XDG_STATE_HOME="$work/state" XDG_RUNTIME_DIR="$work/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"
pid=
cleanup() {
    [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAILED: $*"
    echo "--- the program said:"
    cat "$work/log" || true
    exit 1
}

# Options are read before the toolkit starts: answers and mistakes need no
# display, and Qt's own options pass through.
env -u DISPLAY "$halvorin" --version | grep -q '^halvorin ' || fail "--version without a display"
env -u DISPLAY "$halvorin" -platform offscreen --version >/dev/null || fail "Qt's options refused"
for mistake in --port=abc "--port 70000" --bogus stray-word; do
    # shellcheck disable=SC2086
    status=0; env -u DISPLAY "$halvorin" $mistake >/dev/null 2>&1 || status=$?
    [ "$status" -eq 1 ] || fail "$mistake ended with $status, not 1"
done

# Without a display it says what is missing instead of the toolkit's abort.
status=0
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$halvorin" >"$work/log" 2>&1 || status=$?
[ "$status" -eq 1 ] || fail "without a display it ended with $status, not 1"
grep -q "no display" "$work/log" || fail "without a display it did not say so"

# A port of its own; another program may hold the one drawn, so try a few.
for _ in 1 2 3; do
    port=$(shuf -i 20000-60000 -n 1)
    "$halvorin" --demo --port "$port" >"$work/log" 2>&1 &
    pid=$!
    # Started, or told that the port is taken (in a box it waits on).
    for _ in $(seq 100); do
        grep -q "start-up: run mode\|cannot start its agent server" "$work/log" && break
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    grep -q "start-up: run mode" "$work/log" && break
    grep -q "port" "$work/log" || fail "halvorin ended at start-up"
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    pid=
done
[ -n "$pid" ] || fail "no free port for the agent"

for _ in $(seq 100); do
    xwininfo -root -tree | grep -q '"Zent Halvorin"' && break
    sleep 0.1
done
xwininfo -root -tree | grep -q '"Zent Halvorin"' || fail "no main window on the display"
for _ in $(seq 100); do
    grep -q "authorised" "$work/log" && break
    sleep 0.1
done
grep -q "authorised" "$work/log" || fail "the manager did not reach its own agent"
sleep 2  # the demo enclosures are read while the window is up
kill -0 "$pid" 2>/dev/null || fail "halvorin ended by itself"
# A second start brings the first one forward and ends at once.
second=$(timeout 10 "$halvorin" --demo --port "$port" 2>&1) || fail "a second start failed: $second"
echo "$second" | grep -q "already running" || fail "a second start said: $second"
kill -0 "$pid" 2>/dev/null || fail "the first halvorin ended when a second one started"
echo "main window shown; the demo host reached on port $port"
