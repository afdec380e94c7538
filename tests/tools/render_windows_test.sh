#!/usr/bin/env bash
# The window renderer draws every scene in each of its three languages:
# the same scenes in every language, each a PNG picture of some size, and
# its options are never taken for the output folder. Every picture is the
# same, pixel for pixel, as the kept digests say: a change to the code that
# is not meant to change a window changes none.
# Usage: render_windows_test.sh HALVORIN_RENDER_WINDOWS HALVORIN_COMPARE_PICTURES DIGESTS
set -euo pipefail
renderer="$1"
compare="$2"
kept_digests="$3"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
    echo "FAILED: $*"
    exit 1
}
export QT_QPA_PLATFORM=offscreen TZ=UTC

"$renderer" --help | grep -q "^Usage: halvorin-render-windows OUTPUT_DIR" || fail "--help"
for mistake in --bogus -x ""; do
    status=0
    (cd "$work" && "$renderer" $mistake >/dev/null 2>&1) || status=$?
    [ "$status" -eq 2 ] || fail "'$mistake' ended with $status, not 2"
done
[ -z "$(ls -A "$work")" ] || fail "a mistaken start wrote $(ls "$work")"

"$renderer" "$work/out" >"$work/log" 2>&1 || { cat "$work/log"; fail "rendering failed"; }
scenes() { (cd "$work/out" && ls "$1"-*.png | sed "s/^$1-//" | sort); }
english=$(scenes en)
count=$(echo "$english" | wc -l)
[ "$count" -ge 40 ] || fail "only $count English scenes"
for language in de zh_TW; do
    [ "$(scenes "$language")" = "$english" ] || fail "$language has other scenes than English"
done
for picture in "$work"/out/*.png; do
    [ "$(head -c 8 "$picture" | od -An -tx1 | tr -d ' \n')" = "89504e470d0a1a0a" ] ||
        fail "$(basename "$picture") is not a PNG file"
    [ "$(stat -c %s "$picture")" -gt 1000 ] || fail "$(basename "$picture") is nearly empty"
done
echo "$count scenes in each of en, de and zh_TW"

"$compare" --digests "$work/out" >"$work/digests"
if ! diff -u "$kept_digests" "$work/digests" >"$work/changes"; then
    changed=$(sed -n 's/^+[0-9a-f]*  //p' "$work/changes" | tr '\n' ' ')
    gone=$(comm -23 <(sed 's/^[0-9a-f]*  //' "$kept_digests") \
        <(sed 's/^[0-9a-f]*  //' "$work/digests") | tr '\n' ' ')
    echo "pictures that changed: $changed"
    [ -z "$gone" ] || echo "scenes no longer drawn: $gone"
    echo "tools/render_windows/compare-with.sh REV shows where they changed; if the change"
    echo "is meant, tools/render_windows/update-digests.sh keeps the new pictures' digests."
    fail "the windows look different"
fi
echo "every picture as kept"
