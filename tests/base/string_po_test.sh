#!/bin/sh
# Every string table goes out as a gettext catalogue (which msgfmt accepts)
# and comes back unchanged; a catalogue whose translation reads an argument
# as another kind is refused and leaves the table as it was.
set -eu
tool=$1
strings=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$strings"/*.tsv "$work"/
export HALVORIN_STRINGS_DIR="$work"
for table in "$work"/*.tsv; do
    language=$(basename "$table" .tsv)
    python3 "$tool" export "$language" >"$work/$language.po"
    if command -v msgfmt >/dev/null; then msgfmt --check -o /dev/null "$work/$language.po"; fi
    python3 "$tool" import "$language" "$work/$language.po"
    cmp "$strings/$language.tsv" "$table"
done
sed 's/^msgstr "%s-%02X/msgstr "%d-%02X/' "$work/de.po" >"$work/wrong.po"
if python3 "$tool" import de "$work/wrong.po" 2>"$work/said"; then
    echo "a translation with a wrong conversion was taken"
    exit 1
fi
grep -q "151: conversions differ" "$work/said"
cmp "$strings/de.tsv" "$work/de.tsv"
