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
source "$here/accessibility_bus.sh"
source "$here/desktop_session.sh"
start_accessibility_bus
head -c 20000 /dev/urandom >"$work/a.bin"
head -c 9000 /dev/urandom >"$work/b.bin"
export HALVORIN_TEST_PACKAGE="$work/demo-2.0.8.lzma"
"$mkfw" --model m810 --image-a "$work/a.bin" --image-b "$work/b.bin" --revision 2.0.8 \
    -o "$HALVORIN_TEST_PACKAGE" >/dev/null || fail "halvorin-mkfw made no package"
start_demo "$halvorin"
/usr/bin/python3 "$here/screen_reader_check.py" || fail "the screen reader's script failed"
