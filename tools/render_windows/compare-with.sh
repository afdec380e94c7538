#!/usr/bin/env bash
# Renders every window as revision REV draws it and as the working tree
# draws it, and compares the two sets pixel by pixel, saying how many pixels
# of which scenes differ and where: a change meant to leave the windows
# alone reports none (the scenes' clocks and ports are fixed).
#
#   tools/render_windows/compare-with.sh REV [BUILD_DIR]
set -euo pipefail
rev=${1:?usage: compare-with.sh REV [BUILD_DIR]}
root=$(git rev-parse --show-toplevel)
build=$(realpath "${2:-$root/build}")
work=$(mktemp -d)
cleanup() {
    git -C "$root" worktree remove --force "$work/src" >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT

git -C "$root" worktree add --detach "$work/src" "$rev" >/dev/null 2>&1
cmake -S "$work/src" -B "$work/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
echo "rendering $rev ..."
cmake --build "$work/build" --target render_windows >/dev/null
echo "rendering the working tree ..."
cmake --build "$build" --target render_windows halvorin-compare-pictures >/dev/null
QT_QPA_PLATFORM=offscreen "$build/tools/halvorin-compare-pictures" "$work/build/render" \
    "$build/render"
