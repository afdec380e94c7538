#!/usr/bin/env bash
# The desktop program with the keyboard alone, under a window manager
# (openbox on an X server run by xvfb-run): real key presses (xdotool) open an enclosure from the tree, move
# to its view, open the Device Slot group, switch the first slot's LED on,
# then go back with Shift+Tab to Agent Mode, whose question Escape answers.
# What reached the enclosure is read back through the program's own agent
# with halvorinctl.
# Usage: keyboard_test.sh HALVORIN HALVORINCTL
set -euo pipefail
halvorin="$1"
halvorinctl="$2"
for tool in openbox xdotool xprop; do
    command -v "$tool" >/dev/null || { echo "SKIPPED: $tool is not installed"; exit 77; }
done
work=$(mktemp -d)
export XDG_CONFIG_HOME="$work/config" XDG_STATE_HOME="$work/state" XDG_RUNTIME_DIR="$work/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"
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

openbox >"$work/openbox.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q window && break; sleep 0.1; done
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
"$halvorin" --demo --port "$port" >"$work/log" 2>&1 &
pids+=($!)
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
xdotool windowfocus --sync "$window"

# The demo's enclosures, as its agent serves them: "on" when the first slot
# of any of them has its LED on (the tree's order is the order they were found).
slot_identify() {
    "$halvorinctl" -H "127.0.0.1:$port" --json show 2>/dev/null | python3 -c '
import json, sys
doc = json.load(sys.stdin)
lit = any("identify" in group["elements"][0]["state"]
          for enclosure in doc["hosts"][0]["enclosures"] for group in enclosure["groups"]
          if group["type"] in (1, 23) and group["elements"])
print("on" if lit else "off")'
}
before=$(slot_identify)
[ "$before" = off ] || fail "a first slot's LED is $before before the keys"

keys() {
    for key in "$@"; do
        xdotool key --clearmodifiers "$key"  # real input, to the window with the keyboard
        sleep 0.3
    done
}
sleep 3  # the tree lists the demo's enclosures
# The window starts on the tree: the host, then its first enclosure, whose
# view Enter moves to.
keys Home Down Return
# System Information (head and body), SAS Zoning, then Device Slot: open it
# and switch the first slot's LED.
keys Home Down Down Down Return Down space
for _ in $(seq 50); do [ "$(slot_identify)" = on ] && break; sleep 0.2; done
[ "$(slot_identify)" = on ] || fail "the first slot's LED did not go on"
echo "the keyboard switched the first slot's LED on"

# Back from the view with Shift+Tab: quick jump, event list, its pencil,
# tree, host entry, the left pane's pencil, About, Agent Mode. Space asks
# whether to switch, Escape answers No.
keys shift+Tab shift+Tab shift+Tab shift+Tab shift+Tab shift+Tab shift+Tab shift+Tab space
sleep 1
box=$(xdotool search --name "Zent Halvorin" 2>/dev/null | while read -r w; do
    [ "$w" != "$window" ] && xdotool getwindowgeometry "$w" | grep -q 'Geometry: [0-9]\{3,\}x' && echo "$w"
done | head -1) || true
[ -n "$box" ] || fail "no question box after Space on Agent Mode"
[ "$(xdotool getwindowfocus)" = "$box" ] || fail "the question box does not have the keyboard"
xdotool key Escape
sleep 1
xdotool search --onlyvisible --name "Zent Halvorin" | grep -qx "$box" &&
    fail "the question box is still open after Escape"
kill -0 "${pids[0]}" || fail "the program ended"
echo "Tab reached Agent Mode, Space asked the question and Escape answered it No"

# The keyboard is back on Agent Mode; About is the next stop.
keys Tab space
sleep 1
about=$(xdotool getwindowfocus)
[ "$about" != "$window" ] && xdotool getwindowgeometry "$about" | grep -q 'Geometry: 360x' ||
    fail "About did not open with the keyboard"
xdotool key Escape
sleep 1
xdotool search --onlyvisible --name "Zent Halvorin" | grep -qx "$about" &&
    fail "the About window is still open after Escape"
echo "Tab and Space opened About, and Escape closed it"
echo PASSED
