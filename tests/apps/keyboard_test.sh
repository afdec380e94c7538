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
source "$(dirname "$0")/desktop_session.sh"
require_tools openbox xdotool xprop
start_openbox
start_demo "$halvorin"
find_main_window
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
