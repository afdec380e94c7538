#!/usr/bin/env bash
# The desktop program as a screen reader sees it: on an X server (run by
# xvfb-run) and a private session bus with the accessibility bus started,
# screen_reader_check.py finds its controls by role and name through AT-SPI,
# presses them and reads the rows of its lists. A firmware package made by
# halvorin-mkfw for the demo's enclosure is chosen and upgraded to.
# Usage: screen_reader_test.sh HALVORIN HALVORIN_MKFW
set -euo pipefail
halvorin="$1"
mkfw="$2"
here="$(cd "$(dirname "$0")" && pwd)"
launcher=/usr/libexec/at-spi-bus-launcher
[ -x "$launcher" ] || { echo "SKIPPED: at-spi2-core is not installed"; exit 77; }
/usr/bin/python3 -c "import gi; gi.require_version('Atspi', '2.0')" 2>/dev/null ||
    { echo "SKIPPED: the Atspi bindings (gir1.2-atspi-2.0) are not installed"; exit 77; }
if [ -z "${HALVORIN_IN_SESSION_BUS:-}" ]; then
    HALVORIN_IN_SESSION_BUS=1 exec dbus-run-session -- bash "$0" "$@"
fi

source "$here/desktop_session.sh"

"$launcher" --launch-immediately >"$work/bus.log" 2>&1 &
pids+=($!)
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
head -c 20000 /dev/urandom >"$work/a.bin"
head -c 9000 /dev/urandom >"$work/b.bin"
export HALVORIN_TEST_PACKAGE="$work/demo-2.0.8.lzma"
"$mkfw" --model m810 --image-a "$work/a.bin" --image-b "$work/b.bin" --revision 2.0.8 \
    -o "$HALVORIN_TEST_PACKAGE" >/dev/null || fail "halvorin-mkfw made no package"
start_demo "$halvorin"
/usr/bin/python3 "$here/screen_reader_check.py" || fail "the screen reader's script failed"
