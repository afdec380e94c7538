#!/usr/bin/env bash
# Renders every scene and keeps the digests of its pictures as the
# reference of the renderer's test (tests/data/render-digests.txt). Run it
# after a change that is meant to change what a window shows, look at the
# pictures it names (compare-with.sh REV shows where they changed), and
# commit the file with the change.
#
#   tools/render_windows/update-digests.sh [BUILD_DIR]
set -euo pipefail
root=$(git rev-parse --show-toplevel)
build=$(realpath "${1:-$root/build}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export QT_QPA_PLATFORM=offscreen TZ=UTC

cmake --build "$build" --target halvorin-render-windows halvorin-compare-pictures >/dev/null
"$build/tools/halvorin-render-windows" "$work/out" >"$work/log" 2>&1 || { cat "$work/log"; exit 1; }
"$build/tools/halvorin-compare-pictures" --digests "$work/out" >"$work/digests"
if diff -q "$root/tests/data/render-digests.txt" "$work/digests" >/dev/null 2>&1; then
    echo "no picture changed"
else
    diff "$root/tests/data/render-digests.txt" "$work/digests" | sed -n 's/^> [0-9a-f]*  /changed: /p' || true
    cp "$work/digests" "$root/tests/data/render-digests.txt"
fi
