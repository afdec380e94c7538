#!/usr/bin/env bash
# The desktop program as a screen reader sees it: on an X server (run by
# xvfb-run) and a private session bus with the accessibility bus started,
# screen_reader_check.py finds its controls by role and name through AT-SPI,
# presses them and reads the rows of its lists.
# Usage: screen_reader_test.sh HALVORIN
set -euo pipefail
halvorin="$1"
here="$(cd "$(dirname "$0")" && pwd)"
launcher=/usr/libexec/at-spi-bus-launcher
[ -x "$launcher" ] || { echo "SKIPPED: at-spi2-core is not installed"; exit 77; }
/usr/bin/python3 -c "import gi; gi.require_version('Atspi', '2.0')" 2>/dev/null ||
    { echo "SKIPPED: the Atspi bindings (gir1.2-atspi-2.0) are not installed"; exit 77; }
if [ -z "${HALVORIN_IN_SESSION_BUS:-}" ]; then
    HALVORIN_IN_SESSION_BUS=1 exec dbus-run-session -- bash "$0" "$@"
fi

work=$(mktemp -d)
export XDG_CONFIG_HOME="$work/config" XDG_STATE_HOME="$work/state" XDG_RUNTIME_DIR="$work/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

"$launcher" --launch-immediately >"$work/bus.log" 2>&1 &
pids+=($!)
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
"$halvorin" --demo --port "$port" >"$work/log" 2>&1 &
pids+=($!)
if ! /usr/bin/python3 "$here/screen_reader_check.py"; then
    echo "--- program log"; cat "$work/log"
    exit 1
fi
