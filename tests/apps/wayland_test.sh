#!/usr/bin/env bash
# The desktop program as a Wayland client: on Weston's headless compositor
# it starts (no X server at all), and its caption's maximise button, pressed
# through the accessibility bus, maximises and restores the window as the
# compositor says, three rounds alike (wayland_window_check.py).
# Usage: wayland_test.sh HALVORIN
set -euo pipefail
halvorin="$1"
here="$(cd "$(dirname "$0")" && pwd)"
command -v weston >/dev/null || { echo "SKIPPED: weston is not installed"; exit 77; }
plugins=$(find /usr/lib -path '*qt6/plugins/platforms/libqwayland-generic.so' 2>/dev/null | head -1)
[ -n "$plugins" ] || { echo "SKIPPED: Qt's Wayland platform (qt6-wayland) is not installed"; exit 77; }
source "$here/accessibility_bus.sh"
source "$here/desktop_session.sh"
unset DISPLAY
export WAYLAND_DISPLAY=halvorin-test QT_QPA_PLATFORM=wayland

weston --backend=headless-backend.so --socket="$WAYLAND_DISPLAY" --width=1600 --height=1200 \
    --idle-time=0 >"$work/weston.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do
    [ -S "$XDG_RUNTIME_DIR/$WAYLAND_DISPLAY" ] && break
    sleep 0.1
done
[ -S "$XDG_RUNTIME_DIR/$WAYLAND_DISPLAY" ] || { cat "$work/weston.log"; fail "weston did not start"; }
start_accessibility_bus

start_demo "$halvorin"
/usr/bin/python3 "$here/wayland_window_check.py" || fail "the window did not follow the compositor"
kill -0 "${pids[-1]}" 2>/dev/null || fail "the program ended on Wayland"
