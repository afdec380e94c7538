# Sourced by the desktop tests that run on an X server: a private work
# folder for the program's settings and state, the processes started here
# ended on exit, and helpers to start openbox and the demo and find the
# main window. FAILED messages end with the program's log.

# Skips the test (exit 77) unless every named tool is installed.
require_tools() {
    for tool in "$@"; do
        command -v "$tool" >/dev/null || { echo "SKIPPED: $tool is not installed"; exit 77; }
    done
}

work=$(mktemp -d)
export XDG_CONFIG_HOME="$work/config" XDG_STATE_HOME="$work/state" XDG_RUNTIME_DIR="$work/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"
: >"$work/log"
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAILED: $*"
    echo "--- program log"
    cat "$work/log"
    exit 1
}

start_openbox() {
    openbox >"$work/openbox.log" 2>&1 &
    pids+=($!)
    for _ in $(seq 50); do
        xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q window && break
        sleep 0.1
    done
}

# Starts HALVORIN on its demo with its agent on a free port ($port), logging
# into $work/log.
start_demo() {
    port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    "$1" --demo --port "$port" >"$work/log" 2>&1 &
    pids+=($!)
}

# Sets $window to the main window once it is on the screen.
find_main_window() {
    window=
    for _ in $(seq 100); do
        window=$(xdotool search --name "Halvorin" 2>/dev/null | while read -r w; do
            [ "$(xdotool getwindowname "$w")" != "halvorin" ] &&
                xdotool getwindowgeometry "$w" | grep -q 'Geometry: [0-9]\{3,\}x' && echo "$w"
        done | head -1) || true
        [ -n "$window" ] && break
        sleep 0.1
    done
    [ -n "$window" ] || fail "no main window appeared"
}
